#include "cardholders/cardholdersheet.h"

#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <cmath>

int RoundHalfEven(double x) {
    // The default rounding mode of the FPU is to the nearest, ties to even.
    return static_cast<int>(std::nearbyint(x));
}

namespace {

// The locale's long time format names the time zone; a sheet signed where it was printed needs
// none, and the header stays short.
QString TimeFormatWithoutZone(const QString& format) {
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == '\'')
            quoted = !quoted;
        if (!quoted && c == 't')
            continue;
        result += c;
    }
    return result.trimmed();
}

} // namespace

QString SheetHeaderText(const QDateTime& when) {
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QString time =
        locale.toString(when.time(), TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
    return "Date: " + date + " " + time + " Page: " + QString::number(1) + "/1";
}

TSheetLayout LayOutSheet(const TSheetPrinterMetrics& printer, const TSheetTexts& texts,
                         const QSize& pictureSize, const TSheetTextMeasure& measure) {
    TSheetLayout layout;
    // 28.215 rather than A4's 29.7 centimetres: the rows of the sheet were placed in this unit,
    // and every printed sheet keeps them where operators expect them.
    layout.UnitY = (printer.PageHeight + 2.0 * printer.OffsetY) / 28.215;
    layout.UnitX = (printer.PageWidth + 2.0 * printer.OffsetX) / 21.0;
    layout.LineHeight = measure.Height("dummy", SheetBodyPointSize);
    layout.Top = RoundHalfEven(2.5 * layout.UnitY);
    layout.Margin = RoundHalfEven(1.5 * layout.UnitX);
    layout.LabelX = RoundHalfEven(0.1 * layout.UnitX) + layout.Margin;
    layout.ValueX =
        layout.LabelX + measure.Width(texts.NameCaption, SheetBodyPointSize) + SheetValueColumnGap;

    const int headerWidth = measure.Width(texts.Header, SheetHeaderPointSize);
    const int headerX = printer.PageWidth - layout.Margin - 2 * (headerWidth / 2);
    layout.Texts.push_back({texts.Header, SheetHeaderPointSize,
                            QRect(headerX, RoundHalfEven(0.5 * layout.UnitY), headerWidth,
                                  measure.Height(texts.Header, SheetHeaderPointSize))});

    if (!pictureSize.isEmpty()) {
        // Whole factors only: a 600 dpi printer enlarges by 6, and below 96 dpi by nothing.
        const int factorX = printer.ResolutionX / SheetWindowPixelsPerInch;
        const int factorY = printer.ResolutionY / SheetWindowPixelsPerInch;
        layout.Picture = QRect(layout.Margin, layout.Top, pictureSize.width() * factorX,
                               pictureSize.height() * factorY);
        layout.Top += pictureSize.height() * factorY;
    }

    auto place = [&](int line, int x, const QString& text) {
        if (text.isEmpty())
            return;
        layout.Texts.push_back({text, SheetBodyPointSize,
                                QRect(x, layout.LineY(line),
                                      measure.Width(text, SheetBodyPointSize), layout.LineHeight)});
    };
    place(5, layout.LabelX, texts.NameCaption);
    place(5, layout.ValueX, texts.Name);
    place(9, layout.LabelX, texts.CardNumberCaption);
    place(9, layout.ValueX, texts.CardNumber);
    for (int i = 0; i < 4; ++i) {
        place(11 + i, layout.LabelX, texts.CustomCaptions[i]);
        place(11 + i, layout.ValueX, texts.CustomTexts[i]);
    }
    place(20, layout.LabelX, texts.DateCaption);
    place(24, layout.LabelX, texts.SignatureCaption);
    return layout;
}

QString SheetPictureFile(const QString& dataDirectory, const QString& programDirectory) {
    const QStringList candidates = {dataDirectory + "/printimage",
                                    programDirectory + "/printdefault"};
    for (const QString& stem : candidates) {
        for (const char* extension : {".png", ".jpg", ".jpeg", ".bmp"}) {
            const QFileInfo file(stem + extension);
            if (file.exists())
                return file.filePath();
        }
    }
    return {};
}
