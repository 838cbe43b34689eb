#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QWidget;

// What a file dialog is asked to show: title, filters as "Description|pattern"
// pairs, the filter chosen at first, the suffix added to a typed name without
// one, and whether the chosen file must already exist.
struct TFileDialogRequest {
    QString Title;
    QString InitialFile;
    QStringList Filters;
    int InitialFilter = 0;
    QString DefaultSuffix;
    bool MustExist = false;
    // Choose a folder instead of a file.
    bool Folder = false;
};

// The one seam through which the system talks to the user outside its own
// windows: warning boxes, yes/no questions, file dialogs, the beep and the
// shell's open. Texts arrive exactly as the system words them (line breaks as
// the two bytes LF CR); the Qt implementation (app/TQtInteraction) renders
// them, a test fake records them. Only the parent's type is named here: this
// layer needs no widget library.
class TInteraction {
public:
    virtual ~TInteraction() = default;

    // A modal warning box with one OK button. Detail, when not empty, is the
    // system's own reason (an errno text, say), shown apart from the text.
    virtual void Warning(QWidget* parent, const QString& text, const QString& detail = {}) = 0;
    // A modal confirmation box with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // A modal file dialog; the chosen path, or an empty string when cancelled.
    virtual QString ChooseFile(QWidget* parent, const TFileDialogRequest& request) = 0;
    // The platform's default beep.
    virtual void Beep() = 0;
    // Opens a document path or a web link with the system's handler.
    virtual void OpenDocument(const QString& pathOrUrl) = 0;
};

// The interaction in use: the one installed last (main() installs the Qt
// implementation of app/, a test its recording fake). With none installed,
// warnings go to the log, questions answer No and file dialogs are cancelled.
// SetInteraction(nullptr) uninstalls; the caller keeps ownership.
TInteraction& Interaction();
void SetInteraction(TInteraction* interaction);

// The system writes line breaks in its messages as LF CR; on screen each such
// pair (and any lone CR or LF) becomes one line break.
QString DisplayText(const QString& text);
