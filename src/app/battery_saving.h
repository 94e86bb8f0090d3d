// Saving the battery: the host's frame loop follows the power source and
// draws more cheaply while the machine runs on battery (SaveBattery). Here
// are the pace and detail it keeps, given the power state.
// Relies on the platform's power source.
#pragma once

#include <poll.h>

#include "platform/power_source.h"

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
