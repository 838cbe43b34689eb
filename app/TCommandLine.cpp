#include "app/TCommandLine.h"

#include "platform/AppLocation.h"

#include <QFileInfo>

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

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine result;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString name = OptionName(argument);
        if (name.isEmpty())
            return Failure(QStringLiteral("unexpected argument '%1'").arg(argument));
        if (name == QLatin1String("h") || name == QLatin1String("help")) {
            result.Action = TCommandLine::TAction::Help;
            return result;
        }
        if (name == QLatin1String("v") || name == QLatin1String("version")) {
            result.Action = TCommandLine::TAction::Version;
            return result;
        }
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
            hasValue = true;
        }
        if (name == QLatin1String("settings")) {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    return Failure(QStringLiteral("option '--settings' needs a file name"));
                value = arguments.at(++i);
            }
            if (value.isEmpty())
                return Failure(QStringLiteral("option '--settings' needs a file name"));
            result.SettingsFile = QFileInfo(value).absoluteFilePath();
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
    return QStringLiteral("Usage: %1 [--settings FILE]\n"
                          "A terminal for serial lines and network serial ports.\n"
                          "\n"
                          "  --settings FILE  use FILE for the settings instead of Console.ini\n"
                          "                   (created if missing); one file per board lets\n"
                          "                   several windows run side by side\n"
                          "  -h, --help       show this text and exit\n"
                          "  -v, --version    show the version and exit\n")
        .arg(programName);
}

QString VersionText() {
    return QStringLiteral("Qx-Console 3.0\n");
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
    case TCommandLine::TAction::Fail:
        fprintf(stderr, "%s: %s\n", qPrintable(programName), qPrintable(commandLine.Error));
        fputs(qPrintable(UsageText(programName)), stderr);
        return 2;
    case TCommandLine::TAction::Run:
        break;
    }
    SetSettingsFile(commandLine.SettingsFile);
    return -1;
}
