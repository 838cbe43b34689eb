#pragma once

#include "platform/TInteraction.h"

#include <QList>
#include <QStringList>

// Records every prompt the system shows and answers from a script; installs
// itself for its lifetime.
class FakeInteraction : public TInteraction {
public:
    FakeInteraction();
    ~FakeInteraction() override;

    struct Prompt {
        QString Kind; // "warning", "question", "file", "open"
        QString Text;
        QString Detail;
    };

    void Warning(QWidget* parent, const QString& text, const QString& detail) override;
    bool Question(QWidget* parent, const QString& text) override;
    QString ChooseFile(QWidget* parent, const TFileDialogRequest& request) override;
    void Beep() override { ++Beeps; }
    void OpenDocument(const QString& pathOrUrl) override;

    QStringList WarningTexts() const;

    QList<Prompt> Prompts;
    QList<TFileDialogRequest> FileRequests;
    QStringList Opened;
    int Beeps = 0;
    // Answers given in order; when used up, questions answer No and file
    // dialogs are cancelled.
    QList<bool> QuestionAnswers;
    QStringList FileAnswers;
};
