#pragma once

#include "controllers/keyimage.h"
#include "reader/cardpoller.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class TReaderInterface;

// Where a key image goes: 32-byte pages of a memory key. The reader interface is one; tests
// bring their own.
class TKeyPageDevice {
public:
    virtual ~TKeyPageDevice() = default;
    virtual bool WritePage(int32_t address, std::vector<uint8_t>& data) = 0;
    virtual void ReadPage(int32_t address, std::vector<uint8_t>& data) = 0;
    // True when the key that was found before the writing still answers (it may have been
    // lifted while its pages were read back).
    virtual bool KeyStillPresent() = 0;
};

enum class TKeyWriteResult {
    Written,      // every page was written and the key holds the image
    WriteFailed,  // a page write failed: the key is gone or did not answer
    VerifyFailed, // all writes reported success, but the key does not hold the image
};

// Writes the 16 pages of the image from page 0 on, stopping at the first failed write, then reads
// every page back. A page write's own success only means the key took part in the exchange, not
// that the bytes arrived, so only the read-back makes a key count as programmed.
// `afterStep` runs after each page written (16 times) and once after the read-back.
TKeyWriteResult WriteKeyImage(TKeyPageDevice& device, const TKeyImage& image,
                              const std::function<void()>& afterStep = {});

// The reader interface as a page device, for the key whose ROM the reader read last.
class TReaderKeyDevice : public TKeyPageDevice {
public:
    TReaderKeyDevice(TReaderInterface& reader, QString cardNumber)
        : FReader(reader), FCardNumber(std::move(cardNumber)) {}
    bool WritePage(int32_t address, std::vector<uint8_t>& data) override;
    void ReadPage(int32_t address, std::vector<uint8_t>& data) override;
    bool KeyStillPresent() override;

private:
    TReaderInterface& FReader;
    QString FCardNumber;
};

// The writing of one image to the key with this card number, as work for the card poller's
// thread: its steps are WriteKeyImage's, numbered from 1 (16 pages, then the read-back); its
// result is a TKeyWriteResult. The image and number are its own copies.
TAdapterJob KeyWriteJob(const TKeyImage& image, const QString& cardNumber);
