#include "cardholders/cardholdersheet.h"

#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// Every character 7 pixels wide at 10 point and 5 at 8 point; lines 50 pixels high.
int FakeWidth(const QString& text, int pointSize) {
    return static_cast<int>(text.size()) * (pointSize == SheetHeaderPointSize ? 5 : 7);
}

const TSheetTextMeasure FakeMeasure{FakeWidth, [](const QString&, int pointSize) {
                                        return pointSize == SheetHeaderPointSize ? 40 : 50;
                                    }};

// An A4 sheet at 600 dpi with a 100 by 120 pixel unprintable margin.
TSheetPrinterMetrics A4At600() {
    return {4760, 6776, 100, 120, 600, 600};
}

TSheetTexts SomeTexts() {
    TSheetTexts texts;
    texts.Header = "Date: 10-12-26 13:02:24 Page: 1/1";
    texts.NameCaption = "Name:";
    texts.Name = "Jan de Vries";
    texts.CardNumberCaption = "Card number:";
    texts.CardNumber = "00000A1B2C";
    texts.CustomCaptions = {"Custom 1:", "Custom 2:", "Custom 3:", "Custom 4:"};
    texts.CustomTexts = {"one", "two", "three", "four"};
    texts.DateCaption = "Date:";
    texts.SignatureCaption = "Signature:";
    return texts;
}

const TSheetText* Find(const TSheetLayout& layout, const QString& text) {
    for (const TSheetText& item : layout.Texts)
        if (item.Text == text)
            return &item;
    ADD_FAILURE() << "not on the sheet: " << text.toStdString();
    return nullptr;
}

std::vector<int> BodyTops(const TSheetLayout& layout) {
    std::vector<int> tops;
    for (size_t i = 1; i < layout.Texts.size(); ++i)
        tops.push_back(layout.Texts[i].Clip.top());
    return tops;
}

TEST(SheetRounding, TakesHalvesToTheEvenNeighbour) {
    const struct {
        double x;
        int rounded;
    } cases[] = {{0.5, 0},    {1.5, 2},    {2.5, 2},  {354.5, 354}, {355.5, 356},
                 {2.4999, 2}, {2.5001, 3}, {-0.5, 0}, {-1.5, -2},   {7.0, 7}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.x), c.rounded) << c.x;
}

TEST(SheetLayout, DerivesItsUnitsFromThePrintableAreaAndItsOffsets) {
    const TSheetLayout layout = LayOutSheet(A4At600(), SomeTexts(), {}, FakeMeasure);
    EXPECT_DOUBLE_EQ(layout.UnitY, (6776 + 240) / 28.215);
    EXPECT_DOUBLE_EQ(layout.UnitX, (4760 + 200) / 21.0);
    EXPECT_EQ(layout.LineHeight, 50);
    EXPECT_EQ(layout.Top, 622);    // 2.5 * 248.66... = 621.66
    EXPECT_EQ(layout.Margin, 354); // 1.5 * 236.19... = 354.29
    EXPECT_EQ(layout.LabelX, 24 + 354);
    EXPECT_EQ(layout.ValueX, layout.LabelX + 5 * 7 + 390);
}

TEST(SheetLayout, RoundsTheMarginHalfToEven) {
    // W + 2 * OX = 14 * k + 7 makes 1.5 * UX exactly k + 0.5.
    const struct {
        int width;
        int margin;
    } cases[] = {{4963, 354}, {4977, 356}, {4970, 355}};
    for (const auto& c : cases) {
        TSheetPrinterMetrics printer = A4At600();
        printer.PageWidth = c.width;
        printer.OffsetX = 0;
        EXPECT_EQ(LayOutSheet(printer, SomeTexts(), {}, FakeMeasure).Margin, c.margin) << c.width;
    }
}

TEST(SheetLayout, PutsEachBodyLineOnItsRowWithoutAPicture) {
    const TSheetLayout layout = LayOutSheet(A4At600(), SomeTexts(), {}, FakeMeasure);
    const int top = RoundHalfEven(2.5 * (6776 + 240) / 28.215);
    const struct {
        const char* text;
        int line;
        bool valueColumn;
    } rows[] = {{"Name:", 5, false},      {"Jan de Vries", 5, true}, {"Card number:", 9, false},
                {"00000A1B2C", 9, true},  {"Custom 1:", 11, false},  {"one", 11, true},
                {"Custom 4:", 14, false}, {"four", 14, true},        {"Signature:", 24, false}};
    for (const auto& row : rows) {
        const TSheetText* item = Find(layout, row.text);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->Clip.top(), row.line * 50 + top) << row.text;
        EXPECT_EQ(item->Clip.left(), row.valueColumn ? layout.ValueX : layout.LabelX) << row.text;
        // Clipped to its own width and one line.
        EXPECT_EQ(item->Clip.size(), QSize(FakeWidth(row.text, 10), 50)) << row.text;
        EXPECT_EQ(item->PointSize, SheetBodyPointSize);
    }
    EXPECT_TRUE(layout.Picture.isEmpty());
    // The body "Date:" is on line 20; the header also starts with "Date:" but is one text.
    int dateLines = 0;
    for (const TSheetText& item : layout.Texts)
        if (item.Text == "Date:") {
            ++dateLines;
            EXPECT_EQ(item.Clip.top(), 20 * 50 + top);
        }
    EXPECT_EQ(dateLines, 1);
}

TEST(SheetLayout, MovesTheBodyDownByThePicturesPrintedHeight) {
    const TSheetLayout without = LayOutSheet(A4At600(), SomeTexts(), {}, FakeMeasure);
    const TSheetLayout with = LayOutSheet(A4At600(), SomeTexts(), QSize(250, 100), FakeMeasure);
    // 600 div 96 = 6 (not 6.25): 100 pixels high print 600 device pixels high.
    EXPECT_EQ(with.Picture, QRect(without.Margin, without.Top, 1500, 600));
    std::vector<int> expected = BodyTops(without);
    for (int& top : expected)
        top += 600;
    EXPECT_THAT(BodyTops(with), ElementsAreArray(expected));
    // The header keeps its place above the picture.
    EXPECT_EQ(with.Texts[0].Clip, without.Texts[0].Clip);
}

TEST(SheetLayout, EnlargesThePictureByWholeFactorsPerDirection) {
    const struct {
        int resolutionX, resolutionY;
        QSize printed; // of a 10 by 20 picture
    } cases[] = {{600, 600, {60, 120}},
                 {300, 600, {30, 120}},
                 {191, 192, {10, 40}},
                 {1200, 1200, {120, 240}},
                 {95, 600, {0, 120}}};
    for (const auto& c : cases) {
        TSheetPrinterMetrics printer = A4At600();
        printer.ResolutionX = c.resolutionX;
        printer.ResolutionY = c.resolutionY;
        EXPECT_EQ(LayOutSheet(printer, SomeTexts(), QSize(10, 20), FakeMeasure).Picture.size(),
                  c.printed)
            << c.resolutionX << "x" << c.resolutionY;
    }
}

TEST(SheetLayout, AResolutionBelowTheWindowsDrawsNoPictureAndMovesNothing) {
    TSheetPrinterMetrics printer = A4At600();
    printer.ResolutionX = printer.ResolutionY = 72;
    const TSheetLayout without = LayOutSheet(printer, SomeTexts(), {}, FakeMeasure);
    const TSheetLayout with = LayOutSheet(printer, SomeTexts(), QSize(250, 100), FakeMeasure);
    EXPECT_TRUE(with.Picture.isEmpty());
    EXPECT_EQ(with.Top, without.Top);
    EXPECT_EQ(BodyTops(with), BodyTops(without));
}

TEST(SheetLayout, TheValueColumnFollowsTheNameCaptionOnly) {
    TSheetTexts texts = SomeTexts();
    // 5 * 7 + 390 = 425 pixels; this caption is 70 * 7 = 490 wide.
    texts.CustomCaptions[1] = QString(69, 'W') + ":";
    const TSheetLayout layout = LayOutSheet(A4At600(), texts, {}, FakeMeasure);
    EXPECT_EQ(layout.ValueX, layout.LabelX + 35 + 390);
    const TSheetText* caption = Find(layout, texts.CustomCaptions[1]);
    const TSheetText* value = Find(layout, "two");
    ASSERT_TRUE(caption && value);
    EXPECT_EQ(value->Clip.left(), layout.ValueX);
    EXPECT_GT(caption->Clip.right(), value->Clip.left()) << "the caption runs into its value";

    texts.NameCaption = "Naam van de kaarthouder:";
    EXPECT_EQ(LayOutSheet(A4At600(), texts, {}, FakeMeasure).ValueX, layout.LabelX + 24 * 7 + 390);
}

TEST(SheetLayout, EndsTheHeaderAMarginBeforeTheRightEdge) {
    // x = W - M - 2 * (w div 2): an odd width ends one pixel further right.
    for (const QString& header : {QString("Date: 1 Page: 1/1"), QString("Date: 12 Page: 1/1")}) {
        TSheetTexts texts = SomeTexts();
        texts.Header = header;
        const TSheetLayout layout = LayOutSheet(A4At600(), texts, {}, FakeMeasure);
        const int width = FakeWidth(header, 8);
        const TSheetText& item = layout.Texts[0];
        EXPECT_EQ(item.Text, header);
        EXPECT_EQ(item.PointSize, SheetHeaderPointSize);
        EXPECT_EQ(item.Clip, QRect(4760 - layout.Margin - 2 * (width / 2),
                                   RoundHalfEven(0.5 * layout.UnitY), width, 40));
        EXPECT_EQ(item.Clip.left() + width, 4760 - layout.Margin + width % 2);
    }
}

TEST(SheetHeader, ShowsTheDateAndTimeAndPageOneOfOne) {
    const QString header = SheetHeaderText(QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7)));
    EXPECT_TRUE(header.startsWith("Date: ")) << header.toStdString();
    EXPECT_TRUE(header.endsWith(" Page: 1/1")) << header.toStdString();
    EXPECT_TRUE(header.contains("05:07") || header.contains("5:07")) << header.toStdString();
    EXPECT_EQ(header.count("Page:"), 1);
}

class SheetPictureTest : public HomeTest {};

TEST_F(SheetPictureTest, PrefersTheDataDirectoryAndThenPngOverOtherFormats) {
    QTemporaryDir data;
    QTemporaryDir program;
    const struct {
        QStringList present;
        QString expected;
    } cases[] = {
        {{}, {}},
        {{"program/printdefault.bmp"}, "program/printdefault.bmp"},
        {{"program/printdefault.bmp", "data/printimage.bmp"}, "data/printimage.bmp"},
        {{"data/printimage.bmp", "data/printimage.png"}, "data/printimage.png"},
        {{"data/printimage.bmp", "data/printimage.jpeg"}, "data/printimage.jpeg"},
        {{"data/printimage.jpg", "data/printimage.jpeg"}, "data/printimage.jpg"},
        {{"program/printdefault.png", "data/printimage.jpeg"}, "data/printimage.jpeg"},
        {{"data/printdefault.bmp", "program/printimage.bmp"}, {}},
    };
    for (const auto& c : cases) {
        for (const QTemporaryDir* dir : {&data, &program})
            for (const QString& name : QDir(dir->path()).entryList(QDir::Files))
                QFile::remove(dir->path() + "/" + name);
        for (QString file : c.present) {
            file.replace("data/", data.path() + "/").replace("program/", program.path() + "/");
            ASSERT_TRUE(WriteTextFile(file, "x"));
        }
        QString expected = c.expected;
        expected.replace("data/", data.path() + "/").replace("program/", program.path() + "/");
        EXPECT_EQ(SheetPictureFile(data.path(), program.path()), expected)
            << c.present.join(",").toStdString();
    }
}

} // namespace
