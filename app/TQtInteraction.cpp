#include "app/TQtInteraction.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>
#include <QUrl>

namespace {

constexpr int DialogWidth = 760;
constexpr int DialogHeight = 440;

QString AppTitle() {
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Qx-Console") : name;
}

// "Logfiles (*.log)|*.log" becomes "Logfiles (*.log)" for Qt, with the
// pattern in the parentheses being what Qt matches against.
QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    const QString description = parts.value(0);
    const QString patterns = parts.value(1, description);
    if (description.contains(QLatin1Char('(')))
        return description.left(description.indexOf(QLatin1Char('('))) +
               QStringLiteral("(") + patterns.split(QLatin1Char(';')).join(QLatin1Char(' ')) +
               QStringLiteral(")");
    return description + QStringLiteral(" (") + patterns + QStringLiteral(")");
}

// Qt's default column widths cut sizes, types and dates short: those columns
// fit their contents and the name takes the rest.
void ShowWholeColumns(QFileDialog& dialog) {
    auto* view = dialog.findChild<QTreeView*>();
    if (!view)
        return;
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    dialog.resize(dialog.sizeHint().expandedTo(QSize(DialogWidth, DialogHeight)));
}

} // namespace

void TQtInteraction::Warning(QWidget* parent, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, AppTitle(), DisplayText(text), QMessageBox::Ok, parent);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

bool TQtInteraction::Question(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, AppTitle(), DisplayText(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString TQtInteraction::ChooseFile(QWidget* parent, const TFileDialogRequest& request) {
    QFileDialog dialog(parent, request.Title);
    dialog.setAcceptMode(request.MustExist || request.Folder ? QFileDialog::AcceptOpen
                                                             : QFileDialog::AcceptSave);
    dialog.setFileMode(request.Folder      ? QFileDialog::Directory
                       : request.MustExist ? QFileDialog::ExistingFile
                                           : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::ReadOnly, false);
    QStringList filters;
    for (const QString& filter : request.Filters)
        filters << QtFilter(filter);
    dialog.setNameFilters(filters);
    if (request.InitialFilter >= 0 && request.InitialFilter < filters.size())
        dialog.selectNameFilter(filters.at(request.InitialFilter));
    dialog.setDefaultSuffix(request.DefaultSuffix);
    if (!request.InitialFile.isEmpty())
        dialog.selectFile(request.InitialFile);
    ShowWholeColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TQtInteraction::Beep() { QApplication::beep(); }

void TQtInteraction::OpenDocument(const QString& pathOrUrl) {
    const QUrl url = QUrl::fromUserInput(pathOrUrl, QString(), QUrl::AssumeLocalFile);
    QDesktopServices::openUrl(url);
}
