#include "help/TBubbleForm.h"
#include "platform/AppLocation.h"
#include "tests/support/FakeInteraction.h"

#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QStringList Headers = {"Serial Interface", "Terminal", "Download", "Clear",
                             "Macro...",         "...delay", "Logfile",  "Popup-Menu"};

void PressKeys(QWidget* widget, Qt::Key key, int count) {
    for (int i = 0; i < count; ++i)
        QTest::keyClick(widget, key);
}

QtMessageHandler defaultMessageHandler = nullptr;

// The offscreen platform cannot shape or raise windows and says so on every
// opening; those notices say nothing about the code under test.
void QuietOffscreenNotices(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        defaultMessageHandler(type, context, message);
}

} // namespace

class TestHelp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { defaultMessageHandler = qInstallMessageHandler(QuietOffscreenNotices); }
    void init();
    void cleanup();

    void firstOpeningShowsFirstTopic();
    void paintsRimAndTitleBand();
    void arrowKeysPage_data();
    void arrowKeysPage();
    void arrowButtonsPageInOrder();
    void closingKeepsTopic_data();
    void closingKeepsTopic();
    void openingTwiceGivesOneWindow();
    void destroyingOwnerClearsInstance();
    void dragging_data();
    void dragging();
    void keysSwallowed_data();
    void keysSwallowed();
    void linksOpenTheirAddress();
    void textsFitTheirLabels_data();
    void textsFitTheirLabels();
    void paragraphBreaks_data();
    void paragraphBreaks();

private:
    TBubbleForm* OpenHelp();

    std::unique_ptr<QWidget> owner;
};

void TestHelp::init() {
    owner = std::make_unique<QWidget>();
    owner->resize(400, 300);
    owner->show();
}

void TestHelp::cleanup() {
    owner.reset();
}

TBubbleForm* TestHelp::OpenHelp() {
    ShowBubbleForm(owner.get());
    return BubbleForm;
}

void TestHelp::firstOpeningShowsFirstTopic() {
    QVERIFY(BubbleForm == nullptr);
    TBubbleForm* form = OpenHelp();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->parentWidget(), owner.get());
    QVERIFY(form->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(form->HeaderLabel->text(), QStringLiteral("Serial Interface"));
    QVERIFY(form->HintLabel->text().startsWith("Use the \"Settings...\" button"));
    QVERIFY(!form->LeftBtn->isEnabled());
    QVERIFY(form->RightBtn->isEnabled());

    // Rounded corners: the shape leaves out the corner pixels only.
    const QRegion shape = form->mask();
    QVERIFY(!shape.contains(QPoint(0, 0)));
    QVERIFY(!shape.contains(QPoint(form->width() - 1, form->height() - 1)));
    QVERIFY(shape.contains(QPoint(form->width() / 2, 0)));
    QVERIFY(shape.contains(QPoint(0, form->height() / 2)));

    const QPoint screenCentre = form->screen()->availableGeometry().center();
    QVERIFY((form->geometry().center() - screenCentre).manhattanLength() <= 2);
}

void TestHelp::paintsRimAndTitleBand() {
    TBubbleForm* form = OpenHelp();
    const QImage picture = form->grab().toImage();
    const QColor band = form->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor title = form->palette().color(QPalette::Active, QPalette::HighlightedText);
    QCOMPARE(picture.pixelColor(1, form->height() / 2), QColor(128, 128, 128));
    QCOMPARE(picture.pixelColor(form->width() - 2, form->height() / 2), QColor(128, 128, 128));
    QCOMPARE(picture.pixelColor(form->width() / 2, form->height() - 2), QColor(128, 128, 128));
    QCOMPARE(picture.pixelColor(form->width() - 5, form->height() / 2), QColor(255, 255, 240));
    QCOMPARE(picture.pixelColor(form->width() / 2, 3), band);
    QCOMPARE(picture.pixelColor(form->width() / 2, form->CaptionHeight() - 1), band);

    bool titleDrawn = false;
    for (int y = 0; y < form->CaptionHeight() && !titleDrawn; ++y) {
        for (int x = 11; x < 120 && !titleDrawn; ++x)
            titleDrawn = picture.pixelColor(x, y) == title;
    }
    QVERIFY(titleDrawn);
}

void TestHelp::arrowKeysPage_data() {
    QTest::addColumn<int>("rights");
    QTest::addColumn<int>("lefts");
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("leftEnabled");
    QTest::addColumn<bool>("rightEnabled");

    QTest::newRow("left on the first topic") << 0 << 1 << "Serial Interface" << false << true;
    QTest::newRow("one right") << 1 << 0 << "Terminal" << true << true;
    QTest::newRow("seven rights") << 7 << 0 << "Popup-Menu" << true << false;
    QTest::newRow("eight rights") << 8 << 0 << "Popup-Menu" << true << false;
    QTest::newRow("seven rights, one left") << 7 << 1 << "Logfile" << true << true;
    QTest::newRow("two rights, two lefts") << 2 << 2 << "Serial Interface" << false << true;
}

void TestHelp::arrowKeysPage() {
    QFETCH(int, rights);
    QFETCH(int, lefts);
    TBubbleForm* form = OpenHelp();
    PressKeys(form, Qt::Key_Right, rights);
    PressKeys(form, Qt::Key_Left, lefts);
    QTEST(form->HeaderLabel->text(), "header");
    QTEST(form->LeftBtn->isEnabled(), "leftEnabled");
    QTEST(form->RightBtn->isEnabled(), "rightEnabled");
}

void TestHelp::arrowButtonsPageInOrder() {
    TBubbleForm* form = OpenHelp();
    QStringList forward{form->HeaderLabel->text()};
    while (form->RightBtn->isEnabled() && forward.size() <= Headers.size()) {
        QTest::mouseClick(form->RightBtn, Qt::LeftButton);
        forward << form->HeaderLabel->text();
    }
    QCOMPARE(forward, Headers);
    QTest::mouseClick(form->RightBtn, Qt::LeftButton);
    QCOMPARE(form->Topic(), 7);

    QTest::mouseClick(form->LeftBtn, Qt::LeftButton);
    QCOMPARE(form->HeaderLabel->text(), QStringLiteral("Logfile"));
}

void TestHelp::closingKeepsTopic_data() {
    QTest::addColumn<bool>("byCross");
    QTest::newRow("escape") << false;
    QTest::newRow("cross button") << true;
}

void TestHelp::closingKeepsTopic() {
    QFETCH(bool, byCross);
    TBubbleForm* form = OpenHelp();
    PressKeys(form, Qt::Key_Right, 4);
    QCOMPARE(form->HeaderLabel->text(), QStringLiteral("Macro..."));
    if (byCross)
        QTest::mouseClick(form->ExitBtn, Qt::LeftButton);
    else
        QTest::keyClick(form, Qt::Key_Escape);
    QVERIFY(!form->isVisible());
    QCOMPARE(BubbleForm, form);

    QCOMPARE(OpenHelp(), form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->HeaderLabel->text(), QStringLiteral("Macro..."));
    QVERIFY(form->LeftBtn->isEnabled());
    QVERIFY(form->RightBtn->isEnabled());
}

void TestHelp::openingTwiceGivesOneWindow() {
    TBubbleForm* first = OpenHelp();
    TBubbleForm* second = OpenHelp();
    QCOMPARE(second, first);
    QCOMPARE(owner->findChildren<TBubbleForm*>().size(), 1);
}

void TestHelp::destroyingOwnerClearsInstance() {
    OpenHelp();
    QVERIFY(BubbleForm);
    owner.reset();
    QVERIFY(BubbleForm == nullptr);
}

void TestHelp::dragging_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<bool>("follows");

    QTest::newRow("left button in the title band") << Qt::LeftButton << QPoint(50, 5) << true;
    QTest::newRow("left button, last row of the band") << Qt::LeftButton << QPoint(50, -1) << true;
    QTest::newRow("left button, first row below the band")
        << Qt::LeftButton << QPoint(50, 0) << false;
    QTest::newRow("left button below the band") << Qt::LeftButton << QPoint(274, 100) << false;
    QTest::newRow("right button in the title band") << Qt::RightButton << QPoint(50, 5) << false;
}

void TestHelp::dragging() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, press);
    QFETCH(bool, follows);
    TBubbleForm* form = OpenHelp();
    // Rows given as -1 and 0 stand for the band's last row and the row below.
    if (press.y() == -1)
        press.setY(form->CaptionHeight() - 1);
    else if (press.y() == 0)
        press.setY(form->CaptionHeight());
    QCOMPARE(form->childAt(press), nullptr);

    const QPoint start = form->pos();
    const QPoint distance(30, 20);
    QTest::mousePress(form, button, {}, press);
    QTest::mouseMove(form, press + distance);
    QCOMPARE(form->pos(), follows ? start + distance : start);

    const QPoint afterMove = form->pos();
    QTest::mouseRelease(form, button, {}, follows ? press : press + distance);
    // A later move with the left button held (pressed on a label, say, which
    // passes the move on) must not move the window either.
    QMouseEvent moveAfterRelease(QEvent::MouseMove, QPointF(press + distance + distance),
                                 QPointF(form->mapToGlobal(press + distance + distance)),
                                 Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form, &moveAfterRelease);
    QCOMPARE(form->pos(), afterMove);
}

void TestHelp::keysSwallowed_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("swallowed");
    QTest::addColumn<bool>("staysOpen");

    QTest::newRow("Enter") << int(Qt::Key_Return) << true << true;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << true << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true << false;
    QTest::newRow("a letter passes") << int(Qt::Key_A) << false << true;
}

void TestHelp::keysSwallowed() {
    QFETCH(int, key);
    TBubbleForm* form = OpenHelp();
    QTest::keyClick(form, Qt::Key_Right);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(form, &press);
    QTEST(press.isAccepted(), "swallowed");
    QTEST(form->isVisible(), "staysOpen");
    QCOMPARE(form->HeaderLabel->text(), QStringLiteral("Terminal"));
}

void TestHelp::linksOpenTheirAddress() {
    FakeInteraction interaction;
    TBubbleForm* form = OpenHelp();
    QTest::mouseClick(form->Label2, Qt::LeftButton);
    QTest::mouseClick(form->HintLabel, Qt::LeftButton);
    QVERIFY(interaction.Opened.isEmpty());

    QTest::mouseClick(form->WWWLabel, Qt::LeftButton);
    QTest::mouseClick(form->Label3, Qt::RightButton);
    QTest::mouseClick(form->Label3, Qt::LeftButton);
    // The installed guide and manual page, not addresses on the web.
    QCOMPARE(interaction.Opened,
             QStringList({QDir::cleanPath(ApplicationDir() + "../share/doc/qx-console/README.md"),
                          QStringLiteral("man:qx-console(1)")}));
    QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(form->WWWLabel->cursor().shape(), Qt::PointingHandCursor);
}

void TestHelp::textsFitTheirLabels_data() {
    QTest::addColumn<QString>("family");
    QTest::newRow("platform UI font") << QString();
    QTest::newRow("wide monospace UI font") << "DejaVu Sans Mono";
    QTest::newRow("serif UI font") << "DejaVu Serif";
}

void TestHelp::textsFitTheirLabels() {
    QFETCH(QString, family);
    const QFont platformFont = QApplication::font();
    if (!family.isEmpty())
        QApplication::setFont(QFont(family, 11));
    TBubbleForm* form = OpenHelp();
    QApplication::setFont(platformFont);
    QVERIFY(form->HintLabel->font().pointSizeF() >= 6.0);
    const int bubbleInside = form->width() - 2;
    for (int topic = 0; topic < Headers.size(); ++topic) {
        const QString where = form->HeaderLabel->text();
        QVERIFY2(form->HintLabel->heightForWidth(form->HintLabel->width()) <=
                     form->HintLabel->height(),
                 qPrintable(where));
        QVERIFY2(form->HeaderLabel->geometry().right() < form->LeftBtn->x(), qPrintable(where));
        QTest::keyClick(form, Qt::Key_Right);
    }
    for (const QLabel* footer : {form->Label2, form->WWWLabel, form->Label1, form->Label3}) {
        QVERIFY2(footer->geometry().right() < bubbleInside, qPrintable(footer->text()));
        QVERIFY2(footer->geometry().bottom() < form->height() - 2, qPrintable(footer->text()));
    }
    QVERIFY(form->ExitBtn->geometry().bottom() < form->CaptionHeight());
    QVERIFY(form->ExitBtn->geometry().right() < bubbleInside);
}

void TestHelp::paragraphBreaks_data() {
    QTest::addColumn<int>("topic");
    QTest::addColumn<QString>("passage");

    QTest::newRow("blank line") << 0 << "parity.\n\nThe interface must be available!";
    QTest::newRow("blank kept before break") << 1 << "formatting. \n\nASCII-Emulation";
    QTest::newRow("two breaks, then one") << 5 << "macro.\n\nSample:\nThe macro 012#27T0100345";
    QTest::newRow("markup-like words shown") << 1 << "<Backspace>, <FormFeed>, <CR>";
}

void TestHelp::paragraphBreaks() {
    QFETCH(int, topic);
    QFETCH(QString, passage);
    TBubbleForm* form = OpenHelp();
    PressKeys(form, Qt::Key_Right, topic);
    const QString shown = form->HintLabel->text();
    QVERIFY2(shown.contains(passage), qPrintable(shown));
    QVERIFY(!shown.contains('\r'));
    QCOMPARE(form->HintLabel->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestHelp)
#include "test_help.moc"
