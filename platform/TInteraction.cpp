#include "platform/TInteraction.h"

#include "platform/TQtInteraction.h"

namespace {

TInteraction* installed = nullptr;

} // namespace

TInteraction& Interaction() {
    static TQtInteraction qtInteraction;
    return installed ? *installed : qtInteraction;
}

void SetInteraction(TInteraction* interaction) { installed = interaction; }

QString DisplayText(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}
