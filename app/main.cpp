#include "terminal/TQxConsole.h"

#include <QApplication>

// Until the main window exists: the terminal pane alone, echoing what is
// typed (Enter as CR LF), so the emulation can be tried by hand.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Qx-Console"));
    TQxConsole console;
    console.SetLocalEcho(true);
    console.SetCRLFOut(true);
    console.resize(680, 420);
    console.show();
    return QApplication::exec();
}
