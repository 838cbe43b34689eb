// The macro editor: when "OK" can be pressed, what each way out returns, and
// that the text is taken exactly as typed.
#include "settings/TQxMacroEdit.h"
#include "tests/settings/SettingsTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class MacroEditTest : public QObject {
    Q_OBJECT

private slots:
    void okNeedsText() {
        TQxMacroEdit editor;
        editor.SetMacro(QByteArray());
        editor.show();
        QVERIFY(!editor.OKBtn->isEnabled());
        QCOMPARE(editor.focusWidget(), editor.MacroEdit);
        QTest::keyClicks(editor.MacroEdit, "A");
        QVERIFY(editor.OKBtn->isEnabled());
        QTest::keyClick(editor.MacroEdit, Qt::Key_Backspace);
        QVERIFY(!editor.OKBtn->isEnabled());
    }

    void enterPressesOkOnlyWhenEnabled() {
        TQxMacroEdit editor;
        editor.SetMacro(QByteArray());
        editor.show();
        QTest::keyClick(editor.MacroEdit, Qt::Key_Return);
        QVERIFY(editor.isVisible());
        QTest::keyClicks(editor.MacroEdit, "   ");
        QTest::keyClick(editor.MacroEdit, Qt::Key_Return);
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), int(TQxMacroEdit::mrOk));
        QCOMPARE(editor.Macro(), QByteArray("   "));
    }

    void escapeDoesNotClose() {
        TQxMacroEdit editor;
        editor.SetMacro("x");
        editor.show();
        QTest::keyClick(editor.MacroEdit, Qt::Key_Escape);
        QTest::keyClick(editor.AbortBtn, Qt::Key_Escape);
        QVERIFY(editor.isVisible());
        QCOMPARE(editor.result(), 0);
    }

    void eachWayOutHasItsResult_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("macro");
        QTest::newRow("OK") << "ok" << int(TQxMacroEdit::mrOk) << QByteArray(" #27T20 \xE4");
        QTest::newRow("Cancel") << "cancel" << int(TQxMacroEdit::mrAbort) << QByteArray("old");
        QTest::newRow("close box") << "close" << int(TQxMacroEdit::mrCancel) << QByteArray("old");
    }
    void eachWayOutHasItsResult() {
        QFETCH(QString, how);
        QFETCH(int, result);
        QFETCH(QByteArray, macro);
        TQxMacroEdit editor;
        editor.SetMacro("old");
        editor.show();
        editor.MacroEdit->clear();
        TypeText(editor.MacroEdit, QString::fromUtf8(" #27T20 \u00E4\u0416"));
        if (how == "ok")
            QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
        else if (how == "cancel")
            QTest::mouseClick(editor.AbortBtn, Qt::LeftButton);
        else
            editor.close();
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), result);
        QCOMPARE(editor.Macro(), macro);
    }

    void pastedLineBreaksAreDropped() {
        TQxMacroEdit editor;
        editor.SetMacro("a");
        editor.MacroEdit->insert("b\r\nc");
        QCOMPARE(editor.MacroEdit->text(), QString("abc"));
    }
};

int RunMacroEditTests(int argc, char** argv) {
    MacroEditTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_macro_edit.moc"
