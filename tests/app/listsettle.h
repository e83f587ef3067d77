#pragma once

#include "cardholders/cardholderreload.h"
#include "db/changewatch.h"

#include <QWidget>

// The change watch of a site first tells that anything may have changed, once it listens, and the
// cardholder list (when one is open) reads again for that news on a thread of its own. True once
// both have passed, so that a test's own changes are the next news.
inline bool ListsSettled(const TChangeWatch& watch, const QWidget* cardHolderList) {
    if (!watch.Settled())
        return false;
    const auto* reload = cardHolderList
                             ? cardHolderList->findChild<TCardHolderReload*>("CardHolderReload")
                             : nullptr;
    return !reload || !reload->Busy();
}
