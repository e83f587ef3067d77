#pragma once

#include "journal/journal.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

// What the controller list tells about a controller's key: when it was last written and verified,
// by whom, and whether the controller changed since. The journal's last verified write says the
// first two; the pending-change mark says the last, because only a verified write of an image
// holding every change takes a mark away.
//
// A controller without a verified write on record says so in words: an empty cell would read as
// "nothing to tell" to a screen reader and as "fine" to a hurried eye.
struct TKeyProvenance {
    QString Written; // the write's local time, or why there is none to show
    QString By;      // operator and workstation; empty without a write
    QString Key;     // the mark in words: what the warning picture means, or that all is written
    friend bool operator==(const TKeyProvenance&, const TKeyProvenance&) = default;
};

// `writes`: each controller's last verified write (LastKeyWrites); nothing when the journal could
// not be read. `marked`: the controller's pending-change mark.
TKeyProvenance DescribeKeyProvenance(const std::optional<QHash<int32_t, TJournalEntry>>& writes,
                                     int32_t conId, bool marked);
