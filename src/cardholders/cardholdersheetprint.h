#pragma once

#include "cardholders/cardholdersheet.h"

#include <QFont>
#include <QString>

class QPrinter;
class QWidget;
class TDesktop;
class TfrmCardHolder;

// The sheet's font: "Tahoma" from the system, else the metric-compatible one Debian ships with
// Wine (loaded by the program itself), else the desktop's sans-serif font.
QFont SheetFont(int pointSize);
// Where the program looks for a Tahoma of its own when the system has none.
QString BundledTahomaFile();

// What the cardholder dialog shows, as the sheet prints it; the header carries the current time.
TSheetTexts SheetTextsOf(const TfrmCardHolder& dialog);

// The sheet laid out for this printer, measured in its fonts at its resolution.
TSheetLayout SheetLayoutFor(QPrinter& printer, const TSheetTexts& texts, const QSize& pictureSize);

// Draws the sheet into a printer that is already set up. When the header picture exists but
// cannot be read, the operator is told which file and no document is begun. False when nothing
// was printed.
bool PrintSheet(QPrinter& printer, const TSheetTexts& texts, QWidget* parent);

// The print button: the printer choice, then the sheet under the job title "Cardholder".
void PrintCardHolderSheet(TfrmCardHolder* dialog, TDesktop& desktop);
// "Save as PDF...": the same sheet into a PDF file the operator names (".pdf" added when the name
// has no suffix), at 1200 dpi.
void SaveCardHolderSheetAsPdf(TfrmCardHolder* dialog, TDesktop& desktop);

inline constexpr int SheetPdfResolution = 1200;
