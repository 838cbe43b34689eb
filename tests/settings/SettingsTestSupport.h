#pragma once

#include <QObject>

#include <functional>

class QString;
class QWidget;
class TQxMacroEdit;

// Each test class of the settings program, run by main().
int RunSettingsFileTests(int argc, char** argv);
int RunSettingsModelTests(int argc, char** argv);
int RunPreferencesTests(int argc, char** argv);
int RunMacroEditTests(int argc, char** argv);

// Puts values into the three settings records that no settings file gives,
// so that a test sees whether loading replaced every field.
void SpoilSettingsRecords();

// While it lives, each macro editor that a modal exec() opens is handed to
// Act from inside that exec(), and closed afterwards if Act left it open, so
// that a failed check never leaves a test waiting.
class MacroEditorScript : public QObject {
public:
    explicit MacroEditorScript(std::function<void(TQxMacroEdit*)> act);
    ~MacroEditorScript() override;

    int EditorsSeen() const { return FSeen; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(TQxMacroEdit*)> FAct;
    int FSeen = 0;
};

// Types Text into Widget one character at a time, also characters beyond
// Latin-1.
void TypeText(QWidget* widget, const QString& text);
