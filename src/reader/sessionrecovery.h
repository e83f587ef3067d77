#pragma once

#include <functional>

// What a polling window tells the operator about its adapter.
enum class TAdapterNews {
    None,
    Stopped, // the adapter stopped answering; reading goes on when it answers again
    Back,    // it answers again after it was reported stopped
};

// Keeps a polling window's card reading alive through adapter faults. A session the library
// reported broken is closed and a new one opened on the next polling tick; while no new session
// comes up, the attempts thin out (every 2nd, 4th, ... tick, at most LongestWaitTicks apart), so a
// pulled adapter costs next to nothing. The operator hears of it once when it stops and once when
// it is back, not on every tick.
class TSessionRecovery {
public:
    // At 100 ms polling: an adapter plugged back in is found within about three seconds.
    static constexpr int LongestWaitTicks = 32;

    // `restart` ends the current session and opens a new one; true when the new one is ready.
    // A first session that never came up is left alone: only one that broke is replaced.
    explicit TSessionRecovery(std::function<bool()> restart);

    // Called at each tick before reading: false when the adapter is to be left alone this tick
    // (still waiting, or the new session did not come up).
    bool MayRead();
    // Called after each read that MayRead allowed: whether the library reported an error.
    void ReadDone(bool faulted);
    // What happened since the last call; None most of the time.
    TAdapterNews TakeNews();

    bool Broken() const { return FBroken; }

private:
    // After a failed restart or a faulted read: the next attempt waits twice as long as the last.
    void WaitLonger();

    std::function<bool()> FRestart;
    bool FBroken = false;
    int FTicksToWait = 0;
    int FWaitAfterFailure = 1; // ticks from this failure to the next attempt
    bool FToldStopped = false;
    TAdapterNews FNews = TAdapterNews::None;
};
