#pragma once

#include <QDialog>

#include <array>

class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TDesktop;

// The operator's names for the four free fields of a cardholder, and the data directory.
class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(TDesktop& desktop, QWidget* parent = nullptr);

private:
    QGroupBox* grpOptions;
    std::array<QLabel*, 4> lblCustom;
    std::array<QLineEdit*, 4> txtCustom;
    QLabel* lblIntro;
    QLabel* Label1;
    QLineEdit* txtDataDir;
    QPushButton* cmdOpenDataDir;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void cmdOKClick();
    void cmdOpenDataDirClick();

    void BuildCaptionFields(QGridLayout* grid);
    void BuildDataDirRow(QGridLayout* grid);
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    TDesktop& FDesktop;
};
