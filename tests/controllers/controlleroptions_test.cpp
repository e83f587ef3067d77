#include "controllers/controlleroptions.h"

#include <gtest/gtest.h>

namespace {

TEST(ControllerOptions, EveryByteTheDialogWritesReadsBackAsTheSameChoices) {
    for (int conByte1 = 2; conByte1 <= 30; conByte1 += 4) {
        SCOPED_TRACE(conByte1);
        const TControllerOptions options = TControllerOptions::FromBytes(uint8_t(conByte1), 17);
        EXPECT_EQ(options.ConByte1(), conByte1);
        EXPECT_EQ(options.ConByte2(), 17);
    }
    // Bits without a meaning are dropped and bit 1 is always set.
    EXPECT_EQ(TControllerOptions::FromBytes(0xFF, 1).ConByte1(), 30);
    EXPECT_EQ(TControllerOptions::FromBytes(0x00, 1).ConByte1(), 2);
}

TEST(ControllerOptions, RelayTimesAreQuarterSecondsWithTwoDecimals) {
    const QStringList point = RelaisTimeItems(".");
    ASSERT_EQ(point.size(), 255);
    EXPECT_EQ(point.mid(0, 5), (QStringList{"0.25", "0.50", "0.75", "1.00", "1.25"}));
    EXPECT_EQ(point.last(), "63.75");
    const QStringList comma = RelaisTimeItems(",");
    EXPECT_EQ(comma[39], "10,00");
    EXPECT_EQ(comma.last(), "63,75");
}

} // namespace
