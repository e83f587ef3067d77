// A fixture that gives each test its own ibfs32.ini (through XDG_CONFIG_HOME) and puts the
// variable back afterwards.
#pragma once

#include "simprocess.h"

#include <ibfs32.h>

#include <gtest/gtest.h>

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

    // Serial port numbers and the devices behind them; the default port is serial port 1.
    void configure(const std::map<int, std::string>& serialPorts) {
        std::filesystem::create_directories(folder.path() / "config");
        std::ofstream file(folder.path() / "config" / "ibfs32.ini");
        file << "[default]\nporttype=5\nportnum=1\n[serial]\n";
        for (const auto& [number, device] : serialPorts)
            file << "port" << number << "=" << device << "\n";
    }

    ibsim::TemporaryFolder folder;
    std::optional<std::string> savedConfigHome;
};
