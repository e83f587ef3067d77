#pragma once

#include "shared/publictypes.h"

#include <QDialog>

#include <optional>

#include <functional>
#include <memory>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TCardPollerLink;
class TDesktop;
struct TCardHolderSave;
class TCardHolderReadBackWrite;
class TCardHolderSaveWrite;
class TSiteWrite;
class TProfileSession;
struct TSheetTexts;

// Adds one cardholder or edits an existing one (after LoadCard). The card number comes from the
// reader (through the card poller, object name "CardPoller") or, for a new cardholder, from a
// typed number; "OK" hands the cardholder to the open profile's writer, and the dialog says that it
// is saving until the outcome came (Cancel closes it meanwhile; the save goes on).
class TfrmCardHolder : public QDialog {
    Q_OBJECT
public:
    TfrmCardHolder(TDesktop& desktop, TProfileSession& session, const TRunSettings& settings,
                   QWidget* parent = nullptr);
    ~TfrmCardHolder() override;

    // Puts the dialog into edit mode for the cardholder with this number, when there is one.
    void LoadCard(const QString& CardNumber);

    // What the dialog shows, as it would save it; openers read it after "OK".
    TCardHolder ShownCardHolder() const;

    void FormActivate();

    bool CardEdit = false;
    QString CardEditNumber;

protected:
    bool event(QEvent* event) override;

private:
    // The printed sheet shows what the dialog shows, captions included.
    friend TSheetTexts SheetTextsOf(const TfrmCardHolder& dialog);

    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QPushButton* cmdPrintList;
    QPushButton* cmdSavePDF;
    QTabWidget* PageControl;
    QWidget* tabCard;
    QLabel* lblCardHolderName;
    QLineEdit* txtCardHolder;
    QLabel* lblCustom1;
    QLabel* lblCustom2;
    QLabel* lblCustom3;
    QLabel* lblCustom4;
    QLineEdit* txtCustom1;
    QLineEdit* txtCustom2;
    QLineEdit* txtCustom3;
    QLineEdit* txtCustom4;
    QLabel* lblCardNumber;
    QLabel* lblCardNumberVal;
    QLabel* lblCardStatus;
    QLabel* lblCardStatusVal;
    QPushButton* cmdReplaceCard;
    QPushButton* cmdReplaceCancel;
    QLabel* lblCustomCardNumber;
    QLineEdit* txtCustomCardNumber;
    QPushButton* cmdCustomNumberCheck;
    QCheckBox* chkReverse;
    QPushButton* cmdHistory;
    QLabel* lblSaving;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void cmdCustomNumberCheckClick();
    void cmdReplaceCardClick();
    void cmdReplaceCancelClick();
    void cmdOKClick();
    void cmdHistoryClick();
    void cmdPrintListClick();
    void cmdSavePDFClick();

    void BuildSheetButtons(QHBoxLayout* bandRow);
    QTabWidget* BuildUserPage();
    QGridLayout* BuildHolderFields();
    QGridLayout* BuildCardGroup();
    QHBoxLayout* BuildTypedNumberRow();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    // A card the poller read; taken unless it is the number shown.
    void CardRead(const QString& number);
    // Shows a number and tells whether it is already taken.
    void ShowCardNumber(const QString& number);
    void UpdateOKButton();
    void ShowNumberTaken();
    // Hands the save to the session's writer; SaveEnded follows. `replacing`: the live holder of
    // the number whom the operator agreed to replace.
    void StartSave(const TCardHolder& record, const std::optional<TCardHolder>& replacing);
    void StartWrite(const std::shared_ptr<TSiteWrite>& write);
    void WriteEnded(const std::shared_ptr<TSiteWrite>& write);
    void SaveEnded(const TCardHolderSaveWrite& write);
    // A save whose outcome is unknown: "OK" waits until the record was read back; then the dialog
    // closes if it was saved after all, or stays with what the operator typed.
    void SettleUnknownSave(const TCardHolder& record, const QString& error);
    void StartReadBack();
    void ReadBack(const TCardHolderReadBackWrite& write);

    void ShowSaveFailure(const TCardHolderSave& saved);

    TDesktop& FDesktop;
    TProfileSession& FSession;
    const TRunSettings& FSettings;
    TCardPollerLink* FPoller = nullptr; // none when the reader could not be made

    bool FNumberShown = false; // a card number, not "Waiting for card"
    bool FNumberTaken = false; // the status says "Card already in database"
    // The cardholder as loaded for editing: a save goes through only while the database still
    // holds it.
    TCardHolder FLoaded;
    // What a save with an unknown outcome tried to store; "OK" is held while it is being settled.
    std::optional<TCardHolder> FUnsettled;
    // The change the session's writer runs for this dialog; none when it is not waiting for one.
    std::shared_ptr<TSiteWrite> FWrite;
};
