// Loading, expanding and saving the settings when "Console.ini" is a huge
// file: random bytes, a plausible file repeated, a huge macro list.
#include "platform/AppLocation.h"
#include "settings/TQxPreferences.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype FileSize = 20 * 1024 * 1024;

QByteArray RandomBytes() {
    QByteArray bytes(FileSize, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), FileSize / 4);
    return bytes;
}

QByteArray Repeated(const QByteArray& head, const std::function<QByteArray(int)>& line) {
    QByteArray content = head;
    for (int n = 0; content.size() < FileSize; ++n)
        content += line(n);
    return content;
}

void WriteSettingsFile(const QByteArray& content) {
    QFile file(SettingsFileName());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write the settings file");
}

double Milliseconds(const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    return clock.nsecsElapsed() / 1e6;
}

void Measure(const char* name, const QByteArray& content) {
    WriteSettingsFile(content);
    std::printf("settings_expand_%s: %.0f ms\n", name, Milliseconds([] { ExpandSettingsFile(); }));
    std::printf("settings_load_%s: %.0f ms\n", name, Milliseconds([] { LoadSettings(); }));
    std::printf("settings_save_%s: %.0f ms\n", name, Milliseconds([] {
                    TQxPreferences dialog;
                    dialog.show();
                    dialog.EchoBox->toggle();
                    dialog.OKBtn->click();
                }));
    std::printf("settings_macros_%s: %lld count\n", name,
                static_cast<long long>(TerminalSettings.Macros.size()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    SetApplicationDir(dir.path());
    Measure("20mb_random", RandomBytes());
    Measure("20mb_repeated_sections", Repeated({}, [](int) {
                return QByteArray(
                    "[COM-Device]\r\nPort=COM2\r\n[Macros]\r\nMacro0=AT\r\nno equals\r\n");
            }));
    Measure("20mb_macro_list", Repeated("[Macros]\r\n", [](int n) {
                return "Macro" + QByteArray::number(n) + "=ATZ#13\r\n";
            }));
    SetApplicationDir(QString());
    return 0;
}
