// The DS2480B driver and the ROM search fed arbitrary adapter answers: whatever comes back, the
// driver may give up with LinkError but must not crash, read out of bounds, hang, or let the
// search report a ROM that fails its CRC or take more passes than a real bus ever needs.
#include "ds2480b.h"
#include "search.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// A port whose other end answers with the fuzzer's bytes, and runs out of answers when they do.
class FuzzedLine final : public onewire::SerialLine {
public:
    explicit FuzzedLine(FuzzedDataProvider& data) : data_(data) {}

    void write(std::span<const uint8_t> bytes, std::chrono::milliseconds) override {
        written_ += bytes.size();
    }
    void read(std::span<uint8_t> bytes, std::chrono::milliseconds) override {
        auto answer = data_.ConsumeBytes<uint8_t>(bytes.size());
        if (answer.size() < bytes.size())
            throw onewire::LinkError("no answer in time");
        std::copy(answer.begin(), answer.end(), bytes.begin());
    }
    void discardInput() override {}
    void sendBreak() override {}
    void drain(std::chrono::milliseconds) override {}
    bool setBaudRate(int baud) override {
        if (!data_.ConsumeBool())
            return false;
        baud_ = baud;
        return true;
    }
    int baudRate() const override { return baud_; }
    void settle(std::chrono::milliseconds) override {}

private:
    FuzzedDataProvider& data_;
    size_t written_ = 0;
    int baud_ = 9600;
};

// Counts the passes the search asks for.
class CountingLink final : public onewire::LinkMaster {
public:
    explicit CountingLink(onewire::LinkMaster& inner) : inner_(inner) {}
    onewire::ResetResult reset() override { return inner_.reset(); }
    bool touchBit(bool bit) override { return inner_.touchBit(bit); }
    onewire::SearchPass searchPass(const onewire::Rom& steering) override {
        ++passes;
        return inner_.searchPass(steering);
    }
    int passes = 0;

private:
    onewire::LinkMaster& inner_;
};

std::vector<uint8_t> someBytes(FuzzedDataProvider& data) {
    // Up to past the driver's piece size, so long blocks are split.
    size_t size = data.ConsumeIntegralInRange<size_t>(0, 600);
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes)
        byte = data.ConsumeIntegral<uint8_t>();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    FuzzedDataProvider data(input, size);
    static constexpr int rates[] = {9600, 19200, 57600, 115200};
    int fastest = rates[data.ConsumeIntegralInRange<int>(0, 3)];
    try {
        onewire::Ds2480bMaster master(std::make_unique<FuzzedLine>(data), fastest);
        onewire::RomSearch search;
        for (int step = 0; step < 64 && data.remaining_bytes() > 0; ++step) {
            switch (data.ConsumeIntegralInRange<int>(0, 6)) {
            case 0:
                master.reset();
                break;
            case 1:
                master.touchBit(data.ConsumeBool());
                break;
            case 2:
                master.touchByte(data.ConsumeIntegral<uint8_t>());
                break;
            case 3: {
                auto bytes = someBytes(data);
                master.touchBlock(bytes);
                break;
            }
            case 4: {
                auto bytes = someBytes(data);
                master.resetThenTouch(bytes);
                break;
            }
            case 5: {
                onewire::Rom steering{};
                for (auto& byte : steering)
                    byte = data.ConsumeIntegral<uint8_t>();
                master.searchPass(steering);
                break;
            }
            case 6: {
                if (data.ConsumeBool())
                    search.restart();
                CountingLink counting(master);
                onewire::Rom found{};
                try {
                    auto outcome = search.next(counting, found);
                    // Checked here from first principles, not with the search's own test.
                    if (outcome == onewire::RomSearch::Outcome::Found &&
                        (found[0] == 0 || !onewire::romCrcValid(found)))
                        std::abort(); // reported a ROM whose CRC or family is wrong
                } catch (const onewire::LinkError&) {
                }
                if (counting.passes > 65)
                    std::abort(); // the search went on past any real bus's need
                break;
            }
            }
        }
    } catch (const onewire::LinkError&) {
        // Giving up on an adapter that answers nonsense is the right outcome.
    }
    return 0;
}
