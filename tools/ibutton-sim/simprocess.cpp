#include "simprocess.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ibsim {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argumentVector(const std::vector<std::string>& arguments) {
    std::vector<char*> vector;
    for (const auto& argument : arguments)
        vector.push_back(const_cast<char*>(argument.c_str()));
    vector.push_back(nullptr);
    return vector;
}

// Waits for the child until the deadline; the exit status, or nothing when it still runs.
std::optional<int> waitUntil(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return -1;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

TemporaryFolder::TemporaryFolder() {
    auto pattern = (std::filesystem::temp_directory_path() / "ibsim-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path simulatorExecutable() {
    return IBUTTON_SIM_EXECUTABLE;
}

ProgramRun runProgram(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout) {
    ProgramRun run;
    int outputPipe[2];
    int errorPipe[2];
    if (pipe2(outputPipe, O_CLOEXEC) != 0)
        return run;
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(outputPipe[0]);
        close(outputPipe[1]);
        return run;
    }
    auto argv = argumentVector(arguments);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outputPipe[1], STDOUT_FILENO);
        dup2(errorPipe[1], STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(outputPipe[1]);
    close(errorPipe[1]);
    auto deadline = Clock::now() + timeout;
    pollfd streams[2] = {{outputPipe[0], POLLIN, 0}, {errorPipe[0], POLLIN, 0}};
    std::string* targets[2] = {&run.output, &run.errors};
    int open = pid > 0 ? 2 : 0;
    while (open > 0 && Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(streams, 2, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || !streams[i].revents)
                continue;
            char buffer[4096];
            ssize_t count = read(streams[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                targets[i]->append(buffer, static_cast<size_t>(count));
            } else {
                streams[i].fd = -1;
                --open;
            }
        }
    }
    close(outputPipe[0]);
    close(errorPipe[0]);
    if (pid <= 0)
        return run;
    auto status = waitUntil(pid, deadline);
    if (!status) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return run;
    }
    run.exitStatus = *status;
    return run;
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::filesystem::path& errorLog) {
    auto argv = argumentVector(arguments);
    int log = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A test run that is killed must not leave simulators behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        if (log >= 0)
            dup2(log, STDERR_FILENO);
        int devNull = ::open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (log >= 0)
        ::close(log);
    if (pid_ < 0)
        throw std::runtime_error("cannot start " + arguments.front());
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::running() {
    if (pid_ <= 0)
        return false;
    auto status = waitUntil(pid_, Clock::now());
    if (!status)
        return true;
    exitStatus_ = *status;
    pid_ = -1;
    return false;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0)
        return exitStatus_;
    kill(pid_, SIGTERM);
    auto status = waitUntil(pid_, Clock::now() + grace);
    if (!status) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status = -1;
    }
    exitStatus_ = *status;
    pid_ = -1;
    return exitStatus_;
}

namespace {
std::vector<std::string> serveArguments(const std::filesystem::path& link,
                                        const std::filesystem::path& state,
                                        const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {
        simulatorExecutable().string(), "serve", "--tty", link.string(), "--state", state.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}
} // namespace

SimulatorProcess::SimulatorProcess(std::filesystem::path link, std::filesystem::path stateFolder,
                                   const std::vector<std::string>& options)
    : link_(std::move(link)), state_(std::move(stateFolder)),
      logPath_(state_.parent_path() / (state_.filename().string() + ".log")),
      process_(serveArguments(link_, state_, options), logPath_) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(link_)) {
        if (!process_.running() || Clock::now() > deadline)
            throw std::runtime_error("ibutton-sim did not come up: " + log());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string SimulatorProcess::log() const {
    return readWholeFile(logPath_);
}

TrafficCounters SimulatorProcess::counters() const {
    TrafficCounters counters;
    std::istringstream text(readWholeFile(state_ / "stats"));
    std::string line;
    while (std::getline(text, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        auto key = line.substr(0, equals);
        auto value = std::stoull(line.substr(equals + 1));
        if (key == "bytes_in")
            counters.bytesIn = value;
        else if (key == "bytes_out")
            counters.bytesOut = value;
        else if (key == "round_trips")
            counters.roundTrips = value;
        else if (key == "resets")
            counters.resets = value;
        else if (key == "sessions")
            counters.sessions = value;
        else if (key.starts_with("bytes_in_at_"))
            counters.bytesInByRate[std::stoi(key.substr(12))] = value;
        else if (key.starts_with("bytes_out_at_"))
            counters.bytesOutByRate[std::stoi(key.substr(13))] = value;
    }
    return counters;
}

} // namespace ibsim
