#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TCardPollerLink;
class TDesktop;
class TProfileSession;
struct TRunSettings;

// Tells whose card a card is: presented on the reader (through the card poller, object name
// "CardPoller") or typed, the number is looked up among the cardholders, and a found card can be
// opened in the cardholder dialog.
class TfrmCardIdent : public QDialog {
    Q_OBJECT
public:
    TfrmCardIdent(TDesktop& desktop, TProfileSession& session, const TRunSettings& settings,
                  QWidget* parent = nullptr);
    ~TfrmCardIdent() override;

    bool CloseByEdit = false;

private:
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

    void cmdIdentClick();
    void cmdEditClick();

    QHBoxLayout* BuildNumberRow();
    QHBoxLayout* BuildDatabaseRow();
    QGroupBox* BuildCardInfoGroup();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    // A card the poller read; looked up unless it is the number shown.
    void CardRead(const QString& number);
    // Looks `number` up and shows the outcome.
    void ShowLookup(const QString& number);

    TDesktop& FDesktop;
    TProfileSession& FSession;
    const TRunSettings& FSettings;
    TCardPollerLink* FPoller = nullptr; // none when the reader could not be made
};
