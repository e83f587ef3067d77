#include "app/About.h"

#include "app/versioninfo.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget* parent, const QString& programFile) : QDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle(N_("About"));
    ShowOnlyCloseButton(this);

    BuildPanel();
    OKButton = NewButton("OKButton", N_("OK"), this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Panel1);
    layout->addLayout(RightAlignedRow({OKButton}));
    Panel1->setMinimumWidth(280);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate(programFile.isEmpty() ? QCoreApplication::applicationFilePath() : programFile);
}

void TfrmAbout::BuildPanel() {
    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setLineWidth(2);
    BuildProgramIcon();
    QVBoxLayout* texts = BuildVersionTexts();
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->addWidget(ProgramIcon, 0, Qt::AlignTop);
    panelLayout->addLayout(texts, 1);
}

void TfrmAbout::BuildProgramIcon() {
    ProgramIcon = Named(new QLabel(Panel1), "ProgramIcon");
    ProgramIcon->setFixedSize(64, 64);
    ProgramIcon->setScaledContents(true);
    // The installed program's own icon (the package puts it in the icon theme); a build run from
    // its tree falls back to a stock picture.
    const QIcon fallback = QApplication::windowIcon().isNull()
                               ? style()->standardIcon(QStyle::SP_DriveHDIcon)
                               : QApplication::windowIcon();
    const QIcon icon = QIcon::fromTheme("com.tessaloom.vyrstandalone", fallback);
    ProgramIcon->setPixmap(icon.pixmap(64, 64));
}

QVBoxLayout* TfrmAbout::BuildVersionTexts() {
    // The design texts below are always replaced from the version block, so they are never
    // looked up in the catalogue.
    ProductName = NewLabel("ProductName", "VYR Standalone", Panel1);
    MakeBold(ProductName);
    Version = NewLabel("Version", "Version", Panel1);
    Copyright = NewLabel("Copyright", "Copyright", Panel1);
    Comments = NewLabel("Comments", "Comments", Panel1);
    Comments->setWordWrap(true);
    auto* texts = new QVBoxLayout;
    for (QLabel* label : {ProductName, Version, Copyright, Comments}) {
        label->setProperty("vyrNoTranslate", true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(label);
    }
    texts->addStretch();
    return texts;
}

void TfrmAbout::FormCreate(const QString& programFile) {
    TranslateWindow(this);
    const TVersionInfo info(programFile);
    Version->setText(info.FileVersion());
    ProductName->setText(info.ProductName());
    Copyright->setText(info.LegalCopyright());
    Comments->setText(info.Comments());
    OKButton->setFocus();
    // Centred on the screen rather than on the owner.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}
