// ibfs32.ini: what the default port and the port numbers resolve to.
#include "config.h"
#include "session.h"
#include "simprocess.h"

#include <ibfs32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace onewire;

namespace {

TEST(PortConfigTest, ReadsDefaultPortAndSerialDevices) {
    struct Case {
        const char* what;
        const char* text;
        int16_t type;
        int16_t number;
        std::map<int, std::string> serial;
    };
    for (const Case& c : {
             Case{"empty", "", 0, 0, {}},
             Case{"plain",
                  "[default]\nporttype=5\nportnum=2\n[serial]\nport2=/dev/ttyUSB0\n",
                  5,
                  2,
                  {{2, "/dev/ttyUSB0"}}},
             Case{"any case, spaces, CRLF, comments",
                  "; made by hand\r\n[ DEFAULT ]\r\n  PortType = 5 \r\n#portnum=9\r\nPORTNUM=3\r\n"
                  "[Serial]\r\nPORT3 = /dev/serial/by-id/usb-1wire \r\n",
                  5,
                  3,
                  {{3, "/dev/serial/by-id/usb-1wire"}}},
             Case{"first of a key wins", "[default]\nporttype=5\nporttype=6\n", 5, 0, {}},
             Case{"keys outside their section do not count",
                  "porttype=5\n[serial]\nporttype=6\nport1=/dev/a\n[other]\nport2=/dev/b\n",
                  0,
                  0,
                  {{1, "/dev/a"}}},
             Case{"not a number reads 0", "[default]\nporttype=serial\nportnum=1x\n", 0, 0, {}},
             Case{"out of range is clamped", "[default]\nporttype=99999\n", INT16_MAX, 0, {}},
             Case{"port key without a number, empty path",
                  "[serial]\nport=/dev/a\nportx=/dev/b\nport4=\n",
                  0,
                  0,
                  {}},
         }) {
        SCOPED_TRACE(c.what);
        auto config = parsePortConfig(c.text);
        EXPECT_EQ(config.defaultPortType, c.type);
        EXPECT_EQ(config.defaultPortNumber, c.number);
        EXPECT_EQ(config.serialDevices, c.serial);
    }
}

TEST(PortConfigTest, BaudKeyLimitsTheHostLinkRate) {
    struct Case {
        const char* text;
        int limit;
        int fastest;
    };
    for (const Case& c : {
             Case{"", 0, 115200},
             Case{"[serial]\nbaud=115200\n", 115200, 115200},
             Case{"[serial]\nBaud = 57600\n", 57600, 57600},
             Case{"[serial]\nbaud=19200\n", 19200, 19200},
             Case{"[serial]\nbaud=9600\n", 9600, 9600},
             // Between the adapter's rates: the next below; below them all: the base rate.
             Case{"[serial]\nbaud=100000\n", 100000, 57600},
             Case{"[serial]\nbaud=1200\n", 1200, 9600},
             Case{"[serial]\nbaud=500000\n", 500000, 115200},
             // Not a rate at all: no limit.
             Case{"[serial]\nbaud=fast\n", 0, 115200},
             Case{"[serial]\nbaud=-9600\n", 0, 115200},
             Case{"[default]\nbaud=9600\n", 0, 115200},
             Case{"[serial]\nbaud=9600\nbaud=115200\n", 9600, 9600},
         }) {
        SCOPED_TRACE(c.text);
        auto config = parsePortConfig(c.text);
        EXPECT_EQ(config.serialBaudLimit, c.limit);
        EXPECT_EQ(fastestSerialBaud(config), c.fastest);
        EXPECT_TRUE(config.serialDevices.empty()); // "baud" is no port number
    }
}

TEST(PortConfigTest, TimeoutKeyGivesTheSerialAdapterLongerToAnswer) {
    using std::chrono::milliseconds;
    const milliseconds standard = PortConfig::defaultSerialAnswerAllowance;
    struct Case {
        const char* text;
        milliseconds allowance;
    };
    for (const Case& c : {
             Case{"", standard},
             Case{"[serial]\ntimeout=2000\n", milliseconds(2000)},
             Case{"[SERIAL]\nTimeout = 50\n", milliseconds(50)},
             // Past a minute nothing is worth waiting for.
             Case{"[serial]\ntimeout=600000\n", PortConfig::longestSerialAnswerAllowance},
             Case{"[serial]\ntimeout=99999999999999\n", PortConfig::longestSerialAnswerAllowance},
             // Not a time: the standard one.
             Case{"[serial]\ntimeout=0\n", standard},
             Case{"[serial]\ntimeout=-5\n", standard},
             Case{"[serial]\ntimeout=2s\n", standard},
             Case{"[serial]\ntimeout=\n", standard},
             Case{"[default]\ntimeout=2000\n", standard},
             Case{"[serial]\ntimeout=2000\ntimeout=50\n", milliseconds(2000)},
         }) {
        SCOPED_TRACE(c.text);
        auto config = parsePortConfig(c.text);
        EXPECT_EQ(config.serialAnswerAllowance, c.allowance);
        EXPECT_TRUE(config.serialDevices.empty()); // "timeout" is no port number
    }
}

TEST(PortConfigTest, PortNumberOneIsTheFirstSerialPort) {
    PortConfig config;
    config.serialDevices[2] = "/tmp/adapter";
    EXPECT_EQ(serialDevicePath(config, 1), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath(config, 2), "/tmp/adapter");
    EXPECT_EQ(serialDevicePath(config, 31), "/dev/ttyS30");
    EXPECT_EQ(serialDevicePath(config, 0), std::nullopt);
    EXPECT_EQ(serialDevicePath(config, -1), std::nullopt);
}

// Points XDG_CONFIG_HOME (or HOME) at a temporary folder for one test.
class ConfigHomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"})
            if (const char* value = std::getenv(name))
                saved[name] = value;
    }
    void TearDown() override {
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
            if (saved.count(name))
                setenv(name, saved[name].c_str(), 1);
            else
                unsetenv(name);
        }
    }
    void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    ibsim::TemporaryFolder folder;
    std::map<std::string, std::string> saved;
};

TEST_F(ConfigHomeTest, DefaultPortFromTheUsersConfigFolder) {
    auto xdg = folder.path() / "xdg";
    auto home = folder.path() / "home";
    writeFile(xdg / "ibfs32.ini", "[default]\nporttype=5\nportnum=2\n");
    writeFile(home / ".config" / "ibfs32.ini", "[default]\nporttype=6\nportnum=1\n");
    setenv("HOME", home.c_str(), 1);

    struct Case {
        const char* what;
        std::optional<std::string> xdgConfigHome;
        int16_t result, number, type;
    };
    for (const Case& c : {
             Case{"XDG_CONFIG_HOME", xdg.string(), 1, 2, 5},
             Case{"no XDG_CONFIG_HOME: ~/.config", std::nullopt, 1, 1, 6},
             Case{"a relative XDG_CONFIG_HOME is ignored", std::string("xdg"), 1, 1, 6},
             Case{"no file", (folder.path() / "none").string(), 0, 0, 0},
         }) {
        SCOPED_TRACE(c.what);
        if (c.xdgConfigHome)
            setenv("XDG_CONFIG_HOME", c.xdgConfigHome->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        int16_t number = -7, type = -7;
        EXPECT_EQ(TMReadDefaultPort(&number, &type), c.result);
        EXPECT_EQ(number, c.number);
        EXPECT_EQ(type, c.type);
    }
}

TEST_F(ConfigHomeTest, OnlyARegularFileOfSensibleSizeIsRead) {
    // Each of these once hung the reader or ate memory; now they are refused at once, and the
    // serial port they might name is not guessed at.
    auto config = folder.path() / "config";
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto file = config / "ibfs32.ini";
    const std::string valid = "[default]\nporttype=5\nportnum=1\n[serial]\nport1=/dev/null\n";

    struct Case {
        const char* what;
        std::function<void()> make;
        const char* problem; // nullptr: the file is read
    };
    for (const Case& c : {
             Case{"a FIFO", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }, "regular file"},
             Case{"a link to /dev/zero",
                  [&] { std::filesystem::create_symlink("/dev/zero", file); }, "regular file"},
             Case{"a folder", [&] { std::filesystem::create_directory(file); }, "regular file"},
             Case{"over the size limit",
                  [&] {
                      { std::ofstream(file) << valid; }
                      std::filesystem::resize_file(file, portConfigSizeLimit + 1);
                  },
                  "larger than"},
             Case{"just within the limit",
                  [&] {
                      std::ofstream(file)
                          << valid << std::string(portConfigSizeLimit - valid.size(), '\n');
                  },
                  nullptr},
             Case{"a link to a regular file",
                  [&] {
                      std::ofstream(config / "real.ini") << valid;
                      std::filesystem::create_symlink(config / "real.ini", file);
                  },
                  nullptr},
         }) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(file);
        c.make();
        if (c.problem) {
            try {
                loadPortConfig();
                ADD_FAILURE() << "read";
            } catch (const PortConfigError& error) {
                EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos)
                    << error.what();
                EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos);
            }
        } else {
            EXPECT_EQ(loadPortConfig().defaultPortType, 5);
        }
        int16_t number = -7, type = -7;
        EXPECT_EQ(TMReadDefaultPort(&number, &type), c.problem ? 0 : 1);
        EXPECT_EQ(type, c.problem ? 0 : 5);
        EXPECT_EQ(TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr),
                  IBFS32_ERROR_PORT_OPEN);
    }
}

} // namespace
