#pragma once

#include "settings/InputLineSettings.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

// A line below the pane for sending a whole line at once: text with
// escapes or hex bytes, a chosen line end, Enter (or Send) sends it, Up and
// Down walk the lines sent before, and a repeat period sends it again and
// again until Escape, Stop or a change of the line stops it. A line that
// does not parse is not sent: the message says what is wrong.
class TInputLine : public QWidget {
    Q_OBJECT

public:
    explicit TInputLine(QWidget* parent = nullptr);

    // Hands the bytes to the window's write path; false when they could not
    // be sent (then a repeat stops).
    std::function<bool(const QByteArray& bytes)> OnSend;
    // A short message for the status bar.
    std::function<void(const QString& text)> OnMessage;
    // The format, line end, repeat or history changed: time to keep them.
    std::function<void()> OnSettingsChanged;

    void UseSettings(const TInputLineSettings& settings);
    // What the controls and the history hold now; Visible as shown.
    TInputLineSettings Settings() const;

    // Parses the edit's text and sends it with its line end, and empties
    // the edit (Up brings it back); with a repeat period it goes on sending
    // until StopRepeat. A line that does not parse stays for mending.
    void Send();
    void StopRepeat();
    bool Repeating() const;
    const QStringList& History() const { return FHistory; }

    QComboBox* FormatBox = nullptr;
    QLineEdit* Edit = nullptr;
    QComboBox* LineEndBox = nullptr;
    QSpinBox* RepeatBox = nullptr;
    QPushButton* SendButton = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SendRepeat();
    bool SendBytes(const QByteArray& bytes);
    void Remember(const QString& line);
    void WalkHistory(int step);
    void ShowRepeatState();

    QTimer* FRepeatTimer = nullptr;
    QByteArray FRepeatBytes;
    QStringList FHistory;
    // The history line shown, FHistory.size() for the line being typed.
    qsizetype FHistoryAt = 0;
    QString FDraft;
};
