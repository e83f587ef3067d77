#pragma once

#include "simprocess.h"
#include "statefolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

// The virtual DS2480B the reader benchmarks run on: the simulator on a terminal in a throwaway
// folder, with an empty bus, and the 1-Wire library's configuration ($XDG_CONFIG_HOME) mapping
// serial port 1 to it and making that the default port.
class BenchAdapter {
public:
    BenchAdapter()
        : devices_(folder_.path() / "state", std::cerr),
          simulator_(folder_.path() / "tty", folder_.path() / "state") {
        std::filesystem::create_directories(folder_.path() / "config");
        std::ofstream(folder_.path() / "config" / "ibfs32.ini")
            << "[default]\nporttype=5\nportnum=1\n[serial]\nport1=" << simulator_.link().string()
            << "\n";
        setenv("XDG_CONFIG_HOME", (folder_.path() / "config").c_str(), 1);
    }

    // Also a place for whatever else a benchmark wants to throw away afterwards.
    const std::filesystem::path& folder() const { return folder_.path(); }
    ibsim::SimulatorProcess& simulator() { return simulator_; }

private:
    ibsim::TemporaryFolder folder_;
    ibsim::StateFolder devices_;
    ibsim::SimulatorProcess simulator_;
};
