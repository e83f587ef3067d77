#include "controllers/keycontents.h"
#include "controllers/keyreader.h"
#include "reader/CodeReaderInterface.h"
#include "shared/publictypes.h"

#include "adapterkeys.h"
#include "samplekeyimage.h"
#include "testenv.h"
#include "virtualadapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A DS1993 as the reader sees it: a lifted key answers no more, and its pages read as ones.
class FakeReadKey : public TKeyPageDevice {
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
        FakeReadKey key;
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

// The job as the card poller runs it, with the real library against the virtual adapter: after a
// look at the adapter, as the poller hands the job the device it found.
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
    // The card poller's look: what lies on the adapter now.
    TCardOnAdapter Look() {
        TCardOnAdapter card;
        EXPECT_TRUE(Reader->ReadRom(card.Number, false));
        card.FamilyCode = Reader->FamilyCode;
        card.FamilyType = Reader->FamilyType;
        return card;
    }
    TKeyReadResult Run(
        const TCardOnAdapter& looked, TKeyRead& read,
        const std::function<void(int)>& step = [](int) {}) {
        auto shared = std::make_shared<TKeyRead>();
        const int result = KeyReadJob(shared, looked)(*Reader, step);
        read = *shared;
        return static_cast<TKeyReadResult>(result);
    }

    std::unique_ptr<VirtualAdapter> Adapter;
    std::unique_ptr<TReaderInterface> Reader;
};

const QString OtherKey = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("112233445566"));

TEST_F(KeyReadJobTest, ReadsTheLookedKeyAndTellsAKeyGoneOrSwappedSinceTheLook) {
    // Both keys hold the same valid image, so only the check of the key itself tells them apart.
    ASSERT_TRUE(Adapter->SetMemory(MemoryKey, ImageBytes(SampleImage())));
    ASSERT_TRUE(Adapter->SetMemory(OtherKey, ImageBytes(SampleImage())));
    const struct {
        const char* name;
        int changedAt;  // -1: never; 0: between the look and the job; n: after page n
        bool laidOther; // the other key lies there after the change
        TKeyReadResult result;
    } cases[] = {
        {"the key stays", -1, false, TKeyReadResult::Read},
        {"taken away before the job", 0, false, TKeyReadResult::Lifted},
        {"swapped before the job", 0, true, TKeyReadResult::Lifted},
        {"taken away after page 8", 8, false, TKeyReadResult::Lifted},
        {"swapped after page 8", 8, true, TKeyReadResult::Lifted},
        {"swapped after the last page", 16, true, TKeyReadResult::Lifted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Adapter->Put(MemoryKey));
        const TCardOnAdapter looked = Look();
        const auto change = [&] {
            Adapter->Remove(MemoryKey);
            if (c.laidOther)
                Adapter->Put(OtherKey);
        };
        if (c.changedAt == 0)
            change();
        TKeyRead read;
        std::vector<int> steps;
        EXPECT_EQ(Run(looked, read,
                      [&](int step) {
                          steps.push_back(step);
                          if (step == c.changedAt)
                              change();
                      }),
                  c.result);
        EXPECT_EQ(steps.size(), 16u);
        EXPECT_EQ(read.Number, VirtualAdapter::CardNumberOf(MemoryKey));
        EXPECT_EQ(read.FamilyType, "DS1993");
        if (c.result == TKeyReadResult::Read) {
            EXPECT_EQ(ImageBytes(read.Image).toHex(), ImageBytes(SampleImage()).toHex());
        }
        Adapter->Remove(MemoryKey);
        Adapter->Remove(OtherKey);
    }
}

TEST_F(KeyReadJobTest, ADeviceOfAnotherFamilyIsNotRead) {
    ASSERT_TRUE(Adapter->Put(PlainCard));
    const TCardOnAdapter looked = Look();
    const VirtualAdapter::Traffic before = Adapter->Counters();
    TKeyRead read;
    int steps = 0;
    EXPECT_EQ(Run(looked, read, [&](int) { ++steps; }), TKeyReadResult::OtherFamily);
    EXPECT_EQ(read.FamilyType, "DS1990");
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(Adapter->Counters().RoundTrips, before.RoundTrips);
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
    ASSERT_TRUE(adapter.SetMemory(MemoryKey, ImageBytes(SampleImage())));
    ASSERT_TRUE(adapter.SetMemory(OtherKey, ImageBytes(SampleImage())));
    ASSERT_TRUE(adapter.Put(MemoryKey));
    {
        const std::unique_ptr<TReaderInterface> reader = CreateConfiguredReader(adapter.Settings);
        ASSERT_TRUE(reader->ReaderLoaded);
        TCardOnAdapter looked;
        ASSERT_TRUE(reader->ReadRom(looked.Number, false));
        looked.FamilyCode = reader->FamilyCode;
        looked.FamilyType = reader->FamilyType;
        auto read = std::make_shared<TKeyRead>();
        EXPECT_EQ(static_cast<TKeyReadResult>(KeyReadJob(read, looked)(*reader, [](int) {})),
                  TKeyReadResult::Read);
        EXPECT_EQ(ImageBytes(read->Image).toHex(), ImageBytes(SampleImage()).toHex());
        // A key swapped in the middle is told, not read as the one looked at.
        EXPECT_EQ(
            static_cast<TKeyReadResult>(KeyReadJob(read, looked)(*reader,
                                                                 [&](int step) {
                                                                     if (step == 8) {
                                                                         adapter.Remove(MemoryKey);
                                                                         adapter.Put(OtherKey);
                                                                     }
                                                                 })),
            TKeyReadResult::Lifted);
    }
}

} // namespace
