#pragma once

#include "platform/Cp1252.h"

#include <QByteArray>
#include <QValidator>

// Keeps the text of an edit field storable as a one-line byte string: a
// typed or pasted character without a byte in the code page of stored texts
// is dropped, and so is a line break, which a settings line cannot hold.
class TByteTextValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override;
};

// The bytes of an edit field's text; characters without a byte are left out.
inline QByteArray ToCp1252Bytes(const QString& text) {
    return StringToCp1252(text, TUnmappable::Drop);
}
