#include "ptyserver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace ibsim {

namespace {

using Clock = std::chrono::steady_clock;

// How long a replaced terminal waits for a late client before it is closed.
constexpr auto lateClientGrace = std::chrono::milliseconds(1000);
// How often terminals without a client are looked at (they cannot be polled: an unopened
// terminal reports a hang-up all the time).
constexpr int idleCheckMs = 20;

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char buffer[4];
    for (uint8_t byte : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", byte);
        text += buffer;
    }
    return text;
}

} // namespace

struct PtyServer::Terminal {
    explicit Terminal(OneWireBus& bus) : adapter(bus) {}
    ~Terminal() {
        if (master >= 0)
            ::close(master);
    }

    int master = -1;
    std::string slavePath;
    Ds2480bEmulator adapter;
    std::vector<uint8_t> pendingAnswer;
    bool answered = true; // the next byte in starts a round trip
    bool hungUp = false;  // no client has it open
    Clock::time_point hungUpSince;
};

PtyServer::PtyServer(std::filesystem::path linkPath, OneWireBus& bus,
                     std::filesystem::path statsPath, bool trace)
    : linkPath_(std::move(linkPath)), bus_(bus), statsPath_(std::move(statsPath)), trace_(trace) {}

PtyServer::~PtyServer() {
    std::error_code ignored;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(linkPath_, ignored)))
        std::filesystem::remove(linkPath_, ignored);
}

std::unique_ptr<PtyServer::Terminal> PtyServer::openTerminal() {
    auto terminal = std::make_unique<Terminal>(bus_);
    terminal->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal->master < 0 || grantpt(terminal->master) != 0 || unlockpt(terminal->master) != 0)
        throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") +
                                 std::strerror(errno));
    char name[128];
    if (ptsname_r(terminal->master, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    terminal->slavePath = name;
    fcntl(terminal->master, F_SETFL, fcntl(terminal->master, F_GETFL) | O_NONBLOCK);
    // Packet mode tells us when the client flushes what it wrote before we read it.
    int packetMode = 1;
    ioctl(terminal->master, TIOCPKT, &packetMode);
    // Raw from the start: a client that writes before setting its own modes must not get its
    // bytes echoed or translated. (Terminal settings made on the master apply to the slave.)
    termios settings{};
    if (tcgetattr(terminal->master, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(terminal->master, TCSANOW, &settings);
    }
    return terminal;
}

void PtyServer::pointLinkAt(const Terminal& terminal) {
    auto temporary = linkPath_;
    temporary += ".new" + std::to_string(getpid());
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    std::filesystem::create_symlink(terminal.slavePath, temporary);
    std::filesystem::rename(temporary, linkPath_); // atomic: a client sees the old or the new
}

std::string PtyServer::statsText() const {
    std::ostringstream text;
    text << "bytes_in=" << counters_.bytesIn << "\nbytes_out=" << counters_.bytesOut
         << "\nround_trips=" << counters_.roundTrips << "\nresets=" << counters_.resets
         << "\nsessions=" << counters_.sessions << '\n';
    return text.str();
}

void PtyServer::writeStats() const {
    if (statsPath_.empty())
        return;
    auto temporary = statsPath_;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << statsText();
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, statsPath_, ignored);
}

void PtyServer::flushAnswer(Terminal& terminal) {
    while (!terminal.pendingAnswer.empty()) {
        ssize_t written =
            ::write(terminal.master, terminal.pendingAnswer.data(), terminal.pendingAnswer.size());
        if (written <= 0)
            return; // full (or gone): poll says when to go on
        terminal.pendingAnswer.erase(terminal.pendingAnswer.begin(),
                                     terminal.pendingAnswer.begin() + written);
    }
}

void PtyServer::handOver(Terminal& terminal, const std::vector<uint8_t>& received) {
    if (received.empty())
        return;
    if (terminal.answered) {
        ++counters_.roundTrips;
        terminal.answered = false;
    }
    counters_.bytesIn += received.size();
    std::vector<uint8_t> answer;
    unsigned resetsBefore = terminal.adapter.resets();
    terminal.adapter.receive(received, answer);
    counters_.resets += terminal.adapter.resets() - resetsBefore;
    counters_.bytesOut += answer.size();
    if (!answer.empty())
        terminal.answered = true;
    if (trace_)
        std::cerr << "ibutton-sim: in  " << hex(received) << "\nibutton-sim: out " << hex(answer)
                  << std::endl;
    terminal.pendingAnswer.insert(terminal.pendingAnswer.end(), answer.begin(), answer.end());
}

void PtyServer::serve(Terminal& terminal) {
    std::vector<uint8_t> received;
    uint8_t packet[4097];
    for (;;) {
        ssize_t count = ::read(terminal.master, packet, sizeof packet);
        if (count <= 0)
            break;
        if (packet[0] == TIOCPKT_DATA) {
            received.insert(received.end(), packet + 1, packet + count);
        } else if (packet[0] & TIOCPKT_FLUSHWRITE) {
            // What was read so far came before the flush.
            handOver(terminal, received);
            received.clear();
            terminal.adapter.clientDiscardedOutput();
            if (trace_)
                std::cerr << "ibutton-sim: the client flushed its output" << std::endl;
        }
    }
    handOver(terminal, received);
    // The counters are on disk before the client has its answer, so whoever measures sees them
    // as soon as the call returns.
    writeStats();
    flushAnswer(terminal);
}

int PtyServer::run() {
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGUSR1);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    int signals = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0)
        throw std::runtime_error("signalfd failed");

    if (std::filesystem::exists(std::filesystem::symlink_status(linkPath_)) &&
        !std::filesystem::is_symlink(std::filesystem::symlink_status(linkPath_)))
        throw std::runtime_error(linkPath_.string() + " exists and is not a symlink");
    terminals_.push_back(openTerminal());
    pointLinkAt(*terminals_.front());
    writeStats();
    std::cerr << "ibutton-sim: serving on " << linkPath_.string() << " -> "
              << terminals_.front()->slavePath << std::endl;

    for (;;) {
        std::vector<pollfd> watched{{signals, POLLIN, 0}};
        std::vector<Terminal*> polled;
        bool someIdle = false;
        for (auto& terminal : terminals_) {
            if (terminal->hungUp) {
                someIdle = true;
                continue;
            }
            short events = POLLIN | (terminal->pendingAnswer.empty() ? 0 : POLLOUT);
            watched.push_back({terminal->master, events, 0});
            polled.push_back(terminal.get());
        }
        int ready = ::poll(watched.data(), watched.size(), someIdle ? idleCheckMs : -1);
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error("poll failed");

        if (watched[0].revents & POLLIN) {
            signalfd_siginfo info{};
            while (::read(signals, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGUSR1) {
                    std::cerr << statsText() << std::flush;
                    continue;
                }
                ::close(signals);
                return 0;
            }
        }

        for (size_t i = 0; i < polled.size(); ++i) {
            Terminal& terminal = *polled[i];
            short revents = watched[i + 1].revents;
            if (revents & POLLIN)
                serve(terminal);
            if (revents & POLLOUT)
                flushAnswer(terminal);
            if ((revents & POLLHUP) && !(revents & POLLIN)) {
                // The client has closed it: the adapter loses power with the session.
                terminal.hungUp = true;
                terminal.hungUpSince = Clock::now();
                ++counters_.sessions;
                writeStats();
                terminal.adapter.powerOn();
                terminal.pendingAnswer.clear();
                terminal.answered = true;
                if (&terminal == terminals_.front().get()) {
                    terminals_.insert(terminals_.begin(), openTerminal());
                    pointLinkAt(*terminals_.front());
                }
            }
        }

        // Terminals without a client: served again when a late client opens one, closed when
        // nobody has come within the grace period.
        for (auto it = terminals_.begin() + 1; it != terminals_.end();) {
            Terminal& terminal = **it;
            if (terminal.hungUp) {
                pollfd probe{terminal.master, POLLIN, 0};
                ::poll(&probe, 1, 0);
                if (!(probe.revents & POLLHUP) || (probe.revents & POLLIN)) {
                    terminal.hungUp = false;
                } else if (Clock::now() - terminal.hungUpSince > lateClientGrace) {
                    it = terminals_.erase(it);
                    continue;
                }
            }
            ++it;
        }
    }
}

} // namespace ibsim
