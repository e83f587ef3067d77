#include "reader/sessionrecovery.h"

#include <algorithm>
#include <utility>

TSessionRecovery::TSessionRecovery(std::function<bool()> restart) : FRestart(std::move(restart)) {}

bool TSessionRecovery::MayRead() {
    if (!FBroken)
        return true;
    if (FTicksToWait > 0) {
        --FTicksToWait;
        return false;
    }
    if (!FRestart()) {
        WaitLonger();
        return false;
    }
    FBroken = false;
    return true;
}

void TSessionRecovery::ReadDone(bool faulted) {
    if (faulted) {
        FBroken = true;
        if (!FToldStopped) {
            FToldStopped = true;
            FNews = TAdapterNews::Stopped;
        }
        WaitLonger();
        return;
    }
    // Only a read that worked shows the adapter back: a new session alone may break at once.
    FWaitAfterFailure = 1;
    if (FToldStopped) {
        FToldStopped = false;
        FNews = TAdapterNews::Back;
    }
}

void TSessionRecovery::WaitLonger() {
    FTicksToWait = FWaitAfterFailure - 1;
    FWaitAfterFailure = std::min(FWaitAfterFailure * 2, LongestWaitTicks);
}

TAdapterNews TSessionRecovery::TakeNews() {
    return std::exchange(FNews, TAdapterNews::None);
}
