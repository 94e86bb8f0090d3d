// Helpers that the platform's backends share. Private to src/platform/.
#pragma once

#include "platform/platform.h"

namespace platform {

// Keeps Mesa's software driver loaded for the life of the process.
void PinSoftwareDriver();

}  // namespace platform
