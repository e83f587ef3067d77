// Ports that are not what the configuration promises: the session fails with an error result,
// and nothing hangs or crashes.
#include "bus.h"
#include "configuredport.h"
#include "ds2480b_emulator.h"
#include "ptyserver.h"

#include <array>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Plays the other end of a pseudo-terminal. The behaviour gets each burst the client writes
// and fills in the answer; returning false hangs up instead.
class FakePeer {
public:
    using Behaviour = std::function<bool(const std::vector<uint8_t>&, std::vector<uint8_t>&)>;

    explicit FakePeer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        char name[128];
        ptsname_r(master_, name, sizeof name);
        slavePath_ = name;
        termios settings{};
        tcgetattr(master_, &settings);
        cfmakeraw(&settings);
        tcsetattr(master_, TCSANOW, &settings);
        thread_ = std::thread([this] { run(); });
    }
    ~FakePeer() {
        stopping_ = true;
        thread_.join();
        if (master_ >= 0)
            close(master_);
    }
    const std::string& slavePath() const { return slavePath_; }
    // The rate the client's port runs at.
    int clientBaud() const { return ibsim::terminalBaud(master_); }

private:
    void run() {
        while (!stopping_ && master_ >= 0) {
            pollfd waiting{master_, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0 || !(waiting.revents & POLLIN))
                continue;
            uint8_t buffer[512];
            ssize_t count = read(master_, buffer, sizeof buffer);
            if (count <= 0)
                continue;
            std::vector<uint8_t> answer;
            if (!behaviour_(std::vector<uint8_t>(buffer, buffer + count), answer)) {
                close(master_);
                master_ = -1;
                return;
            }
            if (!answer.empty() && write(master_, answer.data(), answer.size()) < 0)
                return;
        }
    }

    Behaviour behaviour_;
    int master_ = -1;
    std::string slavePath_;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

class BadPortTest : public ConfiguredPortTest {};

TEST_F(BadPortTest, DevicesThatAreNotAnAdapterFailTheSession) {
    struct Case {
        const char* what;
        FakePeer::Behaviour behaviour;
    };
    for (const Case& c : {
             Case{"nobody answers", [](const auto&, auto&) { return true; }},
             Case{"echo, like a loopback plug",
                  [](const auto&in, auto&out) {
                      out = in;
                      return true;
                  }},
             Case{"garbage",
                  [](const auto&in, auto&out) {
                      out.assign(in.size() + 3, 0x5A);
                      return true;
                  }},
             Case{"hangs up at once", [](const auto&, auto&) { return false; }},
         }) {
        SCOPED_TRACE(c.what);
        FakePeer peer(c.behaviour);
        configure({{1, peer.slavePath()}}, brief);
        int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
        EXPECT_EQ(session, IBFS32_ERROR_NO_ADAPTER);
        // The reader stores whatever came back and tries setup on it.
        EXPECT_LT(TMSetup(session), 0);
    }
}

TEST_F(BadPortTest, PortsWithoutAUsableDevice) {
    auto notATerminal = folder.path() / "plain-file";
    std::ofstream(notATerminal) << "x";
    configure({{2, (folder.path() / "missing").string()}, {3, notATerminal.string()}});
    struct Case {
        const char* what;
        int16_t number, type;
        int32_t result;
    };
    for (const Case& c : {
             Case{"serial port 0", 0, IBFS32_PORT_TYPE_SERIAL, IBFS32_ERROR_PORT_OPEN},
             Case{"device missing", 2, IBFS32_PORT_TYPE_SERIAL, IBFS32_ERROR_PORT_OPEN},
             Case{"not a terminal", 3, IBFS32_PORT_TYPE_SERIAL, IBFS32_ERROR_PORT_OPEN},
             // Outside the virtual USB adapter this machine has no DS2490.
             Case{"USB port without an adapter", 1, IBFS32_PORT_TYPE_USB, IBFS32_ERROR_PORT_OPEN},
             Case{"USB port 0", 0, IBFS32_PORT_TYPE_USB, IBFS32_ERROR_PORT_OPEN},
             Case{"unknown port type", 1, 9, IBFS32_ERROR_PORT_TYPE},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TMExtendedStartSession(c.number, c.type, nullptr), c.result);
    }
}

// The emulated adapter on a terminal of the test's own: it may have a past (bytes it received
// before this client came), and its line may die when a given byte comes.
class EmulatedAdapter {
public:
    explicit EmulatedAdapter(std::vector<uint8_t> past, std::optional<uint8_t> deadlyByte = {})
        : peer_([this, deadlyByte](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
              std::lock_guard guard(lock_);
              if (deadlyByte && setUp_ && std::find(in.begin(), in.end(), *deadlyByte) != in.end())
                  return false;
              adapter_.receive(in, out, peer_.clientBaud());
              setUp_ = setUp_ || !out.empty();
              // A search pass: reset answer, Search ROM echo, then the 16 path bytes.
              bool searchPass = std::find(in.begin(), in.end(), 0xB1) != in.end();
              if (searchPass && searchPath_ && out.size() == 18)
                  std::copy(searchPath_->begin(), searchPath_->end(), out.begin() + 2);
              return true;
          }) {
        devices_.roms = {*onewire::romFromHex("06112233445566C6")};
        std::vector<uint8_t> ignored;
        adapter_.receive(past, ignored);
    }
    const std::string& slavePath() const { return peer_.slavePath(); }
    int baudRate() {
        std::lock_guard guard(lock_);
        return adapter_.baudRate();
    }
    void losePower() {
        std::lock_guard guard(lock_);
        adapter_.powerOn();
    }
    // From now on every search pass answers this path, whatever the bus holds.
    void answerSearchesWith(const std::array<uint8_t, 16>& path) {
        std::lock_guard guard(lock_);
        searchPath_ = path;
    }

private:
    std::mutex lock_;
    std::optional<std::array<uint8_t, 16>> searchPath_;
    ibsim::InMemoryDevices devices_;
    ibsim::OneWireBus bus_{devices_};
    ibsim::Ds2480bEmulator adapter_{bus_};
    bool setUp_ = false;
    FakePeer peer_; // last: its thread uses the members above
};

TEST_F(BadPortTest, LineThatDiesMidTransferBreaksTheSessionCleanly) {
    EmulatedAdapter adapter({}, 0xF0); // dies on the Read Memory command
    configure({{1, adapter.slavePath()}});
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    ASSERT_GT(session, 0);
    EXPECT_EQ(TMSetup(session), 1);
    std::vector<uint8_t> stateBuffer(IBFS32_STATE_BUFFER_SIZE);
    std::array<int16_t, 9> rom = {0x06, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xC6, 0};
    TMRom(session, stateBuffer.data(), rom.data());
    EXPECT_EQ(TMAccess(session, stateBuffer.data()), 1);

    uint8_t block[3] = {0xF0, 0x00, 0x00};
    EXPECT_EQ(TMBlockStream(session, block, 3), IBFS32_ERROR_COMMUNICATION);
    // From then on every call fails at once instead of talking to a dead line.
    EXPECT_EQ(TMAccess(session, stateBuffer.data()), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMTouchByte(session, 0xFF), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMFirst(session, stateBuffer.data()), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMEndSession(session), 1);
}

TEST_F(BadPortTest, AdapterThatMissedTheBreakIsStillFound) {
    // A terminal carries no break: this adapter stays as an earlier program left it, calibrated
    // and in data mode.
    EmulatedAdapter adapter({0xC1, 0xE1});
    configure({{1, adapter.slavePath()}});
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    ASSERT_GT(session, 0);
    EXPECT_EQ(TMSetup(session), 1);
    std::vector<uint8_t> stateBuffer(IBFS32_STATE_BUFFER_SIZE);
    EXPECT_EQ(TMFirst(session, stateBuffer.data()), 1);
    EXPECT_EQ(TMEndSession(session), 1);
}

TEST_F(BadPortTest, AdapterIsFoundAtWhateverRateItWasLeft) {
    // The adapter keeps its rate from one session to the next unless it loses power or gets a
    // break, which a terminal does not carry.
    std::vector<uint8_t> stateBuffer(IBFS32_STATE_BUFFER_SIZE);
    struct Case {
        const char* what;
        std::vector<uint8_t> past;
    };
    for (const Case& c : {
             Case{"fresh from power-up", {}},
             Case{"left at 115,200 by a program that was killed", {0xC1, 0x77}},
             Case{"left at 19,200 in data mode", {0xC1, 0x73, 0xE1}},
         }) {
        SCOPED_TRACE(c.what);
        EmulatedAdapter adapter(c.past);
        // The rates it is not at are tried until their silence has been waited out.
        configure({{1, adapter.slavePath()}}, waitedOut);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
            ASSERT_GT(session, 0);
            EXPECT_EQ(adapter.baudRate(), 115200);
            EXPECT_EQ(TMFirst(session, stateBuffer.data()), 1);
            EXPECT_EQ(TMEndSession(session), 1);
            // Put back where a program that knows nothing of faster rates looks for it.
            EXPECT_EQ(adapter.baudRate(), 9600);
        }
    }
}

TEST_F(BadPortTest, AdapterThatLostPowerMidSessionIsFoundByTheNextSession) {
    EmulatedAdapter adapter({});
    // Its answer falls short after the power loss: the rest is waited for in vain.
    configure({{1, adapter.slavePath()}}, waitedOut);
    std::vector<uint8_t> stateBuffer(IBFS32_STATE_BUFFER_SIZE);
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    ASSERT_GT(session, 0);
    adapter.losePower(); // it wakes at 9600, waiting for its timing byte
    EXPECT_EQ(TMFirst(session, stateBuffer.data()), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMEndSession(session), 1);

    session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    ASSERT_GT(session, 0);
    EXPECT_EQ(TMFirst(session, stateBuffer.data()), 1);
    EXPECT_EQ(TMEndSession(session), 1);
}

// The accelerator's answer for a pass that ends on `rom`, flagging a disagreement at each of
// `disagreements`.
std::array<uint8_t, 16> searchAnswer(const onewire::Rom& rom, std::vector<int> disagreements) {
    std::array<uint8_t, 16> path{};
    for (int n = 0; n < 64; ++n) {
        if (onewire::romBit(rom, n))
            path[n / 4] |= static_cast<uint8_t>(1 << (2 * (n % 4) + 1));
        if (std::find(disagreements.begin(), disagreements.end(), n) != disagreements.end())
            path[n / 4] |= static_cast<uint8_t>(1 << (2 * (n % 4)));
    }
    return path;
}

TEST_F(BadPortTest, SearchAnswersNoBusCouldGive) {
    const auto valid = *onewire::romFromHex("01A1B2C3D4E5FA2C"); // bit 63 is 0
    auto invalid = valid;
    invalid[7] ^= 0x10;
    std::vector<uint8_t> stateBuffer(IBFS32_STATE_BUFFER_SIZE);
    struct Case {
        const char* what;
        std::array<uint8_t, 16> answer;
        int16_t first, next;
    };
    for (const Case& c : {
             Case{"a ROM whose CRC fails: no device", searchAnswer(invalid, {}), 0, 0},
             Case{"family 0: no device", searchAnswer(onewire::Rom{}, {}), 0, 0},
             // The branch at bit 63 is aimed at and "gone" on every pass: the walk would never
             // end; it is given up as an adapter fault.
             Case{"a walk that never settles", searchAnswer(valid, {63}), 1,
                  IBFS32_ERROR_COMMUNICATION},
         }) {
        SCOPED_TRACE(c.what);
        EmulatedAdapter adapter({});
        configure({{1, adapter.slavePath()}});
        int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
        ASSERT_GT(session, 0);
        adapter.answerSearchesWith(c.answer);
        EXPECT_EQ(TMFirst(session, stateBuffer.data()), c.first);
        EXPECT_EQ(TMNext(session, stateBuffer.data()), c.next);
        if (c.next < 0) { // the session is given up: the reader opens a new one
            EXPECT_EQ(TMSetup(session), IBFS32_ERROR_COMMUNICATION);
        }
        EXPECT_EQ(TMEndSession(session), 1);
    }
}

TEST_F(BadPortTest, NullArgumentsAreRefused) {
    EXPECT_LT(TMReadDefaultPort(nullptr, nullptr), 0);
    EXPECT_EQ(TMRom(1, nullptr, nullptr), IBFS32_ERROR_INVALID_SESSION);
    EXPECT_EQ(TMBlockStream(1, nullptr, 4), IBFS32_ERROR_INVALID_SESSION);
    EXPECT_EQ(TMBlockStream(1, nullptr, -1), IBFS32_ERROR_INVALID_SESSION);
}

} // namespace
