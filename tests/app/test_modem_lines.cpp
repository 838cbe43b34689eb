// The status bar's input-line indicators on a device that answers the modem
// calls as a UART does: the modem shim is linked into this program, so its
// pseudo-terminals answer them and the test plays the input lines.
#include "app/TLineControl.h"
#include "tests/app/AppWindowFixture.h"

#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include <sys/ioctl.h>

extern "C" void QxModemShimSetInputLines(int bits);

namespace {

constexpr int LinesAtStart = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;

// The names the indicator shows as on (bold), e.g. "CTS DCD".
QString LinesShownOn(const QLabel& panel) {
    static const QRegularExpression bold(QStringLiteral("<b>(\\w+)</b>"));
    QStringList names;
    for (const QRegularExpressionMatch& match : bold.globalMatch(panel.text()))
        names.append(match.captured(1));
    return names.join(QLatin1Char(' '));
}

} // namespace

class TestModemLines : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppResources(); }

    // Each change is waited for, not polled, and shows without any other
    // activity on the line; DCD and RI have no event of their own.
    void aLineChangeReachesTheIndicators_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("shownOn");
        QTest::newRow("CTS drops") << int(TIOCM_DSR | TIOCM_CD) << "DSR DCD";
        QTest::newRow("DSR drops") << int(TIOCM_CTS | TIOCM_CD) << "CTS DCD";
        QTest::newRow("DCD drops") << int(TIOCM_CTS | TIOCM_DSR) << "CTS DSR";
        QTest::newRow("RI rings") << int(LinesAtStart | TIOCM_RI) << "CTS DSR DCD RI";
    }

    void aLineChangeReachesTheIndicators() {
        QFETCH(int, lines);
        QFETCH(QString, shownOn);
        QxModemShimSetInputLines(LinesAtStart);
        AppWindowFixture f;
        QVERIFY(f.Show());
        const QLabel& panel = *f.Window->LineControl()->LinePanel;
        QCOMPARE(LinesShownOn(panel), QStringLiteral("CTS DSR DCD"));
        QTest::qWait(100); // the waiter sits in its wait
        QxModemShimSetInputLines(lines);
        QTRY_COMPARE_WITH_TIMEOUT(LinesShownOn(panel), shownOn, 10000);
    }
};

QTEST_MAIN(TestModemLines)
#include "test_modem_lines.moc"
