#include "transfer/XmodemFrames.h"

#include <QList>

namespace Xmodem {

quint16 Crc16(const char* data, qsizetype size) {
    quint16 crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= quint16(quint8(data[i])) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

quint8 Checksum(const char* data, qsizetype size) {
    quint8 sum = 0;
    for (qsizetype i = 0; i < size; ++i)
        sum = quint8(sum + quint8(data[i]));
    return sum;
}

QByteArray BuildBlock(quint8 number, const QByteArray& data, int blockSize, bool crc, char pad) {
    QByteArray block;
    block.reserve(blockSize + 5);
    block.append(blockSize == 1024 ? STX : SOH);
    block.append(char(number));
    block.append(char(quint8(~number)));
    const qsizetype dataStart = block.size();
    block.append(data.left(blockSize));
    block.append(blockSize - qMin<qsizetype>(data.size(), blockSize), pad);
    const char* payload = block.constData() + dataStart;
    if (crc) {
        const quint16 check = Crc16(payload, blockSize);
        block.append(char(check >> 8));
        block.append(char(check & 0xFF));
    } else {
        block.append(char(Checksum(payload, blockSize)));
    }
    return block;
}

std::optional<QByteArray> CheckBlock(const QByteArray& frame, int blockSize, bool crc,
                                     quint8& number) {
    const int checkSize = crc ? 2 : 1;
    if (frame.size() != 2 + blockSize + checkSize)
        return std::nullopt;
    number = quint8(frame[0]);
    if (quint8(frame[1]) != quint8(~number))
        return std::nullopt;
    const char* payload = frame.constData() + 2;
    if (crc) {
        const quint16 check = Crc16(payload, blockSize);
        if (quint8(frame[2 + blockSize]) != (check >> 8) ||
            quint8(frame[3 + blockSize]) != (check & 0xFF))
            return std::nullopt;
    } else if (quint8(frame[2 + blockSize]) != Checksum(payload, blockSize)) {
        return std::nullopt;
    }
    return QByteArray(payload, blockSize);
}

QByteArray BuildHeaderData(const QByteArray& name, qint64 size, const QDateTime& modified) {
    QByteArray data;
    if (!name.isEmpty()) {
        data = name.left(900);
        data.append('\0');
        data.append(QByteArray::number(size));
        if (modified.isValid())
            data.append(' ').append(QByteArray::number(modified.toSecsSinceEpoch(), 8));
    }
    return data;
}

THeader ParseHeaderData(const QByteArray& data) {
    THeader header;
    const qsizetype nameEnd = data.indexOf('\0');
    header.RawName = data.left(nameEnd < 0 ? data.size() : nameEnd);
    if (nameEnd < 0)
        return header;
    QByteArray rest = data.mid(nameEnd + 1);
    const qsizetype restEnd = rest.indexOf('\0');
    if (restEnd >= 0)
        rest.truncate(restEnd);
    const QList<QByteArray> fields = rest.simplified().split(' ');
    bool ok = false;
    const qint64 size = fields.value(0).toLongLong(&ok, 10);
    if (ok && size >= 0)
        header.Size = size;
    const qint64 seconds = fields.value(1).toLongLong(&ok, 8);
    if (ok && seconds > 0)
        header.Modified = QDateTime::fromSecsSinceEpoch(seconds);
    return header;
}

QString SafeFileName(const QByteArray& rawName, int maxBytes) {
    QString name = QString::fromUtf8(rawName);
    const qsizetype lastSeparator = qMax(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.mid(lastSeparator + 1);
    QString plain;
    for (const QChar ch : std::as_const(name)) {
        if (ch.unicode() >= 0x20 && ch.unicode() != 0x7F && ch.category() != QChar::Other_Control)
            plain.append(ch);
    }
    while (plain.toUtf8().size() > maxBytes)
        plain.chop(plain.size() > 1 && plain.at(plain.size() - 1).isLowSurrogate() ? 2 : 1);
    if (plain.trimmed().isEmpty() || plain == u"." || plain == u"..")
        return {};
    return plain;
}

QByteArray CancelSequence() {
    return QByteArray(8, CAN) + QByteArray(8, '\b');
}

} // namespace Xmodem
