// Images sent with XMODEM and YMODEM into a real U-Boot's loadx and loady
// (Debian's u-boot-qemu on QEMU's arm virt machine, its UART on a
// pseudo-terminal): U-Boot reports the size, and its crc32 of the memory
// equals the checksum of the image.
#include "tests/support/TUBootMachine.h"
#include "tools/Crc32.h"
#include "transfer/TFdChannel.h"
#include "transfer/TXmodemSender.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(TXmodemKind)

namespace {

// Whole 1 KB blocks: XMODEM pads the last block, and U-Boot counts padding.
constexpr qsizetype ImageSize = 64 * 1024;

QByteArray RandomImage(qsizetype size, quint32 seed) {
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32*>(image.data()), size / 4);
    return image;
}

quint32 Crc32Of(const QByteArray& bytes) {
    Crc32 crc;
    crc.Update(bytes.constData(), std::size_t(bytes.size()));
    return crc.Value();
}

} // namespace

class TestUBootTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const QString why = FMachine.Start(); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no U-Boot to load into: ") + why));
    }

    void imageArrivesWhole_data() {
        QTest::addColumn<TXmodemKind>("kind");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<quint32>("seed");
        QTest::newRow("YMODEM into loady") << TXmodemKind::Ymodem << QByteArray("loady") << 2u;
        QTest::newRow("XMODEM into loadx") << TXmodemKind::Xmodem << QByteArray("loadx") << 3u;
        QTest::newRow("XMODEM-1K into loadx") << TXmodemKind::Xmodem1K << QByteArray("loadx") << 4u;
    }
    void imageArrivesWhole() {
        QFETCH(TXmodemKind, kind);
        QFETCH(QByteArray, command);
        QFETCH(quint32, seed);
        const QByteArray image = RandomImage(ImageSize, seed);
        const QString file = FDir.filePath(QStringLiteral("image.bin"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(image) == image.size());
        out.close();
        const QByteArray address = QByteArray::number(TUBootMachine::LoadAddress, 16);
        QVERIFY(FMachine.Send(command + ' ' + address, "## Ready for binary"));

        TFdChannel channel(FMachine.Fd());
        TXmodemSender sender(channel, kind, {file});
        const TTransferResult result = sender.Run();
        QVERIFY2(result.Ok(), qPrintable(result.Text));
        QCOMPARE(result.Bytes, image.size());

        const std::optional<QByteArray> answer = FMachine.Answer(30000);
        QVERIFY(answer);
        QVERIFY2(answer->contains("Total Size      = 0x" +
                                  QByteArray::number(image.size(), 16).rightJustified(8, '0')),
                 answer->constData());
        QCOMPARE(FMachine.Crc32(TUBootMachine::LoadAddress, image.size()), Crc32Of(image));
    }

private:
    QTemporaryDir FDir;
    TUBootMachine FMachine;
};

QTEST_MAIN(TestUBootTransfer)
#include "test_uboot_transfer.moc"
