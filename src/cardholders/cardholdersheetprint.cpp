#include "cardholders/cardholdersheetprint.h"

#include "cardholders/cardholder.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/messagebox.h"
#include "shared/translation.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>

namespace {

const char* const TahomaFamily = "Tahoma";

QString SheetFontFamily() {
    // Looked up once: loading a font file again would add a second copy of the family.
    static const QString family = [] {
        if (QFontDatabase::hasFamily(TahomaFamily))
            return QString(TahomaFamily);
        const int id = QFontDatabase::addApplicationFont(BundledTahomaFile());
        if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(TahomaFamily))
            return QString(TahomaFamily);
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

TSheetPrinterMetrics MetricsOf(const QPrinter& printer) {
    TSheetPrinterMetrics metrics;
    metrics.PageWidth = printer.width();
    metrics.PageHeight = printer.height();
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    metrics.OffsetX = printable.left();
    metrics.OffsetY = printable.top();
    metrics.ResolutionX = printer.logicalDpiX();
    metrics.ResolutionY = printer.logicalDpiY();
    return metrics;
}

void PrepareJob(QPrinter& printer) {
    printer.setDocName("Cardholder");
    printer.setPageOrientation(QPageLayout::Portrait);
}

} // namespace

QString BundledTahomaFile() {
    return "/usr/share/wine/fonts/tahoma.ttf";
}

QFont SheetFont(int pointSize) {
    QFont font(SheetFontFamily(), pointSize, QFont::Normal);
    // Hinting fits glyphs to a screen's pixel grid; on paper it would only make the measured
    // widths depend on the rasteriser instead of the font.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

TSheetTexts SheetTextsOf(const TfrmCardHolder& dialog) {
    TSheetTexts texts;
    texts.Header = SheetHeaderText(QDateTime::currentDateTime());
    texts.NameCaption = dialog.lblCardHolderName->text();
    texts.Name = dialog.txtCardHolder->text();
    texts.CardNumberCaption = dialog.lblCardNumber->text();
    texts.CardNumber = dialog.lblCardNumberVal->text();
    const QLabel* captions[] = {dialog.lblCustom1, dialog.lblCustom2, dialog.lblCustom3,
                                dialog.lblCustom4};
    const QLineEdit* values[] = {dialog.txtCustom1, dialog.txtCustom2, dialog.txtCustom3,
                                 dialog.txtCustom4};
    for (int i = 0; i < 4; ++i) {
        texts.CustomCaptions[i] = captions[i]->text();
        texts.CustomTexts[i] = values[i]->text();
    }
    texts.DateCaption = _("Date:");
    texts.SignatureCaption = _("Signature:");
    return texts;
}

TSheetLayout SheetLayoutFor(QPrinter& printer, const TSheetTexts& texts, const QSize& pictureSize) {
    const TSheetTextMeasure measure{
        [&](const QString& text, int pointSize) {
            return QFontMetrics(SheetFont(pointSize), &printer).horizontalAdvance(text);
        },
        [&](const QString&, int pointSize) {
            return QFontMetrics(SheetFont(pointSize), &printer).height();
        }};
    return LayOutSheet(MetricsOf(printer), texts, pictureSize, measure);
}

bool PrintSheet(QPrinter& printer, const TSheetTexts& texts, QWidget* parent) {
    // The picture is read before the document begins: a begun document would print, or leave a
    // file behind, even when the sheet is abandoned.
    const QString pictureFile = SheetPictureFile(DataDirectory(), ProgramDirectory());
    QImage picture;
    if (!pictureFile.isEmpty()) {
        QImageReader reader(pictureFile);
        reader.setDecideFormatFromContent(true);
        if (!reader.read(&picture)) {
            MessageBoxes::ShowError(
                parent, FormatText(_("The picture %s could not be read."), {pictureFile}));
            return false;
        }
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        MessageBoxes::ShowError(parent, _("The sheet could not be printed."));
        return false;
    }
    const TSheetLayout layout = SheetLayoutFor(printer, texts, picture.size());

    painter.setPen(Qt::black);
    if (!layout.Picture.isEmpty())
        painter.drawImage(layout.Picture, picture);
    for (const TSheetText& text : layout.Texts) {
        painter.setFont(SheetFont(text.PointSize));
        painter.drawText(text.Clip, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text.Text);
    }
    return painter.end();
}

void PrintCardHolderSheet(TfrmCardHolder* dialog, TDesktop& desktop) {
    QPrinter printer(QPrinter::HighResolution);
    if (!desktop.ChoosePrinter(dialog, printer))
        return;
    PrepareJob(printer);
    PrintSheet(printer, SheetTextsOf(*dialog), dialog);
}

void SaveCardHolderSheetAsPdf(TfrmCardHolder* dialog, TDesktop& desktop) {
    QString file =
        desktop.ChooseSaveFile(dialog, _("Save as PDF..."), QString(), _("PDF files (*.pdf)"));
    if (file.isEmpty())
        return;
    if (QFileInfo(file).suffix().isEmpty())
        file += ".pdf";
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setResolution(SheetPdfResolution);
    PrepareJob(printer);
    PrintSheet(printer, SheetTextsOf(*dialog), dialog);
}
