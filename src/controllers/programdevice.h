#pragma once

#include "controllers/keyimage.h"
#include "controllers/pendingchanges.h"
#include "journal/journal.h"
#include "shared/publictypes.h"

#include <QDialog>

#include <memory>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class TCardPollerLink;
class TProfileSession;
struct TCardOnAdapter;

// Writes one controller's access list into a DS1993 memory key: waits until a key lies on the
// adapter, builds the key image from the database, has the card poller write it page by page and
// read it back, and then no longer counts the controller as changed.
//
//   Waiting  -- a DS1993 -->  Writing  -- image on the key -->  Done (closes)
//      ^                         |
//      +--- write/verify failed -+
//   Stalled: a read error, a bad code or card, too many cards or a failed card query; the
//   dialog stops polling until Cancel, since the same key would fail the same way again.
//
// The card poller (object name "CardPoller") does the adapter's work on the adapter thread;
// the dialog only shows what it reports.
//
// "Read key..." (not while writing) shows what the key holds in the read window over the dialog;
// the dialog does not look at the adapter while that window is open, so a key laid on to be read
// is not written, and it goes on as before once the window is closed.
class TfrmProgramDevice : public QDialog {
    Q_OBJECT
public:
    TfrmProgramDevice(TProfileSession& session, const TRunSettings& settings,
                      QWidget* parent = nullptr);
    ~TfrmProgramDevice() override;

    PStandController Controller = nullptr;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QLabel* lblFamily;
    QLabel* lblROM;
    QLabel* lblStatusText;
    QProgressBar* ProgressBar;
    QPushButton* cmdReadKey;
    QPushButton* cmdCancel;

    void cmdReadKeyClick();
    void cmdCancelClick();

    QHBoxLayout* BuildKeyRow();
    QVBoxLayout* BuildProgress();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    void OpenPoller();
    void CardRead(const TCardOnAdapter& card);
    void ProgramKey(const TCardOnAdapter& key);
    void KeyWritten(int result);
    void ReaderFailed();
    void BackToWaiting();
    bool Writing() const;
    void ReadKeyClosed(bool resumePolling);
    void ListenToPoller();

    TProfileSession& FSession;
    const TRunSettings& FSettings;
    // None when the reader could not be made. The read window borrows it while it is open.
    TCardPollerLink* FPoller = nullptr;
    // Stays: a close asked for mid-write waits for the outcome that says if the key is usable.
    bool FCloseWhenDone = false;
    // The controller's mark as read with the image being written, and the write's journal entry.
    TMarkState FBuiltMark;
    TJournalEntry FWriteEntry;
};
