// Serves the emulated adapter on a pseudo-terminal reachable through a fixed symlink.
//
// Each client session gets a freshly powered adapter, as a real one gets a break from its client:
// a terminal carries no break, so the simulator watches the slave device being opened and closed
// (inotify) instead, and powers the adapter up afresh for every session. When the client closes
// the terminal, a new one takes its place behind the link (a client that dies leaves the old one
// in exclusive mode); the old one stays a moment longer for a client that resolved the link just
// before the switch, and is served if one opens it.
//
// Counters, for measuring clients: bytes in and out, and round trips. A round trip begins with
// the first byte the client sends after the simulator's last answer (or at the start of a
// session); bytes that arrive before the next answer belong to the same trip, so a client that
// writes a command in several pieces and then waits for the answer makes one trip. Bytes are
// also counted by the rate they travelled at: the client's port rate (which the simulator reads
// from the terminal) for bytes in, the adapter's for bytes out.
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
    BytesByRate bytesInByRate;
    BytesByRate bytesOutByRate;
};

// The rate in baud a terminal runs at, as its client set it (both ends share the settings);
// 0 for a rate no DS2480B runs at.
int terminalBaud(int fd);

class PtyServer {
public:
    // `statsPath` is rewritten after every burst the simulator handles.
    PtyServer(std::filesystem::path linkPath, OneWireBus& bus, std::filesystem::path statsPath,
              bool trace, bool refuseFastRates = false);
    ~PtyServer();

    // Runs until SIGTERM or SIGINT; SIGUSR1 prints the counters. Returns the exit status.
    int run();

private:
    struct Terminal;

    std::unique_ptr<Terminal> openTerminal();
    void pointLinkAt(const Terminal& terminal);
    void handleOpenCloseEvents();
    void sessionStarts(Terminal& terminal);
    void sessionEnds(Terminal& terminal);
    void serve(Terminal& terminal);
    void handOver(Terminal& terminal, const std::vector<uint8_t>& received);
    void flushAnswer(Terminal& terminal);
    void writeStats() const;
    std::string statsText() const;

    std::filesystem::path linkPath_;
    OneWireBus& bus_;
    std::filesystem::path statsPath_;
    bool trace_;
    bool refuseFastRates_;
    int watcher_ = -1;                                 // inotify on the slave devices
    std::vector<std::unique_ptr<Terminal>> terminals_; // the first is the one the link names
    TrafficCounters counters_;
};

} // namespace ibsim
