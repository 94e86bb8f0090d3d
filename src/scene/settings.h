// SETTINGS: the five user settings the view hands to the scene driver.
#pragma once

#include <cstdint>

struct SETTINGS { bool LIGHTING; bool WANTBOWL; int32_t WATERSPEED; int32_t WATERSHIFT; int32_t DRIPSPEED; };
