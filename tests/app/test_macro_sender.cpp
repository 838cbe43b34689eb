// Sending macros from the main window to a pseudo-terminal: the decoded
// bytes, the writes between the delay markers and their pauses, the refusal
// of a second send, and a pause that ends with the window.
#include "app/TMacroBox.h"
#include "app/TMacroItemDelegate.h"
#include "serial/TQxComPort.h"
#include "terminal/TQxConsole.h"
#include "tests/app/AppWindowFixture.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <time.h>

namespace {

double ProcessCpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

using ByteList = QList<QByteArray>;

} // namespace

class TestMacroSender : public QObject {
    Q_OBJECT

private:
    // Shows the window with the one macro selected, ready to send.
    static bool Prepare(AppWindowFixture& f, const QByteArray& macro, bool echo = false) {
        if (!f.Show())
            return false;
        f.Window->Console()->SetLocalEcho(echo);
        f.Window->SetMacros({macro});
        f.Window->MacroBox->setCurrentIndex(0);
        return SerialPort().Open();
    }

private slots:
    void initTestCase() { InitAppResources(); }

    void sendsTheDecodedBytes_data() {
        QTest::addColumn<QByteArray>("macro");
        QTest::addColumn<ByteList>("writes");
        // The shortest time the whole send must take.
        QTest::addColumn<int>("pauseMs");

        QTest::newRow("escape for #") << QByteArray("#35") << ByteList{"#"} << 0;
        QTest::newRow("CR LF in one write") << QByteArray("#13#10") << ByteList{"\r\n"} << 0;
        QTest::newRow("# without digits")
            << QByteArray("#A") << ByteList{QByteArray("\0A", 2)} << 0;
        QTest::newRow("two bare #") << QByteArray("##") << ByteList{QByteArray(2, '\0')} << 0;
        QTest::newRow("lone # at the end")
            << QByteArray("abc#") << ByteList{QByteArray("abc\0", 4)} << 0;
        QTest::newRow("256 wraps") << QByteArray("#256") << ByteList{QByteArray(1, '\0')} << 0;
        QTest::newRow("300 wraps") << QByteArray("#300") << ByteList{","} << 0;
        QTest::newRow("999 wraps") << QByteArray("#999") << ByteList{"\xE7"} << 0;
        QTest::newRow("fourth digit is text") << QByteArray("#0655") << ByteList{"A5"} << 0;
        QTest::newRow("0, 13, 255")
            << QByteArray("#0#13#255") << ByteList{QByteArray("\0\r\xFF", 3)} << 0;
        QTest::newRow("plain text, one write") << QByteArray("Hello") << ByteList{"Hello"} << 0;
        QTest::newRow("empty macro") << QByteArray() << ByteList{} << 0;
        QTest::newRow("pause only") << QByteArray("#27T100") << ByteList{} << 100;
        QTest::newRow("four delay digits")
            << QByteArray("012#27T0100345") << ByteList{"012", "345"} << 100;
        QTest::newRow("two pauses, nothing sent") << QByteArray("#27T5#27T5") << ByteList{} << 10;
        QTest::newRow("marker without digits") << QByteArray("A#27T") << ByteList{"A"} << 0;
        QTest::newRow("fifth digit sent after the pause")
            << QByteArray("#27T00505") << ByteList{"5"} << 50;
        QTest::newRow("marker from a leading-zero escape")
            << QByteArray("#027T50X") << ByteList{"X"} << 50;
        QTest::newRow("marker and digits as escapes")
            << QByteArray("#27#84#53#48X") << ByteList{"X"} << 50;
        QTest::newRow("ESC without T is sent")
            << QByteArray("#27X#27") << ByteList{"\x1bX\x1b"} << 0;
    }

    void sendsTheDecodedBytes() {
        QFETCH(QByteArray, macro);
        QFETCH(ByteList, writes);
        QFETCH(int, pauseMs);
        AppWindowFixture f;
        QVERIFY(Prepare(f, macro));
        // Macros are sent as decoded, whatever the pane does with typed CRs.
        f.Window->Console()->SetCRLFOut(true);

        QElapsedTimer clock;
        clock.start();
        f.Window->MacroBtnClick();
        QVERIFY(clock.elapsed() >= pauseMs);

        QCOMPARE(f.Window->WrittenBytes(), writes);
        QCOMPARE(f.Pty.ReadAll(), writes.join());
        if (writes.size() == 2)
            QVERIFY(f.Window->Writes[1].AtMs - f.Window->Writes[0].AtMs >= pauseMs);
        QVERIFY(!f.Window->Sending());
    }

    void workedExampleMakesTwoWritesHalfASecondApart() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "AT#13#27T500ATZ#13"));
        TimedPtyReader target(f.Pty.MasterFd());

        f.Window->MacroBtnClick();

        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"AT\r", "ATZ\r"}));
        QTRY_COMPARE(target.All(), QByteArray("AT\rATZ\r"));
        const QList<TimedPtyReader::Piece> bursts = target.Bursts(200);
        QCOMPARE(bursts.size(), 2);
        QCOMPARE(bursts[0].Bytes, QByteArray("AT\r"));
        QCOMPARE(bursts[1].Bytes, QByteArray("ATZ\r"));
        const qint64 gap = bursts[1].AtMs - bursts[0].AtMs;
        QVERIFY2(gap >= 400 && gap < 3000, qPrintable(QString::number(gap)));
    }

    void secondSendDuringAPauseDoesNothing() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "A#27T500B"));
        bool sendingSeen = false;
        QTimer::singleShot(100, f.Window.get(), [&f, &sendingSeen] {
            sendingSeen = f.Window->Sending();
            f.Window->MacroBtnClick();
        });

        f.Window->MacroBtnClick();

        QVERIFY(sendingSeen);
        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"A", "B"}));
        QCOMPARE(f.Fake.Beeps, 0);
        // Once the macro has ended, Send works again.
        f.Window->MacroBtnClick();
        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"A", "B", "A", "B"}));
        QCOMPARE(f.Pty.ReadAll(), QByteArray("ABAB"));
    }

    void eventsRunDuringAPause() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "A#27T600B"));
        QTimer::singleShot(100, f.Window.get(), [&f] { f.Pty.Write("reply"); });

        f.Window->MacroBtnClick();

        // The target's answer arrived while the macro paused.
        QCOMPARE(f.ScreenLines(), ByteList{"reply"});
    }

    void noSelectedMacroBeeps() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        f.Window->SetMacros({"one"});
        f.Window->MacroBox->setFocus();

        f.Window->MacroBtnClick();

        QCOMPARE(f.Fake.Beeps, 1);
        QVERIFY(f.Window->Writes.isEmpty());
        QTRY_VERIFY(f.Window->Console()->hasFocus());
    }

    void localEchoShowsMacroBytes_data() {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<ByteList>("screen");
        QTest::newRow("echo on") << true << ByteList{"Hi", "there"};
        QTest::newRow("echo off") << false << ByteList{};
    }

    void localEchoShowsMacroBytes() {
        QFETCH(bool, echo);
        QFETCH(ByteList, screen);
        AppWindowFixture f;
        QVERIFY(Prepare(f, "Hi#13#10#27T20there", echo));

        f.Window->MacroBtnClick();

        QCOMPARE(f.ScreenLines(), screen);
        QCOMPARE(f.Pty.ReadAll(), QByteArray("Hi\r\nthere"));
    }

    void macroListReplacesItems() {
        AppWindowFixture f;
        QVERIFY(f.Show());
        ByteList macros;
        for (int i = 0; i < 27; ++i)
            macros << "macro" + QByteArray::number(i);
        macros[3].clear();
        f.Window->SetMacros(macros);

        QCOMPARE(f.Window->MacroBox->count(), 27);
        QCOMPARE(f.Window->MacroBox->currentIndex(), -1);
        QVERIFY(!f.Window->SBMacro->isEnabled());
        f.Window->MacroBox->setCurrentIndex(26);
        QVERIFY(f.Window->SBMacro->isEnabled());
        f.Window->MacroBox->setCurrentIndex(3);
        QVERIFY(!f.Window->SBMacro->isEnabled());
        f.Window->MacroBox->setCurrentIndex(0);
        f.Window->SetMacros({"new"});
        QCOMPARE(f.Window->MacroBox->currentIndex(), -1);
        QVERIFY(!f.Window->SBMacro->isEnabled());
    }

    // The label column of an item is drawn in grey only where it has a
    // label; the macro text starts in its own column either way.
    void drawnItemsShowLabelsAndText() {
        QImage image(400, 20, QImage::Format_RGB32);
        const QPalette palette;
        const auto greyInLabelColumn = [&image](const QFont& font) {
            const int column = TMacroItemDelegate::TextColumn(QFontMetrics(font));
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < column; ++x)
                    if (QColor(image.pixel(x, y)) == QColor(128, 128, 128))
                        return true;
            return false;
        };
        for (const int index : {0, 26}) {
            image.fill(Qt::white);
            QPainter painter(&image);
            TMacroItemDelegate::DrawItem(painter, image.rect(), palette, index, "text", false);
            const bool grey = greyInLabelColumn(painter.font());
            painter.end();
            QCOMPARE(grey, index == 0);
        }
    }

    void delayWaitsWithoutBusyWaiting() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "A#27T5000B"));
        const double cpuBefore = ProcessCpuSeconds();
        QElapsedTimer clock;
        clock.start();

        f.Window->MacroBtnClick();

        const double cpu = ProcessCpuSeconds() - cpuBefore;
        QVERIFY(clock.elapsed() >= 4900);
        QVERIFY2(cpu < 1.0, qPrintable(QStringLiteral("%1 s of CPU").arg(cpu)));
        QCOMPARE(f.Window->WrittenBytes(), (ByteList{"A", "B"}));
    }

    void closingTheWindowEndsAPause() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "A#27T3000B"));
        QTimer::singleShot(200, f.Window.get(), [&f] { f.Window->close(); });
        QElapsedTimer clock;
        clock.start();

        f.Window->MacroBtnClick();

        QVERIFY(clock.elapsed() < 2500);
        QVERIFY(!f.Window->Sending());
        QCOMPARE(f.Window->WrittenBytes(), ByteList{"A"});
        QCOMPARE(f.Pty.ReadAll(300), QByteArray("A"));
        // Shown again, the window sends whole macros again.
        f.Window->show();
        f.Window->MacroBtnClick();
        QCOMPARE(f.Pty.ReadAll(), QByteArray("AB"));
    }

    void destroyingTheWindowEndsAPause() {
        AppWindowFixture f;
        QVERIFY(Prepare(f, "A#27T3000B"));
        RecordingWindow* window = f.Window.release();
        QTimer::singleShot(200, [window] { delete window; });
        QElapsedTimer clock;
        clock.start();

        window->MacroBtnClick();

        QVERIFY(clock.elapsed() < 2500);
        QCOMPARE(f.Pty.ReadAll(300), QByteArray("A"));
        // The window's open request is gone with it.
        QVERIFY(!SerialPort().Open());
        QVERIFY(!SerialPort().OnReceive);
    }
};

QTEST_MAIN(TestMacroSender)
#include "test_macro_sender.moc"
