#include "app/QuitSignals.h"
#include "app/TCommandLine.h"
#include "app/TQtInteraction.h"
#include "app/TQxConsoleWindow.h"
#include "serial/TQxComPort.h"

#include <QApplication>

#include <cstdlib>

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
    // A worker that did not end in time still uses the port: the process
    // ends without tearing down what it uses (the recording has ended).
    if (SerialPort().LineOwner() != TLineUser::Keys)
        std::_Exit(result);
    DestroySerialPort();
    SetInteraction(nullptr);
    return result;
}
