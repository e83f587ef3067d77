#pragma once

#include "controllers/keyimage.h"
#include "controllers/pendingchanges.h"

#include <QString>

#include <cstdint>

class TMyDBConnector;
struct TJournalEntry;

// What a controller's key is built from, read from the database as it is now (another workstation
// may have changed the controller since the list was read), with the controller's mark as it was
// before: a verified write of the image may take that mark away (ClearMarkAfterWrite).
struct TKeyImageSource {
    enum TOutcome {
        Read,
        Gone,   // no such controller (deleted, perhaps on another workstation)
        Failed, // the database did not answer; the reason is in its last error
    };
    TOutcome Outcome = Failed;
    TKeyImageInput Input;
    TMarkState Mark;
};

// The mark is read first, then the controller and its cards, each statement seeing its own moment.
// Whatever marking change commits after the mark was read renews the stamp, so the clear after the
// write fails and the mark stays, even when the image mixes the moments before and after it: never
// a mark lost for a change the key lacks, at worst one key write too many.
TKeyImageSource ReadKeyImageSource(TMyDBConnector& database, int32_t conId);

// The journal entry of a verified write of `image`, built from `input`, to the key of controller
// `conId` (named `conName`): the image's check byte and how many cards each zone has.
TJournalEntry KeyWrittenEntry(int32_t conId, const QString& conName, const TKeyImageInput& input,
                              const TKeyImage& image);
