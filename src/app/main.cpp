#include "app/main.h"

#include "app/About.h"
#include "app/MyLogger.h"
#include "app/options.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "journal/history.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/login.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilesession.h"
#include "profiles/profilewizard.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/settings.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr const char* StartEntry = "Application start - V0.9";
constexpr uint32_t LogLineLimit = 10000;

QAction* MenuAction(QMenu* menu, const char* text, const char* name) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
}
} // namespace

TfrmMain::TfrmMain(TDesktop& desktop, TRunSettings& settings, QWidget* parent)
    : QMainWindow(parent), FDesktop(desktop), FSettings(settings) {
    setObjectName("frmMain");
    setWindowTitle(N_("VYR Standalone Software V0.9"));
    resize(689, 447);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildTitleBand(central));
    FReadFailureBand = NewReadFailureBand(central);
    layout->addWidget(FReadFailureBand.Panel);
    connect(FReadFailureBand.Retry, &QPushButton::clicked, this, [this] {
        FControllersStale = true;
        RefreshControllers();
    });
    VSTControllers = Named(new QTreeWidget(central), "VSTControllers");
    layout->addWidget(VSTControllers, 1);
    BuildControllerList();
    setCentralWidget(central);
    BuildStatusBar();
    BuildMenuBar();
}

QWidget* TfrmMain::BuildTitleBand(QWidget* central) {
    const TTitleBand band = NewTitleBand(central, QString(), QString(), {.TitleSizeFactor = 1.3});
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    // Both titles carry data (profile name, count) and are re-set after a language switch.
    lblTitle->setProperty("vyrNoTranslate", true);
    lblSubTitle->setProperty("vyrNoTranslate", true);
    cmdAddController = Named(new QPushButton(pnlTop), "cmdAddController");
    cmdAddController->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    cmdAddController->setIconSize(QSize(24, 24));
    cmdAddController->setToolTip(N_("Add controller"));
    cmdCardholders = NewButton("cmdCardholders", N_("Cardholders"), pnlTop);
    cmdCardholders->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    cmdCardholders->setIconSize(QSize(24, 24));
    cmdCardholders->setToolTip(N_("Cardholders"));
    band.Row->addWidget(cmdAddController);
    band.Row->addWidget(cmdCardholders);
    connect(cmdAddController, &QPushButton::clicked, this, [this] { cmdAddControllerClick(); });
    connect(cmdCardholders, &QPushButton::clicked, this, [this] { cmdCardholdersClick(); });
    return pnlTop;
}

void TfrmMain::BuildStatusBar() {
    StatusBar = Named(new QStatusBar(this), "StatusBar");
    for (int width : {150, 150, 200}) {
        auto* panel = new QLabel(StatusBar);
        panel->setFixedWidth(width);
        StatusBar->addWidget(panel);
    }
    setStatusBar(StatusBar);
}

void TfrmMain::BuildMenuBar() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    mnuFile = Named(bar->addMenu(N_("&File")), "mnuFile");
    mnuFileProfiles = MenuAction(mnuFile, N_("&Profiles..."), "mnuFileProfiles");
    mnuFileAdapter = MenuAction(mnuFile, N_("&Adapter..."), "mnuFileAdapter");
    mnuFileOptions = MenuAction(mnuFile, N_("&Options"), "mnuFileOptions");
    mnuFileHistory = MenuAction(mnuFile, N_("&History..."), "mnuFileHistory");
    N1 = Named(mnuFile->addSeparator(), "N1");
    mnuFileExit = MenuAction(mnuFile, N_("&Exit"), "mnuFileExit");
    mnuLanguage = Named(bar->addMenu(N_("&Language")), "mnuLanguage");
    mnuLanguageEnglish = MenuAction(mnuLanguage, N_("&English"), "mnuLanguageEnglish");
    mnuLanguageDutch = MenuAction(mnuLanguage, N_("&Dutch"), "mnuLanguageDutch");
    mnuHelp = Named(bar->addMenu(N_("&Help")), "mnuHelp");
    mnuHelpAbout = MenuAction(mnuHelp, N_("&About"), "mnuHelpAbout");
    auto* languages = new QActionGroup(this);
    for (QAction* item : {mnuLanguageEnglish, mnuLanguageDutch}) {
        item->setCheckable(true);
        languages->addAction(item);
    }
    ConnectMenus();
}

void TfrmMain::ConnectMenus() {
    connect(mnuFileProfiles, &QAction::triggered, this, [this] { mnuFileProfilesClick(); });
    connect(mnuFileAdapter, &QAction::triggered, this, [this] { mnuFileAdapterClick(); });
    connect(mnuFileOptions, &QAction::triggered, this, [this] { mnuFileOptionsClick(); });
    connect(mnuFileHistory, &QAction::triggered, this, [this] {
        if (!FSession)
            return;
        QList<std::pair<int32_t, QString>> controllers;
        for (const auto& controller : FSession->Controllers())
            controllers.append({controller->ConID, controller->ConName});
        ShowSiteHistory(this, FSession->Database(), FDesktop, controllers);
    });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { mnuHelpAboutClick(); });
    connect(mnuFileExit, &QAction::triggered, this, [this] { mnuFileExitClick(); });
    connect(mnuLanguageEnglish, &QAction::triggered, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { mnuLanguageEnglishClick(); }); });
    connect(mnuLanguageDutch, &QAction::triggered, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { mnuLanguageDutchClick(); }); });
}

TfrmMain::~TfrmMain() {
    // The rows ask this window for their texts; once this destructor has run, the list (destroyed
    // later with the QWidget part) must have none left that could still be laid out or drawn.
    VSTControllers->clear();
    FormDestroy();
}

QString TfrmMain::getDataDir() const {
    return DataDirectory();
}

bool TfrmMain::FormCreate() {
    CreateDataFolders();

    AppLog = std::make_unique<TMyLogger>(getDataDir() + "/applog.log");
    AppLog->AppendLog(StartEntry);
    const int32_t removed = AppLog->Truncate(LogLineLimit);
    if (removed > 0)
        AppLog->AppendLog("Log truncated with " + QString::number(removed) + " lines");

    FSettings.ReaderName = Settings::Reader();
    FSettings.Driver = Settings::Driver();

    // The settings' language comes first, so the reader boxes below speak it, title and button
    // included, instead of whatever language the desktop or an earlier window left behind.
    ApplyLanguage(true);

    if (FSettings.ReaderName != "MaximReader")
        MessageBoxes::ShowError(this, _("Invalid reader selected"));
    if (!TestAdapter(this))
        MessageBoxes::ShowInformation(this, _("Adapter not loaded"));

    if (const QStringList problems = LoadProfiles(FProfiles); !problems.isEmpty())
        MessageBoxes::ShowWarning(this, problems.join("\n"));
    if (FProfiles.empty()) {
        TfrmProfileWizard wizard(FDesktop, this);
        wizard.exec();
        LoadProfiles(FProfiles);
    }
    if (FProfiles.empty()) {
        MessageBoxes::ShowWarning(
            this, _("No profiles found! This program cannot work without a database connection!"));
        return false;
    }

    TfrmLogin login(FDesktop, FProfiles, this);
    if (login.exec() != QDialog::Accepted)
        return false;
    OpenSession(login.TakeSession());
    return true;
}

void TfrmMain::OpenSession(std::unique_ptr<TProfileSession> session) {
    // The rows and their buttons stand for the old session's records: they go first.
    FreeControllers();
    FSession = std::move(session);
    FControllersStale = false;
    FControllersRead = false;
    FReadFailure.reset();
    ShowReadState();
    if (FSession)
        connect(&FSession->Changes(), &TChangeWatch::Changed, this,
                [this](const QStringList& tables) { SiteChanged(tables); });
    RefreshTitles();
    ReloadControllers();
}

void TfrmMain::FormDestroy() {
    FreeRowButtons();
    FSession.reset();
    FProfiles.clear();
}

void TfrmMain::RefreshTitles() {
    if (FSession)
        lblTitle->setText(
            FormatText(_("Controllers for profile %s"), {FSession->Profile().ProfileName}));
    const size_t listed = FSession ? FSession->Controllers().size() : 0;
    lblSubTitle->setText(FormatText(TranslatePlural("Currently listing %d controller",
                                                    "Currently listing %d controllers", listed),
                                    {QString::number(listed)}));
}

void TfrmMain::ApplyLanguage(bool FirstTime) {
    Q_UNUSED(FirstTime); // the window translator keeps the English sources, so both are one call
    const QString language = Settings::Language();
    mnuLanguageEnglish->setChecked(language != "nl");
    mnuLanguageDutch->setChecked(language == "nl");
    UseLanguage(language);
    TranslateWindow(this);
    NameUntitledColumns();
    RefreshTitles();
    ShowReadState();
}

void TfrmMain::mnuLanguageEnglishClick() {
    // The write comes first: when it fails the error report shows it and nothing changes.
    try {
        Settings::SetLanguage("en");
    } catch (...) {
        ApplyLanguage(false); // put the check mark back where the setting still is
        throw;
    }
    ApplyLanguage(false);
}

void TfrmMain::mnuLanguageDutchClick() {
    try {
        Settings::SetLanguage("nl");
    } catch (...) {
        ApplyLanguage(false);
        throw;
    }
    ApplyLanguage(false);
}

void TfrmMain::mnuFileProfilesClick() {
    OpenProfileManagement(this, FDesktop, FProfiles,
                          FSession ? FSession->Profile().ProfileFileName : QString());
}

void TfrmMain::mnuFileOptionsClick() {
    TfrmOptions options(FDesktop, this);
    options.exec();
}

void TfrmMain::mnuHelpAboutClick() {
    TfrmAbout about(this);
    about.exec();
}

void TfrmMain::mnuFileExitClick() {
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TfrmMain::ReloadControllers(const QSet<int32_t>& alsoMarked) {
    if (LoadControllers(alsoMarked))
        ShowControllers();
    else
        VSTControllers->viewport()->update(); // the marks of `alsoMarked`
}
