// Serves the emulated adapter on a pseudo-terminal reachable through a fixed symlink.
//
// Each client session gets a freshly powered adapter: when the client closes the terminal, a new
// one takes its place behind the link. The old one stays open a moment longer, for a client that
// resolved the link just before the switch; it is served if one opens it, and closed otherwise.
//
// Counters, for measuring clients: bytes in and out, and round trips. A round trip begins with
// the first byte the client sends after the simulator's last answer (or at the start of a
// session); bytes that arrive before the next answer belong to the same trip, so a client that
// writes a command in several pieces and then waits for the answer makes one trip.
#pragma once

#include "bus.h"
#include "ds2480b_emulator.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ibsim {

struct TrafficCounters {
    unsigned long long bytesIn = 0;
    unsigned long long bytesOut = 0;
    unsigned long long roundTrips = 0;
    unsigned long long resets = 0;
    unsigned long long sessions = 0; // client sessions that have ended
};

class PtyServer {
public:
    // `statsPath` is rewritten after every burst the simulator handles.
    PtyServer(std::filesystem::path linkPath, OneWireBus& bus, std::filesystem::path statsPath,
              bool trace);
    ~PtyServer();

    // Runs until SIGTERM or SIGINT; SIGUSR1 prints the counters. Returns the exit status.
    int run();

private:
    struct Terminal;

    std::unique_ptr<Terminal> openTerminal();
    void pointLinkAt(const Terminal& terminal);
    void serve(Terminal& terminal);
    void handOver(Terminal& terminal, const std::vector<uint8_t>& received);
    void flushAnswer(Terminal& terminal);
    void writeStats() const;
    std::string statsText() const;

    std::filesystem::path linkPath_;
    OneWireBus& bus_;
    std::filesystem::path statsPath_;
    bool trace_;
    std::vector<std::unique_ptr<Terminal>> terminals_; // the first is the one the link names
    TrafficCounters counters_;
};

} // namespace ibsim
