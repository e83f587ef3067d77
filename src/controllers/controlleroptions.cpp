#include "controllers/controlleroptions.h"

namespace {
constexpr uint8_t AlwaysSet = 0x02;
constexpr uint8_t RelaisTimeOff = 0x04;
constexpr uint8_t LEDExternBit = 0x08;
constexpr uint8_t InvertBit = 0x10;
} // namespace

TControllerOptions TControllerOptions::FromBytes(uint8_t conByte1, uint8_t conByte2) {
    TControllerOptions options;
    options.EnableRelais = (conByte1 & RelaisTimeOff) == 0;
    options.LEDExtern = (conByte1 & LEDExternBit) != 0;
    options.Invert = (conByte1 & InvertBit) != 0;
    options.RelaisTimeIndex = int(conByte2) - 1;
    return options;
}

uint8_t TControllerOptions::ConByte1() const {
    uint8_t value = AlwaysSet;
    if (!EnableRelais)
        value |= RelaisTimeOff;
    if (LEDExtern)
        value |= LEDExternBit;
    if (Invert)
        value |= InvertBit;
    return value;
}

uint8_t TControllerOptions::ConByte2() const {
    return static_cast<uint8_t>(RelaisTimeIndex + 1);
}

QString RelaisTimeText(int n, const QString& decimalSeparator) {
    // Counted in hundredths: a quarter second always ends in .00, .25, .50 or .75, so nothing
    // rounds.
    const int hundredths = n * 25;
    return QString::number(hundredths / 100) + decimalSeparator +
           QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

QStringList RelaisTimeItems(const QString& decimalSeparator) {
    QStringList items;
    items.reserve(TControllerOptions::RelaisTimeCount);
    for (int n = 1; n <= TControllerOptions::RelaisTimeCount; ++n)
        items << RelaisTimeText(n, decimalSeparator);
    return items;
}
