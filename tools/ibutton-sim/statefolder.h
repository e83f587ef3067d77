// The simulator's state folder: `bus` lists the ROMs lying on the adapter, `<ROM>.mem` holds each
// DS1993's memory. People and scripts edit these files while the simulator runs.
#pragma once

#include "rom.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ibsim {

using onewire::Rom;

constexpr size_t ds1993MemorySize = 512;
constexpr uint8_t ds1993Family = 0x06;
using Ds1993Memory = std::array<uint8_t, ds1993MemorySize>;

struct BusFile {
    std::vector<Rom> roms;             // in file order, each once
    std::vector<std::string> problems; // one message per malformed line
};

// One ROM per line, 16 hexadecimal digits, family code first. Blank lines and lines starting
// with '#' are ignored; anything else that is not a ROM is reported and skipped. A ROM whose
// CRC byte is wrong is kept as written.
BusFile parseBusFile(std::string_view text);

// "06A1B2C3D4E5F6" (14 digits) gets its CRC appended; 16 digits are taken as they are.
std::optional<Rom> romFromArgument(std::string_view text);

// Where a DS1993 keeps its memory; implemented by the state folder and by test doubles.
class MemoryStore {
public:
    virtual ~MemoryStore() = default;
    virtual Ds1993Memory readMemory(const Rom& rom) = 0;
    virtual void writeMemory(const Rom& rom, uint16_t address, std::span<const uint8_t> bytes) = 0;
};

class StateFolder final : public MemoryStore {
public:
    // `warnings` receives the messages about malformed bus lines.
    StateFolder(std::filesystem::path directory, std::ostream& warnings);

    const std::filesystem::path& directory() const { return directory_; }
    std::filesystem::path busPath() const { return directory_ / "bus"; }
    std::filesystem::path memoryPath(const Rom& rom) const;

    // The ROMs on the bus now. Malformed lines are reported once per change of the file.
    std::vector<Rom> readBus();

    // Adds the ROM to the bus unless it is there (true when added); a DS1993 gets its memory file.
    bool put(const Rom& rom);
    // Takes every line with this ROM off the bus (true when one was there). Memory files stay.
    bool remove(const Rom& rom);
    // Creates a zero-filled memory file when there is none.
    void ensureMemory(const Rom& rom);

    Ds1993Memory readMemory(const Rom& rom) override;
    // Whole-file replace, so a reader never sees a half-written page.
    void writeMemory(const Rom& rom, uint16_t address, std::span<const uint8_t> bytes) override;

private:
    std::string readBusText() const;
    void replaceFile(const std::filesystem::path& path, std::string_view content) const;

    std::filesystem::path directory_;
    std::ostream& warnings_;
    std::string lastBusText_;
    BusFile lastBus_;
    bool haveBus_ = false;
};

} // namespace ibsim
