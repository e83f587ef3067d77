#include "reader/pickadapter.h"

#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/publictypes.h"

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

TfrmPickAdapter::TfrmPickAdapter(QWidget* owner) : QDialog(owner) {
    setObjectName("frmPickAdapter");
    // English in every language: the window translator leaves this dialog alone.
    setProperty("vyrNoTranslate", true);
    setWindowTitle("Select adapter");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

    pnlHeader = new QWidget(this);
    pnlHeader->setObjectName("pnlHeader");
    pnlHeader->setAutoFillBackground(true);
    QPalette headerPalette = pnlHeader->palette();
    headerPalette.setColor(QPalette::Window, Qt::white);
    headerPalette.setColor(QPalette::WindowText, Qt::black);
    pnlHeader->setPalette(headerPalette);
    lblTitle = new QLabel("Select adapter", pnlHeader);
    lblTitle->setObjectName("lblTitle");
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblSubtitle = new QLabel("Select the adapter to use for reading 1wire devices", pnlHeader);
    lblSubtitle->setObjectName("lblSubtitle");
    auto* headerLayout = new QVBoxLayout(pnlHeader);
    headerLayout->addWidget(lblTitle);
    headerLayout->addWidget(lblSubtitle);

    cboAdapterType = new QComboBox(this);
    cboAdapterType->setObjectName("cboAdapterType");
    cboAdapterType->addItems({"Serial", "USB"});
    cboAdapterType->setCurrentIndex(UsbItem);
    lblAdapterType = new QLabel("Type:", this);
    lblAdapterType->setObjectName("lblAdapterType");
    lblAdapterType->setBuddy(cboAdapterType);

    cboAdapterPort = new QComboBox(this);
    cboAdapterPort->setObjectName("cboAdapterPort");
    for (int port = 0; port < PortCount; ++port)
        cboAdapterPort->addItem(QString::number(port));
    cboAdapterPort->setCurrentIndex(0);
    lblAdapterPort = new QLabel("Port:", this);
    lblAdapterPort->setObjectName("lblAdapterPort");
    lblAdapterPort->setBuddy(cboAdapterPort);

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton("Cancel", this);
    cmdCancel->setObjectName("cmdCancel");

    auto* fields = new QFormLayout;
    fields->addRow(lblAdapterType, cboAdapterType);
    fields->addRow(lblAdapterPort, cboAdapterPort);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pnlHeader);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 12, 12, 12);
    body->addLayout(fields);
    body->addLayout(buttons);
    layout->addLayout(body);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate();
    // Connected after FormCreate: only the operator's choice moves the port, not the start values.
    connect(cboAdapterType, &QComboBox::currentIndexChanged, this,
            [this] { cboAdapterTypeChange(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOKClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
}

void TfrmPickAdapter::FormCreate() {
    cboAdapterType->setCurrentIndex(AppSettings.DriverAdapter == SerialPortType ? SerialItem
                                                                                : UsbItem);
    const int32_t port = AppSettings.DriverPort;
    cboAdapterPort->setCurrentIndex(port >= 0 && port < PortCount ? port : -1);
}

void TfrmPickAdapter::cboAdapterTypeChange() {
    if (cboAdapterType->currentIndex() == UsbItem)
        cboAdapterPort->setCurrentIndex(UsbDefaultPort);
}

void TfrmPickAdapter::cmdOKClick() {
    const IniFile settingsFile(SettingsFileName());
    TAppSettings chosen = AppSettings;
    chosen.DriverArc = "32";
    const int type = cboAdapterType->currentIndex();
    if (type == SerialItem || type == UsbItem) {
        chosen.DriverAdapter = type == SerialItem ? SerialPortType : UsbPortType;
        // -1 when no port is selected, which only a stored port outside 0 to 30 leads to.
        chosen.DriverPort = cboAdapterPort->currentIndex();
    }
    // The file first: when a write throws, the program must not go on with settings that the
    // next start would not find.
    settingsFile.WriteString("driver", "arc", chosen.DriverArc);
    settingsFile.WriteInteger("driver", "adapter", chosen.DriverAdapter);
    settingsFile.WriteInteger("driver", "port", chosen.DriverPort);
    AppSettings = chosen;
    accept();
}

void TfrmPickAdapter::cmdCancelClick() {
    reject();
}
