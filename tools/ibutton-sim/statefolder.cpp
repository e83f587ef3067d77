#include "statefolder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace ibsim {

namespace {

std::string_view trim(std::string_view text) {
    auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Calls `line(number, text)` for each line of the text, numbered from 1.
template <typename Visitor> void forEachLine(std::string_view text, Visitor line) {
    int number = 0;
    while (!text.empty()) {
        auto newline = text.find('\n');
        line(++number, text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
}

} // namespace

BusFile parseBusFile(std::string_view text) {
    BusFile bus;
    forEachLine(text, [&bus](int number, std::string_view raw) {
        auto line = trim(raw);
        if (line.empty() || line.front() == '#')
            return;
        auto rom = onewire::romFromHex(line);
        if (!rom) {
            bus.problems.push_back(
                "bus line " + std::to_string(number) + " is not a ROM (" +
                "16 hexadecimal digits expected), skipped: " + std::string(line));
            return;
        }
        if (std::find(bus.roms.begin(), bus.roms.end(), *rom) == bus.roms.end())
            bus.roms.push_back(*rom);
    });
    return bus;
}

std::optional<Rom> romFromArgument(std::string_view text) {
    if (text.size() == 14) {
        auto rom = onewire::romFromHex(std::string(text) + "00");
        if (rom)
            (*rom)[7] = onewire::crc8(std::span<const uint8_t>(rom->data(), 7));
        return rom;
    }
    return onewire::romFromHex(text);
}

StateFolder::StateFolder(std::filesystem::path directory, std::ostream& warnings)
    : directory_(std::move(directory)), warnings_(warnings) {}

std::filesystem::path StateFolder::memoryPath(const Rom& rom) const {
    return directory_ / (onewire::romToHex(rom) + ".mem");
}

std::string StateFolder::readBusText() const {
    std::ifstream file(busPath(), std::ios::binary);
    std::ostringstream content;
    if (file)
        content << file.rdbuf();
    return content.str();
}

std::vector<Rom> StateFolder::readBus() {
    std::string text = readBusText();
    if (!haveBus_ || text != lastBusText_) {
        lastBus_ = parseBusFile(text);
        lastBusText_ = std::move(text);
        haveBus_ = true;
        for (const auto& problem : lastBus_.problems)
            warnings_ << "ibutton-sim: " << problem << '\n' << std::flush;
    }
    return lastBus_.roms;
}

void StateFolder::replaceFile(const std::filesystem::path& path, std::string_view content) const {
    auto temporary = path;
    temporary += ".tmp" + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!file.flush())
            throw std::runtime_error("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, path);
}

bool StateFolder::put(const Rom& rom) {
    std::filesystem::create_directories(directory_);
    if (rom[0] == ds1993Family)
        ensureMemory(rom);
    std::string text = readBusText();
    auto current = parseBusFile(text);
    if (std::find(current.roms.begin(), current.roms.end(), rom) != current.roms.end())
        return false;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text += onewire::romToHex(rom) + '\n';
    replaceFile(busPath(), text);
    return true;
}

bool StateFolder::remove(const Rom& rom) {
    std::string text = readBusText();
    std::string kept;
    bool removed = false;
    forEachLine(text, [&](int, std::string_view line) {
        auto parsed = onewire::romFromHex(trim(line));
        if (parsed && *parsed == rom) {
            removed = true;
            return;
        }
        kept.append(line);
        kept += '\n';
    });
    if (removed)
        replaceFile(busPath(), kept);
    return removed;
}

void StateFolder::ensureMemory(const Rom& rom) {
    auto path = memoryPath(rom);
    if (std::filesystem::exists(path))
        return;
    Ds1993Memory zeros{};
    replaceFile(path, std::string_view(reinterpret_cast<const char*>(zeros.data()), zeros.size()));
}

Ds1993Memory StateFolder::readMemory(const Rom& rom) {
    Ds1993Memory memory{};
    std::ifstream file(memoryPath(rom), std::ios::binary);
    if (file)
        file.read(reinterpret_cast<char*>(memory.data()), memory.size());
    return memory; // a short file reads as zeros beyond its end
}

void StateFolder::writeMemory(const Rom& rom, uint16_t address, std::span<const uint8_t> bytes) {
    Ds1993Memory memory = readMemory(rom);
    for (size_t i = 0; i < bytes.size() && address + i < memory.size(); ++i)
        memory[address + i] = bytes[i];
    replaceFile(memoryPath(rom),
                std::string_view(reinterpret_cast<const char*>(memory.data()), memory.size()));
}

} // namespace ibsim
