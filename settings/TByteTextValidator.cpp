#include "settings/TByteTextValidator.h"

#include "platform/Cp1252.h"

namespace {

bool Storable(QChar ch) {
    return ch != QLatin1Char('\r') && ch != QLatin1Char('\n') && UnicodeToCp1252(ch) >= 0;
}

} // namespace

QValidator::State TByteTextValidator::validate(QString& input, int& pos) const {
    QString kept;
    kept.reserve(input.size());
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (Storable(input.at(i)))
            kept += input.at(i);
        else if (i < pos)
            --pos;
    }
    input = kept;
    return Acceptable;
}
