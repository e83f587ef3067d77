#include "faketmexcontrol.h"

#include "reader/CodeReaderInterface.h"
#include "shared/errors.h"
#include "shared/translation.h"

#include <dlfcn.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

const RomBytes Ds1991{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2};
const RomBytes Ds1991WrongCrc{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA3};
const RomBytes Family10{0x10, 0x0A, 0x00, 0x01, 0xFF, 0x10, 0x00, 0x85};
const RomBytes Ds1993WrongCrc{0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00};

QString ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const VyrError& error) {
        return error.Message();
    }
    return {};
}

using CodeReaderInterfaceTest = FakeTmexTest;

TEST_F(CodeReaderInterfaceTest, OnlyTheMaximReaderIsAccepted) {
    for (const char* name : {"maximreader", "MAXIMREADER", "MaximReader ", "", "DS9097"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf([&] { TReaderInterface reader(name, "32", 5, 1); }), "No valid reader");
    }
    EXPECT_TRUE(Fake.Calls().empty());
}

TEST_F(CodeReaderInterfaceTest, AMissingLibraryFailsTheCreation) {
    TMaximReader::SetLibraryName(FakeTmex::MissingFileName);
    EXPECT_EQ(ErrorOf([] { TReaderInterface reader("MaximReader", "32", 5, 1); }),
              "Unable not load TMEX library");
}

TEST_F(CodeReaderInterfaceTest, CreationErrorsSpeakTheOperatorsLanguage) {
    UseLanguage("nl");
    const QString invalidReader = ErrorOf([] { TReaderInterface reader("DS9097", "32", 5, 1); });
    TMaximReader::SetLibraryName(FakeTmex::MissingFileName);
    const QString noLibrary = ErrorOf([] { TReaderInterface reader("MaximReader", "32", 5, 1); });
    ASSERT_NE(Translate("No valid reader"), "No valid reader") << "no Dutch catalogue loaded";
    EXPECT_EQ(invalidReader, Translate("No valid reader"));
    EXPECT_EQ(noLibrary, Translate("Unable not load TMEX library"));
}

TEST_F(CodeReaderInterfaceTest, ReadRomTurnsTheRomIntoFamilyAndCardNumber) {
    struct Case {
        RomBytes rom;
        bool validateCRC;
        bool result;
        QString number;
        QString family;
        uint8_t crcCalculated;
    };
    const Case cases[] = {
        {Ds1990, false, true, "A1B2C3D4E5", "DS1990", 0x8F},
        {Ds1990, true, true, "A1B2C3D4E5", "DS1990", 0x8F},
        {Ds1991, true, true, "1CB8010000", "DS1991", 0xA2},
        // Every window reads without validation, so a bad CRC byte still yields a number.
        {Ds1991WrongCrc, false, true, "1CB8010000", "DS1991", 0xA2},
        {Ds1991WrongCrc, true, false, "", "", 0xA2},
        // Bytes below 0x10 keep their leading zero; an unknown family is named so.
        {Family10, true, true, "0A0001FF10", "UNKNOWN", 0x85},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.number.toStdString() << " validate " << c.validateCRC);
        Fake.Reset();
        Fake.AddDevice(c.rom);
        TReaderInterface reader("MaximReader", "32", 5, 1);
        ASSERT_TRUE(reader.ReaderLoaded);

        QString number = "previous";
        EXPECT_EQ(reader.ReadRom(number, c.validateCRC), c.result);
        EXPECT_EQ(number, c.number);
        EXPECT_EQ(reader.FamilyType, c.family);
        EXPECT_EQ(reader.FamilyCode, c.rom[0]);
        EXPECT_EQ(reader.RomCRC, c.rom[7]);
        EXPECT_EQ(reader.CRCCalculated, c.crcCalculated);
    }
}

TEST_F(CodeReaderInterfaceTest, AFailedReadKeepsWhatTheLastDeviceLeft) {
    Fake.AddDevice(Ds1990);
    TReaderInterface reader("MaximReader", "32", 5, 1);
    QString number;
    ASSERT_TRUE(reader.ReadRom(number, false));
    ASSERT_EQ(number, "A1B2C3D4E5");
    EXPECT_TRUE(reader.ReadRom(number, false)) << "a card left on the adapter reads again";
    EXPECT_EQ(number, "A1B2C3D4E5");

    // A CRC refusal takes the new ROM's bytes but not its family name.
    Fake.ClearBus();
    Fake.AddDevice(Ds1993WrongCrc);
    EXPECT_FALSE(reader.ReadRom(number, true));
    EXPECT_EQ(number, "");
    EXPECT_EQ(reader.FamilyCode, 0x06);
    EXPECT_EQ(reader.RomCRC, 0x00);
    EXPECT_EQ(reader.FamilyType, "DS1990");

    // An empty adapter changes nothing at all.
    Fake.ClearBus();
    number = "previous";
    EXPECT_FALSE(reader.ReadRom(number, false));
    EXPECT_EQ(number, "");
    EXPECT_EQ(reader.FamilyCode, 0x06);
    EXPECT_EQ(reader.FamilyType, "DS1990");
}

TEST_F(CodeReaderInterfaceTest, AReaderWithoutSessionIsNoErrorButReadsNothing) {
    Fake.AddDevice(Ds1990);
    // Adapter 0 and a library without a default port: no session.
    TReaderInterface reader("MaximReader", "32", 0, 0);
    EXPECT_FALSE(reader.ReaderLoaded);
    QString number = "previous";
    EXPECT_FALSE(reader.ReadRom(number, false));
    EXPECT_EQ(number, "");
    EXPECT_THAT(Fake.Calls(), ::testing::ElementsAre("TMReadDefaultPort"));
}

TEST_F(CodeReaderInterfaceTest, PagesGoThroughTheBinding) {
    const int key = Fake.AddDevice({0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0E});
    TReaderInterface reader("MaximReader", "32", 6, 1);
    QString number;
    ASSERT_TRUE(reader.ReadRom(number, false));

    std::vector<uint8_t> page(32);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(0xC0 + i);
    std::vector<uint8_t> data = page;
    EXPECT_TRUE(reader.WritePage(480, data));
    EXPECT_EQ(Fake.Memory(key, 480, 32), page);

    std::vector<uint8_t> read(5, 0x11);
    reader.ReadPage(480, read);
    EXPECT_EQ(read, page);

    Fake.ClearBus();
    data = page;
    EXPECT_FALSE(reader.WritePage(0, data));
}

TEST_F(CodeReaderInterfaceTest, DestroyingTheReaderEndsTheSession) {
    Fake.SetNextSessionHandle(31);
    { TReaderInterface reader("MaximReader", "32", 5, 1); }
    const auto calls = Fake.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "TMEndSession");
    EXPECT_EQ(Fake.CallSessions().back(), 31);
}

TEST_F(CodeReaderInterfaceTest, DestroyingTheReaderUnloadsTheLibrary) {
    auto reader = std::make_unique<TReaderInterface>("MaximReader", "32", 5, 1);
    Fake.Close(); // from here only the reader holds the library
    const std::string fake = FakeTmex::PathOf(FakeTmex::FileName);
    void* probe = dlopen(fake.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(probe, nullptr);
    dlclose(probe);
    reader.reset();
    EXPECT_EQ(dlopen(fake.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

} // namespace
