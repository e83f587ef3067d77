#include "faketmexcontrol.h"

#include "reader/MaximReader.h"
#include "shared/datadir.h"

#include <QFile>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <link.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Eq;

namespace {

const RomBytes AdapterChip{0x81, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
const RomBytes Ds1993{0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0E};
const RomBytes ZeroRom{};

std::vector<uint8_t> Bytes(const RomBytes& rom) {
    return {rom.begin(), rom.end()};
}

TRomAddress RomAddress(const RomBytes& rom) {
    TRomAddress address{};
    std::copy(rom.begin(), rom.end(), address.begin());
    return address;
}

// 32 bytes that differ from each other and from the fake's zero-filled memory.
std::vector<uint8_t> PagePattern(uint8_t seed) {
    std::vector<uint8_t> page(32);
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(seed + 7 * i + 1);
    return page;
}

const std::vector<uint8_t> ReadSlots(32, 0xFF);

size_t CountOf(const std::vector<std::string>& calls, const std::string& call) {
    return std::count(calls.begin(), calls.end(), call);
}

class MaximReaderTest : public FakeTmexTest {
protected:
    // A reader on serial port 1 with its session set up; the record starts after setup.
    std::unique_ptr<TMaximReader> OpenReader() {
        auto reader = std::make_unique<TMaximReader>("32", 5, 1);
        EXPECT_TRUE(reader->LoadDLL());
        EXPECT_TRUE(reader->StartSession());
        Fake.ClearCalls();
        return reader;
    }

    void TearDown() override {
        for (auto& reader : Readers) {
            reader->EndSession();
            reader->FreeDLL();
        }
        FakeTmexTest::TearDown();
    }

    TMaximReader& Reader() {
        Readers.push_back(OpenReader());
        return *Readers.back();
    }

    std::vector<std::unique_ptr<TMaximReader>> Readers;
};

TEST_F(MaximReaderTest, SessionOpensOnTheSettingsPortOrTheLibraryDefault) {
    struct Case {
        int16_t adapter, port;
        int16_t defaultNum, defaultType;
        std::vector<std::string> calls;
        bool setupDone;
        int16_t portNum, portType;
    };
    const Case cases[] = {
        // The settings' port wins; the library's default is not even asked for.
        {5, 3, 9, 6, {"TMExtendedStartSession 3 5 null", "TMSetup"}, true, 3, 5},
        {6, 0, 9, 5, {"TMExtendedStartSession 0 6 null", "TMSetup"}, true, 0, 6},
        // Adapter 0 (the settings default) or less: the library's default port.
        {0,
         3,
         2,
         6,
         {"TMReadDefaultPort", "TMExtendedStartSession 2 6 null", "TMSetup"},
         true,
         2,
         6},
        {-1,
         3,
         4,
         5,
         {"TMReadDefaultPort", "TMExtendedStartSession 4 5 null", "TMSetup"},
         true,
         4,
         5},
        // A library without a configured default port: no session is opened at all.
        {0, 0, 0, 0, {"TMReadDefaultPort"}, false, 0, 0},
        {0, 7, 4, -2, {"TMReadDefaultPort"}, false, 4, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "adapter " << c.adapter << ", default type " << c.defaultType);
        Fake.Reset();
        Fake.SetDefaultPort(c.defaultNum, c.defaultType);
        Fake.SetNextSessionHandle(77);
        TMaximReader reader("32", c.adapter, c.port);
        ASSERT_TRUE(reader.LoadDLL());
        EXPECT_EQ(reader.StartSession(), c.setupDone);
        EXPECT_EQ(reader.SetupDone, c.setupDone);
        EXPECT_EQ(Fake.Calls(), c.calls);
        EXPECT_EQ(reader.PortNum, c.portNum);
        EXPECT_EQ(reader.PortType, c.portType);
        if (c.setupDone) {
            EXPECT_EQ(TMaximReader::SessionHandle, 77);
            EXPECT_EQ(Fake.CallSessions().back(), 77) << "setup runs on the new session";
        }
        reader.FreeDLL();
    }
}

TEST_F(MaximReaderTest, SetupIsTriedUpTo200TimesUntilItAnswersOneOrTwo) {
    struct Case {
        int notReadyCalls;
        int16_t notReadyResult, readyResult;
        bool setupDone;
        size_t setupCalls;
    };
    const Case cases[] = {
        {0, 0, 1, true, 1},       {0, 0, 2, true, 1},     {5, 3, 1, true, 6},
        {5, -4, 2, true, 6},      {199, 0, 1, true, 200}, {200, 0, 1, false, 200},
        {1000, 0, 2, false, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.notReadyCalls << " calls answering " << c.notReadyResult);
        Fake.Reset();
        Fake.ScriptSetup(c.notReadyCalls, c.notReadyResult, c.readyResult);
        TMaximReader reader("32", 5, 1);
        ASSERT_TRUE(reader.LoadDLL());
        EXPECT_EQ(reader.StartSession(), c.setupDone);
        EXPECT_EQ(CountOf(Fake.Calls(), "TMSetup"), c.setupCalls);
        reader.FreeDLL();
    }
}

TEST_F(MaximReaderTest, ReadRomWithoutSetupReportsNoDeviceAndCallsNothing) {
    Fake.AddDevice(Ds1990);
    Fake.ScriptSetup(1000, 0, 1);
    TMaximReader reader("32", 5, 1);
    ASSERT_TRUE(reader.LoadDLL());
    ASSERT_FALSE(reader.StartSession());
    Fake.ClearCalls();

    std::vector<uint8_t> rom;
    EXPECT_FALSE(reader.ReadRom(rom));
    EXPECT_FALSE(reader.ReadRom(rom)) << "setup is not tried again";
    EXPECT_TRUE(Fake.Calls().empty());
    EXPECT_TRUE(rom.empty());
    reader.FreeDLL();
}

TEST_F(MaximReaderTest, ReadRomTakesTheFirstDeviceAndRemembersIt) {
    Fake.AddDevice(Ds1990);
    Fake.AddDevice(Ds1993);
    TMaximReader& reader = Reader();

    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));
    EXPECT_EQ(rom, Bytes(Ds1990)) << "bytes above 0x7F come through unsigned";
    EXPECT_EQ(reader.UID, RomAddress(Ds1990));
    // The search moves on once after taking a device; that result only ends the loop.
    EXPECT_THAT(Fake.Calls(), ElementsAre("TMFirst", RomLine(ZeroRom), "TMNext"));

    // Every call starts a new search, so the same device comes back.
    Fake.ClearCalls();
    rom.clear();
    ASSERT_TRUE(reader.ReadRom(rom));
    EXPECT_EQ(rom, Bytes(Ds1990));
    EXPECT_EQ(Fake.Calls().front(), "TMFirst");
}

TEST_F(MaximReaderTest, ReadRomPassesTheUsbAdaptersOwnChipOver) {
    TMaximReader& reader = Reader();
    Fake.AddDevice(AdapterChip);
    std::vector<uint8_t> rom{0x42};
    EXPECT_FALSE(reader.ReadRom(rom));
    EXPECT_EQ(rom, std::vector<uint8_t>{0x42}) << "nothing delivered";
    EXPECT_EQ(reader.UID, TRomAddress{});

    Fake.AddDevice(Ds1993);
    Fake.ClearCalls();
    ASSERT_TRUE(reader.ReadRom(rom));
    EXPECT_EQ(rom, Bytes(Ds1993));
    EXPECT_EQ(reader.UID, RomAddress(Ds1993));
    EXPECT_THAT(Fake.Calls(),
                ElementsAre("TMFirst", RomLine(ZeroRom), "TMNext", RomLine(ZeroRom), "TMNext"));
}

TEST_F(MaximReaderTest, ReadRomExaminesAtMost32Devices) {
    struct Case {
        int chipsBeforeKey;
        bool found;
    };
    // The key as the 32nd device is still examined, as the 33rd it is not.
    for (const Case c : {Case{31, true}, Case{32, false}}) {
        SCOPED_TRACE(::testing::Message() << c.chipsBeforeKey << " adapter chips first");
        Fake.Reset();
        for (int i = 0; i < c.chipsBeforeKey; ++i) {
            RomBytes chip = AdapterChip;
            chip[1] = static_cast<uint8_t>(i);
            Fake.AddDevice(chip);
        }
        Fake.AddDevice(Ds1990);
        TMaximReader& reader = Reader();

        std::vector<uint8_t> rom;
        EXPECT_EQ(reader.ReadRom(rom), c.found);
        const auto calls = Fake.Calls();
        EXPECT_EQ(CountOf(calls, RomLine(ZeroRom)), 32u);
        EXPECT_EQ(CountOf(calls, "TMFirst"), 1u);
    }
}

TEST_F(MaximReaderTest, ReadRomThatFindsNothingKeepsTheRememberedDevice) {
    Fake.AddDevice(Ds1993);
    TMaximReader& reader = Reader();
    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));

    Fake.ClearBus();
    Fake.ClearCalls();
    EXPECT_FALSE(reader.ReadRom(rom));
    EXPECT_THAT(Fake.Calls(), ElementsAre("TMFirst"));
    EXPECT_EQ(reader.UID, RomAddress(Ds1993));
    EXPECT_EQ(rom, Bytes(Ds1993));
}

TEST_F(MaximReaderTest, WritePageRunsTheScratchpadProtocolAndTheKeyStoresThePage) {
    struct Case {
        uint16_t address;
        uint8_t ta1, ta2;
    };
    for (const Case c : {Case{0, 0x00, 0x00}, Case{32, 0x20, 0x00}, Case{480, 0xE0, 0x01}}) {
        SCOPED_TRACE(::testing::Message() << "address " << c.address);
        Fake.Reset();
        const int key = Fake.AddDevice(Ds1993);
        TMaximReader& reader = Reader();
        std::vector<uint8_t> rom;
        ASSERT_TRUE(reader.ReadRom(rom));
        Fake.ClearCalls();

        const std::vector<uint8_t> page = PagePattern(static_cast<uint8_t>(c.address));
        std::vector<uint8_t> data = page;
        EXPECT_TRUE(reader.WritePage(c.address, data));

        const std::string select = RomLine(Ds1993);
        EXPECT_THAT(Fake.Calls(),
                    ElementsAre(select, "TMAccess", TouchLine(0x0F), TouchLine(c.ta1),
                                TouchLine(c.ta2), BlockLine(page),
                                // read scratchpad: TA1, TA2 and E/S come back
                                select, "TMAccess", BlockLine({0xAA, 0xFF, 0xFF, 0xFF}),
                                // copy scratchpad, authorised by exactly what came back
                                select, "TMAccess", BlockLine({0x55, c.ta1, c.ta2, 0x1F}),
                                BlockLine(ReadSlots)));
        EXPECT_EQ(Fake.Memory(key, c.address, 32), page);
        EXPECT_THAT(Fake.Memory(key, (c.address + 32) % 512, 480), Each(Eq(0)))
            << "no other page touched";
    }
}

TEST_F(MaximReaderTest, WritePageStopsAtTheFirstSelectionThatFails) {
    // The key is lifted off after 0, 1 or 2 successful selections. Nothing may follow the
    // failed selection, and above all no copy may be issued: the memory stays as it was.
    for (int selectionsBeforeLift : {0, 1, 2}) {
        SCOPED_TRACE(::testing::Message() << selectionsBeforeLift << " selections succeed");
        Fake.Reset();
        const int key = Fake.AddDevice(Ds1993);
        TMaximReader& reader = Reader();
        std::vector<uint8_t> rom;
        ASSERT_TRUE(reader.ReadRom(rom));
        Fake.ClearCalls();
        Fake.ClearBusAfterAccesses(selectionsBeforeLift);

        std::vector<uint8_t> data = PagePattern(9);
        EXPECT_FALSE(reader.WritePage(480, data));

        const auto calls = Fake.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "TMAccess");
        EXPECT_EQ(CountOf(calls, "TMAccess"), static_cast<size_t>(selectionsBeforeLift + 1));
        EXPECT_THAT(Fake.Memory(key, 0, 512), Each(Eq(0)));
    }
}

TEST_F(MaximReaderTest, WritePageOnARemovedKeySendsNothingAfterTheSelection) {
    Fake.AddDevice(Ds1993);
    TMaximReader& reader = Reader();
    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));
    Fake.ClearBus();
    Fake.ClearCalls();

    std::vector<uint8_t> data = PagePattern(1);
    EXPECT_FALSE(reader.WritePage(480, data));
    EXPECT_THAT(Fake.Calls(), ElementsAre(RomLine(Ds1993), "TMAccess"));
    EXPECT_EQ(data, PagePattern(1));
}

TEST_F(MaximReaderTest, ReadPageReadsMemoryFromTheAddressOn) {
    const int key = Fake.AddDevice(Ds1993);
    const std::vector<uint8_t> stored = PagePattern(0x40);
    Fake.SetMemory(key, 480, stored);
    TMaximReader& reader = Reader();
    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));
    Fake.ClearCalls();

    std::vector<uint8_t> data{1, 2, 3};
    EXPECT_EQ(reader.ReadPage(480, data), 32);
    EXPECT_EQ(data, stored);
    // The device the search left current is selected as it is, without TMRom first.
    EXPECT_THAT(Fake.Calls(), ElementsAre("TMAccess", TouchLine(0xF0), TouchLine(0xE0),
                                          TouchLine(0x01), BlockLine(ReadSlots)));
}

TEST_F(MaximReaderTest, PageWrittenIsReadBack) {
    Fake.AddDevice(Ds1993);
    TMaximReader& reader = Reader();
    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));

    for (uint16_t address = 0; address < 512; address += 32) {
        std::vector<uint8_t> data = PagePattern(static_cast<uint8_t>(address / 32));
        ASSERT_TRUE(reader.WritePage(address, data));
    }
    for (uint16_t address = 0; address < 512; address += 32) {
        std::vector<uint8_t> data;
        reader.ReadPage(address, data);
        EXPECT_EQ(data, PagePattern(static_cast<uint8_t>(address / 32))) << "page at " << address;
    }
}

TEST_F(MaximReaderTest, EveryCallUsesTheSharedSessionAndStateBuffer) {
    Fake.SetNextSessionHandle(500);
    Fake.AddDevice(Ds1993);
    TMaximReader& first = Reader();
    EXPECT_EQ(TMaximReader::SessionHandle, 500);
    // A second reader's session replaces the first one's for both of them.
    Reader();
    EXPECT_EQ(TMaximReader::SessionHandle, 501);

    std::vector<uint8_t> rom;
    ASSERT_TRUE(first.ReadRom(rom));
    std::vector<uint8_t> data = PagePattern(3);
    ASSERT_TRUE(first.WritePage(0, data));
    first.ReadPage(0, data);
    first.EndSession();
    EXPECT_EQ(Fake.Calls().back(), "TMEndSession");
    EXPECT_THAT(Fake.CallSessions(), Each(Eq(501)));

    const auto calls = Fake.Calls();
    const auto buffers = Fake.CallStateBuffers();
    for (size_t i = 0; i < calls.size(); ++i) {
        const bool takesState = calls[i].starts_with("TMFirst") || calls[i].starts_with("TMNext") ||
                                calls[i].starts_with("TMRom") || calls[i].starts_with("TMAccess");
        EXPECT_EQ(buffers[i], takesState ? TMaximReader::StateBuffer : nullptr) << calls[i];
    }
}

TEST_F(MaximReaderTest, ALibraryWithoutAnExportFailsOnlyWhatNeedsIt) {
    FakeTmex withoutAccess(FakeTmex::WithoutAccessFileName);
    ASSERT_TRUE(withoutAccess.Loaded());
    withoutAccess.Reset();
    withoutAccess.AddDevice(Ds1993);
    TMaximReader::SetLibraryName(FakeTmex::WithoutAccessFileName);

    TMaximReader reader("32", 5, 1);
    ASSERT_TRUE(reader.LoadDLL());
    ASSERT_TRUE(reader.StartSession());
    std::vector<uint8_t> rom;
    ASSERT_TRUE(reader.ReadRom(rom));
    withoutAccess.ClearCalls();

    // No TMAccess: the selection counts as failed and the write stops right there.
    std::vector<uint8_t> data = PagePattern(5);
    EXPECT_FALSE(reader.Access());
    EXPECT_FALSE(reader.WritePage(480, data));
    EXPECT_THAT(withoutAccess.Calls(), ElementsAre(RomLine(Ds1993), RomLine(Ds1993)));
    reader.EndSession();
    reader.FreeDLL();
}

TEST_F(MaximReaderTest, WithoutTheLibraryEveryOperationFailsAndNothingIsCalled) {
    Fake.AddDevice(Ds1993);
    TMaximReader::SetLibraryName(FakeTmex::MissingFileName);
    TMaximReader reader("32", 5, 1);
    EXPECT_FALSE(reader.LoadDLL());
    EXPECT_EQ(reader.LibHandle, 0u);

    EXPECT_FALSE(reader.StartSession());
    EXPECT_LT(TMaximReader::SessionHandle, 0);
    std::vector<uint8_t> rom;
    EXPECT_FALSE(reader.ReadRom(rom));
    EXPECT_FALSE(reader.Access());
    std::vector<uint8_t> data = PagePattern(5);
    EXPECT_FALSE(reader.WritePage(0, data));
    EXPECT_LT(reader.ReadPage(0, data), 0);
    reader.EndSession();
    EXPECT_FALSE(reader.FreeDLL());
    EXPECT_TRUE(Fake.Calls().empty());
}

TEST_F(MaximReaderTest, FreeDLLReportsTheUnloadAndKeepsTheHandleValue) {
    TMaximReader reader("32", 5, 1);
    EXPECT_FALSE(reader.FreeDLL()) << "nothing loaded yet";
    ASSERT_TRUE(reader.LoadDLL());
    const uintptr_t handle = reader.LibHandle;
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(reader.FreeDLL());
    EXPECT_EQ(reader.LibHandle, handle);
}

// The file a handle was opened from, as the dynamic linker records it.
std::string LoadedFile(uintptr_t handle) {
    link_map* map = nullptr;
    if (handle == 0 || dlinfo(reinterpret_cast<void*>(handle), RTLD_DI_LINKMAP, &map) != 0)
        return {};
    return map->l_name;
}

TEST_F(MaximReaderTest, TheLibraryComesFromTheProgramsFolderOrTheGivenPathOnly) {
    QTemporaryDir elsewhere;
    const QString copy = elsewhere.filePath(FakeTmex::FileName);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(FakeTmex::PathOf(FakeTmex::FileName)), copy));
    const std::string beside = ProgramDirectory().toStdString() + "/";

    struct Case {
        std::string name;     // what the settings or a test ask for
        std::string expected; // the file opened; empty when nothing may be opened
    };
    const Case cases[] = {
        {"", beside + TMaximReader::TmexLibraryFileName}, // the program's own library
        {FakeTmex::FileName, beside + FakeTmex::FileName},
        {copy.toStdString(), copy.toStdString()},
        // The dynamic linker's search would find the system's copy; beside the program there is
        // none, so nothing may load.
        {"libm.so.6", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMaximReader::SetLibraryName(c.name);
        TMaximReader reader("32", 5, 1);
        EXPECT_EQ(reader.LoadDLL(), !c.expected.empty());
        EXPECT_EQ(LoadedFile(reader.LibHandle), c.expected);
        if (reader.LibHandle != 0)
            reader.FreeDLL();
    }
}

} // namespace
