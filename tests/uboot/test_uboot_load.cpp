// Images loaded into a real U-Boot (Debian's u-boot-qemu on QEMU's arm virt
// machine, its UART on a pseudo-terminal): what U-Boot's crc32 says of its
// memory afterwards must equal the checksum of the image.
#include "download/TQxLoadTask.h"
#include "serial/TQxComPort.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/TUBootMachine.h"
#include "tests/support/TempAppDir.h"
#include "tools/Crc32.h"

#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

namespace {

constexpr qsizetype ImageSize = 64 * 1024;
constexpr int LoadTimeoutMs = 120000;

QByteArray RandomImage(qsizetype size, quint32 seed) {
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32*>(image.data()), size / 4);
    return image;
}

QByteArray Record(char type, quint32 address, QByteArrayView data) {
    QByteArray body;
    body.append(char(data.size() + 5));
    for (int shift = 24; shift >= 0; shift -= 8)
        body.append(char(address >> shift));
    body.append(data);
    quint8 sum = 0;
    for (const char byte : body)
        sum += quint8(byte);
    body.append(char(~sum));
    return QByteArray("S") + type + body.toHex().toUpper() + "\r\n";
}

// The image as S-Records with 32-bit addresses, 32 bytes a line, at Address.
QByteArray SRecords(const QByteArray& image, quint32 address) {
    QByteArray text = Record('0', 0, "image");
    for (qsizetype at = 0; at < image.size(); at += 32)
        text +=
            Record('3', address + quint32(at),
                   QByteArrayView(image).sliced(at, std::min<qsizetype>(32, image.size() - at)));
    return text + Record('7', address, {});
}

quint32 Crc32Of(const QByteArray& bytes) {
    Crc32 crc;
    crc.Update(bytes.constData(), std::size_t(bytes.size()));
    return crc.Value();
}

} // namespace

class TestUBootLoad : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const QString why = FMachine.Start(); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no U-Boot to load into: ") + why));
        FDir.MapDevice(1, FMachine.PtyPath());
    }

    // The line download of an S-Record file into U-Boot's loads.
    void lineDownloadIntoLoads() {
        const QByteArray image = RandomImage(ImageSize, 1);
        FDir.WriteFile("image.srec", SRecords(image, TUBootMachine::LoadAddress));
        QVERIFY(FMachine.Send("loads", "Ready for S-Record download"));

        // What U-Boot says at the end of the load comes to the program.
        TQxComPort port;
        QByteArray answer;
        port.OnReceive = [&](quint16 count) {
            QByteArray bytes(count, '\0');
            answer += bytes.left(port.ReadBuffer(bytes.data(), count));
        };
        QVERIFY(port.OpenPort(true));
        auto* task = new TQxLoadTask(port, FDir.Path() + "image.srec");
        TTransferSync sync;
        sync.Mode = smNone;
        task->SetSyncSettings(sync);
        QEventLoop loop;
        QString error = QStringLiteral("the download did not end");
        task->OnTerminate = [&] {
            error = task->ErrorText;
            loop.quit();
        };
        task->Resume();
        QTimer::singleShot(LoadTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(error, QString());
        // U-Boot ignores what is typed just after a load: the next command
        // waits for its prompt.
        QTRY_VERIFY_WITH_TIMEOUT(answer.contains("\n=> "), LoadTimeoutMs);
        port.ClosePort();
        QVERIFY2(answer.contains("Total Size      = 0x" +
                                 QByteArray::number(image.size(), 16).rightJustified(8, '0')),
                 answer.constData());

        QCOMPARE(FMachine.Crc32(TUBootMachine::LoadAddress, image.size()), Crc32Of(image));
    }

private:
    FakeInteraction FFake;
    TempAppDir FDir;
    TUBootMachine FMachine;
};

QTEST_MAIN(TestUBootLoad)
#include "test_uboot_load.moc"
