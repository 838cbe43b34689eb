#pragma once

#include "settings/TSettingsModel.h"

#include <QDialog>
#include <QMap>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStringListModel;
class QTabWidget;
class QToolButton;
class TRadioGroup;

// The settings dialog. Creating it loads the records from the settings file
// (TSettingsModel) into its controls and into ComSettings, TerminalSettings
// and TransferSync (with their Changed flags cleared); every change of a
// control then sets the Changed flag of its group. "OK" (result Accepted)
// takes the controls into the records and saves them in one write of the
// file when anything changed; when the file cannot be written the dialog
// warns and stays open (the file as it was). "Cancel", Escape and the close
// box (result Rejected) take and write nothing.
class TQxPreferences : public QDialog {
    Q_OBJECT

public:
    explicit TQxPreferences(QWidget* parent = nullptr);

    // Some control changed since the dialog was shown.
    bool Modified() const { return FModified; }

    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QTabWidget* PageControl;

    QWidget* ComPage;
    TRadioGroup* COMBox;
    TRadioGroup* BaudBox;
    // Any other bit rate; when filled it wins over BaudBox.
    QLabel* BaudOtherLabel;
    QLineEdit* BaudOtherEdit;
    TRadioGroup* ParityBox;
    TRadioGroup* FlowBox;
    TRadioGroup* ByteSizeBox;
    TRadioGroup* StopBitsBox;
    QLabel* Label2;
    // The chosen port's device and whether it is present, and the serial
    // devices detected, one of which can be given to the chosen port
    // (written to [Devices] with OK).
    QGroupBox* DeviceGroup;
    QLabel* DeviceLabel;
    QComboBox* DeviceBox;
    QToolButton* RefreshDevicesBtn;
    QToolButton* AssignDeviceBtn;
    QToolButton* Btn8N1;
    QToolButton* Btn7E2;

    QWidget* ConsolePage;
    TRadioGroup* EmulationBox;
    QGroupBox* GroupBox1;
    QCheckBox* EchoBox;
    QCheckBox* CRInBox;
    QCheckBox* LFInBox;
    QCheckBox* CROutBox;
    QCheckBox* TimestampsBox;
    QGroupBox* GroupBox2;
    QLabel* Label4;
    QListView* MacroList;
    QToolButton* MacroDownBtn;
    QToolButton* MacroUpBtn;
    QToolButton* AddMacroBtn;
    QToolButton* EditMacroBtn;
    QToolButton* DeleteMacroBtn;

    QWidget* TransferPage;
    TRadioGroup* SyncBox;
    QLabel* Label1;
    QGroupBox* GroupBox3;
    QLabel* Label3;
    QLineEdit* SyncEdit;
    QToolButton* SyncBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateComPage();
    void CreateConsolePage();
    void CreateTransferPage();
    void ArrangeDialog();
    void ConnectHandlers();
    void ShowDevicePaths();
    void CreateDeviceGroup();
    QString DevicePathOf(int port) const;
    void ShowChosenDevice();
    void FillDetectedDevices();
    void AssignDeviceBtnClick();
    QString ChosenDevicePath() const;
    static QString PresenceOf(const QString& path);

    void FillControls(const TSettingsRecords& records);
    TSettingsRecords TakenRecords() const;
    void SetSequenceText(const QString& text);
    void KeepSequenceLimit();

    void ComParamsChanged();
    void ConsoleParamsChanged();
    void TransferParamsChanged();
    void Btn8N1Click();
    void Btn7E2Click();
    void SetLineFormat(TDataBits dataBits, TParity parity, TStopBits stopBits);
    int SelectedMacro() const;
    void SelectMacro(int index);
    void MacroSelect();
    void MoveMacroBtnClick(const QToolButton* sender);
    void AddMacroBtnClick();
    void EditMacroBtnClick();
    void DeleteMacroBtnClick();
    void SyncBtnClick();
    void OKBtnClick();

    QStringListModel* FMacros;
    // The records as loaded at creation.
    TSettingsRecords FStored;
    // Why the file could not be read when the dialog opened: it shows
    // defaults then, which OK must not write over settings it never saw.
    QString FLoadError;
    bool FModified = false;
    // The devices [Devices] gives the ports, read at each showing.
    QStringList FDevicePaths;
    // Devices given to ports in this dialog, by port index, not yet written.
    QMap<int, QString> FDeviceAssignments;
};
