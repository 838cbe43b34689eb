// The command line's options, and the values it gives for one run: they
// reach the line (a pseudo-terminal, read back with tcgetattr) and the
// window, and the settings file keeps its own until the settings are saved.
#include "app/TCommandLine.h"
#include "platform/OpenDiagnosis.h"
#include "serial/TQxComPort.h"
#include "settings/TQxPreferences.h"
#include "tests/app/AppWindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QtTest>

#include <termios.h>

namespace {

// A parsed command line in one line; for a failure its message.
QString Describe(const TCommandLine& c) {
    using A = TCommandLine::TAction;
    if (c.Action == A::Fail)
        return QStringLiteral("fail: ") + c.Error;
    if (c.Action != A::Run)
        return c.Action == A::List ? QStringLiteral("list") : QStringLiteral("answer");
    const TRunOverrides& o = c.Overrides;
    QString line;
    if (o.Line)
        line = QStringLiteral("%1%2%3")
                   .arg(DataBitsCount(o.Line->DataBits))
                   .arg(QLatin1Char(ParityChars[o.Line->Parity]))
                   .arg(QLatin1String(StopBitsTexts[o.Line->StopBits]));
    return QStringLiteral("settings=%1 device=%2 baud=%3 line=%4 emulation=%5")
        .arg(QFileInfo(c.SettingsFile).fileName(), o.Device)
        .arg(o.Baudrate)
        .arg(line, QString::fromLatin1(o.Emulation));
}

QString Run(const QString& settings, const QString& device, int baud, const QString& line,
            const QString& emulation) {
    return QStringLiteral("settings=%1 device=%2 baud=%3 line=%4 emulation=%5")
        .arg(settings, device)
        .arg(baud)
        .arg(line, emulation);
}

// What a pty keeps of the frame: it forces 8 data bits and clears PARENB on
// every change (test_serial_device checks those on the termios built for the
// device), but keeps odd, mark/space and the stop bits.
constexpr tcflag_t FrameBits = PARODD | CMSPAR | CSTOPB;

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ClearRunOverrides(); }

    void parsesEveryOptionAndNamesABadValue_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        const QString here = QDir::current().absoluteFilePath(QStringLiteral("ttyX"));
        QTest::newRow("nothing") << QStringList{} << Run({}, {}, 0, {}, {});
        QTest::newRow("settings") << QStringList{"--settings", "b.ini"}
                                  << Run("b.ini", {}, 0, {}, {});
        QTest::newRow("device") << QStringList{"--device", "/dev/ttyUSB0"}
                                << Run({}, "/dev/ttyUSB0", 0, {}, {});
        QTest::newRow("device made absolute")
            << QStringList{"--device=ttyX"} << Run({}, here, 0, {}, {});
        QTest::newRow("network device") << QStringList{"--device", "rfc2217://rack:2217"}
                                        << Run({}, "rfc2217://rack:2217", 0, {}, {});
        QTest::newRow("unknown scheme")
            << QStringList{"--device", "http://rack"}
            << "fail: bad value 'http://rack' for '--device': a network port is "
               "rfc2217://HOST:PORT or tcp://HOST:PORT";
        QTest::newRow("no device")
            << QStringList{"--device"} << "fail: option '--device' needs a device";
        QTest::newRow("an option for the device") << QStringList{"--device", "--baud", "9600"}
                                                  << "fail: option '--device' needs a device";
        QTest::newRow("table rate")
            << QStringList{"--baud", "115200"} << Run({}, {}, 115200, {}, {});
        QTest::newRow("other rate") << QStringList{"--baud=250000"} << Run({}, {}, 250000, {}, {});
        QTest::newRow("word rate") << QStringList{"--baud", "fast"}
                                   << "fail: bad value 'fast' for '--baud': give the bits per "
                                      "second, 1 to 99999999";
        QTest::newRow("zero rate") << QStringList{"--baud", "0"}
                                   << "fail: bad value '0' for '--baud': give the bits per "
                                      "second, 1 to 99999999";
        QTest::newRow("signed rate") << QStringList{"--baud", "+9600"}
                                     << "fail: bad value '+9600' for '--baud': give the bits per "
                                        "second, 1 to 99999999";
        QTest::newRow("no rate") << QStringList{"--baud="} << "fail: option '--baud' needs a rate";
        QTest::newRow("8N1") << QStringList{"--line", "8N1"} << Run({}, {}, 0, "8N1", {});
        QTest::newRow("5 space 2") << QStringList{"--line", "5s2"} << Run({}, {}, 0, "5S2", {});
        QTest::newRow("6 mark 1") << QStringList{"--line", "6M1"} << Run({}, {}, 0, "6M1", {});
        const QString lineHelp = QStringLiteral(
            "give data bits 5 to 8, parity N, O, E, M or S and stop bits 1 or 2, as in 8N1");
        QTest::newRow("9 bits") << QStringList{"--line", "9N1"}
                                << "fail: bad value '9N1' for '--line': " + lineHelp;
        QTest::newRow("bad parity")
            << QStringList{"--line", "8X1"} << "fail: bad value '8X1' for '--line': " + lineHelp;
        QTest::newRow("3 stop bits")
            << QStringList{"--line", "8N3"} << "fail: bad value '8N3' for '--line': " + lineHelp;
        QTest::newRow("hex") << QStringList{"--emulation", "hex"} << Run({}, {}, 0, {}, "HEX");
        QTest::newRow("vt") << QStringList{"--emulation=VT"} << Run({}, {}, 0, {}, "VT");
        QTest::newRow("vt100") << QStringList{"--emulation", "vt100"}
                               << "fail: bad value 'vt100' for '--emulation': give ASCII, HEX "
                                  "or VT";
        QTest::newRow("short form")
            << QStringList{"/dev/ttyUSB0", "115200"} << Run({}, "/dev/ttyUSB0", 115200, {}, {});
        QTest::newRow("short form, URL")
            << QStringList{"tcp://rack:4001"} << Run({}, "tcp://rack:4001", 0, {}, {});
        QTest::newRow("short form, bad rate")
            << QStringList{"/dev/ttyUSB0", "fast"}
            << "fail: bad value 'fast' for '--baud': give the bits per second, 1 to 99999999";
        QTest::newRow("short form, third word")
            << QStringList{"/dev/ttyUSB0", "9600", "8N1"} << "fail: unexpected argument '8N1'";
        QTest::newRow("rate without device")
            << QStringList{"board.ini", "9600"} << "fail: unexpected argument 'board.ini'";
        QTest::newRow("options and Qt's own")
            << QStringList{"-platform", "offscreen", "--line", "7E2", "/dev/ttyS1", "--baud", "300"}
            << Run({}, "/dev/ttyS1", 300, "7E2", {});
        QTest::newRow("list") << QStringList{"--baud", "9600", "--list"} << "list";
    }
    void parsesEveryOptionAndNamesABadValue() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCOMPARE(Describe(ParseCommandLine(arguments)), expected);
    }

    // By-id links first, then the nodes; ttyS only with a UART behind it.
    void listsTheDevicesPresentByIdLinksFirst() {
        TempAppDir dir;
        for (const char* node : {"ttyUSB0", "ttyACM0", "ttyS0"})
            dir.WriteFile(node, {});
        QVERIFY(QDir(dir.Path()).mkpath("serial/by-id"));
        QVERIFY(QFile::link("../../ttyACM0", dir.Path() + "serial/by-id/usb-Board_1234-if00"));
        SetDeviceDirectories(dir.Path(), dir.Path());
        const QString list = DeviceListText();
        SetDeviceDirectories({}, {});
        QCOMPARE(list, dir.Path() + "serial/by-id/usb-Board_1234-if00\n" + dir.Path() +
                           "ttyUSB0\n" + dir.Path() + "ttyACM0\n");
    }

    // The file's port stands for the given device and the line takes the
    // given format, on the line and in the status bar; the file keeps its
    // values until the settings dialog saves.
    void runValuesReachTheLineAndAreWrittenOnlyBySaving_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<uint>("frame");
        QTest::addColumn<QString>("status");
        QTest::newRow("5 space 2") << "5S2" << uint(CMSPAR | CSTOPB) << "COM4: 57600,5,S,2";
        QTest::newRow("6 mark 1") << "6M1" << uint(CMSPAR | PARODD) << "COM4: 57600,6,M,1";
        QTest::newRow("7 odd 1") << "7O1" << uint(PARODD) << "COM4: 57600,7,O,1";
    }
    void runValuesReachTheLineAndAreWrittenOnlyBySaving() {
        QFETCH(QString, line);
        QFETCH(uint, frame);
        QFETCH(QString, status);
        AppWindowFixture f;
        f.WriteSetting("COM-Device", "Port", "COM4");
        PtyPair device;
        const TCommandLine commandLine =
            ParseCommandLine({QStringLiteral("--line"), line, QStringLiteral("--emulation"),
                              QStringLiteral("hex"), device.SlavePath(), QStringLiteral("57600")});
        QCOMPARE(commandLine.Action, TCommandLine::TAction::Run);
        SetRunOverrides(commandLine.Overrides);
        const QByteArray before = f.Dir.ReadFile("Console.ini");
        QVERIFY(f.Show());

        QVERIFY(SerialPort().Open());
        termios settings{};
        QCOMPARE(tcgetattr(device.MasterFd(), &settings), 0);
        QCOMPARE(uint(settings.c_cflag & FrameBits), frame);
        QCOMPARE(cfgetospeed(&settings), speed_t(B57600));
        QCOMPARE(f.Window->StatusText(0), status);
        QCOMPARE(f.Window->StatusText(1), QStringLiteral("HEX"));
        QVERIFY(f.Window->windowTitle().endsWith(device.SlavePath()));
        QCOMPARE(f.Dir.ReadFile("Console.ini"), before);

        TQxPreferences dialog;
        dialog.show();
        dialog.EchoBox->click();
        dialog.OKBtn->click();
        const QByteArray saved = f.Dir.ReadFile("Console.ini");
        QVERIFY2(saved.contains("Baudrate=57600") && saved.contains("Emulation=HEX") &&
                     saved.contains("COM4=" + device.SlavePath().toLocal8Bit()),
                 saved.constData());
        QVERIFY(RunOverrides().Device.isEmpty());
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
