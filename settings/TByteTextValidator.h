#pragma once

#include <QValidator>

// Keeps the text of an edit field storable as a one-line byte string: a
// typed or pasted character without a byte in the code page of stored texts
// is dropped, and so is a line break, which a settings line cannot hold.
class TByteTextValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override;
};
