// The user's configuration folder, shared by the autostart entry and the
// desktop's idle delay. Private to src/platform/config/.
#pragma once

#include <string>

namespace platform {

// The user's configuration folder as it is now: $XDG_CONFIG_HOME when it is
// absolute, else ~/.config (HOME, else the password database's home
// folder). Empty when there is no home folder. (autostart_entry.cpp)
std::string UserConfigFolder();

}  // namespace platform
