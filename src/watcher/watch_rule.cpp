// The idle watcher's rule. Relies on nothing but its own state.
#include "watcher/watch_rule.h"

namespace {

WatchStep Start(WatchRule* rule) {
    rule->heldOff = false;
    rule->retryAt = 0.0;
    rule->running = true;
    return WatchStep::StartSaver;
}

}  // namespace

WatchStep OnIdle(WatchRule* rule, bool inhibited, bool locked, double now) {
    rule->idle = true;
    if (rule->running) return WatchStep::Nothing;
    if (inhibited || locked) {
        rule->heldOff = true;
        rule->retryAt = 0.0;
        return WatchStep::Nothing;
    }
    if (now < rule->inUseUntil) {
        rule->heldOff = true;
        rule->retryAt = rule->inUseUntil;
        return WatchStep::Nothing;
    }
    return Start(rule);
}

WatchStep OnActive(WatchRule* rule) {
    rule->idle = false;
    rule->heldOff = false;
    rule->retryAt = 0.0;
    // Asked for, the lock comes before the desktop shows.
    if (rule->locking) return WatchStep::Nothing;
    return rule->running ? WatchStep::StopSaver : WatchStep::Nothing;
}

WatchStep OnHoldChanged(WatchRule* rule, bool inhibited, bool locked, double now) {
    // Behind a lock screen the saver would draw for nobody.
    if (rule->running) {
        if (!locked) return WatchStep::Nothing;
        rule->locking = false;
        rule->lockAt = 0.0;
        return WatchStep::StopSaver;
    }
    if (!rule->idle || !rule->heldOff) return WatchStep::Nothing;
    // The idle time counts again from the end of the hold, as compositors
    // count it after their own inhibitors.
    if (inhibited || locked) {
        rule->retryAt = 0.0;
    } else if (rule->retryAt == 0.0) {
        rule->retryAt = now + rule->idleSeconds;
    }
    return WatchStep::Nothing;
}

WatchStep OnRetry(WatchRule* rule, bool inhibited, bool locked, double now) {
    if (rule->retryAt == 0.0 || now < rule->retryAt) return WatchStep::Nothing;
    rule->retryAt = 0.0;
    if (!rule->idle || rule->running || inhibited || locked) return WatchStep::Nothing;
    return Start(rule);
}

WatchStep OnUserActivity(WatchRule* rule, double now) {
    rule->inUseUntil = now + rule->idleSeconds;
    if (!rule->idle) return WatchStep::Nothing;
    rule->heldOff = true;
    rule->retryAt = rule->inUseUntil;
    return rule->running ? WatchStep::StopSaver : WatchStep::Nothing;
}

void OnSaverStarted(WatchRule* rule, double now) {
    rule->lockAt = rule->lockSeconds > 0.0 ? now + rule->lockSeconds : 0.0;
    rule->locking = false;
}

WatchStep OnLockDue(WatchRule* rule, double now) {
    if (!rule->running || rule->locking || rule->lockAt == 0.0 || now < rule->lockAt) {
        return WatchStep::Nothing;
    }
    rule->lockAt = 0.0;
    rule->locking = true;
    rule->lockGiveUpAt = now + kLockWaitSeconds;
    return WatchStep::AskLock;
}

WatchStep OnLockWaitOver(WatchRule* rule, double now) {
    if (!rule->locking || now < rule->lockGiveUpAt) return WatchStep::Nothing;
    rule->locking = false;
    return WatchStep::LockFailed;
}

void OnSaverEnded(WatchRule* rule) {
    rule->running = false;
    rule->locking = false;
    rule->lockAt = 0.0;
}
