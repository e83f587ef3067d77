#pragma once

#include "profiles/VYRStandProfile.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TServerProbeJob;
class TSiteMoveJob;

// Asks for the server a profile's site moves to, lets the operator test it, and moves the site
// there (TSiteMoveJob) while the window goes on answering.
class TfrmMoveToServer : public QDialog {
    Q_OBJECT
public:
    TfrmMoveToServer(const TVYRStandProfile& profile, QWidget* parent = nullptr);
    ~TfrmMoveToServer() override;

    // After Accepted: the profile as its file now reads.
    const TVYRStandProfile& Moved() const { return FMoved; }

    // While the move connects, calls it off and closes at once; once it copies, calls it off and
    // waits for its end: it ends undone or done, never half.
    void reject() override;

signals:
    // A call-off left work running that ends, and goes, by itself: `job` is gone once it ended.
    void WorkLeft(QObject* job);

private:
    void cmdTestClick();
    void cmdMoveClick();
    void MoveEnded(const QString& error);
    void SetWorking(bool working);

    QLabel* lblConnection;
    QLineEdit* txtConnection;
    QPushButton* cmdTest;
    QLabel* lblFound;
    QProgressBar* prgMove;
    QPushButton* cmdMove;
    QPushButton* cmdCancel;
    TVYRStandProfile FProfile;
    TVYRStandProfile FMoved;
    TServerProbeJob* FProbe;
    std::unique_ptr<TSiteMoveJob> FJob;
};
