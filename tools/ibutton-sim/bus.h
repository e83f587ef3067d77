// The virtual 1-Wire bus: the devices the state folder lists, wired-AND.
#pragma once

#include "devices.h"
#include "statefolder.h"

#include <map>
#include <memory>
#include <vector>

namespace ibsim {

// Where the bus learns which devices lie on it; the state folder, or a list in tests.
class DeviceSource {
public:
    virtual ~DeviceSource() = default;
    virtual std::vector<Rom> devicesOnBus() = 0;
    virtual MemoryStore& memory() = 0;
    virtual void deviceArrived(const Rom& /*rom*/) {}
};

class StateFolderSource final : public DeviceSource {
public:
    explicit StateFolderSource(StateFolder& folder) : folder_(folder) {}
    std::vector<Rom> devicesOnBus() override { return folder_.readBus(); }
    MemoryStore& memory() override { return folder_; }
    void deviceArrived(const Rom& rom) override;

private:
    StateFolder& folder_;
};

// Devices and memories held in memory, for tests and benchmarks that need no files.
class InMemoryDevices final : public DeviceSource, public MemoryStore {
public:
    std::vector<Rom> roms;
    std::map<Rom, Ds1993Memory> memories;

    std::vector<Rom> devicesOnBus() override { return roms; }
    MemoryStore& memory() override { return *this; }
    Ds1993Memory readMemory(const Rom& rom) override { return memories[rom]; }
    void writeMemory(const Rom& rom, uint16_t address, std::span<const uint8_t> bytes) override;
};

class OneWireBus {
public:
    explicit OneWireBus(DeviceSource& source) : source_(source) {}

    // Takes the current device list (a device keeps its state while it stays on the bus) and
    // sends the reset pulse. True when some device answered with presence.
    bool reset();
    // One time slot: the master writes `bit` (1 is also the read slot); returns the bus level.
    bool touch(bool bit);

    const std::vector<std::shared_ptr<OneWireSlave>>& devices() const { return present_; }

private:
    DeviceSource& source_;
    std::vector<std::shared_ptr<OneWireSlave>> present_;
    std::map<Rom, std::shared_ptr<OneWireSlave>> known_;
};

} // namespace ibsim
