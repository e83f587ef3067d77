#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;

// The operator's names for the four free fields of a cardholder, and the data directory.
class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    QGroupBox* grpOptions;
    std::array<QLabel*, 4> lblCustom;
    std::array<QLineEdit*, 4> txtCustom;
    QLabel* lblIntro;
    QLabel* Label1;
    QLineEdit* txtDataDir;
    QPushButton* cmdOpenDataDir;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    // Hands a folder to the desktop's file manager; replaceable so tests open nothing.
    static std::function<bool(const QUrl& url)> OpenUrl;

    void cmdOKClick();
    void cmdOpenDataDirClick();

private:
    void BuildCaptionFields(QGridLayout* grid);
    void BuildDataDirRow(QGridLayout* grid);
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
};
