#include "platform/TInteraction.h"

#include <QtGlobal>

namespace {

// Stands in while nothing is installed (a tool or test without windows):
// it cannot show anything, so warnings go to the log, questions are answered
// No and file dialogs cancelled, which is the harmless choice for each.
class TNoInteraction : public TInteraction {
public:
    void Warning(QWidget*, const QString& text, const QString& detail) override {
        if (detail.isEmpty())
            qWarning("%s", qUtf8Printable(DisplayText(text)));
        else
            qWarning("%s (%s)", qUtf8Printable(DisplayText(text)), qUtf8Printable(detail));
    }
    bool Question(QWidget*, const QString&) override { return false; }
    QString ChooseFile(QWidget*, const TFileDialogRequest&) override { return {}; }
    void Beep() override {}
    void OpenDocument(const QString&) override {}
};

TInteraction* installed = nullptr;

} // namespace

TInteraction& Interaction() {
    static TNoInteraction noInteraction;
    return installed ? *installed : noInteraction;
}

void SetInteraction(TInteraction* interaction) { installed = interaction; }

QString DisplayText(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}
