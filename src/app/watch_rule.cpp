// The idle watcher's rule. Relies on nothing but its own state.
#include "app/watch_rule.h"

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
    return rule->running ? WatchStep::StopSaver : WatchStep::Nothing;
}

WatchStep OnHoldChanged(WatchRule* rule, bool inhibited, bool locked, double now) {
    // Behind a lock screen the saver would draw for nobody.
    if (rule->running) return locked ? WatchStep::StopSaver : WatchStep::Nothing;
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

void OnSaverEnded(WatchRule* rule) { rule->running = false; }
