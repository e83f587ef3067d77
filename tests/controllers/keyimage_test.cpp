#include "controllers/keyimage.h"
#include "onewire/crc8.h"

#include "samplekeyimage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<uint8_t> Bytes(const TKeyImage& image, int from, int count) {
    return std::vector<uint8_t>(image.begin() + from, image.begin() + from + count);
}

bool ZerosBetween(const TKeyImage& image, int from, int to) {
    for (int i = from; i <= to; ++i)
        if (image[size_t(i)] != 0)
            return false;
    return true;
}

TEST(KeyImage, HeaderWithoutCardsAndItsCrc) {
    const TKeyImage image = BuildKeyImage(KeyInput("A1B2C3"));
    EXPECT_THAT(Bytes(image, 0, 8),
                ElementsAreArray<uint8_t>({0xA1, 0xB2, 0xC3, 0x00, 0x01, 0x01, 0x02, 0x04}));
    EXPECT_TRUE(ZerosBetween(image, 8, 510));
    EXPECT_EQ(image[511], 0x62);
}

TEST(KeyImage, CardEntriesOfBothZones) {
    struct Case {
        const char* name;
        QStringList zone1, zone2;
        uint8_t byte5;
        std::vector<uint8_t> entries;
    };
    const std::vector<Case> cases = {
        {"two in zone 1, one in zone 2",
         {"12AB000001", "34CD000002"},
         {"56EF000003"},
         3,
         {0x12, 0xAB, 0x34, 0xCD, 0x56, 0xEF}},
        {"only zone 2", {}, {"56EF000003", "0A0B0C0D0E"}, 1, {0x56, 0xEF, 0x0A, 0x0B}},
        {"only zone 1", {"FFFF000000"}, {}, 2, {0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TKeyImage image = BuildKeyImage(KeyInput("A1B2C3", c.zone1, c.zone2));
        EXPECT_EQ(image[5], c.byte5);
        EXPECT_THAT(Bytes(image, 8, int(c.entries.size())), ElementsAreArray(c.entries));
        EXPECT_TRUE(ZerosBetween(image, 8 + int(c.entries.size()), 510));
        EXPECT_EQ(image[511], onewire::crc8(std::span<const uint8_t>(image.data(), 511)));
    }
}

TEST(KeyImage, LetterCaseDoesNotMatter) {
    const TKeyImage upper = BuildKeyImage(KeyInput("A1B2C3", {"12AB000001"}, {"CDEF000002"}));
    const TKeyImage lower = BuildKeyImage(KeyInput("a1b2c3", {"12ab000001"}, {"cdef000002"}));
    EXPECT_EQ(upper, lower);
    EXPECT_TRUE(KeyImageProblem(KeyInput("a1B2c3", {"12ab000001"})).isEmpty());
}

TEST(KeyImage, TwoHundredFiftyOneEntriesFitAndTheNextIsRefused) {
    QStringList zone1, zone2;
    for (int i = 0; i < 200; ++i)
        zone1 << "1234" + QString::number(i).rightJustified(6, '0');
    for (int i = 0; i < 51; ++i)
        zone2 << "ABCD" + QString::number(i).rightJustified(6, '0');

    const TKeyImageInput full = KeyInput("A1B2C3", zone1, zone2);
    ASSERT_TRUE(KeyImageProblem(full).isEmpty());
    const TKeyImage image = BuildKeyImage(full);
    EXPECT_EQ(image[5], 201);
    EXPECT_THAT(Bytes(image, 8 + 199 * 2, 4), ElementsAreArray<uint8_t>({0x12, 0x34, 0xAB, 0xCD}));
    EXPECT_THAT(Bytes(image, 508, 2), ElementsAreArray<uint8_t>({0xAB, 0xCD}));
    EXPECT_EQ(image[510], 0x00);
    EXPECT_EQ(image[511], onewire::crc8(std::span<const uint8_t>(image.data(), 511)));

    TKeyImageInput tooMany = full;
    tooMany.Zone2Cards << "ABCD999999";
    EXPECT_THAT(KeyImageProblem(tooMany).toStdString(), HasSubstr("252"));
    EXPECT_THAT(KeyImageProblem(tooMany).toStdString(), HasSubstr("251"));
}

TEST(KeyImage, BadCodesAndCardsAreNamedInTheRefusal) {
    struct Case {
        QString code;
        QStringList cards;
        QString named; // the value the message must quote
    };
    const std::vector<Case> refused = {
        {"12G4", {}, "\"12G4\""},
        {"", {}, "\"\""},
        {"ABCDEFG", {}, "\"ABCDEFG\""},
        {"A1B2C", {}, "\"A1B2C\""},
        {" A1B2C", {}, "\" A1B2C\""},
        {"12\"456", {}, "\"12\"456\""},
        {"A1B2C3", {"12AB000001", "12G4000002"}, "\"12G4000002\""},
        {"A1B2C3", {"12A"}, "\"12A\""},
        {"A1B2C3", {""}, "\"\""},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.code.toStdString() + " / " + c.cards.join(',').toStdString());
        const QString problem = KeyImageProblem(KeyInput(c.code, {}, c.cards));
        EXPECT_THAT(problem.toStdString(), HasSubstr(c.named.toStdString()));
    }
    // Only the first four characters of a card number reach the key.
    EXPECT_TRUE(KeyImageProblem(KeyInput("A1B2C3", {"12ab"}, {"12ABxyz"})).isEmpty());
}

} // namespace
