#pragma once

#include <QRegion>
#include <QWidget>

class QFrame;
class QLabel;
class QToolButton;

// A small borderless help window, drawn as a rounded bubble with a title band
// of its own. It pages through the fixed help topics with its arrow buttons
// or the arrow keys, is dragged by its title band and is closed - only
// hidden, so that it keeps its topic - with its cross button or Escape.
class TBubbleForm : public QWidget {
    Q_OBJECT

public:
    // The owner is the main window: the help window floats above it and is
    // destroyed with it.
    explicit TBubbleForm(QWidget* owner = nullptr);
    ~TBubbleForm() override;

    QToolButton* ExitBtn = nullptr;
    QLabel* HintLabel = nullptr;
    QLabel* HeaderLabel = nullptr;
    QToolButton* RightBtn = nullptr;
    QToolButton* LeftBtn = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* WWWLabel = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;

    // Index of the topic shown, 0 to HintCount - 1.
    int Topic() const { return FTopic; }
    // Height of the title band by which the window is dragged.
    int CaptionHeight() const { return FCaptionHeight; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void CreateControls();
    void FitHintFont();
    QLabel* CreateLabel(const QString& text, int left, int top);
    // A label showing Text that opens Target when clicked.
    QLabel* CreateLinkLabel(const QString& text, const QString& target, int left, int top);
    QToolButton* CreateButton(const QIcon& icon, int width, int height);
    void FormShow();
    void ShowTopic();
    void NavigateClick(const QObject* sender);
    void ExitBtnClick();
    bool FormKeyDown(int key);
    static bool FormKeyPress(int key);
    void WWWLabelClick(const QLabel* label);

    QRegion FRegion;
    int FDownX = 0;
    int FDownY = 0;
    bool FDragging = false;
    int FCaptionHeight = 0;
    int FTopic = 0;
    bool FShownBefore = false;
};

// The one help window, or nullptr before the first opening and after the
// window was destroyed.
extern TBubbleForm* BubbleForm;

// Opens the help window: creates it with the owner on first use, then shows
// it (not modal) and brings it forward. Later calls show the same window
// again, on the topic it showed last.
void ShowBubbleForm(QWidget* owner);
