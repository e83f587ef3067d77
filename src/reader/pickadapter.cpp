#include "reader/pickadapter.h"

#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/settings.h"
#include "shared/windowparts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Positions in cboAdapterType.
constexpr int SerialItem = 0;
constexpr int UsbItem = 1;
constexpr int UsbDefaultPort = 1;

} // namespace

TfrmPickAdapter::TfrmPickAdapter(TRunSettings& settings, QWidget* owner)
    : QDialog(owner), FSettings(settings) {
    setObjectName("frmPickAdapter");
    // English in every language: the window translator leaves this dialog alone.
    setProperty("vyrNoTranslate", true);
    setWindowTitle("Select adapter");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

    BuildHeader();
    QFormLayout* fields = BuildFields();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* body = new QVBoxLayout;
    body->addLayout(fields);
    body->addLayout(buttons);
    BandOverBody(this, pnlHeader, body, {12, 12, 12, 12})->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate();
    // Connected after FormCreate: only the operator's choice moves the port, not the start values.
    connect(cboAdapterType, &QComboBox::currentIndexChanged, this,
            [this] { cboAdapterTypeChange(); });
}

void TfrmPickAdapter::BuildHeader() {
    const TTitleBand band =
        NewTitleBand(this, "Select adapter", "Select the adapter to use for reading 1wire devices",
                     {.PanelName = "pnlHeader", .SubTitleName = "lblSubtitle"});
    pnlHeader = band.Panel;
    lblTitle = band.Title;
    lblSubtitle = band.SubTitle;
    // Black on the white band whatever the desktop's colours are.
    QPalette headerPalette = pnlHeader->palette();
    headerPalette.setColor(QPalette::WindowText, Qt::black);
    pnlHeader->setPalette(headerPalette);
}

QFormLayout* TfrmPickAdapter::BuildFields() {
    cboAdapterType = Named(new QComboBox(this), "cboAdapterType");
    cboAdapterType->addItems({"Serial", "USB"});
    cboAdapterType->setCurrentIndex(UsbItem);
    lblAdapterType = NewLabel("lblAdapterType", "Type:", this);
    lblAdapterType->setBuddy(cboAdapterType);

    cboAdapterPort = Named(new QComboBox(this), "cboAdapterPort");
    for (int port = 0; port < PortCount; ++port)
        cboAdapterPort->addItem(QString::number(port));
    cboAdapterPort->setCurrentIndex(0);
    lblAdapterPort = NewLabel("lblAdapterPort", "Port:", this);
    lblAdapterPort->setBuddy(cboAdapterPort);

    auto* fields = new QFormLayout;
    fields->addRow(lblAdapterType, cboAdapterType);
    fields->addRow(lblAdapterPort, cboAdapterPort);
    return fields;
}

QHBoxLayout* TfrmPickAdapter::BuildButtonRow() {
    cmdOK = NewButton("cmdOK", "OK", this);
    cmdOK->setDefault(true);
    cmdCancel = NewButton("cmdCancel", "Cancel", this);
    // A settings file that cannot be written is reported here; the dialog then stays open.
    connect(cmdOK, &QPushButton::clicked, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { cmdOKClick(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
    return RightAlignedRow({cmdOK, cmdCancel});
}

void TfrmPickAdapter::FormCreate() {
    cboAdapterType->setCurrentIndex(FSettings.Driver.DriverAdapter == SerialPortType ? SerialItem
                                                                                     : UsbItem);
    const int32_t port = FSettings.Driver.DriverPort;
    cboAdapterPort->setCurrentIndex(port >= 0 && port < PortCount ? port : -1);
}

void TfrmPickAdapter::cboAdapterTypeChange() {
    if (cboAdapterType->currentIndex() == UsbItem)
        cboAdapterPort->setCurrentIndex(UsbDefaultPort);
}

void TfrmPickAdapter::cmdOKClick() {
    TAppSettings chosen = FSettings.Driver;
    chosen.DriverArc = "32";
    const int type = cboAdapterType->currentIndex();
    if (type == SerialItem || type == UsbItem) {
        chosen.DriverAdapter = type == SerialItem ? SerialPortType : UsbPortType;
        // -1 when no port is selected, which only a stored port outside 0 to 30 leads to.
        chosen.DriverPort = cboAdapterPort->currentIndex();
    }
    // The file first: when a write throws, the program must not go on with settings that the
    // next start would not find.
    Settings::SetDriver(chosen);
    FSettings.Driver = chosen;
    accept();
}

void TfrmPickAdapter::cmdCancelClick() {
    reject();
}
