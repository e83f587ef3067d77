#include "controllers/keycontents.h"
#include "controllers/keyreader.h"
#include "reader/CodeReaderInterface.h"
#include "shared/publictypes.h"

#include "samplekeyimage.h"
#include "testenv.h"
#include "virtualadapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A DS1993 as the reader sees it: a lifted key answers no more, and its pages read as ones.
class FakeKey : public TKeyPageDevice {
public:
    TKeyImage Memory = SampleImage();
    int LiftedAfterPages = -1;   // the key goes after this many pages were read
    bool LaidBackAtOnce = false; // and is back before the reading ends
    int Read = 0;

    bool WritePage(int32_t, std::vector<uint8_t>&) override { return false; }
    void ReadPage(int32_t address, std::vector<uint8_t>& data) override {
        if (Gone())
            data.assign(KeyPageSize, 0xFF);
        else
            data.assign(Memory.begin() + address, Memory.begin() + address + KeyPageSize);
        ++Read;
    }
    bool KeyStillPresent() override { return !Gone() || LaidBackAtOnce; }

private:
    bool Gone() const { return LiftedAfterPages >= 0 && Read >= LiftedAfterPages; }
};

TEST(KeyReader, ReadsSixteenPagesAndTellsALiftedKey) {
    const struct {
        const char* name;
        int liftedAfter;
        bool laidBack;
        TKeyReadResult result;
        TKeyImageState state; // of what was read
    } cases[] = {
        {"the key stays", -1, false, TKeyReadResult::Read, TKeyImageState::Valid},
        {"lifted after 8 pages", 8, false, TKeyReadResult::Lifted, TKeyImageState::BadCrc},
        {"lifted after the last page", 16, false, TKeyReadResult::Lifted, TKeyImageState::Valid},
        {"lifted before the first page", 0, false, TKeyReadResult::Lifted, TKeyImageState::Blank},
        // Its ones fill the middle pages, so the check byte gives it away.
        {"lifted after 3 pages and laid back", 3, true, TKeyReadResult::Read,
         TKeyImageState::BadCrc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeKey key;
        key.LiftedAfterPages = c.liftedAfter;
        key.LaidBackAtOnce = c.laidBack;
        TKeyImage image{};
        int pages = 0;
        EXPECT_EQ(ReadKeyImage(key, image, [&] { ++pages; }), c.result);
        EXPECT_EQ(pages, 16);
        if (c.state == TKeyImageState::Blank) {
            EXPECT_TRUE(
                std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; }));
        } else {
            EXPECT_EQ(DecodeKeyImage(image).State, c.state);
        }
        if (c.state == TKeyImageState::Valid) {
            EXPECT_EQ(image, SampleImage());
        }
    }
}

// The job as the card poller runs it, with the real library against the virtual adapter.
class KeyReadJobTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        Adapter = std::make_unique<VirtualAdapter>();
        ASSERT_TRUE(Adapter->Ready()) << Adapter->Problem().toStdString();
        Reader = CreateConfiguredReader(Adapter->Settings);
        ASSERT_TRUE(Reader->ReaderLoaded);
    }
    void TearDown() override {
        Reader.reset();
        Adapter.reset();
        HomeTest::TearDown();
    }
    TKeyReadResult Run(
        TKeyRead& read, const std::function<void(int)>& step = [](int) {}) {
        auto shared = std::make_shared<TKeyRead>();
        const int result = KeyReadJob(shared)(*Reader, step);
        read = *shared;
        return static_cast<TKeyReadResult>(result);
    }

    std::unique_ptr<VirtualAdapter> Adapter;
    std::unique_ptr<TReaderInterface> Reader;
};

const QString MemoryKey = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("0A1B2C3D4E5F"));
const QString PlainCard = VirtualAdapter::RomOf(0x01, QByteArray::fromHex("A1B2C3D4E5F6"));

QByteArray Bytes(const TKeyImage& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), KeyImageSize);
}

TEST_F(KeyReadJobTest, ReadsTheKeyOnTheAdapterOrSaysWhyNot) {
    TKeyRead read;
    EXPECT_EQ(Run(read), TKeyReadResult::NoKey);

    ASSERT_TRUE(Adapter->Put(PlainCard));
    EXPECT_EQ(Run(read), TKeyReadResult::OtherFamily);
    EXPECT_EQ(read.FamilyType, "DS1990");
    ASSERT_TRUE(Adapter->Remove(PlainCard));

    ASSERT_TRUE(Adapter->SetMemory(MemoryKey, Bytes(SampleImage())));
    ASSERT_TRUE(Adapter->Put(MemoryKey));
    std::vector<int> steps;
    EXPECT_EQ(Run(read, [&](int step) { steps.push_back(step); }), TKeyReadResult::Read);
    EXPECT_EQ(Bytes(read.Image).toHex(), Bytes(SampleImage()).toHex());
    EXPECT_EQ(read.Number, VirtualAdapter::CardNumberOf(MemoryKey));
    EXPECT_EQ(read.FamilyType, "DS1993");
    EXPECT_EQ(steps.size(), 16u);
    EXPECT_EQ(steps.back(), 16);

    // Lifted in the middle: the pages after it read as ones, and the job says so.
    EXPECT_EQ(Run(read,
                  [&](int step) {
                      if (step == 8)
                          Adapter->Remove(MemoryKey);
                  }),
              TKeyReadResult::Lifted);
}

} // namespace

namespace {

// The same reading over the USB adapter: the test runs again under the virtual DS9490.
using KeyReadJobUsbTest = HomeTest;

TEST_F(KeyReadJobUsbTest, ReadsTheKeyOnTheUsbAdapter) {
    if (!VirtualAdapter::RunsUnderVirtualUsb())
        return;
    VirtualAdapter adapter{VirtualAdapter::Usb{}};
    ASSERT_TRUE(adapter.Ready()) << adapter.Problem().toStdString();
    ASSERT_TRUE(adapter.SetMemory(MemoryKey, Bytes(SampleImage())));
    ASSERT_TRUE(adapter.Put(MemoryKey));
    {
        const std::unique_ptr<TReaderInterface> reader = CreateConfiguredReader(adapter.Settings);
        ASSERT_TRUE(reader->ReaderLoaded);
        auto read = std::make_shared<TKeyRead>();
        EXPECT_EQ(static_cast<TKeyReadResult>(KeyReadJob(read)(*reader, [](int) {})),
                  TKeyReadResult::Read);
        EXPECT_EQ(Bytes(read->Image).toHex(), Bytes(SampleImage()).toHex());
    }
}

} // namespace
