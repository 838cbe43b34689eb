#include "transfer/TransferChoice.h"

#include "transfer/TRawSender.h"
#include "transfer/TXmodemReceiver.h"
#include "transfer/TXmodemSender.h"
#include "transfer/TZmodemSession.h"

#include <QDir>

QString ProtocolName(TTransferProtocol protocol) {
    switch (protocol) {
    case TTransferProtocol::Xmodem:
        return QStringLiteral("XMODEM");
    case TTransferProtocol::Xmodem1K:
        return QStringLiteral("XMODEM-1K");
    case TTransferProtocol::Ymodem:
        return QStringLiteral("YMODEM");
    case TTransferProtocol::Raw:
        return QStringLiteral("Raw");
    case TTransferProtocol::Zmodem:
        return QStringLiteral("ZMODEM");
    }
    return {};
}

std::optional<TTransferProtocol> ProtocolFromName(const QString& name) {
    for (const TTransferProtocol protocol : SendProtocols())
        if (name.compare(ProtocolName(protocol), Qt::CaseInsensitive) == 0)
            return protocol;
    return std::nullopt;
}

QString ProtocolNote(TTransferProtocol protocol, bool xonXoff, const QString& program) {
    if (protocol == TTransferProtocol::Zmodem && !TZmodemSession::Installed(program))
        return TZmodemSession::InstallHint();
    if (xonXoff && NeedsCleanLine(protocol))
        return QStringLiteral("The line uses XON/XOFF flow control: %1 needs an 8-bit clean line, "
                              "so use RTS/CTS or none for it.")
            .arg(ProtocolName(protocol));
    return QString();
}

bool NeedsCleanLine(TTransferProtocol protocol) {
    return protocol != TTransferProtocol::Raw && protocol != TTransferProtocol::Zmodem;
}

QList<TTransferProtocol> SendProtocols() {
    return {TTransferProtocol::Xmodem, TTransferProtocol::Xmodem1K, TTransferProtocol::Ymodem,
            TTransferProtocol::Raw, TTransferProtocol::Zmodem};
}

QList<TTransferProtocol> ReceiveProtocols() {
    return {TTransferProtocol::Xmodem, TTransferProtocol::Ymodem, TTransferProtocol::Zmodem};
}

QStringList ParseFileList(const QString& text) {
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1Char('"')))
        return trimmed.isEmpty() ? QStringList() : QStringList{trimmed};
    QStringList files;
    qsizetype at = 0;
    while ((at = trimmed.indexOf(QLatin1Char('"'), at)) >= 0) {
        const qsizetype end = trimmed.indexOf(QLatin1Char('"'), at + 1);
        const QString name =
            trimmed.mid(at + 1, (end < 0 ? trimmed.size() : end) - at - 1).trimmed();
        if (!name.isEmpty())
            files << name;
        if (end < 0)
            break;
        at = end + 1;
    }
    return files;
}

QString JoinFileList(const QStringList& files) {
    if (files.size() == 1)
        return files.constFirst();
    QStringList quoted;
    for (const QString& file : files)
        quoted << QLatin1Char('"') + file + QLatin1Char('"');
    return quoted.join(QLatin1Char(' '));
}

std::unique_ptr<TTransferSession> MakeSendSession(TByteChannel& channel,
                                                  const TSendChoice& choice) {
    switch (choice.Protocol) {
    case TTransferProtocol::Xmodem:
        return std::make_unique<TXmodemSender>(channel, TXmodemKind::Xmodem, choice.Files);
    case TTransferProtocol::Xmodem1K:
        return std::make_unique<TXmodemSender>(channel, TXmodemKind::Xmodem1K, choice.Files);
    case TTransferProtocol::Ymodem:
        return std::make_unique<TXmodemSender>(channel, TXmodemKind::Ymodem, choice.Files);
    case TTransferProtocol::Raw: {
        auto raw = std::make_unique<TRawSender>(channel, choice.Files.value(0));
        raw->PauseEvery = choice.PauseEvery;
        raw->PauseAfterLine = choice.PauseAfterLine;
        raw->PauseMs = choice.PauseMs;
        return raw;
    }
    case TTransferProtocol::Zmodem:
        return std::make_unique<TZmodemSession>(channel, choice.Files);
    }
    return {};
}

std::unique_ptr<TTransferSession> MakeReceiveSession(TByteChannel& channel,
                                                     const TReceiveChoice& choice) {
    switch (choice.Protocol) {
    case TTransferProtocol::Zmodem:
        return std::make_unique<TZmodemSession>(channel, choice.Folder);
    case TTransferProtocol::Xmodem:
        return std::make_unique<TXmodemReceiver>(channel, false,
                                                 QDir(choice.Folder).filePath(choice.FileName));
    default:
        return std::make_unique<TXmodemReceiver>(channel, true, choice.Folder);
    }
}
