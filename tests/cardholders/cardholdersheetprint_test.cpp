#include "readerfixture.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardholdersheetprint.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "pofile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct PdfWord {
    QString text;
    double xMin, yMin, xMax, yMax; // points from the page's top left
};

// The words poppler finds on the PDF's pages, with their boxes.
std::vector<PdfWord> WordsOf(const QString& pdf) {
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-bbox", pdf, "-"});
    EXPECT_TRUE(pdftotext.waitForFinished(30000));
    EXPECT_EQ(pdftotext.exitCode(), 0) << pdftotext.readAllStandardError().constData();
    const QString html = QString::fromUtf8(pdftotext.readAllStandardOutput());
    static const QRegularExpression word("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" "
                                         "xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>");
    std::vector<PdfWord> words;
    for (const QRegularExpressionMatch& m : word.globalMatch(html)) {
        QString text = m.captured(5);
        text.replace("&lt;", "<")
            .replace("&gt;", ">")
            .replace("&quot;", "\"")
            .replace("&amp;", "&");
        words.push_back({text, m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    return words;
}

QString PdfInfo(const QString& pdf) {
    QProcess pdfinfo;
    pdfinfo.start("pdfinfo", {pdf});
    EXPECT_TRUE(pdfinfo.waitForFinished(30000));
    return QString::fromUtf8(pdfinfo.readAllStandardOutput());
}

void SetUpPdf(QPrinter& printer, const QString& file, int resolution) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setResolution(resolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
}

TSheetTexts SomeTexts() {
    TSheetTexts texts;
    texts.Header = SheetHeaderText(QDateTime(QDate(2026, 12, 10), QTime(13, 2, 24)));
    texts.NameCaption = "Name:";
    texts.Name = "Jan de Vries";
    texts.CardNumberCaption = "Card number:";
    texts.CardNumber = "00000A1B2C";
    // Short enough not to run into their values at 1200 dpi, where 390 pixels are a third of
    // an inch.
    texts.CustomCaptions = {"Dept:", "Room:", "Tel:", "Car:"};
    texts.CustomTexts = {"Sales", "B-204", "0612345678", "XK-123-B"};
    texts.DateCaption = "Date:";
    texts.SignatureCaption = "Signature:";
    return texts;
}

class SheetPrintTest : public CardReaderTest {
protected:
    void SetUp() override {
        CardReaderTest::SetUp();
        ASSERT_TRUE(Output.isValid());
    }

    // Prints the texts to a PDF at the resolution and checks that every text of the layout sits
    // where it was laid out, word by word, and that the page holds nothing else.
    void ExpectPrintedAsLaidOut(const TSheetTexts& texts, int resolution, const QSize& picture) {
        const QString pdf = Output.filePath("sheet.pdf");
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdf(printer, pdf, resolution);
        const TSheetLayout layout = SheetLayoutFor(printer, texts, picture);
        const QRect printable = printer.pageLayout().paintRectPixels(resolution);
        ASSERT_TRUE(PrintSheet(printer, texts, nullptr));

        const double pointsPerPixel = 72.0 / resolution;
        const std::vector<PdfWord> words = WordsOf(pdf);
        QStringList expectedWords;
        for (const TSheetText& text : layout.Texts) {
            SCOPED_TRACE(text.Text.toStdString());
            const QStringList parts = text.Text.split(' ', Qt::SkipEmptyParts);
            expectedWords << parts;
            // The layout gives where each text starts: its first word must be there.
            const double x = (printable.left() + text.Clip.left()) * pointsPerPixel;
            const double y = (printable.top() + text.Clip.top()) * pointsPerPixel;
            const auto at = std::find_if(words.begin(), words.end(), [&](const PdfWord& word) {
                return word.text == parts[0] && std::abs(word.xMin - x) <= pointsPerPixel &&
                       std::abs(word.yMin - y) <= pointsPerPixel;
            });
            EXPECT_NE(at, words.end()) << "not at " << x << ", " << y;
        }
        QStringList printedWords;
        for (const PdfWord& word : words)
            printedWords << word.text;
        printedWords.sort();
        expectedWords.sort();
        EXPECT_EQ(printedWords, expectedWords);
    }

    QTemporaryDir Output;
};

TEST_F(SheetPrintTest, PutsEveryTextWhereTheLayoutSaysAndNothingElse) {
    for (const int resolution : {300, 600, 1200}) {
        SCOPED_TRACE(resolution);
        ExpectPrintedAsLaidOut(SomeTexts(), resolution, {});
    }
    // Debian's Wine Tahoma stands in when the system has none; it is in the package list.
    QProcess pdffonts;
    pdffonts.start("pdffonts", {Output.filePath("sheet.pdf")});
    ASSERT_TRUE(pdffonts.waitForFinished(30000));
    const QString fonts = QString::fromUtf8(pdffonts.readAllStandardOutput());
    EXPECT_TRUE(fonts.contains("Tahoma")) << fonts.toStdString();
}

TEST_F(SheetPrintTest, DrawsTheHeaderPictureEnlargedAndTheTextsBelowIt) {
    QImage picture(40, 25, QImage::Format_RGB32);
    picture.fill(Qt::red);
    // In the test's own data directory: a picture beside the program would reach other tests.
    for (const char* format : {"bmp", "png", "jpeg"}) {
        SCOPED_TRACE(format);
        const QString file = DataDirectory() + "/printimage." + format;
        ASSERT_TRUE(picture.save(file, format));
        ExpectPrintedAsLaidOut(SomeTexts(), 600, picture.size());
        QFile::remove(file);

        QProcess pdfimages;
        pdfimages.start("pdfimages", {"-list", Output.filePath("sheet.pdf")});
        ASSERT_TRUE(pdfimages.waitForFinished(30000));
        const QStringList rows =
            QString::fromUtf8(pdfimages.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(rows.size(), 3) << rows.join('\n').toStdString(); // two title lines, one image
        // 40 pixels drawn 6 times as large at 600 dpi: 100 pixels per inch.
        const QStringList columns = rows[2].split(' ', Qt::SkipEmptyParts);
        EXPECT_EQ(columns[3], "40");
        EXPECT_EQ(columns[4], "25");
        EXPECT_EQ(columns[12], "100");
        EXPECT_EQ(columns[13], "100");
    }
}

TEST_F(SheetPrintTest, AnUnreadablePictureBeginsNoDocumentAndNamesTheFile) {
    const QString pictureFile = DataDirectory() + "/printimage.bmp";
    ASSERT_TRUE(WriteTextFile(pictureFile, "BM this is no bitmap"));
    const QString pdf = Output.filePath("sheet.pdf");
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdf(printer, pdf, 600);
    EXPECT_FALSE(PrintSheet(printer, SomeTexts(), nullptr));
    EXPECT_FALSE(QFile::exists(pdf));
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_TRUE(MessageBoxes::ShownMessages()[0].text.contains(pictureFile));
    EXPECT_THAT(UntranslatedTexts({"The picture %s could not be read."}), IsEmpty());
}

TEST_F(SheetPrintTest, SavesWhatTheDialogShowsAsPdfAt1200Dpi) {
    IniFile(SettingsFileName()).WriteString("settings", "custom1", "Dept");
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    dialog.show();
    Control<QLineEdit>(dialog, "txtCardHolder").setText("Piet Jansen");
    Control<QLineEdit>(dialog, "txtCustom1").setText("Finance");
    const QString pdf = Output.filePath("saved.pdf");
    Desktop.AnswerFile(pdf);
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdSavePDF"), Qt::LeftButton);
    ASSERT_EQ(Desktop.Calls().size(), 1);
    EXPECT_EQ(Desktop.Calls()[0].Service, TFakeDesktop::TService::SaveFile);
    EXPECT_EQ(Desktop.Calls()[0].Title, "Save as PDF...");
    EXPECT_EQ(Desktop.Calls()[0].Filter, "PDF files (*.pdf)");
    EXPECT_EQ(Desktop.Calls()[0].Owner, &dialog);

    // The sheet shows the dialog as it is: unsaved texts, and "Waiting for card".
    QPrinter reference(QPrinter::HighResolution);
    SetUpPdf(reference, Output.filePath("unused.pdf"), SheetPdfResolution);
    const TSheetLayout layout = SheetLayoutFor(reference, SheetTextsOf(dialog), {});
    const double pointsPerPixel = 72.0 / SheetPdfResolution;
    const QRect printable = reference.pageLayout().paintRectPixels(SheetPdfResolution);
    QStringList lines;
    for (const PdfWord& word : WordsOf(pdf))
        lines << word.text;
    EXPECT_THAT(lines.mid(lines.indexOf("Name:")),
                ElementsAre("Name:", "Piet", "Jansen", "Card", "number:", "Waiting", "for", "card",
                            "Dept:", "Finance", "Custom", "2:", "Custom", "3:", "Custom",
                            "4:", "Date:", "Signature:"));
    for (const PdfWord& word : WordsOf(pdf))
        if (word.text == "Piet") {
            EXPECT_NEAR(word.xMin, (printable.left() + layout.ValueX) * pointsPerPixel,
                        pointsPerPixel);
            EXPECT_NEAR(word.yMin, (printable.top() + layout.LineY(5)) * pointsPerPixel,
                        pointsPerPixel);
        }
    EXPECT_THAT(PdfInfo(pdf).toStdString(), ::testing::HasSubstr("Cardholder"));
    EXPECT_THAT(MessageBoxes::ShownTexts(), IsEmpty());
}

TEST_F(SheetPrintTest, ThePrintButtonPrintsOnlyWhenAPrinterIsChosen) {
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    dialog.show();
    Control<QLineEdit>(dialog, "txtCardHolder").setText("Piet Jansen");
    const QString pdf = Output.filePath("printed.pdf");
    for (const bool chosen : {false, true}) {
        Desktop.AnswerPrinter([&, chosen](QPrinter& printer) {
            SetUpPdf(printer, pdf, 600);
            // The job's own settings win over what the operator left in the dialog.
            printer.setPageOrientation(QPageLayout::Landscape);
            printer.setDocName("something else");
            return chosen;
        });
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdPrintList"), Qt::LeftButton);
        EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::Printer).last().Owner, &dialog);
        EXPECT_EQ(QFile::exists(pdf), chosen);
    }
    const QString info = PdfInfo(pdf);
    EXPECT_TRUE(info.contains(QRegularExpression("Title: +Cardholder\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Page size: +595 x 842 pts \\(A4\\)")))
        << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Pages: +1\n"))) << info.toStdString();
}

// The name typed in the save chooser gets ".pdf" when it has no suffix of its own; a cancelled
// chooser writes nothing.
TEST_F(SheetPrintTest, ThePdfNameGetsItsSuffixAndACancelWritesNothing) {
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    const struct {
        const char* what;
        QString answer; // empty: cancelled
        QStringList written;
    } cases[] = {
        {"cancelled", "", {}},
        {"no suffix", "sheet", {"sheet.pdf"}},
        {"a suffix of its own", "sheet.v2", {"sheet.v2"}},
        {"pdf", "other.pdf", {"other.pdf"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(Output.path()).removeRecursively();
        QDir().mkpath(Output.path());
        if (!c.answer.isEmpty())
            Desktop.AnswerFile(Output.filePath(c.answer));
        Control<QPushButton>(dialog, "cmdSavePDF").click();
        EXPECT_EQ(QDir(Output.path()).entryList(QDir::Files), c.written);
    }
    EXPECT_THAT(MessageBoxes::ShownTexts(), IsEmpty());
}

TEST_F(SheetPrintTest, ThePictureButtonsAreNamedByTheirTranslatedHints) {
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    EXPECT_EQ(Control<QPushButton>(dialog, "cmdSavePDF").accessibleName(), "Save as PDF...");
    EXPECT_EQ(Control<QPushButton>(dialog, "cmdPrintList").accessibleName(), "Print");
    EXPECT_EQ(Control<QPushButton>(dialog, "cmdSavePDF").focusPolicy() & Qt::TabFocus,
              Qt::TabFocus);
    EXPECT_THAT(UntranslatedTexts({"Save as PDF...", "PDF files (*.pdf)",
                                   "Date:", "Signature:", "The sheet could not be printed."}),
                IsEmpty());
}

} // namespace
