#include "controllers/keywriter.h"

#include "samplekeyimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A DS1993 as the reader sees it: 512 bytes, written and read in pages. Like the real binding,
// a write hands back other bytes in the caller's buffer.
class FakeWrittenKey : public TKeyPageDevice {
public:
    std::vector<uint8_t> Memory = std::vector<uint8_t>(KeyImageSize, 0xA5);
    std::vector<int> Writes;   // addresses, in order
    int LiftedBeforePage = -1; // from this page on every write fails and reads give 0xFF
    int LostPage = -1;         // this page's write reports success but stores nothing
    bool LiftedAfterWriting = false;

    bool WritePage(int32_t address, std::vector<uint8_t>& data) override {
        const int page = address / KeyPageSize;
        if (LiftedBeforePage >= 0 && page >= LiftedBeforePage)
            return false;
        Writes.push_back(address);
        if (page != LostPage)
            std::copy(data.begin(), data.end(), Memory.begin() + address);
        std::fill(data.begin(), data.end(), uint8_t{0xFF});
        return true;
    }
    void ReadPage(int32_t address, std::vector<uint8_t>& data) override {
        if (Gone())
            data.assign(KeyPageSize, 0xFF);
        else
            data.assign(Memory.begin() + address, Memory.begin() + address + KeyPageSize);
    }
    bool KeyStillPresent() override { return !Gone(); }

private:
    bool Gone() const { return LiftedAfterWriting || LiftedBeforePage >= 0; }
};

TEST(KeyWriter, WritesSixteenPagesInOrderAndConfirmsThemByReadingBack) {
    FakeWrittenKey key;
    int steps = 0;
    const TKeyImage image = SampleImage();
    EXPECT_EQ(WriteKeyImage(key, image, [&] { ++steps; }), TKeyWriteResult::Written);
    std::vector<int> addresses;
    for (int page = 0; page < 16; ++page)
        addresses.push_back(page * 32);
    EXPECT_EQ(key.Writes, addresses);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), key.Memory.begin()));
    EXPECT_EQ(steps, 17);
}

TEST(KeyWriter, AKeyLiftedInTheMiddleStopsAtTheFirstFailedPage) {
    for (int lifted : {0, 1, 8, 15}) {
        SCOPED_TRACE(lifted);
        FakeWrittenKey key;
        key.LiftedBeforePage = lifted;
        int steps = 0;
        EXPECT_EQ(WriteKeyImage(key, SampleImage(), [&] { ++steps; }),
                  TKeyWriteResult::WriteFailed);
        EXPECT_EQ(int(key.Writes.size()), lifted);
        EXPECT_EQ(steps, lifted);
    }
}

TEST(KeyWriter, AKeyThatDoesNotHoldTheImageIsNotProgrammed) {
    FakeWrittenKey lost;
    lost.LostPage = 9;
    EXPECT_EQ(WriteKeyImage(lost, SampleImage()), TKeyWriteResult::VerifyFailed);
    EXPECT_EQ(lost.Writes.size(), 16u);

    FakeWrittenKey lifted;
    lifted.LiftedAfterWriting = true;
    EXPECT_EQ(WriteKeyImage(lifted, SampleImage()), TKeyWriteResult::VerifyFailed);
}

} // namespace
