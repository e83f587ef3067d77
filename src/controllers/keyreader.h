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
    OtherFamily, // a device that is no memory key
    Lifted,      // the key went away (or another lay there instead) before the last page was read
};

// Reads the 16 pages into `image`, then makes sure the key is still the one it was: a key lifted
// in the middle reads as ones, which could pass for a page. `afterPage` runs after each page.
TKeyReadResult ReadKeyImage(TKeyPageDevice& device, TKeyImage& image,
                            const std::function<void()>& afterPage = {});

// What a read job found; the window reads it once the job is done.
struct TKeyRead {
    TKeyReadResult Result = TKeyReadResult::Lifted;
    TKeyImage Image{};
    QString Number;     // the key's card number (its ROM bytes 1 to 5)
    QString FamilyType; // the family's name of what lay there
};

// The reading of `key`, the device the card poller's last look found, as work for the poller's
// thread. The look already searched the bus, so the job does not search it again before the
// pages; the search after them is what tells a key taken away or swapped since the look, as in
// the write's read-back. Its result is a TKeyReadResult, its steps the pages read (1 to 16);
// `read` is filled before the job returns, and read by the window only after JobDone, so the two
// threads never touch it at once.
TAdapterJob KeyReadJob(std::shared_ptr<TKeyRead> read, const TCardOnAdapter& key);
