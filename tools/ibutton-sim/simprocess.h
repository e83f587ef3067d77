// For programs that drive the simulator (tests, benchmarks): start it as a child process on a
// terminal link and a state folder, read its counters, stop it. Every wait has a deadline.
#pragma once

#include "ptyserver.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ibsim {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The ibutton-sim executable built with this tree.
std::filesystem::path simulatorExecutable();

struct ProgramRun {
    int exitStatus = -1; // -1: did not finish in time (it was killed) or could not start
    std::string output;
    std::string errors;
};

// Runs a program to its end, at most `timeout`; `program` is looked up on PATH.
ProgramRun runProgram(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A child process whose standard error goes to a file. Stopped (SIGTERM, then SIGKILL) when
// destroyed.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const std::filesystem::path& errorLog);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    pid_t pid() const { return pid_; }
    // Returns the exit status, or -1 when it had to be killed.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

private:
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

class SimulatorProcess {
public:
    // Starts `ibutton-sim serve` (with any further options) and waits, at most a few seconds,
    // until the link exists. Throws std::runtime_error when it does not come up.
    SimulatorProcess(std::filesystem::path link, std::filesystem::path stateFolder,
                     const std::vector<std::string>& options = {});

    const std::filesystem::path& link() const { return link_; }
    const std::filesystem::path& stateFolder() const { return state_; }
    // What it has written to standard error so far.
    std::string log() const;
    // The counters from the stats file.
    TrafficCounters counters() const;
    // Stops it; the exit status (-1 when it had to be killed).
    int stop() { return process_.stop(); }
    // For pausing it with SIGSTOP, as an adapter that hangs.
    pid_t pid() const { return process_.pid(); }

private:
    std::filesystem::path link_;
    std::filesystem::path state_;
    std::filesystem::path logPath_;
    ChildProcess process_;
};

} // namespace ibsim
