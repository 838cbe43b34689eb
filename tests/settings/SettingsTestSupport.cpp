#include "tests/settings/SettingsTestSupport.h"

#include "settings/TQxMacroEdit.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QtTest>

void SpoilSettingsRecords() {
    ComSettings = {poCOM7, br600, db5, sb15, paSPACE, true, 77};
    TerminalSettings = {{"stale"}, true, true, true, true, true};
    TransferSync.Mode = smDelayed;
    TransferSync.Sequence = "stale";
    TransferSync.Changed = true;
}

MacroEditorScript::MacroEditorScript(std::function<void(TQxMacroEdit*)> act)
    : FAct(std::move(act)) {
    qApp->installEventFilter(this);
}

MacroEditorScript::~MacroEditorScript() {
    qApp->removeEventFilter(this);
}

bool MacroEditorScript::eventFilter(QObject* watched, QEvent* event) {
    auto* editor = qobject_cast<TQxMacroEdit*>(watched);
    if (event->type() != QEvent::Show || !editor || !editor->isModal())
        return false;
    ++FSeen;
    QTimer::singleShot(0, this, [this, editor = QPointer<TQxMacroEdit>(editor)] {
        if (editor)
            FAct(editor);
        if (editor && editor->isVisible())
            editor->reject();
    });
    return false;
}

void TypeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}
