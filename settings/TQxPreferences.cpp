#include "settings/TQxPreferences.h"

#include "platform/AppLocation.h"
#include "platform/Cp1252.h"
#include "platform/OpenDiagnosis.h"
#include "platform/TInteraction.h"
#include "platform/TNetworkLink.h"
#include "platform/TProfileFile.h"
#include "settings/DialogPlacement.h"
#include "settings/RunOverrides.h"
#include "settings/Settings.h"
#include "settings/TByteTextValidator.h"
#include "settings/TQxMacroEdit.h"
#include "settings/TRadioGroup.h"
#include "settings/TSettingsModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStringListModel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QToolButton* FlatButton(const QString& text, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setAutoRaise(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

QToolButton* ArrowButton(Qt::ArrowType arrow, const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRaise(true);
    button->setAccessibleName(name);
    return button;
}

// A bit rate written as plain decimal digits, above 0; 0 for anything else.
int OtherBaudrate(const QByteArray& text) {
    bool number = false;
    const int rate = text.trimmed().toInt(&number);
    return number && rate > 0 ? rate : 0;
}

} // namespace

TQxPreferences::TQxPreferences(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Settings..."));
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    PageControl = new QTabWidget(this);
    CreateComPage();
    CreateConsolePage();
    CreateTransferPage();
    ArrangeDialog();
    ConnectHandlers();
    // Every opening reloads the settings in effect from the file, with the
    // values given for this run laid over them.
    const TSettingsModel stored;
    FStored = WithRunOverrides(stored.Load());
    FLoadError = stored.LoadError();
    FDeviceAssignments = FStored.Devices;
    FDevicePaths = TSettingsModel().DevicePaths();
    FillControls(FStored);
    UseSettings(FStored);
    ComSettings.Changed = false;
    TerminalSettings.Changed = false;
    TransferSync.Changed = false;
}

void TQxPreferences::ArrangeDialog() {
    OKBtn->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(buttons);
    // The dialog takes the size its contents need and cannot be resized.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, PageControl);
    PageControl->setCurrentWidget(ComPage);
    OKBtn->setFocus();
}

void TQxPreferences::CreateComPage() {
    ComPage = new QWidget;
    COMBox = new TRadioGroup(QStringLiteral(" &Serial Port "),
                             TSettingsModel::Items(TSettingsModel::chPort), 2, ComPage);
    BaudBox = new TRadioGroup(QStringLiteral(" &Baudrate "),
                              TSettingsModel::Items(TSettingsModel::chBaudrate), 2, ComPage);
    BaudOtherLabel = new QLabel(QStringLiteral("&Other:"), ComPage);
    BaudOtherEdit = new QLineEdit(ComPage);
    BaudOtherLabel->setBuddy(BaudOtherEdit);
    BaudOtherEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[1-9][0-9]{0,7}")), BaudOtherEdit));
    BaudOtherEdit->setPlaceholderText(QStringLiteral("e.g. 921600"));
    BaudOtherEdit->setToolTip(
        QStringLiteral("Any other bit rate; when filled it is used instead of the choice above."));
    ParityBox = new TRadioGroup(QStringLiteral(" &Parity "),
                                TSettingsModel::Items(TSettingsModel::chParity), 1, ComPage);
    FlowBox = new TRadioGroup(QStringLiteral(" &Flow control "),
                              TSettingsModel::Items(TSettingsModel::chFlowControl), 1, ComPage);
    ByteSizeBox = new TRadioGroup(QStringLiteral(" &Databits "),
                                  TSettingsModel::Items(TSettingsModel::chDatabits), 2, ComPage);
    StopBitsBox = new TRadioGroup(QStringLiteral(" S&topbits "),
                                  TSettingsModel::Items(TSettingsModel::chStopbits), 2, ComPage);
    Btn8N1 = FlatButton(QStringLiteral("8&N1"), ComPage);
    Btn7E2 = FlatButton(QStringLiteral("7&E2"), ComPage);
    Label2 = WrappedLabel(QStringLiteral("Settings for the serial interface to be used by the "
                                         "terminal. The DTR signal as well as the RTS signal will "
                                         "be set logical high."),
                          ComPage);

    auto* parityColumn = new QVBoxLayout;
    parityColumn->addWidget(ParityBox, 1);
    parityColumn->addWidget(FlowBox, 1);
    parityColumn->addWidget(Btn8N1);
    auto* bitsColumn = new QVBoxLayout;
    bitsColumn->addWidget(ByteSizeBox, 1);
    bitsColumn->addWidget(StopBitsBox, 1);
    bitsColumn->addWidget(Btn7E2);
    auto* otherBaudrate = new QHBoxLayout;
    otherBaudrate->addWidget(BaudOtherLabel);
    otherBaudrate->addWidget(BaudOtherEdit, 1);
    auto* baudColumn = new QVBoxLayout;
    baudColumn->addWidget(BaudBox, 1);
    baudColumn->addLayout(otherBaudrate);
    auto* groups = new QHBoxLayout;
    groups->addWidget(COMBox);
    groups->addLayout(baudColumn);
    groups->addLayout(parityColumn);
    groups->addLayout(bitsColumn);
    CreateDeviceGroup();
    auto* page = new QVBoxLayout(ComPage);
    page->addLayout(groups);
    page->addWidget(DeviceGroup);
    page->addWidget(Label2);
    PageControl->addTab(ComPage, QStringLiteral("Interface"));
}

void TQxPreferences::CreateDeviceGroup() {
    DeviceGroup = new QGroupBox(QStringLiteral(" De&vice "), ComPage);
    DeviceLabel = new QLabel(DeviceGroup);
    DeviceLabel->setTextFormat(Qt::PlainText);
    DeviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A by-id path is long: it goes on a line of its own rather than widen
    // the dialog.
    DeviceLabel->setWordWrap(true);
    DeviceBox = new QComboBox(DeviceGroup);
    DeviceBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    DeviceBox->setMinimumContentsLength(30);
    // A device the program does not detect (a network port, a path of the
    // user's own) can be typed in.
    DeviceBox->setEditable(true);
    DeviceBox->setInsertPolicy(QComboBox::NoInsert);
    DeviceBox->lineEdit()->setPlaceholderText(QStringLiteral("a device or rfc2217://host:port"));
    RefreshDevicesBtn = FlatButton(QStringLiteral("&Refresh"), DeviceGroup);
    RefreshDevicesBtn->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    AssignDeviceBtn = FlatButton(QString(), DeviceGroup);
    AssignDeviceBtn->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* detected = new QHBoxLayout;
    detected->addWidget(new QLabel(QStringLiteral("Detected:"), DeviceGroup));
    detected->addWidget(DeviceBox, 1);
    detected->addWidget(RefreshDevicesBtn);
    detected->addWidget(AssignDeviceBtn);
    auto* rows = new QVBoxLayout(DeviceGroup);
    rows->addWidget(DeviceLabel);
    rows->addLayout(detected);
}

void TQxPreferences::CreateConsolePage() {
    ConsolePage = new QWidget;
    EmulationBox =
        new TRadioGroup(QStringLiteral(" Emulation "),
                        TSettingsModel::Items(TSettingsModel::chEmulation), 3, ConsolePage);
    GroupBox1 = new QGroupBox(QStringLiteral(" Options "), ConsolePage);
    EchoBox = new QCheckBox(QStringLiteral("Local Echo"), GroupBox1);
    CRInBox = new QCheckBox(QStringLiteral("CR->CR/LF (In)"), GroupBox1);
    LFInBox = new QCheckBox(QStringLiteral("LF->CR/LF (In)"), GroupBox1);
    CROutBox = new QCheckBox(QStringLiteral("CR->CR/LF (Out)"), GroupBox1);
    TimestampsBox = new QCheckBox(QStringLiteral("Timestamps in logfiles"), GroupBox1);
    GroupBox2 = new QGroupBox(QStringLiteral(" Makros "), ConsolePage);
    MacroList = new QListView(GroupBox2);
    FMacros = new QStringListModel(this);
    MacroDownBtn = ArrowButton(Qt::DownArrow, QStringLiteral("Move down"), GroupBox2);
    MacroUpBtn = ArrowButton(Qt::UpArrow, QStringLiteral("Move up"), GroupBox2);
    AddMacroBtn = FlatButton(QStringLiteral("&Add..."), GroupBox2);
    EditMacroBtn = FlatButton(QStringLiteral("&Edit..."), GroupBox2);
    DeleteMacroBtn = FlatButton(QStringLiteral("&Clear"), GroupBox2);
    Label4 = WrappedLabel(
        QStringLiteral(
            "Settings regarding the terminal emulation as well as the macro definitions."),
        ConsolePage);
    MacroList->setModel(FMacros);
    MacroList->setSelectionMode(QAbstractItemView::SingleSelection);
    MacroList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MacroList->setUniformItemSizes(true);
    MacroDownBtn->setEnabled(false);
    MacroUpBtn->setEnabled(false);
    EditMacroBtn->setEnabled(false);
    DeleteMacroBtn->setEnabled(false);

    auto* options = new QVBoxLayout(GroupBox1);
    options->addWidget(EchoBox);
    auto* lineEndsIn = new QHBoxLayout;
    lineEndsIn->addWidget(CRInBox);
    lineEndsIn->addWidget(LFInBox);
    options->addLayout(lineEndsIn);
    options->addWidget(CROutBox);
    options->addWidget(TimestampsBox);
    auto* leftColumn = new QVBoxLayout;
    leftColumn->addWidget(EmulationBox);
    leftColumn->addWidget(GroupBox1, 1);

    auto* moves = new QHBoxLayout;
    moves->addWidget(MacroDownBtn);
    moves->addWidget(MacroUpBtn);
    auto* macroButtons = new QVBoxLayout;
    macroButtons->addLayout(moves);
    macroButtons->addWidget(AddMacroBtn);
    macroButtons->addWidget(EditMacroBtn);
    macroButtons->addWidget(DeleteMacroBtn);
    macroButtons->addStretch(1);
    auto* macros = new QHBoxLayout(GroupBox2);
    macros->addWidget(MacroList, 1);
    macros->addLayout(macroButtons);

    auto* columns = new QHBoxLayout;
    columns->addLayout(leftColumn);
    columns->addWidget(GroupBox2, 1);
    auto* page = new QVBoxLayout(ConsolePage);
    page->addLayout(columns, 1);
    page->addWidget(Label4);
    PageControl->addTab(ConsolePage, QStringLiteral("Terminal"));
}

void TQxPreferences::CreateTransferPage() {
    TransferPage = new QWidget;
    SyncBox = new TRadioGroup(QStringLiteral(" Line Synchronisation "),
                              {"None", "50ms Delay", "Wait for Handshake"}, 1, TransferPage);
    SyncBox->SetItemIndex(0);
    Label1 = WrappedLabel(QStringLiteral("Settings regarding the download of Intel Hex-, Motorola "
                                         "S-Record- or ASCII-Files via the selected serial "
                                         "interface."),
                          TransferPage);
    GroupBox3 = new QGroupBox(QStringLiteral(" Handshake Sequence "), TransferPage);
    Label3 = new QLabel(QStringLiteral("&Sequence: "), GroupBox3);
    Label3->setTextFormat(Qt::PlainText);
    SyncEdit = new QLineEdit(GroupBox3);
    SyncBtn = FlatButton(QStringLiteral("&Default"), GroupBox3);
    Label3->setBuddy(SyncEdit);
    SyncEdit->setValidator(new TByteTextValidator(SyncEdit));
    SyncEdit->setMaxLength(TTransferSync::MaxSequenceLength);
    SyncEdit->setMinimumWidth(SyncEdit->fontMetrics().horizontalAdvance(QLatin1Char('W')) *
                              TTransferSync::MaxSequenceLength);
    QPalette maroon = SyncEdit->palette();
    maroon.setColor(QPalette::Text, QColor(128, 0, 0));
    SyncEdit->setPalette(maroon);
    SyncEdit->setEnabled(false);
    SyncBtn->setEnabled(false);

    auto* sequence = new QGridLayout(GroupBox3);
    sequence->addWidget(Label3, 0, 0);
    sequence->addWidget(SyncEdit, 0, 1);
    sequence->addWidget(SyncBtn, 1, 1, Qt::AlignRight);
    sequence->setRowStretch(2, 1);
    auto* groups = new QHBoxLayout;
    groups->addWidget(SyncBox, 1);
    groups->addWidget(GroupBox3, 1);
    auto* page = new QVBoxLayout(TransferPage);
    page->addLayout(groups, 1);
    page->addWidget(Label1);
    PageControl->addTab(TransferPage, QStringLiteral("Download"));
}

void TQxPreferences::ConnectHandlers() {
    for (TRadioGroup* group : {COMBox, BaudBox, ParityBox, FlowBox, ByteSizeBox, StopBitsBox})
        connect(group, &TRadioGroup::Changed, this, &TQxPreferences::ComParamsChanged);
    connect(BaudOtherEdit, &QLineEdit::textChanged, this, &TQxPreferences::ComParamsChanged);
    connect(COMBox, &TRadioGroup::Changed, this, &TQxPreferences::ShowChosenDevice);
    connect(RefreshDevicesBtn, &QToolButton::clicked, this, &TQxPreferences::FillDetectedDevices);
    connect(AssignDeviceBtn, &QToolButton::clicked, this, &TQxPreferences::AssignDeviceBtnClick);
    connect(EmulationBox, &TRadioGroup::Changed, this, &TQxPreferences::ConsoleParamsChanged);
    for (QCheckBox* box : {EchoBox, CRInBox, LFInBox, CROutBox, TimestampsBox})
        connect(box, &QCheckBox::toggled, this, &TQxPreferences::ConsoleParamsChanged);
    connect(SyncBox, &TRadioGroup::Changed, this, &TQxPreferences::TransferParamsChanged);
    connect(SyncEdit, &QLineEdit::textChanged, this, [this] {
        KeepSequenceLimit();
        TransferParamsChanged();
    });
    connect(Btn8N1, &QToolButton::clicked, this, &TQxPreferences::Btn8N1Click);
    connect(Btn7E2, &QToolButton::clicked, this, &TQxPreferences::Btn7E2Click);
    connect(MacroList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TQxPreferences::MacroSelect);
    connect(MacroList, &QListView::doubleClicked, this, &TQxPreferences::EditMacroBtnClick);
    connect(MacroUpBtn, &QToolButton::clicked, this, [this] { MoveMacroBtnClick(MacroUpBtn); });
    connect(MacroDownBtn, &QToolButton::clicked, this, [this] { MoveMacroBtnClick(MacroDownBtn); });
    connect(AddMacroBtn, &QToolButton::clicked, this, &TQxPreferences::AddMacroBtnClick);
    connect(EditMacroBtn, &QToolButton::clicked, this, &TQxPreferences::EditMacroBtnClick);
    connect(DeleteMacroBtn, &QToolButton::clicked, this, &TQxPreferences::DeleteMacroBtnClick);
    connect(SyncBtn, &QToolButton::clicked, this, &TQxPreferences::SyncBtnClick);
    connect(OKBtn, &QPushButton::clicked, this, &TQxPreferences::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TQxPreferences::reject);
}

void TQxPreferences::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Restoring a minimised dialog shows it again spontaneously; that is no
    // new showing and must not forget the changes made so far.
    if (event->spontaneous())
        return;
    FModified = false;
    FDevicePaths = TSettingsModel().DevicePaths();
    ShowDevicePaths();
    FillDetectedDevices();
    ShowChosenDevice();
    CenterOnScreen(this);
}

void TQxPreferences::ShowDevicePaths() {
    for (int port = poCOM1; port <= poCOM10; ++port)
        COMBox->Button(port)->setToolTip(DevicePathOf(port));
}

// The device a port stands for: one given in this dialog, else [Devices].
QString TQxPreferences::DevicePathOf(int port) const {
    return FDeviceAssignments.value(port, FDevicePaths.value(port));
}

void TQxPreferences::ShowChosenDevice() {
    const int port = COMBox->ItemIndex();
    if (port < 0)
        return;
    const QString path = DevicePathOf(port);
    DeviceLabel->setText(QStringLiteral("%1 (%2) stands for %3")
                             .arg(COMBox->SelectedText(), PresenceOf(path), path));
    AssignDeviceBtn->setText(QStringLiteral("&Use for %1").arg(COMBox->SelectedText()));
}

QString TQxPreferences::PresenceOf(const QString& path) {
    if (TNetworkLink::IsNetworkUrl(path))
        return QStringLiteral("network port");
    return QFileInfo::exists(path) ? QStringLiteral("present") : QStringLiteral("not present");
}

// A detected device by its stable path; anything else as typed, when it is
// a network port or an absolute path.
QString TQxPreferences::ChosenDevicePath() const {
    const QString text = DeviceBox->currentText().trimmed();
    const int detected = DeviceBox->findText(text);
    if (detected >= 0)
        return DeviceBox->itemData(detected).toString();
    if (TNetworkLink::IsNetworkUrl(text) || text.startsWith(u'/'))
        return text;
    return {};
}

void TQxPreferences::FillDetectedDevices() {
    DeviceBox->clear();
    for (const TPresentDevice& device : PresentSerialDevices())
        DeviceBox->addItem(device.DisplayName(), device.StablePath());
    if (DeviceBox->count() == 0)
        DeviceBox->lineEdit()->setPlaceholderText(
            QStringLiteral("no serial device found: type a device or rfc2217://host:port"));
    ShowChosenDevice();
}

void TQxPreferences::AssignDeviceBtnClick() {
    const int port = COMBox->ItemIndex();
    const QString path = ChosenDevicePath();
    if (port < 0 || path.isEmpty() || path == DevicePathOf(port))
        return;
    FDeviceAssignments[port] = path;
    ShowDevicePaths();
    ShowChosenDevice();
    ComParamsChanged();
}

// Records to controls. Setting a control raises its change handler as a
// user's change would; the constructor clears the flags afterwards.
void TQxPreferences::FillControls(const TSettingsRecords& records) {
    using M = TSettingsModel;
    const TComSettings& com = records.Com;
    COMBox->SetItemIndex(M::ItemOf(M::chPort, com.ComPort));
    BaudBox->SetItemIndex(M::ItemOf(M::chBaudrate, com.Baudrate));
    // A rate the buttons do not offer goes to the other field.
    BaudOtherEdit->setText(com.OtherBaudrate > 0 ? QString::number(com.OtherBaudrate) : QString());
    ByteSizeBox->SetItemIndex(M::ItemOf(M::chDatabits, com.Databits));
    StopBitsBox->SetItemIndex(M::ItemOf(M::chStopbits, com.StopBits));
    ParityBox->SetItemIndex(M::ItemOf(M::chParity, com.Parity));
    FlowBox->SetItemIndex(M::ItemOf(M::chFlowControl, com.FlowControl));
    const TTerminalSettings& terminal = records.Terminal;
    EmulationBox->SetItemIndex(
        M::ItemOf(M::chEmulation, terminal.VtEmulation ? 2 : terminal.HexEmulation ? 1 : 0));
    EchoBox->setChecked(terminal.LocalEcho);
    CRInBox->setChecked(terminal.CRLFIn);
    LFInBox->setChecked(terminal.LFIn);
    CROutBox->setChecked(terminal.CRLFOut);
    TimestampsBox->setChecked(terminal.Timestamps);
    QStringList macros;
    macros.reserve(terminal.Macros.size());
    for (const QByteArray& macro : terminal.Macros)
        macros.append(Cp1252ToString(macro));
    FMacros->setStringList(macros);
    SyncBox->SetItemIndex(records.Transfer.Mode);
    SetSequenceText(Cp1252ToString(records.SyncSequence));
}

// Controls to records; what no control shows stays as it was loaded.
TSettingsRecords TQxPreferences::TakenRecords() const {
    using M = TSettingsModel;
    TSettingsRecords records = FStored;
    TComSettings& com = records.Com;
    com.ComPort = static_cast<TComPort>(M::ValueOf(M::chPort, COMBox->ItemIndex()));
    com.Baudrate = static_cast<TBaudrate>(M::ValueOf(M::chBaudrate, BaudBox->ItemIndex()));
    com.OtherBaudrate = OtherBaudrate(BaudOtherEdit->text().toLatin1());
    com.Databits = static_cast<TDataBits>(M::ValueOf(M::chDatabits, ByteSizeBox->ItemIndex()));
    com.StopBits = static_cast<TStopBits>(M::ValueOf(M::chStopbits, StopBitsBox->ItemIndex()));
    com.Parity = static_cast<TParity>(M::ValueOf(M::chParity, ParityBox->ItemIndex()));
    com.FlowControl =
        static_cast<TFlowControl>(M::ValueOf(M::chFlowControl, FlowBox->ItemIndex()));
    TTerminalSettings& terminal = records.Terminal;
    terminal.Macros.clear();
    for (const QString& macro : FMacros->stringList())
        terminal.Macros.append(StringToCp1252(macro, TUnmappable::Drop));
    terminal.LocalEcho = EchoBox->isChecked();
    const int emulation = M::ValueOf(M::chEmulation, EmulationBox->ItemIndex());
    terminal.HexEmulation = emulation == 1;
    terminal.VtEmulation = emulation == 2;
    terminal.CRLFIn = CRInBox->isChecked();
    terminal.LFIn = LFInBox->isChecked();
    terminal.CRLFOut = CROutBox->isChecked();
    terminal.Timestamps = TimestampsBox->isChecked();
    records.Transfer.Mode = static_cast<TSyncMode>(std::max(SyncBox->ItemIndex(), 0));
    // The record holds the first characters, the file the whole field.
    records.SyncSequence = StringToCp1252(SyncEdit->text(), TUnmappable::Drop);
    records.Transfer.Sequence = records.SyncSequence.left(TTransferSync::MaxSequenceLength);
    records.Devices = FDeviceAssignments;
    return records;
}

// At most MaxSequenceLength characters can be typed, but a longer sequence
// from the file is shown whole; the limit then follows the text down as
// characters are deleted.
void TQxPreferences::SetSequenceText(const QString& text) {
    SyncEdit->setMaxLength(std::max<int>(TTransferSync::MaxSequenceLength, text.size()));
    SyncEdit->setText(text);
}

void TQxPreferences::KeepSequenceLimit() {
    const int limit = std::max<int>(TTransferSync::MaxSequenceLength, SyncEdit->text().size());
    if (SyncEdit->maxLength() != limit)
        SyncEdit->setMaxLength(limit);
}

void TQxPreferences::ComParamsChanged() {
    ComSettings.Changed = true;
    FModified = true;
}

void TQxPreferences::ConsoleParamsChanged() {
    TerminalSettings.Changed = true;
    FModified = true;
}

void TQxPreferences::TransferParamsChanged() {
    TransferSync.Changed = true;
    FModified = true;
    const bool handshake = SyncBox->ItemIndex() == smAcknowledged;
    SyncEdit->setEnabled(handshake);
    SyncBtn->setEnabled(handshake);
}

void TQxPreferences::Btn8N1Click() {
    SetLineFormat(db8, paNONE, sb10);
}

void TQxPreferences::Btn7E2Click() {
    SetLineFormat(db7, paEVEN, sb20);
}

void TQxPreferences::SetLineFormat(TDataBits dataBits, TParity parity, TStopBits stopBits) {
    using M = TSettingsModel;
    ParityBox->SetItemIndex(M::ItemOf(M::chParity, parity));
    ByteSizeBox->SetItemIndex(M::ItemOf(M::chDatabits, dataBits));
    StopBitsBox->SetItemIndex(M::ItemOf(M::chStopbits, stopBits));
}

int TQxPreferences::SelectedMacro() const {
    const QModelIndexList selected = MacroList->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TQxPreferences::SelectMacro(int index) {
    if (index < 0)
        MacroList->selectionModel()->clear();
    else
        MacroList->selectionModel()->setCurrentIndex(FMacros->index(index),
                                                     QItemSelectionModel::ClearAndSelect);
}

void TQxPreferences::MacroSelect() {
    const int index = SelectedMacro();
    const int count = FMacros->rowCount();
    EditMacroBtn->setEnabled(index >= 0);
    DeleteMacroBtn->setEnabled(index >= 0);
    MacroUpBtn->setEnabled(index > 0);
    MacroDownBtn->setEnabled(index >= 0 && index < count - 1);
}

void TQxPreferences::MoveMacroBtnClick(const QToolButton* sender) {
    const int index = SelectedMacro();
    const int target = sender == MacroUpBtn ? index - 1 : index + 1;
    if (index < 0 || target < 0 || target >= FMacros->rowCount())
        return;
    const QModelIndex from = FMacros->index(index);
    const QModelIndex to = FMacros->index(target);
    const QVariant moved = from.data();
    FMacros->setData(from, to.data());
    FMacros->setData(to, moved);
    SelectMacro(target);
    MacroSelect();
    ConsoleParamsChanged();
}

void TQxPreferences::AddMacroBtnClick() {
    TQxMacroEdit editor(this);
    editor.SetMacro(QByteArray());
    if (editor.exec() != TQxMacroEdit::mrOk)
        return;
    const int row = FMacros->rowCount();
    FMacros->insertRows(row, 1);
    FMacros->setData(FMacros->index(row), Cp1252ToString(editor.Macro()));
    // A macro below the selected one may now exist: the move down button
    // must follow.
    MacroSelect();
    ConsoleParamsChanged();
}

void TQxPreferences::EditMacroBtnClick() {
    const int index = SelectedMacro();
    if (index < 0)
        return;
    TQxMacroEdit editor(this);
    editor.SetMacro(StringToCp1252(FMacros->index(index).data().toString(), TUnmappable::Drop));
    if (editor.exec() != TQxMacroEdit::mrOk)
        return;
    FMacros->setData(FMacros->index(index), Cp1252ToString(editor.Macro()));
    SelectMacro(index);
    ConsoleParamsChanged();
}

void TQxPreferences::DeleteMacroBtnClick() {
    const int index = SelectedMacro();
    if (index < 0)
        return;
    FMacros->removeRows(index, 1);
    SelectMacro(-1);
    MacroSelect();
    ConsoleParamsChanged();
}

void TQxPreferences::SyncBtnClick() {
    SetSequenceText(QString::fromLatin1(TSettingsModel::Desc(TSettingsModel::skSyncSequ).Default));
}

void TQxPreferences::OKBtnClick() {
    if (!FModified) {
        accept();
        return;
    }
    const TSettingsRecords records = TakenRecords();
    UseSettings(records);
    TSettingsModel settings;
    TProfileWriteError error{settings.FileName(),
                             QStringLiteral("The file could not be read: %1").arg(FLoadError)};
    if (FLoadError.isEmpty()) {
        if (settings.Save(records)) {
            ClearRunOverrides();
            accept();
            return;
        }
        error = settings.WriteError();
    }
    // The dialog keeps its own message; the detail names the file that
    // failed and why, which is what the user can act on.
    Interaction().Warning(this,
                          QStringLiteral("Incorrect settings!\r\nPlease check all parameters."),
                          error.Text() + QStringLiteral("\n") + error.Reason);
}
