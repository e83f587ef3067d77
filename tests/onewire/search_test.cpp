// The search walk over a bus of virtual devices, through the generic slot-by-slot search pass.
#include "bus.h"
#include "link.h"
#include "search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using onewire::Rom;

namespace {

// A bus master that has only the two primitives; everything else is the generic version.
class SlotLink final : public onewire::LinkMaster {
public:
    explicit SlotLink(ibsim::OneWireBus& bus) : bus_(bus) {}
    onewire::ResetResult reset() override {
        return bus_.reset() ? onewire::ResetResult::Presence : onewire::ResetResult::NoPresence;
    }
    bool touchBit(bool bit) override { return bus_.touch(bit); }

private:
    ibsim::OneWireBus& bus_;
};

Rom withCrc(Rom rom) {
    rom[7] = onewire::crc8(std::span<const uint8_t>(rom.data(), 7));
    return rom;
}

std::vector<Rom> randomRoms(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Rom> roms;
    while (roms.size() < count) {
        Rom rom{};
        for (auto& byte : rom)
            byte = static_cast<uint8_t>(random());
        rom[0] = random() % 2 ? 0x01 : 0x06;
        rom = withCrc(rom);
        if (std::find(roms.begin(), roms.end(), rom) == roms.end())
            roms.push_back(rom);
    }
    return roms;
}

class RomSearchTest : public ::testing::Test {
protected:
    std::vector<Rom> walk() {
        std::vector<Rom> found;
        onewire::RomSearch search;
        Rom rom;
        while (search.next(link, rom) == onewire::RomSearch::Outcome::Found) {
            found.push_back(rom);
            if (found.size() > devices.roms.size())
                break; // a walk that does not end
        }
        return found;
    }

    ibsim::InMemoryDevices devices;
    ibsim::OneWireBus bus{devices};
    SlotLink link{bus};
};

TEST_F(RomSearchTest, FindsEveryDeviceOnce) {
    Rom card = withCrc({0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xFA}); // CRC 0x2C: bit 63 clear
    // Families 3 and 2 differ at bit 0 (and then in their CRCs).
    Rom bit0One = withCrc({0x03, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6});
    Rom bit0Zero = withCrc({0x02, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6});
    Rom lastBitTwin = card;
    lastBitTwin[7] ^= 0x80; // differs only in the last bit, so its CRC is wrong
    struct Case {
        const char* what;
        std::vector<Rom> roms;
        std::vector<Rom> reported;
    };
    for (const Case& c : {
             Case{"one", {card}, {card}},
             Case{"differing at bit 0", {bit0One, bit0Zero}, {bit0One, bit0Zero}},
             // The walk meets the good one first and ends at the corrupt one.
             Case{"differing at bit 63, one CRC wrong", {card, lastBitTwin}, {card}},
             Case{"forty", randomRoms(40, 7), randomRoms(40, 7)},
         }) {
        SCOPED_TRACE(c.what);
        devices.roms = c.roms;
        auto found = walk();
        EXPECT_EQ(std::set<Rom>(found.begin(), found.end()),
                  std::set<Rom>(c.reported.begin(), c.reported.end()));
        EXPECT_EQ(found.size(), c.reported.size());
    }
}

TEST_F(RomSearchTest, EmptyBusAndVanishingDevices) {
    onewire::RomSearch search;
    Rom rom;
    EXPECT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::NoDevice);

    // A and B part at bit 24, C leaves them at bit 8; the walk meets A first.
    Rom a = withCrc({0x01, 0x00, 0x00, 0x00});
    Rom b = withCrc({0x01, 0x00, 0x00, 0x01});
    Rom c = withCrc({0x01, 0x01, 0x00, 0x00});
    devices.roms = {a, b, c};
    ASSERT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::Found);
    EXPECT_EQ(rom, a);
    // B leaves before the pass that would take its branch: the walk goes on with C instead of
    // reporting A twice.
    devices.roms = {a, c};
    ASSERT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::Found);
    EXPECT_EQ(rom, c);
    EXPECT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::NoDevice);

    // Everybody leaves during the walk: no presence, the walk ends.
    devices.roms = {a, b};
    ASSERT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::Found);
    devices.roms = {};
    EXPECT_EQ(search.next(link, rom), onewire::RomSearch::Outcome::NoDevice);
}

} // namespace
