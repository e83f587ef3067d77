#include "ptyserver.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace ibsim {

namespace {

using Clock = std::chrono::steady_clock;

// How long a replaced terminal waits for a late client before it is closed.
constexpr auto lateClientGrace = std::chrono::milliseconds(1000);
// How often replaced terminals are looked at, to close them once the grace period is over.
constexpr int replacedCheckMs = 100;

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

int terminalBaud(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return 9600;
    switch (cfgetospeed(&settings)) {
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B9600:
        return 9600;
    default:
        return 0;
    }
}

struct PtyServer::Terminal {
    Terminal(OneWireBus& bus, bool refuseFastRates) : adapter(bus, refuseFastRates) {}
    ~Terminal() {
        if (master >= 0)
            ::close(master);
    }

    int master = -1;
    int watch = -1;
    std::string slavePath;
    Ds2480bEmulator adapter;
    std::vector<uint8_t> pendingAnswer;
    bool answered = true; // the next byte in starts a round trip
    int openedBy = 0;     // descriptors a client holds on the slave
    std::optional<Clock::time_point> replacedAt;
};

PtyServer::PtyServer(std::filesystem::path linkPath, OneWireBus& bus,
                     std::filesystem::path statsPath, bool trace, bool refuseFastRates)
    : linkPath_(std::move(linkPath)), bus_(bus), statsPath_(std::move(statsPath)), trace_(trace),
      refuseFastRates_(refuseFastRates) {}

PtyServer::~PtyServer() {
    terminals_.clear();
    if (watcher_ >= 0)
        ::close(watcher_);
    std::error_code ignored;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(linkPath_, ignored)))
        std::filesystem::remove(linkPath_, ignored);
}

std::unique_ptr<PtyServer::Terminal> PtyServer::openTerminal() {
    auto terminal = std::make_unique<Terminal>(bus_, refuseFastRates_);
    terminal->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal->master < 0 || grantpt(terminal->master) != 0 || unlockpt(terminal->master) != 0)
        throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") +
                                 std::strerror(errno));
    char name[128];
    if (ptsname_r(terminal->master, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    terminal->slavePath = name;
    terminal->watch = inotify_add_watch(watcher_, name, IN_OPEN | IN_CLOSE);
    if (terminal->watch < 0)
        throw std::runtime_error(std::string("cannot watch ") + name);
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
    for (const auto& [baud, count] : counters_.bytesInByRate)
        text << "bytes_in_at_" << baud << '=' << count << '\n';
    for (const auto& [baud, count] : counters_.bytesOutByRate)
        text << "bytes_out_at_" << baud << '=' << count << '\n';
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
    terminal.adapter.receive(received, answer, terminalBaud(terminal.master));
    counters_.resets += terminal.adapter.resets() - resetsBefore;
    for (const auto& [baud, count] : terminal.adapter.takeReceivedByRate())
        counters_.bytesInByRate[baud] += count;
    for (const auto& [baud, count] : terminal.adapter.takeSentByRate())
        counters_.bytesOutByRate[baud] += count;
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

void PtyServer::sessionStarts(Terminal& terminal) {
    terminal.adapter.powerOn();
    terminal.pendingAnswer.clear();
    terminal.answered = true;
    terminal.replacedAt.reset();
    auto position = std::find_if(terminals_.begin(), terminals_.end(),
                                 [&terminal](const auto& t) { return t.get() == &terminal; });
    if (position == terminals_.begin())
        return;
    // A late client opened a replaced terminal: the link goes back to it, so the next client
    // finds the port busy as it would be with one real adapter.
    Terminal& unused = *terminals_.front();
    if (unused.openedBy == 0)
        unused.replacedAt = Clock::now();
    std::rotate(terminals_.begin(), position, position + 1);
    pointLinkAt(terminal);
}

void PtyServer::sessionEnds(Terminal& terminal) {
    // Bytes still unread are left alone: a client reads every answer before it closes, so they
    // can only be answerless mode switches, and they may already be the next client's.
    terminal.adapter.powerOn();
    terminal.pendingAnswer.clear();
    terminal.answered = true;
    ++counters_.sessions;
    writeStats();
    terminal.replacedAt = Clock::now();
    if (&terminal == terminals_.front().get()) {
        terminals_.insert(terminals_.begin(), openTerminal());
        pointLinkAt(*terminals_.front());
    }
}

void PtyServer::handleOpenCloseEvents() {
    alignas(inotify_event) char events[4096];
    for (;;) {
        ssize_t count = ::read(watcher_, events, sizeof events);
        if (count <= 0)
            return;
        for (char* at = events; at < events + count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            auto found = std::find_if(terminals_.begin(), terminals_.end(),
                                      [event](const auto& t) { return t->watch == event->wd; });
            if (found == terminals_.end())
                continue;
            Terminal& terminal = **found;
            if (event->mask & IN_OPEN) {
                if (terminal.openedBy++ == 0)
                    sessionStarts(terminal);
            } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (terminal.openedBy > 0 && --terminal.openedBy == 0)
                    sessionEnds(terminal);
            }
        }
    }
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
    watcher_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher_ < 0)
        throw std::runtime_error("inotify failed");

    if (std::filesystem::exists(std::filesystem::symlink_status(linkPath_)) &&
        !std::filesystem::is_symlink(std::filesystem::symlink_status(linkPath_)))
        throw std::runtime_error(linkPath_.string() + " exists and is not a symlink");
    terminals_.push_back(openTerminal());
    pointLinkAt(*terminals_.front());
    writeStats();
    std::cerr << "ibutton-sim: serving on " << linkPath_.string() << " -> "
              << terminals_.front()->slavePath << std::endl;

    for (;;) {
        // Only terminals a client holds are polled: one without a client reports a hang-up
        // for ever. Replaced ones are looked at now and then to close them.
        std::vector<pollfd> watched{{signals, POLLIN, 0}, {watcher_, POLLIN, 0}};
        std::vector<Terminal*> polled;
        bool someReplaced = false;
        for (auto& terminal : terminals_) {
            someReplaced = someReplaced || terminal->replacedAt.has_value();
            if (terminal->openedBy == 0)
                continue;
            short events = POLLIN | (terminal->pendingAnswer.empty() ? 0 : POLLOUT);
            watched.push_back({terminal->master, events, 0});
            polled.push_back(terminal.get());
        }
        int ready = ::poll(watched.data(), watched.size(), someReplaced ? replacedCheckMs : -1);
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

        // Opens and closes first: a session's first bytes must meet a freshly powered adapter.
        handleOpenCloseEvents();

        for (size_t i = 0; i < polled.size(); ++i) {
            Terminal& terminal = *polled[i];
            if (terminal.openedBy == 0)
                continue; // closed meanwhile, already served
            short revents = watched[i + 2].revents;
            if (revents & POLLIN)
                serve(terminal);
            if (revents & POLLOUT)
                flushAnswer(terminal);
        }

        auto now = Clock::now();
        const Terminal* front = terminals_.front().get();
        std::erase_if(terminals_, [&](const std::unique_ptr<Terminal>& terminal) {
            bool expired = terminal.get() != front && terminal->replacedAt &&
                           terminal->openedBy == 0 && now - *terminal->replacedAt > lateClientGrace;
            if (expired)
                inotify_rm_watch(watcher_, terminal->watch);
            return expired;
        });
    }
}

} // namespace ibsim
