#pragma once

#include "controllers/keyimage.h"
#include "controllers/keywriter.h"
#include "reader/cardpoller.h"

#include <QString>

#include <functional>
#include <memory>

// Reading a memory key back: the 512 bytes of the DS1993 on the adapter, as the card poller's
// thread reads them. What they mean is keycontents.h's business.

enum class TKeyReadResult {
    Read,        // the image is complete, and the key lay there from the first page to the last
    NoKey,       // nothing lies on the adapter
    OtherFamily, // a device that is no memory key
    Lifted,      // the key went away while its pages were read
};

// Reads the 16 pages into `image`, then makes sure the key is still the one it was: a key lifted
// in the middle reads as ones, which could pass for a page. `afterPage` runs after each page.
TKeyReadResult ReadKeyImage(TKeyPageDevice& device, TKeyImage& image,
                            const std::function<void()>& afterPage = {});

// What a read job found; the window reads it once the job is done.
struct TKeyRead {
    TKeyReadResult Result = TKeyReadResult::NoKey;
    TKeyImage Image{};
    QString Number;     // the key's card number (its ROM bytes 1 to 5)
    QString FamilyType; // the family's name of what lay there
};

// The reading of the key on the adapter as work for the card poller's thread: it looks at the
// adapter itself, so a key taken away since the last look is told as such. Its result is a
// TKeyReadResult, its steps the pages read (1 to 16); `read` is filled before the job returns, and
// read by the window only after JobDone, so the two threads never touch it at once.
TAdapterJob KeyReadJob(std::shared_ptr<TKeyRead> read);
