// Shows the main window with a few macros in a temporary application
// directory, for looking at it; not a test.
//   window_preview [--device PATH] [--popup] [--menu] [--history] [--find]
//                  [--dark] [--times] [--hex] [--width PIXELS]
// --device maps COM1 to PATH (default: a path that does not exist),
// --popup opens the macro list, --menu the pane's popup menu, --history
// fills the history and scrolls back with a selection across rows, --find
// opens the find bar with matches, --dark uses a dark Fusion palette,
// --times shows the time margin, --hex the HEX emulation, --width sets the
// window's width,
// --shot FILE saves the window as a picture after a moment and ends.
#include "app/TMacroBox.h"
#include "app/TQtInteraction.h"
#include "app/TQxConsoleWindow.h"
#include "platform/AppLocation.h"
#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "terminal/TFindBar.h"
#include "terminal/TQxConsole.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(icons);
    QApplication::setApplicationName(QStringLiteral("Qx-Console"));
    TQtInteraction interaction;
    SetInteraction(&interaction);
    const QStringList arguments = QApplication::arguments();
    const int deviceAt = int(arguments.indexOf(QStringLiteral("--device")));
    const QString device = deviceAt > 0 && deviceAt + 1 < arguments.size()
                               ? arguments[deviceAt + 1]
                               : QStringLiteral("/nonexistent/tty");

    if (arguments.contains(QStringLiteral("--dark"))) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
        dark.setColor(QPalette::Text, QColor(220, 220, 220));
        dark.setColor(QPalette::Button, QColor(53, 53, 56));
        dark.setColor(QPalette::ButtonText, QColor(220, 220, 220));
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(dark);
    }
    QTemporaryDir dir;
    SetApplicationDir(dir.path());
    TProfileFile settings(SettingsFileName());
    if (!settings.WriteString("Devices", "COM1", device.toLocal8Bit()))
        qFatal("%s", qPrintable(settings.WriteError().Text()));

    if (arguments.contains(QStringLiteral("--hex")) &&
        !settings.WriteString("Terminal", "Emulation", "HEX"))
        qFatal("%s", qPrintable(settings.WriteError().Text()));
    auto* window = new TQxConsoleWindow;
    window->show();
    QList<QByteArray> macros = {"AT#13",      "ATI#13#27T500AT+GMR#13",    "Hello, target!#13#10",
                                "#27P#33#33", "reset#13#27T2000status#13", "#35 is written #3535"};
    for (int i = macros.size(); i < 28; ++i)
        macros << "macro " + QByteArray::number(i + 1);
    window->SetMacros(macros);
    // Also in the settings file, so that they stay when the settings apply.
    QList<TProfileEntry> entries;
    for (int i = 0; i < macros.size(); ++i)
        entries.append({"Macro" + QByteArray::number(i), macros[i]});
    if (!settings.WriteSection("Macros", entries))
        qFatal("%s", qPrintable(settings.WriteError().Text()));
    window->MacroBox->setCurrentIndex(1);
    TQxConsole* pane = window->Console();
    pane->SetShowTimestamps(arguments.contains(QStringLiteral("--times")));
    // As the settings file says: applying it then clears nothing.
    pane->SetHexEmulation(arguments.contains(QStringLiteral("--hex")));
    const int widthAt = int(arguments.indexOf(QStringLiteral("--width")));
    if (widthAt > 0 && widthAt + 1 < arguments.size())
        window->resize(arguments[widthAt + 1].toInt(), window->height());
    window->Console()->WriteText("Qx-Console main window preview\r\n> ");
    if (arguments.contains(QStringLiteral("--history")) ||
        arguments.contains(QStringLiteral("--find"))) {
        for (int i = 1; i <= 300; ++i)
            pane->WriteText("boot: line " + QByteArray::number(i) + " of the log, status " +
                            (i % 7 == 0 ? "ERROR" : "ok") + "\r\n");
        pane->WriteText("> ");
    }
    if (arguments.contains(QStringLiteral("--history")))
        QTimer::singleShot(200, window, [pane] {
            pane->ScrollViewBy(-20);
            const qint64 top = pane->ViewTopLine();
            pane->Select(TTextPos{top + 3, 6}, TTextPos{top + 6, 20});
            pane->WriteText("new data\r\n");
        });
    if (arguments.contains(QStringLiteral("--find")))
        QTimer::singleShot(200, window, [window] {
            window->FindBar->Open();
            window->FindBar->FindEdit->setText(QStringLiteral("error"));
            window->FindBar->FindNext(true);
            window->FindBar->FindNext(true);
        });
    if (arguments.contains(QStringLiteral("--popup")))
        QTimer::singleShot(300, window, [window] { window->MacroBox->showPopup(); });
    if (arguments.contains(QStringLiteral("--menu")))
        QTimer::singleShot(300, window, [window] {
            window->ConsoleMenu->popup(window->Console()->mapToGlobal(QPoint(120, 40)));
        });
    const int shotAt = int(arguments.indexOf(QStringLiteral("--shot")));
    if (shotAt > 0 && shotAt + 1 < arguments.size())
        QTimer::singleShot(1500, window, [window, file = arguments[shotAt + 1]] {
            window->grab().save(file);
            QApplication::quit();
        });
    const int result = QApplication::exec();
    delete window;
    DestroySerialPort();
    SetInteraction(nullptr);
    return result;
}
