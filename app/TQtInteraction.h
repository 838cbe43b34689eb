#pragma once

#include "platform/TInteraction.h"

// Interaction through Qt's message boxes, file dialog, beep and desktop
// services; main() installs it (SetInteraction) before the first window.
class TQtInteraction : public TInteraction {
public:
    void Warning(QWidget* parent, const QString& text, const QString& detail) override;
    bool Question(QWidget* parent, const QString& text) override;
    QString ChooseFile(QWidget* parent, const TFileDialogRequest& request) override;
    void Beep() override;
    void OpenDocument(const QString& pathOrUrl) override;
};
