#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;
class TQxComPort;

// The window's Send File and Receive File commands: the dialog, then the
// transfer with its progress dialog, then the outcome: a failure is shown
// through Interaction().Warning; the recording gets the line
// "Transfer: <protocol> <files> <bytes> <result>" through Record. The result
// in a few words for the status bar, empty when nothing was transferred.
struct TTransferCommandContext {
    QWidget* Owner = nullptr;
    TQxComPort* Port = nullptr;
    std::function<void(const QByteArray& event)> Record;
};

QString RunSendFileCommand(const TTransferCommandContext& context);
QString RunReceiveFileCommand(const TTransferCommandContext& context);
