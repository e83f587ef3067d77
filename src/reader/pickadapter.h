#pragma once

#include <QDialog>

class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;
struct TRunSettings;

// Lets the operator choose the 1-Wire adapter: its type (serial or USB) and port number. The
// choice goes into the run's settings and the [driver] section of the settings file; readers
// created afterwards use it, a reader that already exists keeps what it was created with.
//
// The dialog shows its English texts in every language.
class TfrmPickAdapter : public QDialog {
    Q_OBJECT

public:
    // TMEX port types this dialog writes.
    static constexpr int SerialPortType = 5;
    static constexpr int UsbPortType = 6;
    static constexpr int PortCount = 31; // ports 0 to 30

    explicit TfrmPickAdapter(TRunSettings& settings, QWidget* owner = nullptr);

private:
    // Shows the current settings: "Serial" for port type 5, "USB" for anything else (the default
    // port type 0 included), and the stored port, none when it lies outside 0 to 30.
    void FormCreate();
    // Choosing "USB" moves to port 1, where a USB adapter normally is; "Serial" keeps the port.
    void cboAdapterTypeChange();
    // Writes the choice to the settings file, then takes it over into the run's settings, and
    // closes. A failed write throws VyrError and leaves the run's settings as they were.
    void cmdOKClick();
    void cmdCancelClick();

    QWidget* pnlHeader;
    QLabel* lblTitle;
    QLabel* lblSubtitle;
    QLabel* lblAdapterType;
    QComboBox* cboAdapterType;
    QLabel* lblAdapterPort;
    QComboBox* cboAdapterPort;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void BuildHeader();
    QFormLayout* BuildFields();
    QHBoxLayout* BuildButtonRow();
    TRunSettings& FSettings;
};
