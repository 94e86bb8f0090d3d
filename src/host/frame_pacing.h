// The frame loop's pacing: when the next tick is due, the wait until then
// (or until a descriptor has news), and the slower pace it keeps while a
// view draws the reduced frame or the machine runs on battery
// (SaveBattery), following the power source. Relies on ppoll and the
// platform's power source.
#pragma once

#include <poll.h>

#include "platform/power_source.h"

// The time (seconds, on the clock of `due` and `now`) at which the tick
// after the one that was due at `due` fires, when that tick's work ended at
// `now`; `interval` > 0 is the timer's period. On time, ticks keep the
// period's phase. A frame that overran its next tick gets the following one
// at once, and the schedule restarts from `now`: missed ticks are never
// made up in a burst (a slow frame, a stop and continue), and a frame that
// is slower than the period is not followed by a wait for a whole period.
double NextTickDue(double due, double now, double interval);

// Waits until one of `fds` (the connection first, the stop signals'
// descriptor second, the power source's third; -1 for none) is readable
// or, when `deadline` is set, until that time on the clock that gave `now`
// (seconds). Clears every descriptor's revents before it waits.
void WaitForWork(pollfd* fds, nfds_t nfds, const double* deadline, double now);

// At most this many frames a second while a view draws the reduced frame
// or the battery is being saved.
inline constexpr double kEconomyFramesPerSecond = 30.0;

// The time between ticks, seconds: the saver's own `saverInterval`, or
// 1 / kEconomyFramesPerSecond when that is longer and a view draws the
// reduced frame (`anyReduced`) or the battery is being saved.
double PacedInterval(double saverInterval, bool anyReduced, bool savingBattery);

// The power source a host follows, opened when a view's settings ask to
// save the battery. Without a system bus or UPower the machine counts as
// on mains, and nothing is said.
class BatteryWatch {
public:
    BatteryWatch() = default;
    ~BatteryWatch() { platform::ClosePowerSource(source_); }
    BatteryWatch(const BatteryWatch&) = delete;
    BatteryWatch& operator=(const BatteryWatch&) = delete;

    void Open() {
        if (source_ == nullptr) source_ = platform::OpenPowerSource();
    }
    // True while on battery (false before Open).
    bool OnBattery() const { return platform::OnBattery(source_); }
    // The descriptor to wait on (-1: none; poll passes it over).
    int Fd() const { return platform::PowerSourceFd(source_); }
    // Reads the news if any waits, without blocking: true when OnBattery
    // may have changed. Called at every turn of a frame loop, which waits
    // on the descriptor only when it is ahead of its ticks.
    bool Dispatch() {
        pollfd fd{Fd(), POLLIN, 0};
        return source_ != nullptr && poll(&fd, 1, 0) > 0 && platform::DispatchPowerSource(source_);
    }

private:
    platform::PowerSource* source_ = nullptr;
};
