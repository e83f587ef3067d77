#include "controllers/keyreader.h"

#include "reader/CodeReaderInterface.h"

#include <algorithm>
#include <vector>

TKeyReadResult ReadKeyImage(TKeyPageDevice& device, TKeyImage& image,
                            const std::function<void()>& afterPage) {
    std::vector<uint8_t> page;
    for (int p = 0; p < KeyPageCount; ++p) {
        device.ReadPage(p * KeyPageSize, page);
        if (page.size() != size_t(KeyPageSize))
            return TKeyReadResult::Lifted;
        std::copy(page.begin(), page.end(), image.begin() + p * KeyPageSize);
        if (afterPage)
            afterPage();
    }
    return device.KeyStillPresent() ? TKeyReadResult::Read : TKeyReadResult::Lifted;
}

TAdapterJob KeyReadJob(std::shared_ptr<TKeyRead> read, const TCardOnAdapter& key) {
    return [read, key](TReaderInterface& reader, const std::function<void(int)>& step) {
        *read = TKeyRead();
        read->Number = key.Number;
        read->FamilyType = key.FamilyType;
        if (key.FamilyCode != MemoryKeyFamily) {
            read->Result = TKeyReadResult::OtherFamily;
        } else {
            TReaderKeyDevice device(reader, key.Number);
            int pages = 0;
            read->Result = ReadKeyImage(device, read->Image, [&] { step(++pages); });
        }
        return static_cast<int>(read->Result);
    };
}
