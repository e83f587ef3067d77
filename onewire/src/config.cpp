#include "config.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace onewire {

namespace {

std::string_view trim(std::string_view text) {
    auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

int16_t toInt16(std::string_view text) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return 0;
    return static_cast<int16_t>(std::clamp<long>(value, INT16_MIN, INT16_MAX));
}

// "port12" -> 12; anything else -> nothing.
std::optional<int> serialPortKey(std::string_view key) {
    constexpr std::string_view prefix = "port";
    if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    int number = 0;
    auto digits = key.substr(prefix.size());
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return number;
}

int positiveNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return 0;
    return value;
}

// A positive whole number of milliseconds; one too large for an int is simply very long.
std::optional<std::chrono::milliseconds> milliseconds(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || text.empty() || text.front() == '-')
        return std::nullopt;
    if (error == std::errc::result_out_of_range)
        return std::chrono::milliseconds(INT_MAX);
    if (error != std::errc() || value <= 0)
        return std::nullopt;
    return std::chrono::milliseconds(value);
}

} // namespace

PortConfig parsePortConfig(std::string_view text) {
    PortConfig config;
    bool haveType = false;
    bool haveNumber = false;
    bool haveBaud = false;
    bool haveTimeout = false;
    std::string section;
    while (!text.empty()) {
        auto newline = text.find('\n');
        auto line = trim(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            auto close = line.find(']');
            section = close == std::string_view::npos ? std::string()
                                                      : lowered(trim(line.substr(1, close - 1)));
            continue;
        }
        auto equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        auto key = lowered(trim(line.substr(0, equals)));
        auto value = trim(line.substr(equals + 1));
        if (section == "default" && key == "porttype" && !haveType) {
            config.defaultPortType = toInt16(value);
            haveType = true;
        } else if (section == "default" && key == "portnum" && !haveNumber) {
            config.defaultPortNumber = toInt16(value);
            haveNumber = true;
        } else if (section == "serial" && key == "baud") {
            if (!haveBaud)
                config.serialBaudLimit = positiveNumber(value);
            haveBaud = true;
        } else if (section == "serial" && key == "timeout") {
            if (auto allowance = milliseconds(value); allowance && !haveTimeout)
                config.serialAnswerAllowance =
                    std::min(*allowance, PortConfig::longestSerialAnswerAllowance);
            haveTimeout = true;
        } else if (section == "serial") {
            if (auto number = serialPortKey(key); number && !value.empty())
                config.serialDevices.emplace(*number, std::string(value));
        }
    }
    return config;
}

std::string portConfigPath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative path here.
    if (configHome && configHome[0] == '/')
        return std::string(configHome) + "/ibfs32.ini";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* entry = getpwuid(getuid());
        home = entry ? entry->pw_dir : "";
    }
    return std::string(home) + "/.config/ibfs32.ini";
}

PortConfig loadPortConfig() {
    return loadPortConfig(portConfigPath());
}

PortConfig loadPortConfig(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the open; the type check
    // then turns it away together with devices and folders.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw PortConfigError(path + ": " + std::strerror(errno));
    }
    std::string content;
    std::string problem;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        problem = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = "not a regular file";
    } else if (static_cast<unsigned long long>(status.st_size) > portConfigSizeLimit) {
        problem = "larger than " + std::to_string(portConfigSizeLimit / 1024) + " KiB";
    } else {
        // The size may change while we read: read no more than the limit allows either way.
        char buffer[4096];
        for (;;) {
            ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                problem = std::strerror(errno);
                break;
            }
            if (count == 0)
                break;
            content.append(buffer, static_cast<size_t>(count));
            if (content.size() > portConfigSizeLimit) {
                problem = "larger than " + std::to_string(portConfigSizeLimit / 1024) + " KiB";
                break;
            }
        }
    }
    ::close(fd);
    if (!problem.empty())
        throw PortConfigError(path + ": " + problem + "; the file is not used");
    return parsePortConfig(content);
}

std::optional<std::string> serialDevicePath(const PortConfig& config, int portNumber) {
    if (portNumber <= 0)
        return std::nullopt;
    if (auto entry = config.serialDevices.find(portNumber); entry != config.serialDevices.end())
        return entry->second;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

} // namespace onewire
