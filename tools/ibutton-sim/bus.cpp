#include "bus.h"

namespace ibsim {

void StateFolderSource::deviceArrived(const Rom& rom) {
    if (rom[0] == ds1993Family)
        folder_.ensureMemory(rom);
}

void InMemoryDevices::writeMemory(const Rom& rom, uint16_t address,
                                  std::span<const uint8_t> bytes) {
    auto& memory = memories[rom];
    for (size_t i = 0; i < bytes.size() && address + i < memory.size(); ++i)
        memory[address + i] = bytes[i];
}

bool OneWireBus::reset() {
    std::map<Rom, std::shared_ptr<OneWireSlave>> stillHere;
    present_.clear();
    for (const Rom& rom : source_.devicesOnBus()) {
        std::shared_ptr<OneWireSlave> device;
        if (auto found = known_.find(rom); found != known_.end()) {
            device = found->second;
        } else {
            source_.deviceArrived(rom);
            if (rom[0] == ds1993Family)
                device = std::make_shared<Ds1993>(rom, source_.memory());
            else
                device = std::make_shared<RomOnlyDevice>(rom);
        }
        stillHere.emplace(rom, device);
        present_.push_back(device);
    }
    // A device taken off the bus forgets its scratchpad.
    known_ = std::move(stillHere);
    for (auto& device : present_)
        device->resetPulse();
    return !present_.empty();
}

bool OneWireBus::touch(bool bit) {
    bool level = bit;
    for (const auto& device : present_)
        level = level && device->releasesBus();
    for (const auto& device : present_)
        device->slot(level);
    return level;
}

} // namespace ibsim
