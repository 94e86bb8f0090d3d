// The power source: whether the machine runs on battery, as UPower tells
// on the system bus, followed as it changes. One descriptor to wait on;
// nothing polls. Plain free functions like platform.h's; nothing here
// includes GLib. The body is bus/power_source.cpp.
#pragma once

namespace platform {

struct PowerSource;

// Connects to the system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the system's)
// and asks UPower once, waiting at most a second. Null when there is no
// system bus: the machine then counts as on mains. Says nothing either way.
PowerSource* OpenPowerSource();
void ClosePowerSource(PowerSource* source);  // null is fine

// True while UPower says the machine runs on battery. False on mains, and
// whenever nobody answers: no UPower on the bus, one that has gone, or one
// that sends OnBattery as anything but a boolean. False for null.
bool OnBattery(const PowerSource* source);

// Readable when news waits; the caller polls it, then calls
// DispatchPowerSource. -1 for null.
int PowerSourceFd(const PowerSource* source);
// Reads the news without blocking. True when OnBattery may have changed.
bool DispatchPowerSource(PowerSource* source);

}  // namespace platform
