// Mutter's power-save mode: whether GNOME's compositor has its monitors
// powered down, as org.gnome.Mutter.DisplayConfig's PowerSaveMode tells on
// the session bus, followed as it changes. One descriptor to wait on;
// nothing polls. Plain free functions like platform.h's; nothing here
// includes GLib. The body is bus/mutter_power_save.cpp.
#pragma once

namespace platform {

struct MutterPowerSave;

// Connects to the session bus and reads the mode. Null when there is no
// session bus or no Mutter on it; says nothing either way.
MutterPowerSave* OpenMutterPowerSave();
void CloseMutterPowerSave(MutterPowerSave* watch);  // null is fine

// True while Mutter has its monitors in standby, suspended or off; false
// while they are on, and when Mutter has left the bus or its mode is not
// known.
bool MutterScreensOff(const MutterPowerSave* watch);

// Readable when news waits; the caller polls it, then calls
// DispatchMutterPowerSave.
int MutterPowerSaveFd(const MutterPowerSave* watch);
// Reads the news without blocking. True when MutterScreensOff may have
// changed.
bool DispatchMutterPowerSave(MutterPowerSave* watch);

}  // namespace platform
