#pragma once

#include <QDateTime>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <functional>
#include <vector>

// The cardholder sheet laid out in the printer's device pixels, without a printer: the painter
// draws what this computes, so the arithmetic can be checked on its own.

// What the layout needs to know about the printer.
struct TSheetPrinterMetrics {
    int PageWidth = 0;  // W: width of the printable area
    int PageHeight = 0; // H: height of the printable area
    int OffsetX = 0;    // OX: unprintable margin at the left
    int OffsetY = 0;    // OY: unprintable margin at the top
    int ResolutionX = 0;
    int ResolutionY = 0;
};

// The dialog was designed at 96 pixels per inch; the header picture is enlarged from that.
inline constexpr int SheetWindowPixelsPerInch = 96;
inline constexpr int SheetBodyPointSize = 10;
inline constexpr int SheetHeaderPointSize = 8;
// Pixels between the end of the name caption and the value column, on every printer alike.
inline constexpr int SheetValueColumnGap = 390;

// The texts as the cardholder dialog shows them, captions already in the operator's language.
struct TSheetTexts {
    QString Header; // SheetHeaderText()
    QString NameCaption;
    QString Name;
    QString CardNumberCaption;
    QString CardNumber;
    std::array<QString, 4> CustomCaptions;
    std::array<QString, 4> CustomTexts;
    QString DateCaption;
    QString SignatureCaption;
};

// Measures a text in the sheet's font at a point size, in device pixels.
struct TSheetTextMeasure {
    std::function<int(const QString& text, int pointSize)> Width;
    std::function<int(const QString& text, int pointSize)> Height;
};

// One text to draw: its top left corner is Clip's, and nothing of it shows outside Clip.
struct TSheetText {
    QString Text;
    int PointSize = SheetBodyPointSize;
    QRect Clip;
};

struct TSheetLayout {
    double UnitY = 0; // UY
    double UnitX = 0; // UX
    int LineHeight = 0;
    int Top = 0; // T, after the picture
    int Margin = 0;
    int LabelX = 0;                // X0
    int ValueX = 0;                // X1
    QRect Picture;                 // empty: no picture is drawn
    std::vector<TSheetText> Texts; // the header first, then the body in line order

    int LineY(int line) const { return line * LineHeight + Top; }
};

// x rounded to the nearest integer, a half to the even neighbour.
int RoundHalfEven(double x);

// "Date: <short date> <long time> Page: 1/1". These words stay English on every sheet.
QString SheetHeaderText(const QDateTime& when);

// pictureSize: the header picture's size in its own pixels; empty when there is none.
TSheetLayout LayOutSheet(const TSheetPrinterMetrics& printer, const TSheetTexts& texts,
                         const QSize& pictureSize, const TSheetTextMeasure& measure);

// The header picture to use: in the data directory "printimage", else beside the program
// "printdefault", each as .png, .jpg, .jpeg or .bmp in that order. Empty when there is none.
QString SheetPictureFile(const QString& dataDirectory, const QString& programDirectory);
