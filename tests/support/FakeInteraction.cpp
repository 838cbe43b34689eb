#include "tests/support/FakeInteraction.h"

FakeInteraction::FakeInteraction() { SetInteraction(this); }

FakeInteraction::~FakeInteraction() { SetInteraction(nullptr); }

void FakeInteraction::Warning(QWidget*, const QString& text, const QString& detail) {
    Prompts.append({QStringLiteral("warning"), text, detail});
}

bool FakeInteraction::Question(QWidget*, const QString& text) {
    Prompts.append({QStringLiteral("question"), text, {}});
    return QuestionAnswers.isEmpty() ? false : QuestionAnswers.takeFirst();
}

QString FakeInteraction::ChooseFile(QWidget*, const TFileDialogRequest& request) {
    Prompts.append({QStringLiteral("file"), request.Title, {}});
    FileRequests.append(request);
    return FileAnswers.isEmpty() ? QString() : FileAnswers.takeFirst();
}

void FakeInteraction::OpenDocument(const QString& pathOrUrl) {
    Prompts.append({QStringLiteral("open"), pathOrUrl, {}});
    Opened.append(pathOrUrl);
}

QStringList FakeInteraction::WarningTexts() const {
    QStringList texts;
    for (const Prompt& prompt : Prompts) {
        if (prompt.Kind == QLatin1String("warning"))
            texts << prompt.Text;
    }
    return texts;
}
