#pragma once

#include "profiles/legacyimport.h"

#include <QDialog>

#include <functional>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QWidget;
class TDesktop;
struct TProfileCreation;

// The import of the older software's files into a new database. It gets the database under its
// temporary name, before the database gets its own name and before any profile file names it,
// and opens its own connection on it. Throwing VyrError abandons the profile: nothing of it is
// left.
using TLegacyImporter =
    std::function<TLegacyImportSummary(const QString& autonoomPath, const QString& databasePath,
                                       const TLegacyImportProgress& progress)>;

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
    // What the operator is asked about a leftover database of the new profile's name, saying
    // what becomes of the source chosen on page 2.
    QString LeftoverQuestion(const QString& database, const TProfileCreation& creation) const;
    void BackToNamePage();
    TDesktop& FDesktop;
    TLegacyImporter FLegacyImport;
    bool FFinishing = false;
    QStackedWidget* FContent;
};
