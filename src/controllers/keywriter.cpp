#include "controllers/keywriter.h"

#include "controllers/keyreader.h"
#include "reader/CodeReaderInterface.h"

#include <algorithm>

TKeyWriteResult WriteKeyImage(TKeyPageDevice& device, const TKeyImage& image,
                              const std::function<void()>& afterStep) {
    std::vector<uint8_t> page;
    for (int p = 0; p < KeyPageCount; ++p) {
        const auto bytes = KeyImagePage(image, p);
        // The reader hands back what it read in the same buffer, so it is filled for every page.
        page.assign(bytes.begin(), bytes.end());
        if (!device.WritePage(p * KeyPageSize, page))
            return TKeyWriteResult::WriteFailed;
        if (afterStep)
            afterStep();
    }

    // The read-back is the same reading the operator's "Read key" does, key presence check
    // included: a lifted key reads as all ones, which an image page could in theory equal.
    TKeyImage readBack{};
    const bool same =
        ReadKeyImage(device, readBack, nullptr) == TKeyReadResult::Read && readBack == image;
    if (afterStep)
        afterStep();
    return same ? TKeyWriteResult::Written : TKeyWriteResult::VerifyFailed;
}

TAdapterJob KeyWriteJob(const TKeyImage& image, const QString& cardNumber) {
    return [image, cardNumber](TReaderInterface& reader, const std::function<void(int)>& step) {
        TReaderKeyDevice key(reader, cardNumber);
        int done = 0;
        return static_cast<int>(WriteKeyImage(key, image, [&] { step(++done); }));
    };
}

bool TReaderKeyDevice::WritePage(int32_t address, std::vector<uint8_t>& data) {
    return FReader.WritePage(address, data);
}

void TReaderKeyDevice::ReadPage(int32_t address, std::vector<uint8_t>& data) {
    FReader.ReadPage(address, data);
}

bool TReaderKeyDevice::KeyStillPresent() {
    QString cardNumber;
    return FReader.ReadRom(cardNumber, false) && FReader.FamilyCode == 0x06 &&
           cardNumber == FCardNumber;
}
