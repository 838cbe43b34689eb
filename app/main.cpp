#include "app/QuitSignals.h"
#include "app/TCommandLine.h"
#include "app/TQtInteraction.h"
#include "app/TQxConsoleWindow.h"
#include "serial/TQxComPort.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    if (const int exitCode = HandleCommandLine(argc, argv); exitCode >= 0)
        return exitCode;
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(icons);
    // The program's title; the window's own caption carries the version.
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));

    TQtInteraction interaction;
    SetInteraction(&interaction);
    InstallQuitSignals();
    auto* window = new TQxConsoleWindow;
    window->show();
    const int result = QApplication::exec();
    delete window;
    DestroySerialPort();
    SetInteraction(nullptr);
    return result;
}
