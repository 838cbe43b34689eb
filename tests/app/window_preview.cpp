// Shows the main window with a few macros in a temporary application
// directory, for looking at it; not a test.
//   window_preview [--device PATH] [--popup] [--menu]
// --device maps COM1 to PATH (default: a path that does not exist),
// --popup opens the macro list, --menu the pane's popup menu.
#include "app/TMacroBox.h"
#include "app/TQxConsoleWindow.h"
#include "platform/AppLocation.h"
#include "platform/ProfileFile.h"
#include "serial/QxComPort.h"
#include "terminal/TQxConsole.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(icons);
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));
    const QStringList arguments = QApplication::arguments();
    const int deviceAt = int(arguments.indexOf(QStringLiteral("--device")));
    const QString device = deviceAt > 0 && deviceAt + 1 < arguments.size()
                               ? arguments[deviceAt + 1]
                               : QStringLiteral("/nonexistent/tty");

    QTemporaryDir dir;
    SetApplicationDir(dir.path());
    TProfileFile(SettingsFileName()).WriteString("Devices", "COM1", device.toLocal8Bit());

    auto* window = new TQxConsoleWindow;
    window->show();
    QList<QByteArray> macros = {"AT#13",      "ATI#13#27T500AT+GMR#13",    "Hello, target!#13#10",
                                "#27P#33#33", "reset#13#27T2000status#13", "#35 is written #3535"};
    for (int i = macros.size(); i < 28; ++i)
        macros << "macro " + QByteArray::number(i + 1);
    window->SetMacros(macros);
    window->MacroBox->setCurrentIndex(1);
    window->Console()->WriteText("Qx-Console main window preview\r\n> ");
    if (arguments.contains(QStringLiteral("--popup")))
        QTimer::singleShot(300, window, [window] { window->MacroBox->showPopup(); });
    if (arguments.contains(QStringLiteral("--menu")))
        QTimer::singleShot(300, window, [window] {
            window->ConsoleMenu->popup(window->Console()->mapToGlobal(QPoint(120, 40)));
        });
    const int result = QApplication::exec();
    delete window;
    DestroySerialPort();
    return result;
}
