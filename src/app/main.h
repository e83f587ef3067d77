#pragma once

#include <QMainWindow>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QWidget;
class TMyLogger;

// The one window that lives for the whole run: the controller list of the chosen profile.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Runs the start-up sequence; false when the program must end before the window comes up.
    bool FormCreate();
    QString getDataDir() const;

    // Controller list (kept in src/controllers/controllerlist.cpp).
    void LoadControllers();
    void ShowControllers();
    void CountCards();
    void FreeControllers();
    int ChangedControllerCount() const;
    void ReloadControllers(); // LoadControllers, ShowControllers, CountCards

    void ApplyLanguage(bool FirstTime);
    void mnuLanguageEnglishClick();
    void mnuLanguageDutchClick();
    void mnuFileProfilesClick();
    void mnuFileAdapterClick();
    void mnuFileOptionsClick();
    void mnuFileExitClick();
    void mnuHelpAboutClick();
    void cmdAddControllerClick();
    void cmdCardholdersClick();
    bool FormCloseQuery();

    // The adapter test of start-up: true when a reader could set up its session.
    static bool TestAdapter(QWidget* owner);

    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QPushButton* cmdAddController;
    QPushButton* cmdCardholders;
    QTreeWidget* VSTControllers;
    QStatusBar* StatusBar;
    QMenu* mnuFile;
    QAction* mnuFileProfiles;
    QAction* mnuFileAdapter;
    QAction* mnuFileOptions;
    QAction* N1;
    QAction* mnuFileExit;
    QMenu* mnuLanguage;
    QAction* mnuLanguageEnglish;
    QAction* mnuLanguageDutch;

    std::unique_ptr<TMyLogger> AppLog;

protected:
    void closeEvent(class QCloseEvent* event) override;

private:
    void BuildControllerList();
    void RefreshTitles();
    void FormDestroy();
    QString FProfileName;
    bool FStarted = false;
};
