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

// Answers every pass from a script, whatever the steering: an adapter that misreads or invents.
class ScriptedLink final : public onewire::LinkMaster {
public:
    onewire::ResetResult reset() override { return onewire::ResetResult::Presence; }
    bool touchBit(bool) override { return true; }
    onewire::SearchPass searchPass(const Rom&) override {
        onewire::SearchPass pass;
        pass.reset = onewire::ResetResult::Presence;
        if (!script.empty()) {
            pass.rom = script.front();
            script.erase(script.begin());
        } else {
            pass.rom = repeated;
        }
        pass.discrepancies = discrepancies;
        ++passes;
        return pass;
    }

    std::vector<Rom> script; // the ROM each pass ends on, then `repeated` for ever
    Rom repeated{};
    Rom discrepancies{};
    int passes = 0;
};

TEST(RomSearchRulesTest, OnlyRomsWithAValidCrcAndFamilyAreReported) {
    const Rom good = withCrc({0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6});
    Rom badCrc = good;
    badCrc[7] ^= 0x01;
    const Rom familyZero = withCrc({0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6});
    const Rom allZero{}; // a bus held low: its CRC "holds"
    struct Case {
        const char* what;
        std::vector<Rom> passes;
        onewire::RomSearch::Outcome outcome;
        int passesMade;
    };
    using Outcome = onewire::RomSearch::Outcome;
    for (const Case& c : {
             Case{"good at once", {good}, Outcome::Found, 1},
             Case{"one garbled pass, then good", {badCrc, good}, Outcome::Found, 2},
             Case{"garbled twice", {badCrc, badCrc, good}, Outcome::NoDevice, 2},
             Case{"family 0 twice", {familyZero, familyZero}, Outcome::NoDevice, 2},
             Case{"all zeros twice", {allZero, allZero}, Outcome::NoDevice, 2},
             Case{"family 0, then good", {familyZero, good}, Outcome::Found, 2},
         }) {
        SCOPED_TRACE(c.what);
        ScriptedLink link;
        link.script = c.passes;
        link.repeated = c.passes.back();
        onewire::RomSearch search;
        Rom found{};
        EXPECT_EQ(search.next(link, found), c.outcome);
        EXPECT_EQ(link.passes, c.passesMade);
        if (c.outcome == Outcome::Found) {
            EXPECT_EQ(found, good);
        }
        // A walk given up on starts afresh at the next call; one that found its only device ends.
        link.script.clear();
        link.repeated = good;
        EXPECT_EQ(search.next(link, found),
                  c.outcome == Outcome::Found ? Outcome::NoDevice : Outcome::Found);
    }
}

TEST(RomSearchRulesTest, APassThatNeverSettlesEndsAsAnAdapterFault) {
    // Every pass disagrees at bit 63 and takes 0 there, although the walk aims at 1: as if the
    // branch it aims at had gone, each time anew. A real bus runs out of such branches.
    ScriptedLink link;
    link.repeated = withCrc({0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xFA}); // CRC 0x2C: bit 63 is 0
    link.discrepancies[7] = 0x80;
    onewire::RomSearch search;
    Rom found{};
    ASSERT_EQ(search.next(link, found), onewire::RomSearch::Outcome::Found);
    link.passes = 0;
    EXPECT_THROW(search.next(link, found), onewire::LinkError);
    EXPECT_LE(link.passes, 65);
    EXPECT_GE(link.passes, 64); // not given up before a real bus could have settled
}

TEST(RomSearchRulesTest, RandomAnswersNeverYieldAnImplausibleRom) {
    // The adapter of the field report: random but plausible-looking search results.
    class RandomLink final : public onewire::LinkMaster {
    public:
        onewire::ResetResult reset() override { return onewire::ResetResult::Presence; }
        bool touchBit(bool) override { return random() & 1; }
        onewire::SearchPass searchPass(const Rom&) override {
            onewire::SearchPass pass;
            pass.reset = onewire::ResetResult::Presence;
            for (auto& byte : pass.rom)
                byte = static_cast<uint8_t>(random());
            for (auto& byte : pass.discrepancies)
                byte = static_cast<uint8_t>(random());
            return pass;
        }
        std::mt19937 random{2024};
    } link;
    onewire::RomSearch search;
    int found = 0;
    for (int call = 0; call < 20000; ++call) {
        Rom rom{};
        try {
            if (search.next(link, rom) == onewire::RomSearch::Outcome::Found) {
                ++found;
                ASSERT_TRUE(onewire::plausibleRom(rom)) << onewire::romToHex(rom);
            }
        } catch (const onewire::LinkError&) {
        }
    }
    // Chance lets about 1 in 128 garbled ROMs through the CRC, twice the tries: far from the
    // 99 in 100 the report saw.
    EXPECT_LT(found, 20000 / 30);
}

} // namespace
