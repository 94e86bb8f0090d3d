// Helpers that the platform's backends share. Private to src/platform/.
#pragma once

#include "platform/platform.h"

namespace platform {

// Keeps Mesa's software driver loaded for the life of the process.
void PinSoftwareDriver();

// The user's configuration folder as it is now: $XDG_CONFIG_HOME when it is
// absolute, else ~/.config (HOME, else the password database's home
// folder). Empty when there is no home folder. (autostart_entry.cpp)
std::string UserConfigFolder();

}  // namespace platform
