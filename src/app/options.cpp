#include "app/options.h"

#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/messagebox.h"
#include "shared/settings.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

static_assert(Settings::CustomFieldCount == 4);
constexpr const char* CaptionLabels[4] = {N_("Custom field 1:"), N_("Custom field 2:"),
                                          N_("Custom field 3:"), N_("Custom field 4:")};
constexpr const char* LabelNames[4] = {"lblCustom1", "lblCustom2", "lblCustom3", "lblCustom4"};
constexpr const char* EditNames[4] = {"txtCustom1", "txtCustom2", "txtCustom3", "txtCustom4"};

} // namespace

TfrmOptions::TfrmOptions(TDesktop& desktop, QWidget* parent) : QDialog(parent), FDesktop(desktop) {
    setObjectName("frmOptions");
    setWindowTitle(N_("Options"));
    ShowOnlyCloseButton(this);

    grpOptions = Named(new QGroupBox(N_("Options"), this), "grpOptions");
    auto* grid = new QGridLayout(grpOptions);
    BuildCaptionFields(grid);
    BuildDataDirRow(grid);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grpOptions);
    layout->addLayout(BuildButtonRow());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    grpOptions->setMinimumWidth(440);

    FormCreate();
}

void TfrmOptions::BuildCaptionFields(QGridLayout* grid) {
    for (size_t i = 0; i < 4; ++i) {
        lblCustom[i] = NewLabel(LabelNames[i], CaptionLabels[i], grpOptions);
        txtCustom[i] = NewEdit(EditNames[i], grpOptions);
        // The captions are the operator's own words, never looked up in the catalogue.
        txtCustom[i]->setProperty("vyrNoTranslate", true);
        lblCustom[i]->setBuddy(txtCustom[i]);
        grid->addWidget(lblCustom[i], int(i), 0);
        grid->addWidget(txtCustom[i], int(i), 1);
    }
    // Cardholder windows read the captions each time they open, so no restart is needed.
    lblIntro = NewLabel("lblIntro",
                        N_("The new captions show in every cardholder window opened after OK."),
                        grpOptions);
    lblIntro->setWordWrap(true);
    lblIntro->setMinimumWidth(140);
    grid->addWidget(lblIntro, 0, 2, 4, 1, Qt::AlignTop);
}

void TfrmOptions::BuildDataDirRow(QGridLayout* grid) {
    Label1 = NewLabel("Label1", N_("Data directory:"), grpOptions);
    txtDataDir = NewEdit("txtDataDir", grpOptions);
    txtDataDir->setEnabled(false);
    txtDataDir->setProperty("vyrNoTranslate", true);
    cmdOpenDataDir = NewButton("cmdOpenDataDir", N_("Open..."), grpOptions);
    cmdOpenDataDir->setAutoDefault(false);
    connect(cmdOpenDataDir, &QPushButton::clicked, this, [this] { cmdOpenDataDirClick(); });
    grid->addWidget(Label1, 4, 0);
    grid->addWidget(txtDataDir, 4, 1);
    grid->addWidget(cmdOpenDataDir, 4, 2);
}

QHBoxLayout* TfrmOptions::BuildButtonRow() {
    cmdOK = NewButton("cmdOK", N_("OK"), this);
    cmdOK->setDefault(true);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    cmdCancel->setAutoDefault(false);
    connect(cmdOK, &QPushButton::clicked, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { cmdOKClick(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    return RightAlignedRow({cmdOK, cmdCancel});
}

void TfrmOptions::FormCreate() {
    TranslateWindow(this);
    const Settings::TCustomCaptions captions = Settings::CustomCaptions();
    for (size_t i = 0; i < 4; ++i)
        txtCustom[i]->setText(captions[i]);
    txtDataDir->setText(DataDirectory());
    txtCustom[0]->setFocus();
}

void TfrmOptions::cmdOKClick() {
    Settings::TCustomCaptions captions;
    for (size_t i = 0; i < 4; ++i)
        captions[i] = txtCustom[i]->text();
    // One replacement for all four: a failed write leaves none of them changed, and it throws
    // before accept(), so the dialog stays open with what was typed.
    Settings::SetCustomCaptions(captions);
    accept();
}

void TfrmOptions::cmdOpenDataDirClick() {
    FDesktop.OpenFolder(DataDirectory());
}
