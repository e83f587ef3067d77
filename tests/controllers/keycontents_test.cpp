#include "controllers/keycontents.h"
#include "onewire/crc8.h"

#include "samplekeyimage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

// A card number per entry, as the database would hold it.
QStringList Cards(const QStringList& entries) {
    QStringList cards;
    for (const QString& entry : entries)
        cards << entry + "000001";
    return cards;
}

void Seal(TKeyImage& image) {
    image[KeyCrcOffset] = onewire::crc8(std::span<const uint8_t>(image.data(), KeyCrcOffset));
}

TEST(KeyContents, DecodingGivesBackWhatTheImageWasBuiltFrom) {
    QStringList full1, full2;
    for (int i = 0; i < 200; ++i)
        full1 << QString::number(0x1000 + i, 16).toUpper();
    for (int i = 0; i < 51; ++i)
        full2 << QString::number(0xA000 + i, 16).toUpper();
    const struct {
        const char* name;
        QString code;
        QStringList zone1, zone2;
        uint8_t byte1, byte2;
        QStringList decoded1, decoded2; // when they differ from the zones
    } cases[] = {
        {"no cards", "A1B2C3", {}, {}, 2, 4, {}, {}},
        {"both zones", "00FF10", {"12AB", "34CD"}, {"56EF"}, 30, 255, {}, {}},
        {"only zone 2", "A1B2C3", {}, {"56EF", "0A0B"}, 6, 1, {}, {}},
        {"lower case in", "a1b2c3", {"12ab", "cdef"}, {}, 2, 4, {"12AB", "CDEF"}, {}},
        {"the same entry twice, in both zones", "A1B2C3", {"12AB", "12AB"}, {"12AB"}, 2, 4, {}, {}},
        {"0000 entries in zone 1 and inside zone 2 are kept",
         "A1B2C3",
         {"0000"},
         {"0000", "12AB"},
         2,
         4,
         {},
         {}},
        // The zeros after the list cannot be told from such an entry.
        {"a 0000 entry at the end of zone 2 is lost",
         "A1B2C3",
         {"12AB"},
         {"34CD", "0000"},
         2,
         4,
         {"12AB"},
         {"34CD"}},
        {"a full key: 251 entries", "A1B2C3", full1, full2, 2, 4, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TDecodedKey key = DecodeKeyImage(
            BuildKeyImage(KeyInput(c.code, Cards(c.zone1), Cards(c.zone2), c.byte1, c.byte2)));
        ASSERT_EQ(key.State, TKeyImageState::Valid);
        EXPECT_EQ(key.ConCode, c.code.toUpper());
        EXPECT_EQ(key.ConByte1, c.byte1);
        EXPECT_EQ(key.ConByte2, c.byte2);
        const bool same = c.decoded1.isEmpty() && c.decoded2.isEmpty();
        EXPECT_EQ(key.Zone1, same ? c.zone1 : c.decoded1);
        EXPECT_EQ(key.Zone2, same ? c.zone2 : c.decoded2);
    }
}

TEST(KeyContents, KeysThatHoldNoListAreToldApart) {
    const TKeyImage good = BuildKeyImage(KeyInput("A1B2C3", Cards({"12AB"}), Cards({"34CD"})));
    TKeyImage zeros{};
    TKeyImage ones;
    ones.fill(0xFF);
    TKeyImage flipped = good;
    flipped[9] ^= 0x01; // one bit of an entry
    TKeyImage crcOff = good;
    crcOff[KeyCrcOffset] ^= 0x80;
    TKeyImage otherUse = good; // CRC right, but byte 4 is not the 0x01 of a list
    otherUse[4] = 0x07;
    Seal(otherUse);
    TKeyImage zone1TooLong = good; // byte 5 says more entries than fit
    zone1TooLong[5] = 253;
    Seal(zone1TooLong);
    TKeyImage noZone1Count = good;
    noZone1Count[5] = 0;
    Seal(noZone1Count);
    TKeyImage lastByteUsed = good; // byte 510 is never an entry's
    lastByteUsed[510] = 0x12;
    Seal(lastByteUsed);

    const struct {
        const char* name;
        const TKeyImage& image;
        TKeyImageState state;
    } cases[] = {
        {"all zeros: its CRC would hold", zeros, TKeyImageState::Blank},
        {"all ones", ones, TKeyImageState::Blank},
        {"one bit changed", flipped, TKeyImageState::BadCrc},
        {"CRC byte changed", crcOff, TKeyImageState::BadCrc},
        {"another use of the key", otherUse, TKeyImageState::NoAccessList},
        {"zone 1 longer than a key", zone1TooLong, TKeyImageState::NoAccessList},
        {"no zone-1 count", noZone1Count, TKeyImageState::NoAccessList},
        {"byte 510 used", lastByteUsed, TKeyImageState::NoAccessList},
        {"a good key", good, TKeyImageState::Valid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TDecodedKey key = DecodeKeyImage(c.image);
        EXPECT_EQ(key.State, c.state);
        if (c.state != TKeyImageState::Valid) {
            EXPECT_TRUE(key.Zone1.isEmpty() && key.Zone2.isEmpty() && key.ConCode.isEmpty());
        }
    }
}

TEST(KeyContents, KeyEntriesOfCardNumbers) {
    EXPECT_EQ(KeyEntryOf("12ab000001"), "12AB");
    EXPECT_EQ(KeyEntryOf("12AB"), "12AB");
    EXPECT_EQ(KeyEntryOf("12A"), "");
    EXPECT_EQ(KeyEntryOf("12G4000001"), "");
    EXPECT_EQ(KeyEntryOf(""), "");
}

TDecodedKey Decoded(QStringList zone1, QStringList zone2, uint8_t byte1 = 2, uint8_t byte2 = 4,
                    const QString& code = "A1B2C3") {
    return DecodeKeyImage(BuildKeyImage(KeyInput(code, Cards(zone1), Cards(zone2), byte1, byte2)));
}

TEST(KeyContents, AComparisonNamesWhatChangedAndNothingElse) {
    using C = TKeyEntryChange;
    const struct {
        const char* name;
        TDecodedKey key, now;
        QList<TKeyEntryChange> changes;
    } cases[] = {
        {"the same", Decoded({"12AB"}, {"34CD"}), Decoded({"12AB"}, {"34CD"}), {}},
        {"the same in another order",
         Decoded({"12AB", "56EF"}, {"34CD", "78AB"}),
         Decoded({"56EF", "12AB"}, {"78AB", "34CD"}),
         {}},
        {"a card added", Decoded({"12AB"}, {}), Decoded({"12AB"}, {"34CD"}), {C{"34CD", 0, 2}}},
        {"a card removed", Decoded({"12AB", "34CD"}, {}), Decoded({"12AB"}, {}), {C{"34CD", 1, 0}}},
        {"moved to the blue zone",
         Decoded({"12AB", "34CD"}, {}),
         Decoded({"12AB"}, {"34CD"}),
         {C{"34CD", 1, 2}}},
        {"moved back to zone 1", Decoded({}, {"34CD"}), Decoded({"34CD"}, {}), {C{"34CD", 2, 1}}},
        // Two cards share 12AB: one of them goes, the other stays.
        {"one of two cards of an entry removed",
         Decoded({"12AB", "12AB"}, {}),
         Decoded({"12AB"}, {}),
         {C{"12AB", 1, 0}}},
        {"one of two moved, one added",
         Decoded({"12AB", "12AB"}, {}),
         Decoded({"12AB"}, {"12AB", "12AB"}),
         {C{"12AB", 1, 2}, C{"12AB", 0, 2}}},
        {"everything replaced",
         Decoded({"12AB"}, {"34CD"}),
         Decoded({"56EF"}, {}),
         {C{"12AB", 1, 0}, C{"34CD", 2, 0}, C{"56EF", 0, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TKeyComparison comparison = CompareKeys(c.key, c.now);
        EXPECT_EQ(comparison.Changes, c.changes);
        EXPECT_FALSE(comparison.CodeDiffers || comparison.ConByte1Differs ||
                     comparison.ConByte2Differs);
        EXPECT_EQ(comparison.Matches(), c.changes.isEmpty());
    }
}

TEST(KeyContents, OptionBytesAndCodeCountAsDifferences) {
    const TDecodedKey key = Decoded({"12AB"}, {});
    const struct {
        const char* name;
        TDecodedKey now;
        bool code, byte1, byte2;
    } cases[] = {
        {"relay time enabled", Decoded({"12AB"}, {}, 6, 4), false, true, false},
        {"relay time longer", Decoded({"12AB"}, {}, 2, 8), false, false, true},
        {"another code", Decoded({"12AB"}, {}, 2, 4, "A1B2C4"), true, false, false},
        {"the code in lower case", Decoded({"12AB"}, {}, 2, 4, "a1b2c3"), false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TKeyComparison comparison = CompareKeys(key, c.now);
        EXPECT_EQ(comparison.CodeDiffers, c.code);
        EXPECT_EQ(comparison.ConByte1Differs, c.byte1);
        EXPECT_EQ(comparison.ConByte2Differs, c.byte2);
        EXPECT_TRUE(comparison.Changes.isEmpty());
        EXPECT_EQ(comparison.Matches(), !(c.code || c.byte1 || c.byte2));
    }
}

} // namespace
