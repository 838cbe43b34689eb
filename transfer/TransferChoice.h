#pragma once

#include "transfer/TTransferSession.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The protocols the Send File and Receive File commands offer.
enum class TTransferProtocol { Xmodem, Xmodem1K, Ymodem, Raw, Zmodem };

// What the user chose in the send dialog.
struct TSendChoice {
    TTransferProtocol Protocol = TTransferProtocol::Ymodem;
    QStringList Files;
    // Raw only: pause PauseMs after every PauseEvery bytes or every line.
    qint64 PauseEvery = 0;
    bool PauseAfterLine = false;
    int PauseMs = 0;
};

// What the user chose in the receive dialog: XMODEM writes FileName in
// Folder, YMODEM and ZMODEM take the names the sender gives.
struct TReceiveChoice {
    TTransferProtocol Protocol = TTransferProtocol::Ymodem;
    QString Folder;
    QString FileName;
};

// "XMODEM", "XMODEM-1K", "YMODEM", "Raw", "ZMODEM".
QString ProtocolName(TTransferProtocol protocol);
// The protocol ProtocolName gives Name; none for an unknown name.
std::optional<TTransferProtocol> ProtocolFromName(const QString& name);
// XMODEM and YMODEM send every byte value as it is: XON/XOFF flow control
// would take two of them (ZMODEM escapes them, Raw is the user's stream).
bool NeedsCleanLine(TTransferProtocol protocol);
// What a transfer dialog says under its choices: how to install lrzsz when
// ZMODEM's Program (sz or rz) is missing, or that the protocol needs an
// 8-bit clean line when the line uses XON/XOFF; empty when neither holds.
QString ProtocolNote(TTransferProtocol protocol, bool xonXoff, const QString& program);
// The protocols the two dialogs list, in their order.
QList<TTransferProtocol> SendProtocols();
QList<TTransferProtocol> ReceiveProtocols();
// Several file names in one line: each in double quotes ("a.bin" "b.bin");
// a line without quotes is one name. Blank names are dropped.
QStringList ParseFileList(const QString& text);
QString JoinFileList(const QStringList& files);

// The session that carries out a choice over Channel.
std::unique_ptr<TTransferSession> MakeSendSession(TByteChannel& channel, const TSendChoice& choice);
std::unique_ptr<TTransferSession> MakeReceiveSession(TByteChannel& channel,
                                                     const TReceiveChoice& choice);
