#include "profiles/profilemanagement.h"

#include "profiles/VYRStandProfile.h"
#include "profiles/movetoserver.h"
#include "profiles/profilecreation.h"
#include "profiles/profileremoval.h"
#include "profiles/profilewizard.h"
#include "shared/desktop.h"
#include "shared/messagebox.h"
#include "shared/safefile.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

void OpenProfileManagement(QWidget* owner, TDesktop& desktop, TProfileList& profiles,
                           const QString& profileInUse) {
    TfrmProfileManagement dialog(desktop, profiles, owner, profileInUse);
    dialog.exec();
}

TfrmProfileManagement::TfrmProfileManagement(TDesktop& desktop, TProfileList& profiles,
                                             QWidget* parent, const QString& profileInUse)
    : QDialog(parent), FDesktop(desktop), FProfiles(profiles), FProfileInUse(profileInUse) {
    setObjectName("frmProfileManagement");
    setWindowTitle(N_("Profile management"));
    ShowOnlyCloseButton(this);

    const TTitleBand band = NewTitleBand(this, N_("Manage your VYR Profiles"),
                                         N_("VYR Profile manages your settings for each location"));
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblTitle->setObjectName("lblTitle");
    lblSubTitle = band.SubTitle;
    BuildProfileList();
    BuildProfilePanel();
    cmdClose = NewButton("cmdClose", N_("Close"), this);
    // Enter saves the name being typed; it never closes the dialog.
    cmdSaveProfile->setDefault(true);
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    BuildPopupMenu();
    LayOut();

    FormCreate();
    // Sized once the texts are in the operator's language.
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    setFixedSize(sizeHint().expandedTo(QSize(460, 300)));
}

void TfrmProfileManagement::BuildProfileList() {
    VSTProfiles = Named(new QTreeWidget(this), "VSTProfiles");
    VSTProfiles->setColumnCount(1);
    VSTProfiles->setHeaderLabels({N_("Profiles")});
    VSTProfiles->setRootIsDecorated(false);
    VSTProfiles->setSelectionMode(QAbstractItemView::SingleSelection);
    VSTProfiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    VSTProfiles->header()->setMinimumSectionSize(130);
    VSTProfiles->setColumnWidth(0, 130);
    VSTProfiles->setMinimumWidth(150);
    QPalette silver = VSTProfiles->palette();
    silver.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    VSTProfiles->setPalette(silver);
    connect(VSTProfiles, &QTreeWidget::itemSelectionChanged, this, [this] { VSTProfilesChange(); });
}

void TfrmProfileManagement::BuildProfilePanel() {
    pnlProfile = Named(new QWidget(this), "pnlProfile");
    Label1 = NewLabel("Label1", N_("Profile name:"), pnlProfile);
    txtProfileName = NewEdit("txtProfileName", pnlProfile, ProfileNameLength);
    Label1->setBuddy(txtProfileName);
    cmdSaveProfile = NewButton("cmdSaveProfile", N_("Save this profile"), pnlProfile);
    connect(cmdSaveProfile, &QPushButton::clicked, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { cmdSaveProfileClick(); }); });
    cmdMoveToServer = NewButton("cmdMoveToServer", N_("Move to server..."), pnlProfile);
    cmdMoveToServer->setAutoDefault(false);
    connect(cmdMoveToServer, &QPushButton::clicked, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { cmdMoveToServerClick(); }); });
    auto* fields = new QVBoxLayout(pnlProfile);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->addWidget(Label1);
    fields->addWidget(txtProfileName);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdSaveProfile);
    buttons->addWidget(cmdMoveToServer);
    buttons->addStretch();
    fields->addLayout(buttons);
    fields->addStretch();
    pnlProfile->setVisible(false);
}

void TfrmProfileManagement::BuildPopupMenu() {
    PopupMenu = Named(new QMenu(this), "PopupMenu");
    mnuDelete = PopupMenu->addAction(style()->standardIcon(QStyle::SP_TrashIcon), N_("&Delete"));
    mnuDelete->setObjectName("mnuDelete");
    mnuAdd = PopupMenu->addAction(style()->standardIcon(QStyle::SP_FileDialogNewFolder),
                                  N_("&Add profile"));
    mnuAdd->setObjectName("mnuAdd");
    // The keyboard reaches both without the mouse: the menu key opens the menu, and Delete and
    // Insert work on the list directly.
    mnuDelete->setShortcut(QKeySequence::Delete);
    mnuAdd->setShortcut(Qt::Key_Insert);
    for (QAction* action : {mnuDelete, mnuAdd}) {
        action->setShortcutContext(Qt::WidgetShortcut);
        VSTProfiles->addAction(action);
    }
    VSTProfiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(VSTProfiles, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QTreeWidgetItem* item = VSTProfiles->itemAt(at))
            VSTProfiles->setCurrentItem(item);
        PopupMenuPopup();
        PopupMenu->popup(VSTProfiles->viewport()->mapToGlobal(at));
    });
    connect(PopupMenu, &QMenu::aboutToShow, this, [this] { PopupMenuPopup(); });
    connect(mnuDelete, &QAction::triggered, this, [this] { mnuDeleteClick(); });
    connect(mnuAdd, &QAction::triggered, this, [this] { mnuAddClick(); });
}

void TfrmProfileManagement::LayOut() {
    auto* right = new QVBoxLayout;
    right->addWidget(pnlProfile, 1);
    right->addLayout(RightAlignedRow({cmdClose}));
    auto* body = new QHBoxLayout;
    body->addWidget(VSTProfiles);
    body->addLayout(right, 1);
    StackBelowBand(this, pnlTop, body);
    // The name panel appears with the first selection; the window is sized for it from the start.
    QSizePolicy panelPolicy = pnlProfile->sizePolicy();
    panelPolicy.setRetainSizeWhenHidden(true);
    pnlProfile->setSizePolicy(panelPolicy);
}

void TfrmProfileManagement::FormCreate() {
    TranslateWindow(this);
    FillList();
    VSTProfiles->setFocus();
}

void TfrmProfileManagement::FillList() {
    VSTProfiles->clear();
    for (const auto& profile : FProfiles) {
        auto* item = new QTreeWidgetItem(VSTProfiles, {profile->ProfileName});
        item->setData(0, Qt::UserRole, profile->ProfileFileName);
    }
    PopupMenuPopup();
}

TVYRStandProfile* TfrmProfileManagement::SelectedProfile() const {
    const QList<QTreeWidgetItem*> selected = VSTProfiles->selectedItems();
    if (selected.size() != 1)
        return nullptr;
    const int row = VSTProfiles->indexOfTopLevelItem(selected.first());
    if (row < 0 || size_t(row) >= FProfiles.size())
        return nullptr;
    return FProfiles[size_t(row)].get();
}

void TfrmProfileManagement::VSTProfilesChange() {
    PopupMenuPopup();
    const TVYRStandProfile* profile = SelectedProfile();
    if (!profile)
        return;
    pnlProfile->setVisible(true);
    txtProfileName->setText(profile->ProfileName);
    // Only a site in a local file can move; one on a server is there already.
    cmdMoveToServer->setEnabled(profile->ServerConnection.trimmed().isEmpty());
}

void TfrmProfileManagement::cmdMoveToServerClick() {
    TVYRStandProfile* profile = SelectedProfile();
    if (!profile || !profile->ServerConnection.trimmed().isEmpty())
        return;
    // The main window keeps the file open and would go on writing to it.
    if (SameFile(profile->ProfileFileName, FProfileInUse)) {
        MessageBoxes::ShowWarning(
            this, FormatText(_("The profile \"%s\" is in use in the main window and cannot be "
                               "moved. Open another profile first."),
                             {profile->ProfileName}));
        return;
    }
    if (ProfileDatabaseState(*profile, FProfiles) == TDatabaseState::NamedByAnotherProfile) {
        MessageBoxes::ShowWarning(
            this, FormatText(_("Another profile uses the database of \"%s\" too; it cannot be "
                               "moved."),
                             {profile->ProfileName}));
        return;
    }
    TfrmMoveToServer dialog(*profile, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    *profile = dialog.Moved();
    cmdMoveToServer->setEnabled(false);
}

void TfrmProfileManagement::PopupMenuPopup() {
    mnuDelete->setEnabled(SelectedProfile() != nullptr);
}

void TfrmProfileManagement::cmdSaveProfileClick() {
    TVYRStandProfile* profile = SelectedProfile();
    if (!profile)
        return;
    const QString name = txtProfileName->text();
    // A blank name would make the profile vanish, a line break would write extra lines into
    // its file: both are refused with the reason.
    if (const QString problem = ProfileNameProblem(name); !problem.isEmpty()) {
        MessageBoxes::ShowWarning(this, problem);
        return;
    }
    // The file first: when it cannot be written, the program and the list keep the old name and
    // the field keeps what was typed, so the operator can try again.
    TVYRStandProfile renamed = *profile;
    renamed.ProfileName = name;
    try {
        renamed.SaveToINI(renamed.ProfileFileName);
    } catch (const VyrError& error) {
        MessageBoxes::ShowError(this, error.Message());
        return;
    }
    profile->ProfileName = name;
    VSTProfiles->selectedItems().first()->setText(0, name);
    MessageBoxes::ShowInformation(this, _("Profile saved!"));
}

void TfrmProfileManagement::mnuDeleteClick() {
    const TVYRStandProfile* profile = SelectedProfile();
    if (!profile)
        return;
    const QString name = profile->ProfileName;
    const QString profileFile = profile->ProfileFileName;
    if (SameFile(profileFile, FProfileInUse)) {
        MessageBoxes::ShowWarning(
            this, FormatText(_("The profile \"%s\" is in use in the main window and cannot be "
                               "deleted."),
                             {name}));
        return;
    }
    if (!MessageBoxes::Confirm(
            this, FormatText(_("Delete the profile \"%s\"?\n\nIts database is moved to the trash, "
                               "from where it can be restored."),
                             {name})))
        return;

    // The profile file goes first: once it is gone the profile is gone, whatever becomes of the
    // database; when it cannot go, nothing has changed.
    const TDatabaseState database = ProfileDatabaseState(*profile, FProfiles);
    const QString databaseFile = ResolveDatabasePath(profile->DBFileName);
    TProfileFileRemoval removal;
    {
        // Taken and let go, so the file's lock goes with it (one left by a killed run too).
        const TFileLock lock(profileFile);
        removal = RemoveProfileFile(profileFile);
    }
    switch (removal) {
    case TProfileFileRemoval::Removed:
        break;
    case TProfileFileRemoval::ReadOnly:
        MessageBoxes::ShowError(
            this, FormatText(_("The profile file %s is read-only; the profile was not deleted."),
                             {profileFile}));
        return;
    case TProfileFileRemoval::Failed:
        MessageBoxes::ShowError(this, FormatText(_("Unable to delete %s"), {profileFile}));
        return;
    }

    if (database == TDatabaseState::NamedByAnotherProfile) {
        MessageBoxes::ShowInformation(
            this,
            FormatText(_("The database %s is kept: another profile uses it."), {databaseFile}));
    } else if (database == TDatabaseState::OwnedAlone) {
        // Under the database's lock, which a wizard making a profile of this name takes too; the
        // lock file goes with the database. Never held across a question.
        const auto locked = [&databaseFile](const std::function<bool()>& change) {
            const TFileLock lock(databaseFile);
            return change();
        };
        if (!locked([&] { return FDesktop.MoveToTrash(databaseFile, nullptr); }) &&
            MessageBoxes::Confirm(
                this, FormatText(_("The database %s cannot be moved to the trash.\n\nDelete it "
                                   "for good? Answer No to keep the file."),
                                 {databaseFile})) &&
            !locked([&] { return QFile::remove(databaseFile); }))
            MessageBoxes::ShowError(this, FormatText(_("Unable to delete %s"), {databaseFile}));
    }
    Refresh();
}

void TfrmProfileManagement::mnuAddClick() {
    QSet<QString> before;
    for (const auto& profile : FProfiles)
        before.insert(profile->ProfileFileName);
    TfrmProfileWizard wizard(FDesktop, this);
    if (wizard.exec() != QDialog::Accepted)
        return;
    Refresh();
    // The new profile is the one file the list did not have before.
    for (int row = 0; row < VSTProfiles->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = VSTProfiles->topLevelItem(row);
        if (!before.contains(item->data(0, Qt::UserRole).toString()))
            VSTProfiles->setCurrentItem(item);
    }
}

void TfrmProfileManagement::Refresh() {
    LoadProfiles(FProfiles);
    FillList();
    pnlProfile->setVisible(false);
}
