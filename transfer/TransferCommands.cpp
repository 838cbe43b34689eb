#include "transfer/TransferCommands.h"

#include "platform/TAliveGuard.h"
#include "platform/TInteraction.h"
#include "serial/TQxComPort.h"
#include "settings/TSettingsModel.h"
#include "transfer/TReceiveFileDlg.h"
#include "transfer/TSendFileDlg.h"
#include "transfer/TTransferProgressDlg.h"
#include "transfer/TTransferRun.h"
#include "transfer/TXmodemReceiver.h"

#include <QFileInfo>
#include <QLocale>
#include <QPointer>

namespace {

// The last choices, kept in the settings file; a protocol name the file
// does not know leaves the dialog's own choice.
void ShowLastChoices(TSendFileDlg& dialog, const TSettingsModel::TTransferChoices& last) {
    TSendChoice choice = dialog.Choice();
    choice.Protocol = ProtocolFromName(last.SendProtocol).value_or(choice.Protocol);
    choice.Files = ParseFileList(last.SendFiles);
    dialog.SetChoice(choice);
}

void ShowLastChoices(TReceiveFileDlg& dialog, const TSettingsModel::TTransferChoices& last) {
    TReceiveChoice choice = dialog.Choice();
    choice.Protocol = ProtocolFromName(last.ReceiveProtocol).value_or(choice.Protocol);
    if (!ReceiveProtocols().contains(choice.Protocol))
        choice.Protocol = TTransferProtocol::Ymodem;
    if (!last.ReceiveFolder.isEmpty())
        choice.Folder = last.ReceiveFolder;
    dialog.SetChoice(choice);
}

// Writes the choices; a failure is told once (not when the user knows
// already that the file cannot be read).
void KeepChoices(QWidget* owner,
                 const std::function<void(TSettingsModel::TTransferChoices&)>& change) {
    TSettingsModel settings;
    TSettingsModel::TTransferChoices choices = settings.TransferChoices();
    change(choices);
    if (settings.SaveTransferChoices(choices) || settings.WriteError().KnownUnreadable)
        return;
    Interaction().Warning(owner, settings.WriteError().Text(), settings.WriteError().Reason);
}

// Asks on the main thread (the receiver runs on its own) whether an existing
// file may be replaced; a cancelled transfer asks nothing.
void AskBeforeReplacing(TTransferSession& session, TTransferRun& run, QWidget* dialog) {
    auto* receiver = dynamic_cast<TXmodemReceiver*>(&session);
    if (!receiver)
        return;
    receiver->ConfirmReplace = [&run, dialog = QPointer<QWidget>(dialog)](const QString& path) {
        if (run.CancelRequested() || !dialog)
            return false;
        bool replace = false;
        QMetaObject::invokeMethod(
            dialog,
            [&replace, dialog, path] {
                replace = Interaction().Question(
                    dialog, QStringLiteral("%1 exists. Replace it?").arg(path));
            },
            Qt::BlockingQueuedConnection);
        return replace;
    };
}

// Runs the transfer with its progress dialog and reports the outcome.
QString RunTransfer(const TTransferCommandContext& context, const QString& title,
                    TTransferProtocol protocol,
                    std::function<std::unique_ptr<TTransferSession>(TByteChannel&)> make) {
    TTransferRun run(*context.Port, std::move(make));
    const TAliveGuard guard(context.Owner);
    // On the heap: the owner may go while the dialog runs (the program ends).
    const QPointer<TTransferProgressDlg> dialog =
        new TTransferProgressDlg(context.Owner, run, title);
    AskBeforeReplacing(run.Session(), run, dialog);
    if (!run.Start()) {
        if (!run.Error().isEmpty())
            Interaction().Warning(context.Owner, run.Error());
        return {};
    }
    const TTransferResult result = dialog->Exec();
    delete dialog.data();
    const QString files =
        run.FileNames().isEmpty() ? QStringLiteral("-") : run.FileNames().join(QLatin1Char(','));
    if (context.Record)
        context.Record(QStringLiteral("Transfer: %1 %2 %3 %4")
                           .arg(ProtocolName(protocol), files)
                           .arg(result.Bytes)
                           .arg(TransferErrorName(result.Error))
                           .toUtf8());
    const QString summary =
        QStringLiteral("%1 %2: %3 (%4 bytes)")
            .arg(ProtocolName(protocol), files, result.Text, QLocale().toString(result.Bytes));
    // The user's own cancel needs no box; the status bar says it.
    if (!result.Ok() && result.Error != TTransferError::Cancelled && guard.Alive())
        Interaction().Warning(
            context.Owner,
            QStringLiteral("%1 transfer failed: %2").arg(ProtocolName(protocol), result.Text));
    return summary;
}

} // namespace

QString RunSendFileCommand(const TTransferCommandContext& context) {
    const TAliveGuard guard(context.Owner);
    const QPointer<TSendFileDlg> dialog =
        new TSendFileDlg(context.Owner, context.Port->FlowControl() == fcXONXOFF);
    ShowLastChoices(*dialog, TSettingsModel().TransferChoices());
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!guard.Alive() || !dialog)
        return {};
    const TSendChoice choice = dialog->Choice();
    delete dialog.data();
    if (!accepted)
        return {};
    KeepChoices(context.Owner, [&choice](TSettingsModel::TTransferChoices& kept) {
        kept.SendProtocol = ProtocolName(choice.Protocol);
        kept.SendFiles = JoinFileList(choice.Files);
    });
    if (!guard.Alive())
        return {};
    return RunTransfer(
        context, QStringLiteral("Sending with %1").arg(ProtocolName(choice.Protocol)),
        choice.Protocol,
        [choice](TByteChannel& channel) { return MakeSendSession(channel, choice); });
}

QString RunReceiveFileCommand(const TTransferCommandContext& context) {
    const TAliveGuard guard(context.Owner);
    const QPointer<TReceiveFileDlg> dialog =
        new TReceiveFileDlg(context.Owner, context.Port->FlowControl() == fcXONXOFF);
    ShowLastChoices(*dialog, TSettingsModel().TransferChoices());
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!guard.Alive() || !dialog)
        return {};
    const TReceiveChoice choice = dialog->Choice();
    delete dialog.data();
    if (!accepted)
        return {};
    KeepChoices(context.Owner, [&choice](TSettingsModel::TTransferChoices& kept) {
        kept.ReceiveProtocol = ProtocolName(choice.Protocol);
        kept.ReceiveFolder = choice.Folder;
    });
    if (!guard.Alive())
        return {};
    return RunTransfer(
        context, QStringLiteral("Receiving with %1").arg(ProtocolName(choice.Protocol)),
        choice.Protocol,
        [choice](TByteChannel& channel) { return MakeReceiveSession(channel, choice); });
}
