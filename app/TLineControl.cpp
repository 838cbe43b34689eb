#include "app/TLineControl.h"

#include "serial/TQxComPort.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QStringList>

#include <array>
#include <utility>

#include <sys/ioctl.h>

namespace {

constexpr std::array<std::pair<int, const char*>, 4> InputLines = {
    {{TIOCM_CTS, "CTS"}, {TIOCM_DSR, "DSR"}, {TIOCM_CD, "DCD"}, {TIOCM_RI, "RI"}}};

// Each input line's name, bold while the line is on, grey while off.
QString LineStatusText(const std::optional<int>& lines) {
    QStringList parts;
    for (const auto& [bit, name] : InputLines) {
        const QString label = QLatin1String(name);
        if (!lines)
            parts.append(label);
        else if (*lines & bit)
            parts.append(QStringLiteral("<b>%1</b>").arg(label));
        else
            parts.append(QStringLiteral("<span style=\"color:gray\">%1</span>").arg(label));
    }
    QString text = parts.join(QLatin1Char(' '));
    if (!lines)
        text = QStringLiteral("<span style=\"color:gray\">%1 n/a</span>").arg(text);
    return text;
}

// "Errors: frame 2, overrun 1": the counts above 0; empty when none is.
QString ErrorStatusText(const std::optional<TLineErrorCounts>& counts) {
    if (!counts || counts->Total() == 0)
        return {};
    const std::array<std::pair<int, const char*>, 5> named = {{{counts->Frame, "frame"},
                                                               {counts->Overrun, "overrun"},
                                                               {counts->Parity, "parity"},
                                                               {counts->Break, "break"},
                                                               {counts->BufferOverrun, "buffer"}}};
    QStringList parts;
    for (const auto& [count, name] : named) {
        if (count > 0)
            parts.append(QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(count));
    }
    return QStringLiteral("Errors: ") + parts.join(QStringLiteral(", "));
}

} // namespace

TLineControl::TLineControl(TQxComPort& port, QMenu& menu, QStatusBar& statusBar, QObject* parent)
    : QObject(parent), FPort(port) {
    N4 = menu.addSeparator();
    ConsoleMenuDTR = menu.addAction(QStringLiteral("&DTR"));
    ConsoleMenuRTS = menu.addAction(QStringLiteral("&RTS"));
    ConsoleMenuBreak = menu.addAction(QStringLiteral("Send Brea&k"));
    ConsoleMenuDTR->setObjectName(QStringLiteral("ConsoleMenuDTR"));
    ConsoleMenuRTS->setObjectName(QStringLiteral("ConsoleMenuRTS"));
    ConsoleMenuBreak->setObjectName(QStringLiteral("ConsoleMenuBreak"));
    ConsoleMenuDTR->setCheckable(true);
    ConsoleMenuRTS->setCheckable(true);
    connect(ConsoleMenuDTR, &QAction::triggered, this, &TLineControl::ConsoleMenuDTRClick);
    connect(ConsoleMenuRTS, &QAction::triggered, this, &TLineControl::ConsoleMenuRTSClick);
    connect(ConsoleMenuBreak, &QAction::triggered, this, &TLineControl::ConsoleMenuBreakClick);

    ErrorPanel = new QLabel(&statusBar);
    ErrorPanel->setTextFormat(Qt::PlainText);
    ErrorPanel->setVisible(false);
    LinePanel = new QLabel(&statusBar);
    LinePanel->setTextFormat(Qt::RichText);
    LinePanel->setToolTip(QStringLiteral("Input lines: bold while on"));
    statusBar.addPermanentWidget(ErrorPanel);
    statusBar.addPermanentWidget(LinePanel);
}

void TLineControl::UpdateMenu() {
    const bool open = FPort.Open();
    ConsoleMenuDTR->setChecked(FPort.DTR());
    ConsoleMenuRTS->setChecked(FPort.RTS());
    ConsoleMenuDTR->setEnabled(open);
    ConsoleMenuRTS->setEnabled(open);
    ConsoleMenuBreak->setEnabled(open);
}

void TLineControl::UpdateLineStatus() {
    const bool open = FPort.Open();
    LinePanel->setVisible(open);
    LinePanel->setText(LineStatusText(FPort.ModemLines()));
    const QString errors = ErrorStatusText(FPort.ErrorCounts());
    ErrorPanel->setText(errors);
    ErrorPanel->setVisible(open && !errors.isEmpty());
}

void TLineControl::ConsoleMenuDTRClick() {
    FPort.SetDTR(ConsoleMenuDTR->isChecked());
    UpdateLineStatus();
}

void TLineControl::ConsoleMenuRTSClick() {
    FPort.SetRTS(ConsoleMenuRTS->isChecked());
    UpdateLineStatus();
}

void TLineControl::ConsoleMenuBreakClick() {
    FPort.SendBreak();
}
