// The settings subsystem's tests: settings file and records, the settings
// dialog, the macro editor.
#include "tests/settings/SettingsTestSupport.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = 0;
    failures += RunSettingsFileTests(argc, argv);
    failures += RunPreferencesTests(argc, argv);
    failures += RunMacroEditTests(argc, argv);
    return failures;
}
