// SETTINGS: the user settings that the view hands to the scene driver's Setup.
#pragma once

#include <cstdint>

struct SETTINGS {
    bool LIGHTING;
    bool WANTBOWL;
    int32_t WATERSPEED;
    int32_t WATERSHIFT;
    int32_t DRIPSPEED;
    bool CAUSTICS;  // light focused on the pool floor by the ripples
};
