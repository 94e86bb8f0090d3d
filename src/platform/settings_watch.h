// Tells a running program that its settings file may have changed: saved
// by the settings dialog (a new file renamed over it), written by hand in
// place, made, removed, or its folder made or removed; through a link, the
// file it names too. One descriptor to wait on; nothing polls. Relies on
// Linux's inotify; this header includes no system headers.
#pragma once

#include <string>

namespace platform {

struct SettingsWatch;

// Watches the settings file at `path` (SettingsStorePath). Null when the
// kernel offers no watch.
SettingsWatch* OpenSettingsWatch(const std::string& path);
void CloseSettingsWatch(SettingsWatch* watch);
// Readable when something changed.
int SettingsWatchFd(const SettingsWatch* watch);
// Reads what waits without blocking. True when the file may have changed
// since the last call.
bool SettingsWatchChanged(SettingsWatch* watch);

}  // namespace platform
