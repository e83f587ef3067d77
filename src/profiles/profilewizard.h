#pragma once

#include "profiles/profilecreationjob.h"
#include "profiles/serverprobe.h"

#include <QDialog>

#include <functional>
#include <memory>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QWidget;
class TDesktop;

// Creates one profile: its database (from the template, a chosen database, or the older software's
// files) and the profile file that names it.
class TfrmProfileWizard : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProfileWizard(TDesktop& desktop, QWidget* parent = nullptr,
                               TLegacyImporter legacyImport = ImportLegacyFiles);

    QList<QWidget*> Steps;
    int CurrentStep = 0;

    // Ignored while Finish works: the window must not close under a running import.
    void reject() override;

signals:
    // A call-off left work running that ends, and goes, by itself: `job` is gone once it ended.
    void WorkLeft(QObject* job);

private:
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QPushButton* cmdCancel;
    QPushButton* cmdBack;
    QPushButton* cmdNext;

    QWidget* pnlStep0;
    QLabel* lblWelcome;
    QLabel* lblIntro;
    QWidget* pnlStep1;
    QLabel* Label1;
    QRadioButton* dbTypeMSAccess;
    QRadioButton* dbTypeMySQL;
    QRadioButton* dbTypeServer;
    QLabel* lblConnection;
    QLineEdit* txtConnection;
    QPushButton* cmdTestConnection;
    QLabel* lblServerFound;
    QWidget* pnlStep2;
    QLabel* Label2;
    QRadioButton* dbNew;
    QRadioButton* dbExisting;
    QLineEdit* txtExistingDB;
    QPushButton* cmdBrowseExistingDB;
    QRadioButton* dbBSTFiles;
    QLineEdit* txtBSTDBFiles;
    QPushButton* cmdBrowseBSTFiles;
    QWidget* pnlStep3;
    QLabel* Label3;
    QRadioButton* dbLocationDefault;
    QRadioButton* dbLocationCustom;
    QLineEdit* txtDBLocation;
    QPushButton* cmdDBSaveBrowse;
    QLabel* lblDBLocation;
    QWidget* pnlStep4;
    QLabel* Label6;
    QLabel* Label7;
    QLineEdit* txtProfileName;
    QLabel* lblProfileLocation;
    QWidget* pnlFinish;
    QLabel* Label9;
    QLabel* Label10;
    QProgressBar* prgImport; // on the closing page, shown while the older software's files import

    void ShowStep(int n);
    void cmdNextClick();
    void cmdBackClick();
    void dbNewClick();
    void dbExistingClick();
    void dbBSTFilesClick();
    void cmdBrowseExistingDBClick();
    void cmdBrowseBSTFilesClick();
    void txtProfileNameChange();
    void DatabaseTypeChange();
    void cmdTestConnectionClick();
    bool OnServer() const;

    void BuildPages();
    QWidget* BuildWelcomePage();
    QWidget* BuildDatabaseTypePage();
    QWidget* BuildSourcePage();
    QWidget* BuildLocationPage();
    QWidget* BuildNamePage();
    QWidget* BuildFinishPage();
    QHBoxLayout* BuildButtonRow();
    void ConnectHandlers();
    void Finish();
    void StartJob(std::unique_ptr<TProfileCreationJob> job);
    void FinishEnded(const TProfileCreationOutcome& outcome);
    // What the operator is asked about a leftover database of the new profile's name, saying
    // what becomes of the source chosen on page 2.
    QString LeftoverQuestion(const QString& database, const TProfileCreation& creation) const;
    void BackToNamePage();
    TDesktop& FDesktop;
    TLegacyImporter FLegacyImport;
    // The profile being made, from Finish until its outcome is in. A wizard destroyed meanwhile
    // calls it off (see TProfileCreationJob).
    std::unique_ptr<TProfileCreationJob> FJob;
    TServerProbeJob* FProbe;
    QStackedWidget* FContent;
};
