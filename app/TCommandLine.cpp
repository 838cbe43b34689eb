#include "app/TCommandLine.h"

#include "platform/AppLocation.h"
#include "platform/OpenDiagnosis.h"
#include "platform/TNetworkLink.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace {

// Options that QApplication takes itself, with and without a value.
const QStringList QtOptionsWithValue = {QStringLiteral("platform"),
                                        QStringLiteral("platformpluginpath"),
                                        QStringLiteral("platformtheme"),
                                        QStringLiteral("plugin"),
                                        QStringLiteral("qwindowgeometry"),
                                        QStringLiteral("qwindowicon"),
                                        QStringLiteral("qwindowtitle"),
                                        QStringLiteral("style"),
                                        QStringLiteral("stylesheet"),
                                        QStringLiteral("session"),
                                        QStringLiteral("display"),
                                        QStringLiteral("geometry"),
                                        QStringLiteral("title"),
                                        QStringLiteral("name"),
                                        QStringLiteral("font"),
                                        QStringLiteral("fn")};
const QStringList QtFlags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                             QStringLiteral("nograb"), QStringLiteral("dograb"),
                             QStringLiteral("sync")};

// The highest rate the settings dialog's field takes (eight digits).
constexpr int MaxBaudrate = 99999999;

TCommandLine Failure(const QString& error) {
    TCommandLine result;
    result.Action = TCommandLine::TAction::Fail;
    result.Error = error;
    return result;
}

// "--name" or "-name" without its dashes; empty for a plain argument.
QString OptionName(const QString& argument) {
    if (argument.startsWith(QLatin1String("--")))
        return argument.mid(2);
    if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
        return argument.mid(1);
    return {};
}

bool IsDevice(const QString& text) {
    return text.startsWith(QLatin1Char('/')) || TNetworkLink::IsNetworkUrl(text);
}

// Each reader takes an option's value into the command line; empty when it
// did, otherwise why not (the caller names the option and the value).
using TValueReader = QString (*)(const QString& value, TCommandLine& commandLine);

QString ReadSettingsFile(const QString& value, TCommandLine& commandLine) {
    commandLine.SettingsFile = QFileInfo(value).absoluteFilePath();
    return {};
}

// A device file is made absolute; a URL must be one the program can open.
QString ReadDevice(const QString& value, TCommandLine& commandLine) {
    if (value.contains(QLatin1String("://")) && !TNetworkLink::IsNetworkUrl(value))
        return QStringLiteral("a network port is rfc2217://HOST:PORT or tcp://HOST:PORT");
    commandLine.Overrides.Device =
        TNetworkLink::IsNetworkUrl(value) ? value : QFileInfo(value).absoluteFilePath();
    return {};
}

QString ReadBaudrate(const QString& value, TCommandLine& commandLine) {
    bool number = false;
    const int rate = value.toInt(&number);
    if (!number || rate <= 0 || rate > MaxBaudrate || !value.at(0).isDigit())
        return QStringLiteral("give the bits per second, 1 to %1").arg(MaxBaudrate);
    commandLine.Overrides.Baudrate = rate;
    return {};
}

QString ReadLineFormat(const QString& value, TCommandLine& commandLine) {
    static const QRegularExpression format(QStringLiteral("^([5-8])([NOEMS])([12])$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = format.match(value);
    if (!match.hasMatch())
        return QStringLiteral("give data bits 5 to 8, parity N, O, E, M or S and stop bits 1 "
                              "or 2, as in 8N1");
    static const QString parities = QStringLiteral("NOEMS");
    TRunOverrides::TLineFormat line;
    line.DataBits = TDataBits(db5 + match.captured(1).toInt() - 5);
    line.Parity = TParity(parities.indexOf(match.captured(2).toUpper()));
    line.StopBits = match.captured(3) == QLatin1String("2") ? sb20 : sb10;
    commandLine.Overrides.Line = line;
    return {};
}

QString ReadEmulation(const QString& value, TCommandLine& commandLine) {
    static const QStringList names = {QStringLiteral("ASCII"), QStringLiteral("HEX"),
                                      QStringLiteral("VT")};
    if (!names.contains(value, Qt::CaseInsensitive))
        return QStringLiteral("give ASCII, HEX or VT");
    commandLine.Overrides.Emulation = value.toUpper().toLatin1();
    return {};
}

struct TValueOption {
    const char* Name;
    // What the option needs, for the message when the value is missing.
    const char* Needs;
    TValueReader Read;
};

const TValueOption ValueOptions[] = {{"settings", "a file name", ReadSettingsFile},
                                     {"device", "a device", ReadDevice},
                                     {"baud", "a rate", ReadBaudrate},
                                     {"line", "a line format", ReadLineFormat},
                                     {"emulation", "an emulation", ReadEmulation}};

const TValueOption* FindValueOption(const QString& name) {
    for (const TValueOption& option : ValueOptions) {
        if (name == QLatin1String(option.Name))
            return &option;
    }
    return nullptr;
}

QString TakeValue(const TValueOption& option, const QString& value, TCommandLine& commandLine) {
    if (value.isEmpty())
        return QStringLiteral("option '--%1' needs %2")
            .arg(QLatin1String(option.Name), QLatin1String(option.Needs));
    if (const QString reason = option.Read(value, commandLine); !reason.isEmpty())
        return QStringLiteral("bad value '%1' for '--%2': %3")
            .arg(value, QLatin1String(option.Name), reason);
    return {};
}

// The short form: a device, then perhaps its rate.
QString TakePlainArgument(const QString& argument, qsizetype& plainCount,
                          TCommandLine& commandLine) {
    ++plainCount;
    if (plainCount == 1 && IsDevice(argument))
        return TakeValue(*FindValueOption(QStringLiteral("device")), argument, commandLine);
    if (plainCount == 2 && !commandLine.Overrides.Device.isEmpty())
        return TakeValue(*FindValueOption(QStringLiteral("baud")), argument, commandLine);
    return QStringLiteral("unexpected argument '%1'").arg(argument);
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine result;
    qsizetype plainCount = 0;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString name = OptionName(argument);
        if (name.isEmpty()) {
            if (const QString error = TakePlainArgument(argument, plainCount, result);
                !error.isEmpty())
                return Failure(error);
            continue;
        }
        if (name == QLatin1String("h") || name == QLatin1String("help")) {
            result.Action = TCommandLine::TAction::Help;
            return result;
        }
        if (name == QLatin1String("v") || name == QLatin1String("version")) {
            result.Action = TCommandLine::TAction::Version;
            return result;
        }
        if (name == QLatin1String("list")) {
            result.Action = TCommandLine::TAction::List;
            return result;
        }
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
            hasValue = true;
        }
        if (const TValueOption* option = FindValueOption(name)) {
            // The next option is no value: "--device --baud 9600" lacks the device.
            if (!hasValue && i + 1 < arguments.size() &&
                !arguments.at(i + 1).startsWith(QLatin1String("--")))
                value = arguments.at(++i);
            if (const QString error = TakeValue(*option, value, result); !error.isEmpty())
                return Failure(error);
        } else if (QtOptionsWithValue.contains(name)) {
            if (!hasValue && ++i >= arguments.size())
                return Failure(QStringLiteral("option '%1' needs a value").arg(argument));
        } else if (!QtFlags.contains(name) || hasValue) {
            return Failure(QStringLiteral("unknown option '%1'").arg(argument));
        }
    }
    return result;
}

QString UsageText(const QString& programName) {
    return QStringLiteral(
               "Usage: %1 [OPTION]... [DEVICE [RATE]]\n"
               "A terminal for serial lines and network serial ports.\n"
               "\n"
               "  --settings FILE        use FILE for the settings instead of Console.ini\n"
               "                         (created if missing); one file per board lets\n"
               "                         several windows run side by side\n"
               "  --device PATH|URL      use this device for this run: a path such as\n"
               "                         /dev/ttyUSB0, or rfc2217://HOST:PORT, tcp://HOST:PORT\n"
               "  --baud RATE            bits per second for this run\n"
               "  --line FORMAT          data bits 5-8, parity N, O, E, M or S and stop bits\n"
               "                         1 or 2 for this run, as in 8N1 or 7E2\n"
               "  --emulation ASCII|HEX|VT  the terminal emulation for this run\n"
               "  --list                 list the serial devices present and exit\n"
               "  -h, --help             show this text and exit\n"
               "  -v, --version          show the version and exit\n"
               "\n"
               "DEVICE [RATE] is short for --device DEVICE --baud RATE. What is given\n"
               "here holds for this run; the settings file keeps its values unless the\n"
               "settings are saved.\n"
               "\n"
               "Exit status: 0 when all went well, 2 for a bad command line.\n")
        .arg(programName);
}

QString VersionText() {
    return QStringLiteral("Qx-Console %1\n").arg(QLatin1String(QX_VERSION));
}

QString DeviceListText() {
    const QList<TPresentDevice> devices = PresentSerialDevices();
    QString text;
    for (const TPresentDevice& device : devices) {
        if (!device.ById.isEmpty())
            text += device.ById + QLatin1Char('\n');
    }
    for (const TPresentDevice& device : devices)
        text += device.Node + QLatin1Char('\n');
    return text;
}

int HandleCommandLine(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString programName = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    const TCommandLine commandLine = ParseCommandLine(arguments);
    switch (commandLine.Action) {
    case TCommandLine::TAction::Help:
        fputs(qPrintable(UsageText(programName)), stdout);
        return 0;
    case TCommandLine::TAction::Version:
        fputs(qPrintable(VersionText()), stdout);
        return 0;
    case TCommandLine::TAction::List:
        if (const QString list = DeviceListText(); list.isEmpty())
            fputs("No serial device is present.\n", stderr);
        else
            fputs(qPrintable(list), stdout);
        return 0;
    case TCommandLine::TAction::Fail:
        fprintf(stderr, "%s: %s\n", qPrintable(programName), qPrintable(commandLine.Error));
        fputs(qPrintable(UsageText(programName)), stderr);
        return 2;
    case TCommandLine::TAction::Run:
        break;
    }
    SetSettingsFile(commandLine.SettingsFile);
    SetRunOverrides(commandLine.Overrides);
    return -1;
}
