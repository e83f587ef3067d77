// A fixture that gives each test its own ibfs32.ini (through XDG_CONFIG_HOME) and puts the
// variable back afterwards.
#pragma once

#include "simprocess.h"

#include <ibfs32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>

class ConfiguredPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("XDG_CONFIG_HOME"))
            savedConfigHome = value;
        setenv("XDG_CONFIG_HOME", (folder.path() / "config").c_str(), 1);
    }
    void TearDown() override {
        if (savedConfigHome)
            setenv("XDG_CONFIG_HOME", savedConfigHome->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    // How long the adapter is given to answer (ibfs32.ini's timeout). The adapters of these
    // tests are processes and threads on a machine that may be busy with anything else: one
    // that answers is given all the time it may need, so that only a test that waits for no
    // answer on purpose depends on the limit at all, and then on one of its own.
    static constexpr std::chrono::milliseconds patient{30000};
    // For a device that never answers as an adapter should: no answer is missed by it.
    static constexpr std::chrono::milliseconds brief{50};
    // For an adapter whose silence the test waits out (one at another rate, one that lost
    // power) before it answers again: long beside any pause of a busy host (half a second was
    // not, with a build running beside the suite), short enough that waiting it out a few times
    // costs the suite seconds, not minutes.
    static constexpr std::chrono::milliseconds waitedOut{2000};

    // Serial port numbers and the devices behind them; the default port is serial port 1.
    void configure(const std::map<int, std::string>& serialPorts,
                   std::chrono::milliseconds answerAllowance = patient) {
        std::filesystem::create_directories(folder.path() / "config");
        std::ofstream file(folder.path() / "config" / "ibfs32.ini");
        file << "[default]\nporttype=5\nportnum=1\n[serial]\ntimeout=" << answerAllowance.count()
             << "\n";
        for (const auto& [number, device] : serialPorts)
            file << "port" << number << "=" << device << "\n";
    }

    ibsim::TemporaryFolder folder;
    std::optional<std::string> savedConfigHome;
};
