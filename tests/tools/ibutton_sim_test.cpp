// The virtual adapters against the DS2480B, DS2490 and DS1993 datasheets, the state folder, the
// command line, and the terminal it serves.
#include "bus.h"
#include "devices.h"
#include "ds2480b_emulator.h"
#include "ds2490_emulator.h"
#include "simprocess.h"
#include "statefolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <set>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace ibsim;

namespace {

Rom rom(const char* hex) {
    return *onewire::romFromHex(hex);
}

const Rom memoryKey = rom("06112233445566C6");
const Rom otherMemoryKey = rom("06AABBCCDDEEFF9C");
const Rom card = rom("01A1B2C3D4E5F68F");

// A bus master that makes every time slot itself.
struct SlotMaster {
    OneWireBus& bus;

    bool reset() { return bus.reset(); }
    uint8_t touch(uint8_t byte, int bits = 8) {
        uint8_t read = 0;
        for (int bit = 0; bit < bits; ++bit)
            if (bus.touch((byte >> bit) & 1))
                read |= static_cast<uint8_t>(1 << bit);
        return read;
    }
    std::vector<uint8_t> touch(std::vector<uint8_t> bytes) {
        for (auto& byte : bytes)
            byte = touch(byte);
        return bytes;
    }
    std::vector<uint8_t> read(size_t count) { return touch(std::vector<uint8_t>(count, 0xFF)); }
    void select(const Rom& device) {
        ASSERT_TRUE(reset());
        touch(0x55);
        touch(std::vector<uint8_t>(device.begin(), device.end()));
    }
};

std::vector<uint8_t> pagePattern(uint8_t seed) {
    std::vector<uint8_t> data(32);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(seed + 7 * i);
    return data;
}

class Ds1993Test : public ::testing::Test {
protected:
    void SetUp() override { devices.roms = {memoryKey}; }

    void writeScratchpad(uint16_t address, const std::vector<uint8_t>& data) {
        master.select(memoryKey);
        master.touch({0x0F, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)});
        master.touch(data);
    }
    // TA1, TA2, E/S and then the scratchpad from the target offset.
    std::vector<uint8_t> readScratchpad(size_t dataBytes) {
        master.select(memoryKey);
        master.touch(0xAA);
        return master.read(3 + dataBytes);
    }
    // What the master reads after the authorization bytes.
    uint8_t copyScratchpad(std::vector<uint8_t> authorization) {
        master.select(memoryKey);
        master.touch(0x55);
        master.touch(authorization);
        return master.read(1)[0];
    }

    InMemoryDevices devices;
    OneWireBus bus{devices};
    SlotMaster master{bus};
};

TEST_F(Ds1993Test, FullPageGoesThroughScratchpadIntoMemory) {
    auto data = pagePattern(0x11);
    writeScratchpad(480, data);

    auto scratchpad = readScratchpad(32);
    std::vector<uint8_t> expected = {0xE0, 0x01, 0x1F}; // ending offset 31, no flags
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(scratchpad, expected);

    EXPECT_EQ(copyScratchpad({0xE0, 0x01, 0x1F}), 0x00); // zeros once copied
    auto memory = devices.memories[memoryKey];
    EXPECT_TRUE(std::equal(data.begin(), data.end(), memory.begin() + 480));
    EXPECT_EQ(memory[479], 0x00);

    EXPECT_EQ(readScratchpad(0)[2], 0x9F); // authorization accepted now set

    master.select(memoryKey);
    master.touch({0xF0, 0xF0, 0x01}); // read memory from 496
    auto tail = master.read(20);
    EXPECT_TRUE(std::equal(data.begin() + 16, data.end(), tail.begin()));
    EXPECT_EQ(std::vector<uint8_t>(tail.begin() + 16, tail.end()),
              std::vector<uint8_t>(4, 0xFF)); // past the end of memory
}

TEST_F(Ds1993Test, CopyNeedsTheExactAuthorization) {
    writeScratchpad(64, pagePattern(0x20));
    struct Case {
        const char* what;
        std::vector<uint8_t> authorization;
    };
    for (const Case& wrong :
         {Case{"other address", {0x60, 0x00, 0x1F}}, Case{"other high byte", {0x40, 0x01, 0x1F}},
          Case{"other ending", {0x40, 0x00, 0x1E}}, Case{"AA flag claimed", {0x40, 0x00, 0x9F}}}) {
        SCOPED_TRACE(wrong.what);
        EXPECT_EQ(copyScratchpad(wrong.authorization), 0xFF);
        EXPECT_EQ(devices.memories[memoryKey], Ds1993Memory{});
        EXPECT_EQ(readScratchpad(0)[2], 0x1F); // still not accepted
    }
}

TEST_F(Ds1993Test, EndingOffsetAndFlags) {
    struct Case {
        const char* what;
        uint16_t address;
        size_t wholeBytes;
        int extraBits;
        uint8_t endingStatus;
    };
    for (const Case& c : {
             Case{"two bytes", 0x0000, 2, 0, 0x01},
             Case{"a partial third byte", 0x0000, 2, 4, 0x22},
             Case{"one byte past the end", 0x0000, 33, 0, 0x5F},
             Case{"from offset 28 to the end", 0x003C, 4, 0, 0x1F},
             Case{"from offset 28, one too many", 0x003C, 5, 0, 0x5F},
         }) {
        SCOPED_TRACE(c.what);
        master.select(memoryKey);
        master.touch({0x0F, static_cast<uint8_t>(c.address), static_cast<uint8_t>(c.address >> 8)});
        master.touch(std::vector<uint8_t>(c.wholeBytes, 0x5A));
        if (c.extraBits)
            master.touch(0x0F, c.extraBits);
        auto registers = readScratchpad(0);
        EXPECT_EQ(registers[0], c.address & 0xFF);
        EXPECT_EQ(registers[1], c.address >> 8);
        EXPECT_EQ(registers[2], c.endingStatus);
    }
}

TEST_F(Ds1993Test, PartialPageCopiesOnlyFromTargetToEndingOffset) {
    devices.memories[memoryKey].fill(0xEE);
    writeScratchpad(0x0045, {1, 2, 3}); // offsets 5 to 7 of page 2
    EXPECT_EQ(copyScratchpad({0x45, 0x00, 0x07}), 0x00);
    auto memory = devices.memories[memoryKey];
    EXPECT_EQ(memory[0x44], 0xEE);
    EXPECT_EQ(memory[0x45], 1);
    EXPECT_EQ(memory[0x47], 3);
    EXPECT_EQ(memory[0x48], 0xEE);
}

TEST(OneWireBusTest, RomCommandsSelectOnlyTheirDevice) {
    InMemoryDevices devices;
    devices.roms = {memoryKey, otherMemoryKey, card};
    devices.memories[memoryKey].fill(0x11);
    devices.memories[otherMemoryKey].fill(0x22);
    OneWireBus bus(devices);
    SlotMaster master{bus};

    master.select(otherMemoryKey);
    master.touch({0xF0, 0x00, 0x00});
    EXPECT_EQ(master.read(2), std::vector<uint8_t>(2, 0x22));

    devices.roms = {card};
    ASSERT_TRUE(master.reset());
    master.touch(0x0F); // the DS1990A's other Read ROM code
    EXPECT_EQ(master.read(8), std::vector<uint8_t>(card.begin(), card.end()));

    devices.roms = {memoryKey};
    ASSERT_TRUE(master.reset());
    master.touch({0xCC, 0xF0, 0x00, 0x00}); // Skip ROM
    EXPECT_EQ(master.read(1)[0], 0x11);

    devices.roms = {};
    EXPECT_FALSE(master.reset());
}

// ---- DS2480B ----

class Ds2480bTest : public ::testing::Test {
protected:
    std::vector<uint8_t> send(std::vector<uint8_t> bytes) {
        std::vector<uint8_t> answer;
        adapter.receive(bytes, answer);
        return answer;
    }

    InMemoryDevices devices;
    OneWireBus bus{devices};
    Ds2480bEmulator adapter{bus};
};

TEST_F(Ds2480bTest, AnswersCommandsAsTheDatasheetSays) {
    EXPECT_TRUE(send({0xC1}).empty()); // the timing byte
    struct Case {
        const char* what;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
    };
    for (const Case& c : {
             Case{"slew rate 1.37 V/us", {0x17}, {0x16}},
             Case{"write-1 low time 10 us", {0x45}, {0x44}},
             Case{"sample offset 8 us", {0x5B}, {0x5A}},
             Case{"read the slew rate back", {0x03}, {0x06}},
             Case{"read the baud rate: 9600", {0x0F}, {0x00}},
             Case{"baud rate 9600 written", {0x71}, {0x70}},
             Case{"single bit 1 on an idle bus reads 1", {0x91}, {0x93}},
             Case{"single bit 0", {0x81}, {0x80}},
             Case{"reset, nobody there", {0xC1}, {0xCF}},
             Case{"flexible-speed reset", {0xC5}, {0xCF}},
             Case{"data mode, E3 doubled is one data byte", {0xE1, 0xE3, 0xE3, 0x5A}, {0xE3, 0x5A}},
             Case{"back to command mode, reset", {0xE3, 0xC1}, {0xCF}},
             Case{"search accelerator on and off: no answer", {0xB1, 0xA1}, {}},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(send(c.in), c.out);
    }
    devices.roms = {card};
    EXPECT_EQ(send({0xC1}), std::vector<uint8_t>{0xCD});
}

TEST(Ds2480bRateTest, FollowsTheRateChangeAndLosesBytesAtTheWrongRate) {
    struct Step {
        std::vector<uint8_t> in;
        int hostBaud;
        std::vector<uint8_t> out;
        int adapterBaud;
    };
    struct Case {
        const char* what;
        bool refuse;
        std::vector<Step> steps;
    };
    for (const Case& c : {
             Case{"switch to 115,200 and read it back",
                  false,
                  {{{0xC1}, 9600, {}, 9600},
                   // Acknowledged at the new rate, which a host still at 9600 cannot read.
                   {{0x77}, 9600, {0xFF}, 115200},
                   {{0x0F}, 9600, {}, 115200}, // the host has not switched yet: lost
                   {{0x0F}, 115200, {0x06}, 115200},
                   {{0x73}, 115200, {0xFF}, 19200},
                   {{0x0F}, 19200, {0x02}, 19200},
                   {{0x71}, 19200, {0xFF}, 9600},
                   {{0x0F}, 9600, {0x00}, 9600}}},
             Case{"a rate change in the middle of a burst",
                  false,
                  {{{0xC1}, 9600, {}, 9600}, {{0x77, 0x0F, 0x17}, 9600, {0xFF}, 115200}}},
             Case{"refusing: acknowledged, but still at 9600",
                  true,
                  {{{0xC1}, 9600, {}, 9600},
                   {{0x77}, 9600, {0x76}, 9600},
                   {{0x0F}, 115200, {}, 9600},
                   {{0x0F}, 9600, {0x00}, 9600}}},
             Case{"the timing byte at a wrong rate is lost too",
                  false,
                  {{{0xC1}, 115200, {}, 9600},
                   {{0xC1}, 9600, {}, 9600},
                   {{0x0F}, 9600, {0x00}, 9600}}},
         }) {
        SCOPED_TRACE(c.what);
        InMemoryDevices devices;
        OneWireBus bus{devices};
        Ds2480bEmulator adapter(bus, c.refuse);
        ibsim::BytesByRate sent, received;
        for (const Step& step : c.steps) {
            std::vector<uint8_t> answer;
            adapter.receive(step.in, answer, step.hostBaud);
            EXPECT_EQ(answer, step.out);
            EXPECT_EQ(adapter.baudRate(), step.adapterBaud);
            received[step.hostBaud] += step.in.size();
        }
        EXPECT_EQ(adapter.takeReceivedByRate(), received);
        EXPECT_TRUE(adapter.takeReceivedByRate().empty()); // taken means gone
    }
}

TEST_F(Ds2480bTest, SearchAcceleratorReportsPathAndDisagreements) {
    // The two keys differ first at bit 8 (0x11 vs 0xAA: bit 0 of byte 1).
    devices.roms = {memoryKey, otherMemoryKey};
    send({0xC1});
    auto pass = [&](std::vector<uint8_t> path) {
        std::vector<uint8_t> out = {0xC1, 0xE1, 0xF0, 0xE3, 0xB1, 0xE1};
        out.insert(out.end(), path.begin(), path.end());
        out.insert(out.end(), {0xE3, 0xA1});
        auto answer = send(out);
        EXPECT_EQ(answer.size(), 18u);
        Rom found{};
        std::vector<int> disagreements;
        for (int n = 0; n < 64; ++n) {
            int pair = (answer[2 + n / 4] >> (2 * (n % 4))) & 3;
            if (pair & 2)
                found[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
            if (pair & 1)
                disagreements.push_back(n);
        }
        return std::pair(found, disagreements);
    };
    auto [first, firstDisagreements] = pass(std::vector<uint8_t>(16, 0));
    EXPECT_EQ(first, otherMemoryKey); // 0 is taken where they differ: 0xAA has bit 8 clear
    EXPECT_EQ(firstDisagreements, std::vector<int>{8});

    std::vector<uint8_t> steering(16, 0);
    steering[2] = 0x02; // prefer 1 at bit 8
    auto [second, secondDisagreements] = pass(steering);
    EXPECT_EQ(second, memoryKey);

    devices.roms = {};
    auto [nobody, everywhere] = pass(std::vector<uint8_t>(16, 0));
    EXPECT_EQ(nobody, Rom({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(everywhere.size(), 64u);
}

TEST_F(Ds2480bTest, FlushAfterSearchPassEndsThePass) {
    // A client that flushes right after its pass loses "E3 A1" on a terminal; the adapter
    // must still take the next byte as a command.
    devices.roms = {card};
    send({0xC1});
    std::vector<uint8_t> pass = {0xC1, 0xE1, 0xF0, 0xE3, 0xB1, 0xE1};
    pass.resize(pass.size() + 16, 0);
    EXPECT_EQ(send(pass).size(), 18u);
    adapter.clientDiscardedOutput();
    EXPECT_EQ(send({0xC1}), std::vector<uint8_t>{0xCD});
}

// ---- State folder and command line ----

// ---- DS2490 ----

class Ds2490Test : public ::testing::Test {
protected:
    void command(uint16_t value, uint16_t index = 0) {
        ASSERT_TRUE(
            chip.control(ds2490::communicationRequest, value | ds2490::flagImmediate, index));
    }
    std::vector<uint8_t> results() {
        auto packet = chip.status();
        return {packet.begin() + ds2490::statusSize, packet.end()};
    }

    InMemoryDevices devices;
    OneWireBus bus{devices};
    Ds2490Emulator chip{bus};
};

TEST_F(Ds2490Test, ResultCodesAndDataAsTheDatasheetSays) {
    command(ds2490::commReset);
    EXPECT_EQ(results(), std::vector<uint8_t>{ds2490::resultNoPresence});
    EXPECT_TRUE(results().empty()); // reported once

    devices.roms = {memoryKey};
    command(ds2490::commReset);
    EXPECT_TRUE(results().empty());

    // Read ROM as a block after a reset: the key's ROM comes back in EP3.
    std::vector<uint8_t> readRom(9, 0xFF);
    readRom[0] = 0x33;
    ASSERT_TRUE(chip.dataOut(readRom));
    command(ds2490::commBlockIo | ds2490::flagResetFirst, 9);
    auto packet = chip.status();
    EXPECT_EQ(packet[ds2490::dataInBufferIndex], 9);
    EXPECT_EQ(packet[ds2490::statusFlagsIndex] & ds2490::statusIdle, ds2490::statusIdle);
    auto answer = chip.dataIn(64);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 1, answer.end()),
              std::vector<uint8_t>(memoryKey.begin(), memoryKey.end()));

    // Inhibited data stays out of EP3; a byte and a bit come back otherwise.
    command(ds2490::commByteIo | ds2490::flagInhibitData, 0xFF);
    EXPECT_EQ(chip.dataInAvailable(), 0u);
    command(ds2490::commBitIo | ds2490::flagBit3);
    EXPECT_EQ(chip.dataIn(8), std::vector<uint8_t>{1});

    // Without the immediate flag a command waits for the start.
    ASSERT_TRUE(chip.control(ds2490::communicationRequest, ds2490::commByteIo, 0xFF));
    EXPECT_EQ(chip.status()[ds2490::statusFlagsIndex] & ds2490::statusIdle, 0);
    ASSERT_TRUE(chip.control(ds2490::controlRequest, ds2490::startExecution, 0));
    EXPECT_EQ(chip.dataIn(8), std::vector<uint8_t>{0xFF});

    // More than the FIFO holds is refused.
    EXPECT_FALSE(chip.dataOut(std::vector<uint8_t>(ds2490::fifoSize + 1)));
}

// The host's search as an independent DS9490 client drives it: a number of devices per command,
// continued past the last zero branch the discrepancy group shows, until no group comes.
TEST_F(Ds2490Test, SearchAccessFindsEveryDeviceSeveralAtATime) {
    std::set<Rom> placed;
    for (uint8_t i = 0; i < 10; ++i) {
        Rom device{uint8_t(i % 2 ? 0x01 : 0x06), i, uint8_t(i * 37), 0x55, 0, 0, 0, 0};
        device[7] = onewire::crc8(std::span<const uint8_t>(device.data(), 7));
        placed.insert(device);
    }
    devices.roms.assign(placed.begin(), placed.end());
    for (int perCommand : {1, 3, 7}) {
        SCOPED_TRACE(perCommand);
        std::vector<Rom> found;
        std::array<uint8_t, 8> start{};
        for (int commands = 0; commands < 20; ++commands) {
            ASSERT_TRUE(chip.dataOut(start));
            command(ds2490::commSearchAccess | ds2490::flagResetFirst | ds2490::flagBit3 |
                        ds2490::flagReturnDiscrepancy,
                    static_cast<uint16_t>(perCommand << 8 | 0xF0));
            EXPECT_TRUE(results().empty());
            auto answer = chip.dataIn(256);
            ASSERT_EQ(answer.size() % 8, 0u);
            size_t roms = std::min(answer.size() / 8, size_t(perCommand));
            for (size_t i = 0; i < roms; ++i) {
                Rom device;
                std::copy_n(answer.begin() + long(8 * i), 8, device.begin());
                found.push_back(device);
            }
            if (answer.size() == roms * 8)
                break; // no discrepancy group: the walk is done
            // Continue at the highest disagreement where the last device took the zero branch.
            const Rom& last = found.back();
            std::span<const uint8_t> group(answer.data() + 8 * roms, 8);
            int next = -1;
            for (int n = 63; n >= 0 && next < 0; --n)
                if ((group[n / 8] >> (n % 8) & 1) && !onewire::romBit(last, n))
                    next = n;
            ASSERT_GE(next, 0);
            start = {};
            for (int n = 0; n < next; ++n)
                if (onewire::romBit(last, n))
                    start[n / 8] |= uint8_t(1 << (n % 8));
            start[next / 8] |= uint8_t(1 << (next % 8));
        }
        EXPECT_EQ(found.size(), placed.size());
        EXPECT_EQ(std::set<Rom>(found.begin(), found.end()), placed);
    }

    devices.roms.clear();
    ASSERT_TRUE(chip.dataOut(std::array<uint8_t, 8>{}));
    command(ds2490::commSearchAccess | ds2490::flagResetFirst | ds2490::flagBit3, 0x01F0);
    EXPECT_EQ(results(), std::vector<uint8_t>{ds2490::resultNoPresence});
    EXPECT_EQ(chip.dataInAvailable(), 0u);
}

TEST(BusFileTest, MalformedLinesAreReportedAndSkipped) {
    auto bus = parseBusFile("06112233445566C6\n"
                            "  01a1b2c3d4e5f68f  \r\n"
                            "\n"
                            "# a comment\n"
                            "06112233445566\n"     // 14 digits
                            "0611223344556677XX\n" // too long
                            "01A1B2C3D4E5F600\n"   // wrong CRC: kept
                            "06112233445566C6\n"); // twice on the bus: once
    EXPECT_EQ(bus.roms, (std::vector<Rom>{memoryKey, card, rom("01A1B2C3D4E5F600")}));
    ASSERT_EQ(bus.problems.size(), 2u);
    EXPECT_NE(bus.problems[0].find("line 5"), std::string::npos);
    EXPECT_NE(bus.problems[1].find("line 6"), std::string::npos);
}

TEST(BusFileTest, FourteenDigitsGetTheirCrc) {
    EXPECT_EQ(romFromArgument("01A1B2C3D4E5F6"), card);
    EXPECT_EQ(romFromArgument("021CB801000000"), rom("021CB801000000A2"));
    EXPECT_EQ(romFromArgument("01A1B2C3D4E5F600"), rom("01A1B2C3D4E5F600")); // as written
    EXPECT_FALSE(romFromArgument("01A1B2C3D4E5F"));
}

class CommandLineTest : public ::testing::Test {
protected:
    ProgramRun sim(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {simulatorExecutable().string(), "--state", state.string()});
        return runProgram(arguments);
    }
    std::string busFile() {
        std::ifstream file(state / "bus");
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

    TemporaryFolder folder;
    std::filesystem::path state = folder.path() / "state";
};

TEST_F(CommandLineTest, PutRemoveListDump) {
    EXPECT_EQ(sim({"put", "06112233445566"}).exitStatus, 0);
    EXPECT_EQ(sim({"put", "01A1B2C3D4E5F68F"}).exitStatus, 0);
    EXPECT_EQ(sim({"put", "06112233445566c6"}).exitStatus, 0); // already there
    EXPECT_EQ(busFile(), "06112233445566C6\n01A1B2C3D4E5F68F\n");
    EXPECT_EQ(std::filesystem::file_size(state / "06112233445566C6.mem"), 512u);
    EXPECT_FALSE(std::filesystem::exists(state / "01A1B2C3D4E5F68F.mem"));

    EXPECT_EQ(sim({"list"}).output, "06112233445566C6\n01A1B2C3D4E5F68F\n");

    auto dump = sim({"dump", "06112233445566C6"});
    EXPECT_EQ(dump.exitStatus, 0);
    EXPECT_NE(dump.output.find("01F0: 00 00"), std::string::npos);

    EXPECT_EQ(sim({"remove", "06112233445566C6"}).exitStatus, 0);
    EXPECT_EQ(sim({"remove", "06112233445566C6"}).exitStatus, 1);
    EXPECT_EQ(busFile(), "01A1B2C3D4E5F68F\n");

    auto refused = sim({"put", "not-a-rom"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_NE(refused.errors.find("not a ROM"), std::string::npos);
}

TEST_F(CommandLineTest, PutKeepsWhatPeopleWroteInTheBusFile) {
    std::filesystem::create_directories(state);
    std::ofstream(state / "bus") << "# front desk\n01A1B2C3D4E5F68F"; // no final newline
    EXPECT_EQ(sim({"put", "06112233445566C6"}).exitStatus, 0);
    EXPECT_EQ(sim({"remove", "01A1B2C3D4E5F68F"}).exitStatus, 0);
    EXPECT_EQ(busFile(), "# front desk\n06112233445566C6\n");
}

// ---- The terminal ----

// A raw client on the simulator's terminal.
class TerminalClient {
public:
    explicit TerminalClient(const std::filesystem::path& link) {
        fd_ = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        // Where a DS2480B starts; a fresh terminal runs at 38,400, which it would not hear.
        cfsetspeed(&settings, B9600);
        tcsetattr(fd_, TCSANOW, &settings);
    }
    ~TerminalClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    void write(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<uint8_t> read(size_t count) {
        std::vector<uint8_t> bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0)
                continue;
            uint8_t buffer[256];
            ssize_t got = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (got > 0)
                bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

private:
    int fd_ = -1;
};

TEST(TerminalTest, CountsBytesAndRoundTrips) {
    TemporaryFolder folder;
    SimulatorProcess simulator(folder.path() / "tty", folder.path() / "state");
    TerminalClient client(simulator.link());
    ASSERT_TRUE(client.isOpen());

    client.write({0xC1}); // timing byte: no answer, so the trip goes on
    client.write({0x17, 0x45});
    EXPECT_EQ(client.read(2), (std::vector<uint8_t>{0x16, 0x44}));
    client.write({0xC1});
    EXPECT_EQ(client.read(1), std::vector<uint8_t>{0xCF});

    auto counters = simulator.counters();
    EXPECT_EQ(counters.bytesIn, 4u);
    EXPECT_EQ(counters.bytesOut, 3u);
    EXPECT_EQ(counters.roundTrips, 2u);
    EXPECT_EQ(counters.resets, 1u);
}

TEST(TerminalTest, CountsBytesAtTheRateTheClientsPortRuns) {
    TemporaryFolder folder;
    SimulatorProcess simulator(folder.path() / "tty", folder.path() / "state");
    int fd = ::open(simulator.link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto setRate = [fd](speed_t speed) {
        termios settings{};
        tcgetattr(fd, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, speed);
        tcsetattr(fd, TCSANOW, &settings);
    };
    auto exchange = [fd](std::vector<uint8_t> bytes, size_t answerSize) {
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        std::vector<uint8_t> answer(answerSize);
        size_t got = 0;
        while (got < answerSize) {
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 5000) <= 0)
                break;
            ssize_t count = ::read(fd, answer.data() + got, answerSize - got);
            if (count <= 0)
                break;
            got += static_cast<size_t>(count);
        }
        answer.resize(got);
        return answer;
    };
    setRate(B9600);
    EXPECT_EQ(exchange({0xC1, 0x77}, 1), std::vector<uint8_t>{0xFF});
    setRate(B115200);
    EXPECT_EQ(exchange({0x0F}, 1), std::vector<uint8_t>{0x06});
    ::close(fd);

    auto counters = simulator.counters();
    EXPECT_EQ(counters.bytesInByRate, (ibsim::BytesByRate{{9600, 2}, {115200, 1}}));
    EXPECT_EQ(counters.bytesOutByRate, (ibsim::BytesByRate{{115200, 2}}));
}

TEST(TerminalTest, EverySessionGetsAFreshAdapter) {
    TemporaryFolder folder;
    SimulatorProcess simulator(folder.path() / "tty", folder.path() / "state");
    for (int session = 0; session < 3; ++session) {
        SCOPED_TRACE(session);
        TerminalClient client(simulator.link());
        ASSERT_TRUE(client.isOpen());
        // Left in data mode by the previous session; a new one starts with the timing byte.
        client.write({0xC1, 0x0F, 0xE1});
        EXPECT_EQ(client.read(1), std::vector<uint8_t>{0x00});
    }
    EXPECT_EQ(simulator.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(simulator.link())));
}

} // namespace
