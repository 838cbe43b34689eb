// The pane in the VT emulation: the screen takes the pane's size, keys go
// out as VT bytes, and recording, copy and find work on the UTF-8 text.
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"

#include <QFile>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Pane {
    explicit Pane(int rows = 4) {
        Console.resize(600, rows * Console.LineHeight());
        Console.show();
        Console.SetVtEmulation(true);
        Console.OnSend = [this](const QByteArray& bytes) { Sent += bytes; };
        Console.OnKeyPress = [this](TQxConsole&, char& key) { Sent += key; };
    }
    FakeInteraction Fake;
    TQxConsole Console;
    QByteArray Sent;
};

} // namespace

class TestVtPane : public QObject {
    Q_OBJECT

private slots:
    void init() { Dir = std::make_unique<QTemporaryDir>(); }

    void screenTakesThePaneSizeOrTheFixedWidth() {
        Pane p(6);
        QCOMPARE(p.Console.Vt()->Rows(), 6);
        const int followed = p.Console.Vt()->Columns();
        QVERIFY(followed > 20);
        p.Console.SetFixedColumns(132);
        QCOMPARE(p.Console.Vt()->Columns(), 132);
        p.Console.SetFixedColumns(0);
        QCOMPARE(p.Console.Vt()->Columns(), followed);
        p.Console.SetVtEmulation(false);
        QVERIFY(!p.Console.Vt());
    }

    void aScreenWiderThanThePaneGetsAHorizontalBar_data() {
        QTest::addColumn<bool>("vt");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("shown");
        QTest::newRow("ASCII in a narrow pane") << false << 0 << 300 << true;
        QTest::newRow("ASCII in a wide pane") << false << 0 << 1200 << false;
        QTest::newRow("VT following the pane") << true << 0 << 300 << false;
        QTest::newRow("VT fixed wider") << true << 200 << 600 << true;
    }
    void aScreenWiderThanThePaneGetsAHorizontalBar() {
        QFETCH(bool, vt);
        QFETCH(int, columns);
        QFETCH(int, width);
        QFETCH(bool, shown);
        Pane p;
        p.Console.SetVtEmulation(vt);
        p.Console.SetFixedColumns(columns);
        p.Console.resize(width, 5 * p.Console.LineHeight());
        auto* bar = p.Console.findChild<QScrollBar*>(QStringLiteral("HorizontalScrollBar"));
        QVERIFY(bar);
        QCOMPARE(bar->isVisible(), shown);
        // The screen's rows take the height above the bar, the newest never
        // under it.
        const int rows = vt ? p.Console.Vt()->Rows() : p.Console.MaxRow() + 1;
        QCOMPARE(rows, (shown ? bar->y() : p.Console.height()) / p.Console.LineHeight());
        if (shown) {
            // Scrolled to the end, the last column is in view.
            bar->setValue(bar->maximum());
            const TTextPos pos = p.Console.PosAt(QPoint(bar->width() - 2, 2));
            QVERIFY(pos.Col >= (vt ? columns : 80) - 2);
        }
    }

    void keysGoOutAsVtBytes_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("arrow") << int(Qt::Key_Down) << int(Qt::NoModifier) << ""
                               << QByteArray("\x1b[B");
        QTest::newRow("end") << int(Qt::Key_End) << int(Qt::NoModifier) << ""
                             << QByteArray("\x1b[F");
        QTest::newRow("enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << "\r"
                               << QByteArray("\r");
        QTest::newRow("text") << int(Qt::Key_unknown) << int(Qt::NoModifier) << "\u00e9"
                              << QByteArray("\xc3\xa9");
        QTest::newRow("shift page up scrolls")
            << int(Qt::Key_PageUp) << int(Qt::ShiftModifier) << "" << QByteArray();
    }
    void keysGoOutAsVtBytes() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Pane p;
        p.Console.SetLocalEcho(false);
        QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(&p.Console, &event);
        QCOMPARE(p.Sent, bytes);
    }

    void answersGoToTheOwner() {
        Pane p;
        QByteArray answers;
        p.Console.OnAnswer = [&answers](const QByteArray& bytes) { answers += bytes; };
        p.Console.WriteText("ab\x1b[6n\x1b[21t");
        QCOMPARE(answers, QByteArray("\x1b[1;3R"));
    }

    void recordingWritesUtf8TextWithoutEscapes() {
        Pane p(3);
        const QString path = Dir->filePath("vt.log");
        p.Console.SetLogFile(path);
        p.Console.WriteText("\x1b[32m25.4 \xc2\xb0"
                            "C\x1b[0m\r\n\x1b[1mline2\x1b[0m\r\n3\r\n4\r\n5");
        p.Console.SetRecording(false);
        const QList<QByteArray> lines = ReadAll(path).split('\n');
        QVERIFY(lines.size() >= 7);
        QCOMPARE(lines.at(2), QByteArray("25.4 \xc2\xb0"
                                         "C\r"));
        QCOMPARE(lines.at(3), QByteArray("line2\r"));
        QVERIFY(!ReadAll(path).contains('\x1b'));
        QVERIFY(ReadAll(path).contains("5\r\n--- End of recording"));
    }

    void rawRecordingKeepsTheBytes() {
        Pane p(3);
        p.Console.Screen().RawLog = true;
        const QString path = Dir->filePath("raw.log");
        p.Console.SetLogFile(path);
        const QByteArray bytes = "\x1b[31mred\xff\r\n\x1b]0;t\x07";
        p.Console.WriteText(bytes.left(5));
        p.Console.WriteText(bytes.mid(5));
        p.Console.SetRecording(false);
        QCOMPARE(ReadAll(path), bytes);
    }

    void copyAndFindWorkOnTheText() {
        Pane p(3);
        p.Console.WriteText("\xe4\xb8\xad\xe6\x96\x87 x\r\n1\r\n2\r\n3\r\nend");
        p.Console.SelectAll();
        QVERIFY(p.Console.SelectedText().startsWith(QStringLiteral("\u4e2d\u6587 x\n1\n")));
        QVERIFY(p.Console.Find(QStringLiteral("\u6587"), true, false));
        QCOMPARE(p.Console.CurrentMatch()->Col, 2);
    }

private:
    std::unique_ptr<QTemporaryDir> Dir;
};

QTEST_MAIN(TestVtPane)
#include "test_vt_pane.moc"
