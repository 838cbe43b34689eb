// The settings dialog on real files: what OK writes and when, the change
// flags, the presets, the sequence field, the macro list with its editor, a
// file that cannot be written, and the ways to cancel.
#include "platform/OpenDiagnosis.h"
#include "platform/SystemError.h"
#include "platform/TProfileFile.h"
#include "settings/Settings.h"
#include "settings/TQxMacroEdit.h"
#include "settings/TQxPreferences.h"
#include "settings/TRadioGroup.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/TempAppDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

#include <cerrno>

#include <sys/stat.h>

namespace {

const QString IncorrectSettings =
    QStringLiteral("Incorrect settings!\r\nPlease check all parameters.");

// Brings the page holding Control to the front, laid out as a user sees it.
void ShowPageOf(TQxPreferences& dialog, QWidget* control) {
    for (int page = 0; page < dialog.PageControl->count(); ++page) {
        if (dialog.PageControl->widget(page)->isAncestorOf(control))
            dialog.PageControl->setCurrentIndex(page);
    }
    QCoreApplication::processEvents();
}

// Clicks near the left edge: a radio button or check box takes clicks on its
// indicator and text only, not on the free room its layout gives it.
void Click(TQxPreferences& dialog, QWidget* control) {
    ShowPageOf(dialog, control);
    QTest::mouseClick(control, Qt::LeftButton, {},
                      QPoint(std::min(8, control->width() / 2), control->height() / 2));
}

// A double click as the window system delivers it: a click, then the
// second press as a double click.
void DoubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
}

QPoint MacroPosition(const TQxPreferences& dialog, int row) {
    QListView* list = dialog.MacroList;
    return list->visualRect(list->model()->index(row, 0)).center();
}

void ClickMacro(TQxPreferences& dialog, int row) {
    ShowPageOf(dialog, dialog.MacroList);
    QTest::mouseClick(dialog.MacroList->viewport(), Qt::LeftButton, {}, MacroPosition(dialog, row));
}

QStringList MacroTexts(const TQxPreferences& dialog) {
    QStringList texts;
    const QAbstractItemModel* model = dialog.MacroList->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, 0).data().toString();
    return texts;
}

// Enabled state of down, up, edit and clear, in this order.
QList<bool> MacroButtons(const TQxPreferences& dialog) {
    return {dialog.MacroDownBtn->isEnabled(), dialog.MacroUpBtn->isEnabled(),
            dialog.EditMacroBtn->isEnabled(), dialog.DeleteMacroBtn->isEnabled()};
}

int SelectedRow(const TQxPreferences& dialog) {
    const QModelIndexList selected = dialog.MacroList->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void SetReadOnly(const QString& fileName, bool readOnly) {
    ::chmod(QFile::encodeName(fileName).constData(), readOnly ? 0444 : 0644);
}

} // namespace

class PreferencesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { SpoilSettingsRecords(); }

    void okWithoutChangeWritesNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("file with values") << QByteArray(
            "[COM-Device]\nPort=COM4\nParity=odd\n[Terminal]\nEcho=1\n[Transfer]\nSyncMode=NONE\n");
    }
    void okWithoutChangeWritesNothing() {
        QFETCH(QByteArray, content);
        TempAppDir dir;
        if (!content.isEmpty())
            dir.WriteFile("Console.ini", content);
        TQxPreferences dialog;
        QVERIFY(!ComSettings.Changed && !TerminalSettings.Changed && !TransferSync.Changed);
        dialog.show();
        QVERIFY(!dialog.Modified());
        QCOMPARE(dialog.PageControl->currentWidget(), dialog.ComPage);
        QCOMPARE(dialog.focusWidget(), dialog.OKBtn);
        Click(dialog, dialog.OKBtn);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(QFile::exists(dir.SettingsFile()), !content.isEmpty());
        QCOMPARE(dir.ReadFile("Console.ini"), content);
        QVERIFY(!ComSettings.Changed && !TerminalSettings.Changed && !TransferSync.Changed);
    }

    void changeAndUndoStillCounts() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Terminal]\nEcho=0\n");
        TQxPreferences dialog;
        dialog.show();
        Click(dialog, dialog.EchoBox);
        Click(dialog, dialog.EchoBox);
        QVERIFY(dialog.Modified());
        QVERIFY(TerminalSettings.Changed);
        QVERIFY(!ComSettings.Changed && !TransferSync.Changed);
        Click(dialog, dialog.OKBtn);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dir.ReadFile("Console.ini").startsWith("[Terminal]\r\nEcho=0\r\n"));
    }

    void okWritesEveryKeyAndTakesTheRecords() {
        TempAppDir dir;
        TQxPreferences dialog;
        dialog.show();
        Click(dialog, dialog.COMBox->Button(2));
        Click(dialog, dialog.Btn7E2);
        Click(dialog, dialog.EmulationBox->Button(1));
        Click(dialog, dialog.CRInBox);
        Click(dialog, dialog.SyncBox->Button(1));
        Click(dialog, dialog.OKBtn);
        QCOMPARE(dir.ReadFile("Console.ini"),
                 QByteArray("[COM-Device]\r\nPort=COM3\r\nBaudrate=19200\r\nDatabits=7\r\n"
                            "Stopbits=2\r\nParity=even\r\n[Terminal]\r\nEmulation=HEX\r\nEcho=0\r\n"
                            "CRLF(In)=1\r\nCRLF(Out)=0\r\n[Transfer]\r\nSyncMode=DELAYED\r\n"
                            "SyncSequ=#42\r\n"));
        QVERIFY(ComSettings.Changed && TerminalSettings.Changed && TransferSync.Changed);
        const auto check = [] {
            QCOMPARE(ComSettings.ComPort, poCOM3);
            QCOMPARE(ComSettings.Baudrate, br19200);
            QCOMPARE(ComSettings.Databits, db7);
            QCOMPARE(ComSettings.StopBits, sb20);
            QCOMPARE(ComSettings.Parity, paEVEN);
            QVERIFY(TerminalSettings.HexEmulation && TerminalSettings.CRLFIn);
            QVERIFY(!TerminalSettings.LocalEcho && !TerminalSettings.CRLFOut);
            QCOMPARE(TransferSync.Mode, smDelayed);
        };
        check();
        SpoilSettingsRecords();
        LoadSettings();
        check();
    }

    void presetsChangeOnlyWhatDiffers() {
        TempAppDir dir;
        TQxPreferences dialog;
        dialog.show();
        Click(dialog, dialog.Btn8N1);
        QVERIFY(!ComSettings.Changed);
        QVERIFY(!dialog.Modified());
        Click(dialog, dialog.Btn7E2);
        QVERIFY(ComSettings.Changed);
        using M = TSettingsModel;
        QCOMPARE(dialog.ParityBox->SelectedText(), QStringLiteral("even"));
        QCOMPARE(dialog.ByteSizeBox->SelectedText(), QStringLiteral("7"));
        QCOMPARE(dialog.StopBitsBox->SelectedText(), QStringLiteral("2"));
        Click(dialog, dialog.Btn8N1);
        QCOMPARE(M::ValueOf(M::chParity, dialog.ParityBox->ItemIndex()), int(paNONE));
        QCOMPARE(M::ValueOf(M::chDatabits, dialog.ByteSizeBox->ItemIndex()), int(db8));
        QCOMPARE(M::ValueOf(M::chStopbits, dialog.StopBitsBox->ItemIndex()), int(sb10));
    }

    void sequenceControlsFollowTheMode() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Transfer]\nSyncMode=NONE\nSyncSequ=#13\n");
        TQxPreferences dialog;
        dialog.show();
        QVERIFY(!dialog.SyncEdit->isEnabled() && !dialog.SyncBtn->isEnabled());
        Click(dialog, dialog.SyncBox->Button(1));
        QVERIFY(!dialog.SyncEdit->isEnabled() && !dialog.SyncBtn->isEnabled());
        Click(dialog, dialog.SyncBox->Button(2));
        QVERIFY(dialog.SyncEdit->isEnabled() && dialog.SyncBtn->isEnabled());
        TransferSync.Changed = false;
        Click(dialog, dialog.SyncBtn);
        QCOMPARE(dialog.SyncEdit->text(), QString("#42"));
        QVERIFY(TransferSync.Changed);
    }

    void sequenceFieldTakesTenTypedCharacters() {
        TempAppDir dir;
        TQxPreferences dialog;
        dialog.show();
        ShowPageOf(dialog, dialog.SyncEdit);
        dialog.SyncEdit->clear();
        QTest::keyClicks(dialog.SyncEdit, "#13#10#62#35");
        QCOMPARE(dialog.SyncEdit->text(), QString("#13#10#62#"));
        dialog.SyncEdit->clear();
        // A character without a byte of its own is not taken; the euro sign is.
        TypeText(dialog.SyncEdit, QString::fromUtf8("a\u0416\u20ACb"));
        QCOMPARE(dialog.SyncEdit->text(), QString::fromUtf8("a\u20ACb"));
        Click(dialog, dialog.OKBtn);
        QCOMPARE(TransferSync.Sequence, QByteArray("a\x80"
                                                   "b"));
        QVERIFY(dir.ReadFile("Console.ini")
                    .contains("SyncSequ=a\x80"
                              "b\r\n"));
    }

    void longSequenceIsShownAndWrittenWhole() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Transfer]\nSyncSequ=#13#10#62#35\n");
        TQxPreferences dialog;
        dialog.show();
        ShowPageOf(dialog, dialog.SyncEdit);
        QCOMPARE(dialog.SyncEdit->text(), QString("#13#10#62#35"));
        dialog.SyncEdit->setFocus();
        dialog.SyncEdit->end(false);
        QTest::keyClicks(dialog.SyncEdit, "x");
        QCOMPARE(dialog.SyncEdit->text(), QString("#13#10#62#35"));
        QTest::keyClick(dialog.SyncEdit, Qt::Key_Backspace);
        QTest::keyClicks(dialog.SyncEdit, "y");
        QCOMPARE(dialog.SyncEdit->text(), QString("#13#10#62#3"));
        Click(dialog, dialog.EchoBox);
        Click(dialog, dialog.OKBtn);
        QCOMPARE(TransferSync.Sequence, QByteArray("#13#10#62#"));
        QVERIFY(dir.ReadFile("Console.ini").contains("SyncSequ=#13#10#62#3\r\n"));
    }

    void macroButtonsFollowTheSelection() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=a\nMacro1=b\nMacro2=c\n");
        TQxPreferences dialog;
        dialog.show();
        QCOMPARE(MacroButtons(dialog), QList<bool>({false, false, false, false}));
        ClickMacro(dialog, 0);
        QCOMPARE(MacroButtons(dialog), QList<bool>({true, false, true, true}));
        ClickMacro(dialog, 2);
        QCOMPARE(MacroButtons(dialog), QList<bool>({false, true, true, true}));
        ClickMacro(dialog, 1);
        QCOMPARE(MacroButtons(dialog), QList<bool>({true, true, true, true}));
        QVERIFY(!TerminalSettings.Changed);

        Click(dialog, dialog.MacroDownBtn);
        QCOMPARE(MacroTexts(dialog), QStringList({"a", "c", "b"}));
        QCOMPARE(SelectedRow(dialog), 2);
        QCOMPARE(MacroButtons(dialog), QList<bool>({false, true, true, true}));
        QVERIFY(TerminalSettings.Changed);
        Click(dialog, dialog.MacroUpBtn);
        Click(dialog, dialog.MacroUpBtn);
        QCOMPARE(MacroTexts(dialog), QStringList({"b", "a", "c"}));
        QCOMPARE(SelectedRow(dialog), 0);
        QCOMPARE(MacroButtons(dialog), QList<bool>({true, false, true, true}));

        Click(dialog, dialog.DeleteMacroBtn);
        QCOMPARE(MacroTexts(dialog), QStringList({"a", "c"}));
        QCOMPARE(SelectedRow(dialog), -1);
        QCOMPARE(MacroButtons(dialog), QList<bool>({false, false, false, false}));
        Click(dialog, dialog.DeleteMacroBtn);
        QCOMPARE(MacroTexts(dialog), QStringList({"a", "c"}));

        Click(dialog, dialog.OKBtn);
        LoadSettings();
        QCOMPARE(TerminalSettings.Macros, QList<QByteArray>({"a", "c"}));
    }

    void singleMacroCannotMove() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=a\n");
        TQxPreferences dialog;
        dialog.show();
        ClickMacro(dialog, 0);
        QCOMPARE(MacroButtons(dialog), QList<bool>({false, false, true, true}));
    }

    void addAppendsAndEditKeepsThePlace() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=a\nMacro1=b\n");
        TQxPreferences dialog;
        dialog.show();
        ClickMacro(dialog, 1);
        {
            MacroEditorScript script([](TQxMacroEdit* editor) {
                QVERIFY(!editor->OKBtn->isEnabled());
                QTest::keyClicks(editor->MacroEdit, " AT#13 ");
                QTest::mouseClick(editor->OKBtn, Qt::LeftButton);
            });
            Click(dialog, dialog.AddMacroBtn);
            QCOMPARE(script.EditorsSeen(), 1);
        }
        QCOMPARE(MacroTexts(dialog), QStringList({"a", "b", " AT#13 "}));
        QCOMPARE(SelectedRow(dialog), 1);
        // The added macro lies below the selected one.
        QVERIFY(dialog.MacroDownBtn->isEnabled());
        QVERIFY(TerminalSettings.Changed);

        ClickMacro(dialog, 0);
        {
            MacroEditorScript script([](TQxMacroEdit* editor) {
                QCOMPARE(editor->MacroEdit->text(), QString("a"));
                QVERIFY(editor->OKBtn->isEnabled());
                editor->MacroEdit->selectAll();
                QTest::keyClicks(editor->MacroEdit, "ATZ");
                QTest::keyClick(editor->MacroEdit, Qt::Key_Return);
            });
            Click(dialog, dialog.EditMacroBtn);
            QCOMPARE(script.EditorsSeen(), 1);
        }
        QCOMPARE(MacroTexts(dialog), QStringList({"ATZ", "b", " AT#13 "}));
        QCOMPARE(SelectedRow(dialog), 0);

        Click(dialog, dialog.OKBtn);
        QVERIFY(dir.ReadFile("Console.ini")
                    .contains("Macro0=ATZ\r\nMacro1=b\r\nMacro2=\" AT#13 \"\r\n"));
        LoadSettings();
        QCOMPARE(TerminalSettings.Macros, QList<QByteArray>({"ATZ", "b", " AT#13 "}));
    }

    void editorCancelOrCloseChangesNoMacro_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("cancel button") << false;
        QTest::newRow("close box") << true;
    }
    void editorCancelOrCloseChangesNoMacro() {
        QFETCH(bool, closeBox);
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=a\n");
        TQxPreferences dialog;
        dialog.show();
        ClickMacro(dialog, 0);
        MacroEditorScript script([closeBox](TQxMacroEdit* editor) {
            QTest::keyClicks(editor->MacroEdit, "typed");
            if (closeBox)
                editor->close();
            else
                QTest::mouseClick(editor->AbortBtn, Qt::LeftButton);
        });
        Click(dialog, dialog.AddMacroBtn);
        Click(dialog, dialog.EditMacroBtn);
        QCOMPARE(script.EditorsSeen(), 2);
        QCOMPARE(MacroTexts(dialog), QStringList({"a"}));
        QVERIFY(!TerminalSettings.Changed);
        QVERIFY(!dialog.Modified());
    }

    void doubleClickEditsOnlyAnItem() {
        TempAppDir dir;
        TQxPreferences dialog;
        dialog.show();
        ShowPageOf(dialog, dialog.MacroList);
        MacroEditorScript script([](TQxMacroEdit* editor) {
            QCOMPARE(editor->MacroEdit->text(), QString("m"));
            editor->close();
        });
        DoubleClick(dialog.MacroList->viewport(), QPoint(10, 10));
        QCOMPARE(script.EditorsSeen(), 0);

        QAbstractItemModel* model = dialog.MacroList->model();
        model->insertRow(0);
        model->setData(model->index(0, 0), "m");
        QCoreApplication::processEvents();
        DoubleClick(dialog.MacroList->viewport(), MacroPosition(dialog, 0));
        QCOMPARE(script.EditorsSeen(), 1);
    }

    void savingNoMacrosRemovesTheSection() {
        TempAppDir dir;
        dir.WriteFile(
            "Console.ini",
            "[Macros]\nMacro0=a\n[Transfer]\nSyncMode=NONE\n[macros]\nMacro0=x\nMacro1=y\n");
        TQxPreferences dialog;
        dialog.show();
        ClickMacro(dialog, 0);
        Click(dialog, dialog.DeleteMacroBtn);
        Click(dialog, dialog.OKBtn);
        const QByteArray written = dir.ReadFile("Console.ini");
        QVERIFY2(!written.contains("acros"), written.constData());
        QVERIFY(written.startsWith("[Transfer]\r\nSyncMode=NONE\r\n"));
        LoadSettings();
        QVERIFY(TerminalSettings.Macros.isEmpty());
    }

    void savingDropsMacrosBeyondTheGapAndKeepsBytes() {
        TempAppDir dir;
        dir.WriteFile("Console.ini", "[Macros]\nMacro0=\xE4#13\nMacro1=b\nMacro3=lost\n");
        TQxPreferences dialog;
        dialog.show();
        QCOMPARE(MacroTexts(dialog).first(), QString::fromUtf8("\u00E4#13"));
        Click(dialog, dialog.EchoBox);
        Click(dialog, dialog.OKBtn);
        const QByteArray written = dir.ReadFile("Console.ini");
        QVERIFY(written.startsWith("[Macros]\r\nMacro0=\xE4#13\r\nMacro1=b\r\n["));
        QVERIFY(!written.contains("lost"));
    }

    // The file names itself and the reason; the dialog stays open. A
    // read-only file, or a directory that stood in the file's place only
    // during the save, can be mended and OK pressed again; a dialog that
    // opened while the directory stood there shows defaults it never read
    // in the file, so it writes nothing to that name.
    void unwritableFileKeepsTheDialogOpen_data() {
        QTest::addColumn<bool>("directory");
        QTest::addColumn<bool>("whenOpened");
        QTest::newRow("read-only file") << false << false;
        QTest::newRow("directory when the dialog opened") << true << true;
        QTest::newRow("directory during the save") << true << false;
    }
    void unwritableFileKeepsTheDialogOpen() {
        QFETCH(bool, directory);
        QFETCH(bool, whenOpened);
        TempAppDir dir;
        const QByteArray content = "[Terminal]\nEcho=0\n";
        if (directory && whenOpened) {
            QVERIFY(QDir().mkdir(dir.SettingsFile()));
        } else {
            dir.WriteFile("Console.ini", content);
            SetReadOnly(dir.SettingsFile(), !directory);
        }
        FakeInteraction interaction;
        TQxPreferences dialog;
        dialog.show();
        if (directory && !whenOpened) {
            QVERIFY(QFile::remove(dir.SettingsFile()));
            QVERIFY(QDir().mkdir(dir.SettingsFile()));
        }
        Click(dialog, dialog.EchoBox);
        Click(dialog, dialog.OKBtn);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        const QString unableToWrite = "Unable to write to " + dir.SettingsFile();
        QCOMPARE(interaction.WarningTexts(), QStringList{IncorrectSettings});
        QVERIFY(interaction.Prompts[0].Detail.startsWith(unableToWrite + "\n"));
        // The records took the dialog's values although the file did not.
        QVERIFY(TerminalSettings.LocalEcho);

        if (directory) {
            QVERIFY(interaction.Prompts[0].Detail.endsWith(": " + SystemErrorText(EISDIR)));
            QVERIFY(QDir().rmdir(dir.SettingsFile()));
        } else {
            QCOMPARE(dir.ReadFile("Console.ini"), content);
            SetReadOnly(dir.SettingsFile(), false);
        }
        Click(dialog, dialog.OKBtn);
        if (whenOpened) {
            QVERIFY(dialog.isVisible());
            QCOMPARE(interaction.WarningTexts(), QStringList(2, IncorrectSettings));
            QVERIFY(!QFile::exists(dir.SettingsFile()));
            return;
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dir.ReadFile("Console.ini").contains("Echo=1\r\n"));
        QCOMPARE(interaction.WarningTexts().size(), 1);
    }

    void cancelEscapeAndCloseChangeNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancel button") << "cancel";
        QTest::newRow("close box") << "close";
        QTest::newRow("escape on OK") << "ok";
        QTest::newRow("escape on a port") << "port";
        QTest::newRow("escape on a check box") << "echo";
        QTest::newRow("escape in the macro list") << "list";
        QTest::newRow("escape in the sequence field") << "sequence";
        QTest::newRow("escape on the tabs") << "tabs";
    }
    void cancelEscapeAndCloseChangeNothing() {
        QFETCH(QString, how);
        TempAppDir dir;
        const QByteArray content = "[COM-Device]\nPort=COM2\n[Macros]\nMacro0=a\n";
        dir.WriteFile("Console.ini", content);
        TQxPreferences dialog;
        dialog.show();
        Click(dialog, dialog.COMBox->Button(4));
        Click(dialog, dialog.EchoBox);
        ClickMacro(dialog, 0);
        Click(dialog, dialog.SyncBox->Button(2));
        dialog.SyncEdit->setText("#13");

        const QHash<QString, QWidget*> targets = {
            {"ok", dialog.OKBtn},          {"port", dialog.COMBox->Button(4)},
            {"echo", dialog.EchoBox},      {"list", dialog.MacroList},
            {"sequence", dialog.SyncEdit}, {"tabs", dialog.PageControl->tabBar()}};
        if (how == "cancel") {
            Click(dialog, dialog.CancelBtn);
        } else if (how == "close") {
            dialog.close();
        } else {
            QWidget* target = targets.value(how);
            ShowPageOf(dialog, target);
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Escape);
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dir.ReadFile("Console.ini"), content);
        QCOMPARE(ComSettings.ComPort, poCOM2);
        QVERIFY(!TerminalSettings.LocalEcho);
        QCOMPARE(TransferSync.Sequence, QByteArray("#42"));
    }

    void enterPressesOk() {
        TempAppDir dir;
        TQxPreferences dialog;
        dialog.show();
        Click(dialog, dialog.COMBox->Button(1));
        dialog.COMBox->Button(1)->setFocus();
        QTest::keyClick(dialog.COMBox->Button(1), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dir.ReadFile("Console.ini").contains("Port=COM2\r\n"));
    }

    // A rate the buttons do not offer lives in the other field, which wins
    // over the buttons when filled; cleared, the buttons count again.
    void otherBaudrateWinsWhenFilled_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<int>("other");
        QTest::newRow("stored rate shown, kept")
            << QByteArray("[COM-Device]\r\nBaudrate=921600\r\n") << QString() << 5 << "921600"
            << QByteArray("Baudrate=921600") << 921600;
        QTest::newRow("typed rate wins over the button")
            << QByteArray() << "250000" << 9 << "" << QByteArray("Baudrate=250000") << 250000;
        QTest::newRow("cleared field gives the button")
            << QByteArray("[COM-Device]\r\nBaudrate=3000000\r\n") << "" << 9 << "3000000"
            << QByteArray("Baudrate=115200") << 0;
    }
    void otherBaudrateWinsWhenFilled() {
        QFETCH(QByteArray, content);
        QFETCH(QString, typed);
        QFETCH(int, button);
        QFETCH(QString, shown);
        QFETCH(QByteArray, written);
        QFETCH(int, other);
        TempAppDir dir;
        if (!content.isEmpty())
            dir.WriteFile("Console.ini", content);
        TQxPreferences dialog;
        dialog.show();
        QCOMPARE(dialog.BaudOtherEdit->text(), shown);
        Click(dialog, dialog.BaudBox->Button(button));
        if (!typed.isNull()) {
            dialog.BaudOtherEdit->clear();
            TypeText(dialog.BaudOtherEdit, typed + "x");
        }
        Click(dialog, dialog.OKBtn);
        QVERIFY(!dialog.isVisible());
        QVERIFY2(dir.ReadFile("Console.ini").contains(written + "\r\n"),
                 dir.ReadFile("Console.ini").constData());
        QCOMPARE(ComSettings.OtherBaudrate, other);
        LoadSettings();
        QCOMPARE(ComSettings.OtherBaudrate, other);
    }

    // The chosen port's device shows with its presence; a detected device
    // (by its by-id link where it has one) can be given to it, written with OK.
    void chosenPortShowsItsDeviceAndTakesADetectedOne() {
        TempAppDir dir;
        QVERIFY(QDir(dir.Path()).mkpath("dev/serial/by-id") &&
                QDir(dir.Path()).mkpath("sys/ttyS0") && QDir(dir.Path()).mkpath("sys/ttyS1"));
        for (const char* node :
             {"dev/ttyUSB0", "dev/ttyACM0", "dev/ttyS0", "dev/ttyS1", "dev/tty1"})
            dir.WriteFile(node, {});
        dir.WriteFile("sys/ttyS0/type", "0\n"); // no UART behind it
        dir.WriteFile("sys/ttyS1/type", "4\n");
        const QString byId = dir.Path() + "dev/serial/by-id/usb-FTDI_A5-port0";
        QVERIFY(QFile::link("../../ttyUSB0", byId));
        SetDeviceDirectories(dir.Path() + "dev", dir.Path() + "sys");
        const QString acm = dir.Path() + "dev/ttyACM0";
        dir.MapDevice(1, acm);
        dir.MapDevice(2, dir.Path() + "dev/ttyGone");
        TQxPreferences dialog;
        dialog.show();
        QCOMPARE(dialog.DeviceLabel->text(), "COM1 (present) stands for " + acm);
        Click(dialog, dialog.COMBox->Button(1));
        QCOMPARE(dialog.DeviceLabel->text(),
                 "COM2 (not present) stands for " + dir.Path() + "dev/ttyGone");
        QCOMPARE(dialog.DeviceBox->count(), 3);
        QCOMPARE(dialog.DeviceBox->itemText(0), byId + " (ttyUSB0)");
        QCOMPARE(dialog.DeviceBox->itemText(1), acm);
        QCOMPARE(dialog.DeviceBox->itemText(2), dir.Path() + "dev/ttyS1");
        dialog.DeviceBox->setCurrentIndex(0);
        Click(dialog, dialog.AssignDeviceBtn);
        QCOMPARE(dialog.DeviceLabel->text(), "COM2 (present) stands for " + byId);
        QCOMPARE(dialog.COMBox->Button(1)->toolTip(), byId);
        // A network port is typed in; text that names no device is not taken.
        Click(dialog, dialog.COMBox->Button(2));
        const QString url = "rfc2217://127.0.0.1:3001";
        for (const QString& typed : {url, QStringLiteral("not a device")}) {
            dialog.DeviceBox->setEditText(typed);
            Click(dialog, dialog.AssignDeviceBtn);
        }
        QCOMPARE(dialog.DeviceLabel->text(), "COM3 (network port) stands for " + url);
        Click(dialog, dialog.OKBtn);
        SetDeviceDirectories({}, {});
        QVERIFY(!dialog.isVisible());
        QCOMPARE(TProfileFile(dir.SettingsFile()).ReadString("Devices", "COM2", ""),
                 QFile::encodeName(byId));
        QCOMPARE(TProfileFile(dir.SettingsFile()).ReadString("Devices", "COM1", ""),
                 QFile::encodeName(acm));
        QCOMPARE(TProfileFile(dir.SettingsFile()).ReadString("Devices", "COM3", ""), url.toLatin1());
    }

    void portItemsShowTheirDevicePaths() {
        TempAppDir dir;
        dir.MapDevice(3, "/dev/serial/by-id/usb-FTDI_0-if00");
        TQxPreferences dialog;
        dialog.show();
        QCOMPARE(dialog.COMBox->Button(2)->toolTip(), QString("/dev/serial/by-id/usb-FTDI_0-if00"));
        QCOMPARE(dialog.COMBox->Button(0)->toolTip(), QString("/dev/ttyS0"));
        QCOMPARE(dialog.COMBox->Button(3)->toolTip(), QString("/dev/ttyS3"));
        QCOMPARE(dialog.COMBox->Button(4)->toolTip(), QString("/dev/ttyUSB0"));
        QCOMPARE(dialog.COMBox->Button(7)->toolTip(), QString("/dev/ttyUSB3"));
        QCOMPARE(dialog.COMBox->Button(8)->toolTip(), QString("/dev/ttyACM0"));
        QCOMPARE(dialog.COMBox->Button(9)->toolTip(), QString("/dev/ttyACM1"));
    }
};

int RunPreferencesTests(int argc, char** argv) {
    PreferencesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_preferences.moc"
