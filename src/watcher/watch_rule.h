// The idle watcher's rule: when to start the saver and when to stop it,
// from what the session says (idle, in use again, an inhibitor or the
// lock taken or let go) and the clock. Plain state, no processes, so that
// each case can be tested on its own.
#pragma once

// What the watcher does next.
enum class WatchStep {
    Nothing,
    StartSaver,
    StopSaver,
    AskLock,     // the saver stays up whatever the input, the locker is asked
    LockFailed,  // no lock came in time: the saver ends on input again
};

struct WatchRule {
    double idleSeconds = 600.0;
    bool idle = false;     // the session says: no input for the idle time
    bool running = false;  // a saver runs (or is being stopped)
    // Idle, but an inhibitor or the lock held the saver off; once the hold
    // ends, the saver starts after the idle time again, at `retryAt`
    // (0: no hold has ended).
    bool heldOff = false;
    double retryAt = 0.0;
    // A program asked that the session count as in use until then (its
    // SimulateUserActivity and the idle time after it).
    double inUseUntil = 0.0;
    // The lock after the saver has run `lockSeconds` (0: never): when it
    // is due while the saver runs (0: not), whether the locker was asked and
    // is waited for, and until when.
    double lockSeconds = 0.0;
    double lockAt = 0.0;
    bool locking = false;
    double lockGiveUpAt = 0.0;
};

// How long a locker may take to show its lock screen, seconds.
inline constexpr double kLockWaitSeconds = 10.0;

// The session has been idle for the idle time, at `now`.
WatchStep OnIdle(WatchRule* rule, bool inhibited, bool locked, double now = 0.0);
// Input again.
WatchStep OnActive(WatchRule* rule);
// An inhibitor or the lock was taken or let go at `now`; `inhibited` and
// `locked` say how things stand since.
WatchStep OnHoldChanged(WatchRule* rule, bool inhibited, bool locked, double now);
// The clock reached rule->retryAt (the caller waits for it).
WatchStep OnRetry(WatchRule* rule, bool inhibited, bool locked, double now);
// A program asked at `now` that the session count as in use: the saver
// goes, and comes back the idle time later unless input or a hold comes
// first.
WatchStep OnUserActivity(WatchRule* rule, double now);
// The saver started at `now`: the lock comes due lockSeconds later.
void OnSaverStarted(WatchRule* rule, double now);
// The clock reached rule->lockAt: the locker is asked (AskLock); input
// from then on leaves the saver up for the locker to take.
WatchStep OnLockDue(WatchRule* rule, double now);
// The clock reached rule->lockGiveUpAt with no lock: LockFailed.
WatchStep OnLockWaitOver(WatchRule* rule, double now);
// The saver ended, however it ended, or could not start. It starts again
// only after the next idle time.
void OnSaverEnded(WatchRule* rule);
