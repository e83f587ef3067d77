#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TDesktop;
class TReaderInterface;

// Tells whose card a card is: presented on the reader or typed, the number is looked up among
// the cardholders, and a found card can be opened in the cardholder dialog.
class TfrmCardIdent : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCardIdent(TDesktop& desktop, QWidget* parent = nullptr);
    ~TfrmCardIdent() override;

    void TimerTimer();
    void cmdIdentClick();
    void cmdEditClick();

    std::unique_ptr<TReaderInterface> Reader;
    bool CloseByEdit = false;

    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QLabel* Label1;
    QLabel* lblCardnum;
    QLineEdit* txtCardnum;
    QPushButton* cmdIdent;
    QCheckBox* chkReverse;
    QLabel* lblDatabase;
    QLabel* lblDatabaseVal;
    QGroupBox* grpCardInfo;
    QLabel* Label2;
    QLabel* lblCard;
    QLabel* lblName;
    QPushButton* cmdEdit;
    QPushButton* cmdClose;
    QTimer* Timer;

private:
    void FormCreate();
    void FormDestroy();
    // Looks `number` up and shows the outcome.
    void ShowLookup(const QString& number);

    TDesktop& FDesktop;
};
