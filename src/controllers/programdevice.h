#pragma once

#include "controllers/keyimage.h"
#include "shared/publictypes.h"

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TReaderInterface;

// Writes one controller's access list into a DS1993 memory key: waits until a key lies on the
// adapter, builds the key image from the database, writes it page by page, reads it back, and
// then no longer counts the controller as changed.
//
//   Waiting  -- a DS1993 -->  Writing  -- image on the key -->  Done (closes)
//      ^                         |
//      +--- write/verify failed -+
//   Stalled: a read error, a bad code or card, too many cards or a failed card query; the
//   dialog stops polling until Cancel, since the same key would fail the same way again.
class TfrmProgramDevice : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgramDevice(QWidget* parent = nullptr);
    ~TfrmProgramDevice() override;

    void WaitTimerTimer();
    void cmdCancelClick();

    std::unique_ptr<TReaderInterface> Reader;
    PStandController Controller = nullptr;

    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QLabel* lblFamily;
    QLabel* lblROM;
    QLabel* lblStatusText;
    QProgressBar* ProgressBar;
    QPushButton* cmdCancel;
    QTimer* WaitTimer;

    static constexpr int WaitInterval = 100; // ms between looks at the adapter

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void ProgramKey(const QString& cardNumber);
    // The zone's card numbers; false (with the message shown) when the database did not answer.
    bool ReadZoneCards(int zone, QStringList& cards);
    void BackToWaiting();

    bool FWriting = false;
    bool FCloseWhenDone = false;
};
