// ibfs32.ini: what the default port and the port numbers resolve to.
#include "config.h"
#include "simprocess.h"

#include <ibfs32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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

} // namespace
