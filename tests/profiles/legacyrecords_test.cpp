#include "profiles/legacyrecords.h"

#include "legacyfiles.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* what;
    QByteArray bytes;
    QString text;
};

class BytesToTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(BytesToTextTest, Decodes) {
    EXPECT_EQ(BytesToText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BytesToTextTest,
    ::testing::Values(
        TextCase{"zero bytes vanish inside", QByteArray("AB\0CD", 5), "ABCD"},
        TextCase{"zero bytes vanish at the ends", QByteArray("\0\0A\0", 4), "A"},
        TextCase{"only zero bytes", QByteArray(10, '\0'), ""},
        TextCase{"empty field", QByteArray(), ""},
        TextCase{"blanks and controls trimmed, inner ones kept",
                 QByteArray("\x01\t  A \x1f B \x20\r\n"), "A \x1f B"},
        TextCase{"zero between blanks does not stop the trim", QByteArray(" \0 X \0 ", 7), "X"},
        TextCase{"127 and above are not trimmed",
                 QByteArray("\x7f"
                            "A\xa0"),
                 QString(QChar(0x7f)) + "A" + QChar(0xa0)},
        TextCase{"high bytes are Latin-1", QByteArray("Jos\xe9 \x80\xff"),
                 QString("Jos") + QChar(0xe9) + " " + QChar(0x80) + QChar(0xff)},
        TextCase{"quotes stand as they are", QByteArray("O\"Brien 'x'"), "O\"Brien 'x'"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

struct CodeCase {
    const char* what;
    QByteArray code;     // the record's first bytes, up to 10
    const char* decoded; // nullptr: the record holds no controller
};

class ControllerRecordTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ControllerRecordTest, ImportsOnlySixCharacterCodes) {
    const auto controller =
        DecodeControllerRecord(ControllerRecord(GetParam().code, "Front door", 30, 255), 7);
    if (!GetParam().decoded) {
        EXPECT_FALSE(controller.has_value());
        return;
    }
    ASSERT_TRUE(controller.has_value());
    EXPECT_EQ(controller->ConCode, QString::fromLatin1(GetParam().decoded));
    EXPECT_EQ(controller->RecordNum, 7);
    EXPECT_EQ(controller->ConID, 0);
    EXPECT_EQ(controller->ConType, "VYR292");
    EXPECT_EQ(controller->ConName, "Front door");
    EXPECT_EQ(controller->ConByte1, 30);
    EXPECT_EQ(controller->ConByte2, 255);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ControllerRecordTest,
    ::testing::Values(
        CodeCase{"six", "12AB3F", "12AB3F"},
        // Bytes 6 to 9 are not part of the code: a seventh character is not read.
        CodeCase{"seventh byte not read", "12AB3FG", "12AB3F"}, CodeCase{"five", "12AB3", nullptr},
        CodeCase{"zero byte inside", QByteArray("12\0B3F", 6), nullptr},
        CodeCase{"leading space", " 2AB3F", nullptr}, CodeCase{"trailing space", "12AB3 ", nullptr},
        CodeCase{"empty slot", QByteArray(), nullptr},
        // The code is not examined beyond its length, as the controller dialog
        // does not examine a typed one.
        CodeCase{"high bytes count", "\xe9\xe9\xe9\xe9\xe9\xe9", "\xe9\xe9\xe9\xe9\xe9\xe9"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(ControllerRecord, OptionBytesAreCopiedUnchanged) {
    for (int value : {0, 1, 0x87, 128, 255}) {
        const auto controller =
            DecodeControllerRecord(ControllerRecord("000000", "", quint8(value), quint8(value)), 1);
        ASSERT_TRUE(controller.has_value());
        EXPECT_EQ(controller->ConByte1, value);
        EXPECT_EQ(controller->ConByte2, value);
    }
}

TEST(CardRecord, FieldsComeFromTheirOffsets) {
    const TLegacyCard card =
        DecodeCardRecord(CardRecord("01A2B3C4D5", "Anna de Vries", "Sales", "Room 12"));
    EXPECT_EQ(card.CardNumber, "01A2B3C4D5");
    EXPECT_EQ(card.CardHolder, "Anna de Vries");
    EXPECT_EQ(card.CardCustom1, "Sales");
    EXPECT_EQ(card.CardCustom2, "Room 12");
    EXPECT_TRUE(card.HoldsCard());
    for (quint8 zone : card.Zones)
        EXPECT_EQ(zone, 0);
}

TEST(CardRecord, FullFieldsDoNotSpillIntoEachOther) {
    const QByteArray holder(30, 'H');
    const QByteArray custom1(30, 'C');
    const QByteArray custom2(10, 'D');
    const TLegacyCard card = DecodeCardRecord(CardRecord("9999999999", holder, custom1, custom2));
    EXPECT_EQ(card.CardHolder, QString(30, 'H'));
    EXPECT_EQ(card.CardCustom1, QString(30, 'C'));
    EXPECT_EQ(card.CardCustom2, QString(10, 'D'));
    EXPECT_EQ(card.CardNumber, "9999999999");
}

struct NumberCase {
    QByteArray bytes;
    bool holdsCard;
};

TEST(CardRecord, EmptyAndAllZeroNumbersHoldNoCard) {
    for (const NumberCase& c :
         {NumberCase{QByteArray(), false}, NumberCase{"0000000000", false},
          NumberCase{"   \t      ", false},
          NumberCase{QByteArray("00000\0"
                                "0000",
                                10),
                     true}, // nine zeros
          NumberCase{"000000000", true}, NumberCase{"0000000001", true}, NumberCase{"abc", true}}) {
        EXPECT_EQ(DecodeCardRecord(CardRecord(c.bytes, "x")).HoldsCard(), c.holdsCard)
            << c.bytes.toStdString();
    }
}

TEST(CardRecord, NumberIsTakenAsDecoded) {
    EXPECT_EQ(DecodeCardRecord(CardRecord(" 0a1b ", "x")).CardNumber, "0a1b");
}

struct FlagCase {
    const char* what;
    int byte;                                  // flag byte 0..15
    quint8 zone1, zone2;                       // its value in each block
    std::vector<std::pair<int, int>> expected; // (position, zone); every other position is 0
};

class ZoneFlagsTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ZoneFlagsTest, MapBitsToPositions) {
    QByteArray zone1(16, '\0');
    QByteArray zone2(16, '\0');
    zone1[GetParam().byte] = char(GetParam().zone1);
    zone2[GetParam().byte] = char(GetParam().zone2);
    const TLegacyCard card = DecodeCardRecord(CardFlagsRecord("1", zone1, zone2));
    std::array<quint8, LegacyPositions> expected{};
    for (const auto& [position, zone] : GetParam().expected)
        expected[size_t(position - 1)] = quint8(zone);
    EXPECT_EQ(card.Zones, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, ZoneFlagsTest,
    ::testing::Values(
        FlagCase{"bit0 is the first position", 0, 0x01, 0, {{1, 1}}},
        FlagCase{"bit7 is the eighth", 0, 0x80, 0, {{8, 1}}},
        FlagCase{"second byte starts at nine", 1, 0x01, 0, {{9, 1}}},
        FlagCase{"last bit is position 128", 15, 0x80, 0, {{128, 1}}},
        FlagCase{"zone two", 3, 0, 0x05, {{25, 2}, {27, 2}}},
        FlagCase{"zone one wins over two", 2, 0x03, 0x06, {{17, 1}, {18, 1}, {19, 2}}},
        FlagCase{"all flags",
                 15,
                 0xff,
                 0xff,
                 {{121, 1}, {122, 1}, {123, 1}, {124, 1}, {125, 1}, {126, 1}, {127, 1}, {128, 1}}}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

} // namespace
