// The terminal pane as a widget on the offscreen platform: geometry, what
// reaches the screen's pixels, the caret rule, keys, mouse and focus.
#include "terminal/TQxConsole.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QLineEdit>
#include <QMenu>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

class CountingConsole : public TQxConsole {
public:
    using TQxConsole::TQxConsole;
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++Paints;
        TQxConsole::paintEvent(event);
    }
};

// A window holding the pane above a line edit, so that focus can move.
struct PaneWindow {
    explicit PaneWindow(int rows = 10) {
        Pane = new CountingConsole(&Window);
        Other = new QLineEdit(&Window);
        SetRows(rows);
        Window.show();
        Window.activateWindow();
    }
    void SetRows(int rows) { SetHeight(rows * Pane->LineHeight()); }
    void SetHeight(int height) {
        Pane->setGeometry(0, 0, 700, height);
        Other->setGeometry(0, height, 700, 24);
        Window.resize(700, height + 24);
    }
    bool Ready() {
        if (!QTest::qWaitForWindowActive(&Window))
            return false;
        Pane->setFocus();
        return QTest::qWaitFor([this] { return Pane->hasFocus(); });
    }
    // What the window system holds of the pane right now.
    QImage Shown() const {
        const QPixmap all = Window.screen()->grabWindow(Window.winId());
        return all.toImage().copy(Pane->geometry()).convertToFormat(QImage::Format_RGB32);
    }
    // The pane drawn afresh from its model.
    QImage Fresh() const { return Pane->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    QWidget Window;
    CountingConsole* Pane = nullptr;
    QLineEdit* Other = nullptr;
};

QRgb Base(const QWidget& widget) {
    return widget.palette().color(QPalette::Base).rgb();
}

// The bounding box of everything in Area of Image that is not background.
QRect Ink(const QImage& image, const QRect& area, QRgb background) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != background)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// A character cell: the font's advance wide, LineHeight high, one pixel in
// from the left and top edges.
QRect Cell(const TQxConsole& pane, int row, int col) {
    const int cellWidth = QFontMetrics(pane.font()).horizontalAdvance(QLatin1Char('X'));
    return QRect((col - 1) * cellWidth + 1, row * pane.LineHeight() + 1, cellWidth,
                 pane.LineHeight());
}

bool CaretShown(const PaneWindow& w) {
    const QImage shown = w.Shown();
    const QRect caret = w.Pane->CaretRect();
    for (int y = caret.top(); y <= caret.bottom(); ++y) {
        for (int x = caret.left(); x <= caret.right(); ++x) {
            if (shown.pixel(x, y) == Base(*w.Pane))
                return false;
        }
    }
    return true;
}

struct KeySeen {
    char Key;
    int Row;
    QByteArray Line;
};

} // namespace

class TestConsolePane : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setCursorFlashTime(0); }

    void usesAFixedPitchFontAndItsFullHeight() {
        TQxConsole pane;
        QVERIFY(QFontInfo(pane.font()).fixedPitch());
        QCOMPARE(pane.font().pointSize(), 10);
        QCOMPARE(pane.LineHeight(), QFontMetrics(pane.font()).height());
    }

    void maxRowFollowsTheHeight_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("extra");
        QTest::addColumn<int>("maxRow");
        QTest::newRow("5 pixels") << 0 << 5 << 1;
        QTest::newRow("just under 2 rows") << 1 << 15 << 1;
        QTest::newRow("exactly 2 rows") << 2 << 0 << 1;
        QTest::newRow("exactly 3 rows") << 3 << 0 << 2;
        QTest::newRow("3 rows and a pixel short of 4") << 3 << -1 << 2;
        QTest::newRow("exactly 40 rows") << 40 << 0 << 39;
    }
    void maxRowFollowsTheHeight() {
        QFETCH(int, rows);
        QFETCH(int, extra);
        QFETCH(int, maxRow);
        PaneWindow w;
        const int lineHeight = w.Pane->LineHeight();
        // -1 stands for "one row less one pixel" above the whole rows.
        const int height =
            rows * lineHeight + (extra < 0 ? lineHeight - 1 : std::min(extra, lineHeight - 1));
        w.SetHeight(std::max(height, 1));
        QCOMPARE(w.Pane->MaxRow(), maxRow);
    }

    void aLowerWindowKeepsItsRowsUntilTheNextLineFeed() {
        PaneWindow w(10);
        QVERIFY(w.Ready());
        w.Pane->WriteText("0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9");
        QCOMPARE(w.Pane->Row(), 9);
        w.SetRows(4);
        QCOMPARE(w.Pane->MaxRow(), 3);
        QCOMPARE(w.Pane->Lines().size(), 10);
        QCOMPARE(w.Pane->Row(), 9);
        w.Pane->WriteText("\r\nX");
        QCOMPARE(w.Pane->Row(), 3);
        const QList<QByteArray> expected{"7", "8", "9", "X"};
        QCOMPARE(w.Pane->Lines().size(), expected.size());
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(w.Pane->Lines()[row].trimmed(), expected[row]);
    }

    // Every byte takes exactly one cell: a TAB or a control code does not
    // shift what follows; rows are LineHeight apart; a row holds its whole
    // glyphs and leaves the one-pixel margins blank.
    void drawsEachByteInItsOwnCell() {
        PaneWindow w(6);
        QVERIFY(w.Ready());
        w.Pane->SetCursorOn(false);
        w.Pane->WriteText("X\t\x01X\r\n\r\nX \xc9jg_|\x80\r\n");
        const QImage image = w.Fresh();
        const QRgb base = Base(*w.Pane);
        const QImage first = image.copy(Cell(*w.Pane, 0, 1));
        QVERIFY(!Ink(first, first.rect(), base).isNull());
        QCOMPARE(image.copy(Cell(*w.Pane, 0, 4)), first);
        QCOMPARE(image.copy(Cell(*w.Pane, 2, 1)), first);
        QVERIFY(!Ink(image, Cell(*w.Pane, 0, 3), base).isNull()); // the control code's glyph
        QVERIFY(Ink(image, QRect(0, 0, image.width(), 1), base).isNull());
        QVERIFY(Ink(image, QRect(0, 0, 1, image.height()), base).isNull());
        const int lineHeight = w.Pane->LineHeight();
        const QRect rows23(0, 2 * lineHeight + 1, image.width(), 2 * lineHeight);
        const QRect ink = Ink(image, rows23, base);
        QVERIFY2(
            ink.top() >= 2 * lineHeight + 1 && ink.bottom() < 3 * lineHeight + 1,
            qPrintable(
                QStringLiteral("glyphs of row 2 reach %1..%2").arg(ink.top()).arg(ink.bottom())));
        QVERIFY(Ink(image, QRect(0, 1 + lineHeight, image.width(), lineHeight), base).isNull());
    }

    // Whatever the order of intake, scrolling and painting, the pixels on
    // screen end up exactly as a fresh paint of the model.
    void shownPixelsFollowTheModel_data() {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("waitEvery");
        QTest::newRow("blits, painted after each block") << 3 << 1;
        QTest::newRow("blits, several blocks a paint") << 2 << 3;
        QTest::newRow("whole screens a block") << 20 << 2;
    }
    void shownPixelsFollowTheModel() {
        QFETCH(int, maxLines);
        QFETCH(int, waitEvery);
        PaneWindow w(12);
        QVERIFY(w.Ready());
        QRandomGenerator random(99);
        for (int block = 0; block < 60; ++block) {
            QByteArray text;
            const int lines = random.bounded(0, maxLines + 1);
            for (int i = 0; i < lines; ++i)
                text += "line " + QByteArray::number(block * 10 + i) + " g_|\r\n";
            if (random.bounded(4) == 0)
                text += "\x1bP" + QByteArray(1, char('0' + random.bounded(12))) + "5@@";
            text += QByteArray(random.bounded(0, 90), char('a' + block % 26));
            w.Pane->WriteText(text);
            if (block % waitEvery == 0) {
                QTest::qWait(40);
                QTRY_COMPARE(w.Shown(), w.Fresh());
            }
        }
        w.Pane->SetHexEmulation(true);
        for (int block = 0; block < 30; ++block) {
            w.Pane->WriteText(QByteArray(random.bounded(1, 16 * maxLines), char(block)));
            if (block % waitEvery == 0) {
                QTest::qWait(40);
                QTRY_COMPARE(w.Shown(), w.Fresh());
            }
        }
    }

    void aPaintBetweenIntakeAndItsBlitSpoilsNothing() {
        PaneWindow w(12);
        QVERIFY(w.Ready());
        for (int i = 0; i < 30; ++i)
            w.Pane->WriteText("old " + QByteArray::number(i) + "\r\n");
        QTest::qWait(40);
        w.Pane->WriteText("new 1\r\nnew 2\r\n");
        // The window system asks for part of the pane before the pane flushed.
        w.Pane->repaint(0, 5 * w.Pane->LineHeight(), w.Pane->width(), 2 * w.Pane->LineHeight());
        QTest::qWait(40);
        QTRY_COMPARE(w.Shown(), w.Fresh());
    }

    void aFloodIsPaintedOncePerFrameAtMost() {
        PaneWindow w(40);
        QVERIFY(w.Ready());
        QTest::qWait(50);
        const QByteArray line = QByteArray(70, 'x') + "\r\n";
        w.Pane->Paints = 0;
        for (int block = 0; block < 2000; ++block)
            w.Pane->WriteText(line);
        QTest::qWait(100);
        QVERIFY2(w.Pane->Paints <= 3, qPrintable(QString::number(w.Pane->Paints)));

        w.Pane->Paints = 0;
        QElapsedTimer elapsed;
        elapsed.start();
        int blocks = 0;
        while (elapsed.elapsed() < 300) {
            w.Pane->WriteText(line.repeated(3));
            QCoreApplication::processEvents();
            ++blocks;
        }
        const qint64 ms = elapsed.elapsed();
        QVERIFY2(w.Pane->Paints <= ms / 4 + 3,
                 qPrintable(QStringLiteral("%1 paints for %2 blocks in %3 ms")
                                .arg(w.Pane->Paints)
                                .arg(blocks)
                                .arg(ms)));
    }

    void caretShowsOnlyWithFocusCursorOnAndAscii() {
        PaneWindow w(6);
        QVERIFY(w.Ready());
        w.Pane->WriteText("abc");
        QVERIFY(w.Pane->CaretWanted());
        QCOMPARE(w.Pane->CaretRect().topLeft(), Cell(*w.Pane, 0, 4).topLeft());
        QCOMPARE(w.Pane->CaretRect().size(), QSize(2, w.Pane->LineHeight()));
        QTRY_VERIFY(CaretShown(w));

        w.Pane->SetHexEmulation(true);
        QVERIFY(!w.Pane->CaretWanted());
        QTRY_COMPARE(w.Shown(), w.Fresh());
        QVERIFY(!CaretShown(w));
        w.Pane->WriteText("more");
        QTRY_VERIFY(!CaretShown(w));

        w.Pane->SetHexEmulation(false);
        QCOMPARE(w.Pane->CaretRect().topLeft(), QPoint(1, 1));
        QTRY_VERIFY(CaretShown(w));

        w.Pane->SetCursorOn(false);
        QTRY_VERIFY(!CaretShown(w));
        w.Pane->WriteText("\x04");
        QVERIFY(w.Pane->CursorOn());
        QTRY_VERIFY(CaretShown(w));

        w.Other->setFocus();
        QVERIFY(!w.Pane->CaretWanted());
        QTRY_VERIFY(!CaretShown(w));
    }

    // The caret blinks for ten cycles after the last typing or output, then
    // rests shown without waking the program; typing or output wakes it.
    void caretRestsAfterTenBlinksUntilTypingOrOutput() {
        QApplication::setCursorFlashTime(100);
        const auto restore = qScopeGuard([] { QApplication::setCursorFlashTime(0); });
        PaneWindow w(6);
        QVERIFY(w.Ready());
        const auto rests = [&w] {
            const int paints = w.Pane->Paints;
            QTest::qWait(300);
            return w.Pane->Paints == paints;
        };
        QVERIFY(QTest::qWaitFor(rests, 10000));
        QVERIFY(CaretShown(w));

        w.Pane->WriteText("x");
        const int afterOutput = w.Pane->Paints;
        QVERIFY(QTest::qWaitFor([&] { return w.Pane->Paints >= afterOutput + 3; }, 5000));
        QVERIFY(QTest::qWaitFor(rests, 10000));

        w.Pane->SetLocalEcho(false);
        QTest::keyClick(w.Pane, Qt::Key_Q);
        const int afterKey = w.Pane->Paints;
        QVERIFY(QTest::qWaitFor([&] { return w.Pane->Paints >= afterKey + 3; }, 5000));
    }

    void typedKeysAreEchoedFirstThenRaised() {
        PaneWindow w;
        QVERIFY(w.Ready());
        w.Pane->SetLocalEcho(true);
        w.Pane->SetCRLFOut(true);
        QList<KeySeen> seen;
        w.Pane->OnKeyPress = [&seen](TQxConsole& pane, char& key) {
            seen.append({key, pane.Row(), pane.Lines()[pane.Row()].trimmed()});
        };
        QTest::keyClick(w.Pane, Qt::Key_A);
        QTest::keyClick(w.Pane, Qt::Key_Return);
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen[0].Key, 'a');
        QCOMPARE(seen[0].Line, QByteArray("a")); // echoed before it was raised
        QCOMPARE(seen[1].Key, '\r');
        QCOMPARE(seen[1].Row, 0);
        QCOMPARE(seen[2].Key, '\n');
        QCOMPARE(seen[2].Row, 1);
        QCOMPARE(w.Pane->Col(), 1);

        w.Pane->SetCRLFIn(true);
        QTest::keyClick(w.Pane, Qt::Key_Return);
        QCOMPARE(w.Pane->Row(), 3);

        w.Pane->SetCRLFOut(false);
        seen.clear();
        QTest::keyClick(w.Pane, Qt::Key_Enter);
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].Key, '\r');
    }

    void typedCharactersMapThroughTheCodePage() {
        PaneWindow w;
        QVERIFY(w.Ready());
        QByteArray sent;
        w.Pane->OnKeyPress = [&sent](TQxConsole&, char& key) { sent += key; };
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                        QString::fromUtf8("\xc3\xa4\xce\xa9\xe2\x82\xac\x1b"));
        QApplication::sendEvent(w.Pane, &typed);
        QCOMPARE(sent, QByteArray("\xe4\x80\x1b"));        // the Greek letter has no byte
        QCOMPARE(w.Pane->Lines()[0], QByteArray(80, ' ')); // no echo unless asked for
    }

    void pausedPaneSendsButDoesNotEcho() {
        PaneWindow w;
        QVERIFY(w.Ready());
        w.Pane->SetLocalEcho(true);
        w.Pane->SetDisplaying(false);
        QByteArray sent;
        w.Pane->OnKeyPress = [&sent](TQxConsole&, char& key) { sent += key; };
        QTest::keyClicks(w.Pane, "hi");
        QCOMPARE(sent, QByteArray("hi"));
        QCOMPARE(w.Pane->Lines()[0], QByteArray(80, ' '));
    }

    void arrowKeysStayAndTabMovesOn() {
        PaneWindow w;
        QVERIFY(w.Ready());
        QByteArray sent;
        w.Pane->OnKeyPress = [&sent](TQxConsole&, char& key) { sent += key; };
        for (const int key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down}) {
            QKeyEvent arrow(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(w.Pane, &arrow);
            QVERIFY(arrow.isAccepted());
            QVERIFY(w.Pane->hasFocus());
        }
        QTest::keyClick(w.Pane, Qt::Key_Tab);
        QVERIFY(w.Other->hasFocus());
        QCOMPARE(sent, QByteArray());
    }

    void anyButtonTakesTheFocusAndRightOpensTheMenu_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("middle") << Qt::MiddleButton;
        QTest::newRow("right") << Qt::RightButton;
    }
    void anyButtonTakesTheFocusAndRightOpensTheMenu() {
        QFETCH(Qt::MouseButton, button);
        PaneWindow w;
        QVERIFY(w.Ready());
        QMenu menu;
        menu.addAction(QStringLiteral("Clear"));
        w.Pane->SetPopupMenu(&menu);
        w.Other->setFocus();
        QVERIFY(w.Other->hasFocus());
        // Through the window, as the window system delivers it (this is what
        // turns a right press into a context menu request).
        QTest::mouseClick(w.Window.windowHandle(), button, Qt::NoModifier,
                          w.Pane->mapTo(&w.Window, QPoint(20, 20)));
        QTRY_VERIFY(w.Pane->hasFocus());
        if (button == Qt::RightButton)
            QTRY_VERIFY(menu.isVisible());
        else
            QVERIFY(!menu.isVisible());
        menu.close();
    }

    // A burst of bells rings once; a bell after a pause rings again.
    void bellBeepsThroughTheInteractionAtMostOnceInAWhile() {
        FakeInteraction fake;
        TQxConsole pane;
        pane.WriteText("a\ab\a");
        pane.WriteText(QByteArray(1000, '\a'));
        QCOMPARE(fake.Beeps, 1);
        QCOMPARE(pane.Lines().first().left(2), QByteArray("ab"));
        QTest::qWait(250);
        pane.WriteText("\a");
        QCOMPARE(fake.Beeps, 2);
        QTest::qWait(250);
        pane.SetHexEmulation(true);
        pane.WriteText("\a");
        QCOMPARE(fake.Beeps, 2);
    }

    // A scrolled-back view stays on its lines while data arrives; End or
    // typing returns to the live screen.
    void aScrolledBackViewHoldsUntilEndOrTyping() {
        PaneWindow w(10);
        QVERIFY(w.Ready());
        QByteArray sent;
        w.Pane->OnKeyPress = [&sent](TQxConsole&, char& key) { sent += key; };
        for (int i = 0; i < 100; ++i)
            w.Pane->WriteText("row " + QByteArray::number(i) + "\r\n");
        QTest::keyClick(w.Pane, Qt::Key_PageUp, Qt::ShiftModifier);
        QVERIFY(w.Pane->ScrolledBack());
        const qint64 top = w.Pane->ViewTopLine();
        const QByteArray topText = w.Pane->Screen().LineText(top);
        QVERIFY(!w.Pane->NewDataBelow());
        for (int i = 0; i < 30; ++i)
            w.Pane->WriteText("more " + QByteArray::number(i) + "\r\n");
        QTRY_VERIFY(w.Pane->NewDataBelow());
        QCOMPARE(w.Pane->ViewTopLine(), top);
        QCOMPARE(w.Pane->Screen().LineText(top), topText);
        QTest::keyClick(w.Pane, Qt::Key_End);
        QVERIFY(!w.Pane->ScrolledBack());
        QTest::keyClick(w.Pane, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(w.Pane->ViewTopLine(), w.Pane->Screen().FirstLine());
        QVERIFY(sent.isEmpty());
        QTest::keyClick(w.Pane, Qt::Key_A);
        QVERIFY(!w.Pane->ScrolledBack());
        QCOMPARE(sent, QByteArray("a"));
        QTRY_COMPARE(w.Shown(), w.Fresh());

        // Rows that leave a full history take the view's top along.
        w.Pane->SetScrollbackLimit(50);
        QTest::keyClick(w.Pane, Qt::Key_Home, Qt::ShiftModifier);
        for (int i = 0; i < 100; ++i)
            w.Pane->WriteText("flood " + QByteArray::number(i) + "\r\n");
        QTRY_COMPARE(w.Pane->ViewTopLine(), w.Pane->Screen().FirstLine());
        QVERIFY(w.Pane->ScrolledBack());
        QTRY_COMPARE(w.Shown(), w.Fresh());
    }

    // A live view's scroll bar may lag behind a growing history while it
    // looks the same; used with the mouse, it scrolls from the true end.
    void theScrollBarScrollsFromTheTrueEndAfterAStream() {
        PaneWindow w(10);
        QVERIFY(w.Ready());
        for (int i = 0; i < 500; ++i) {
            w.Pane->WriteText("row " + QByteArray::number(i) + "\r\n");
            if (i % 50 == 0)
                QTest::qWait(20);
        }
        QTRY_COMPARE(w.Shown(), w.Fresh());
        auto* bar = w.Pane->findChild<QScrollBar*>();
        QVERIFY(bar && bar->isVisible());
        const QPoint middle(bar->width() / 2, bar->height() / 2);
        QWheelEvent wheel(middle, bar->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &wheel);
        QVERIFY(w.Pane->ScrolledBack());
        const qint64 end = w.Pane->Screen().FirstLine() + w.Pane->Screen().History().size();
        QVERIFY(w.Pane->ViewTopLine() < end);
        QVERIFY(w.Pane->ViewTopLine() >= end - 10);
    }

    // Drag selects characters across rows, a double click a word, a third
    // click the row; the selection stays with its text while rows scroll.
    void mouseSelectsCharactersWordsAndRows_data() {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("drag") << 1 << QStringLiteral("two three\nsecond r");
        QTest::newRow("double click") << 2 << QStringLiteral("two");
        QTest::newRow("triple click") << 3 << QStringLiteral("one two three");
    }
    void mouseSelectsCharactersWordsAndRows() {
        QFETCH(int, clicks);
        QFETCH(QString, expected);
        PaneWindow w(6);
        QVERIFY(w.Ready());
        w.Pane->WriteText("one two three\r\nsecond row\xe4\r\n");
        const QPoint from =
            Cell(*w.Pane, 0, 5).center() - QPoint(Cell(*w.Pane, 0, 5).width() / 2, 0);
        const QPoint to = Cell(*w.Pane, 1, 9).center() - QPoint(Cell(*w.Pane, 1, 9).width() / 2, 0);
        if (clicks == 1) {
            QTest::mousePress(w.Pane, Qt::LeftButton, Qt::NoModifier, from);
            QTest::mouseMove(w.Pane, to);
            QTest::mouseRelease(w.Pane, Qt::LeftButton, Qt::NoModifier, to);
        } else {
            QTest::mouseDClick(w.Pane, Qt::LeftButton, Qt::NoModifier, from + QPoint(3, 0));
            if (clicks == 3)
                QTest::mouseClick(w.Pane, Qt::LeftButton, Qt::NoModifier, from + QPoint(3, 0));
        }
        QCOMPARE(w.Pane->SelectedText(), expected);
        for (int i = 0; i < 20; ++i)
            w.Pane->WriteText("scrolling " + QByteArray::number(i) + "\r\n");
        QCOMPARE(w.Pane->SelectedText(), expected);
        QTest::keyClick(w.Pane, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        w.Pane->SelectAll();
        QVERIFY(
            w.Pane->SelectedText().startsWith(QStringLiteral("one two three\nsecond row\u00e4\n")));
    }

    // Line ends go out as Enter does, characters the code page lacks are
    // not sent (and the user is told).
    void pasteSendsAsTyped_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("crlfOut");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("told");
        QTest::newRow("LF") << QStringLiteral("ls\nid\n") << false << QByteArray("ls\rid\r")
                            << false;
        QTest::newRow("CR LF") << QStringLiteral("ls\r\nid") << false << QByteArray("ls\rid")
                               << false;
        QTest::newRow("CR LF out")
            << QStringLiteral("ls\nid\r\n") << true << QByteArray("ls\r\nid\r\n") << false;
        QTest::newRow("code page") << QStringLiteral("\u00e4\u20ac\u4e2d\U0001F600!") << false
                                   << QByteArray("\xe4\x80!") << true;
    }
    void pasteSendsAsTyped() {
        QFETCH(QString, text);
        QFETCH(bool, crlfOut);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, told);
        TQxConsole pane;
        pane.SetCRLFOut(crlfOut);
        pane.SetLocalEcho(true);
        QByteArray sent;
        QString message;
        pane.OnSend = [&sent](const QByteArray& chunk) { sent += chunk; };
        pane.OnStatusMessage = [&message](const QString& m) { message = m; };
        QGuiApplication::clipboard()->setText(text);
        pane.Paste();
        QCOMPARE(sent, bytes);
        QCOMPARE(!message.isEmpty(), told);
        TConsoleScreen echoed;
        echoed.WriteText(bytes);
        QCOMPARE(pane.Lines(), echoed.Lines);
    }

    // A paste over 4 KB asks with its size, then goes out in the background
    // while the event loop runs, whole, through a real pseudo-terminal.
    void aLargePasteArrivesWholeWhileTheWindowRuns() {
        PtyPair pty;
        QVERIFY(pty.IsValid());
        const int slave = ::open(QFile::encodeName(pty.SlavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(slave >= 0);
        FakeInteraction fake;
        fake.QuestionAnswers = {true};
        TQxConsole pane;
        pane.OnSend = [slave](const QByteArray& chunk) {
            for (qsizetype done = 0; done < chunk.size();) {
                const ssize_t n =
                    ::write(slave, chunk.constData() + done, size_t(chunk.size() - done));
                QVERIFY(n > 0);
                done += n;
            }
        };
        QString text;
        for (int i = 0; text.size() < 300000; ++i)
            text += QStringLiteral("line %1 of a long paste\n").arg(i);
        const QByteArray expected = text.toLatin1().replace('\n', '\r');
        QByteArray received;
        std::thread reader([&] { received = pty.Read(int(expected.size()), 10000); });
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(1);
        pane.PasteText(text);
        QCOMPARE(fake.Prompts.size(), 1);
        QVERIFY(fake.Prompts[0].Text.contains(QString::number(expected.size())));
        QVERIFY(pane.Pasting());
        QTRY_VERIFY_WITH_TIMEOUT(!pane.Pasting(), 60000);
        reader.join();
        ::close(slave);
        QCOMPARE(received.size(), expected.size());
        QVERIFY(received == expected);
        QVERIFY(ticks > 0);
    }
};

QTEST_MAIN(TestConsolePane)
#include "test_console_pane.moc"
