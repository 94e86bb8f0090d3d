// SETTINGS: the user settings that the view hands to the scene driver's
// Setup, and the range of each of its integer fields with what a value
// outside it runs as.
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

// What the settings sheet and the flags offer for a field (minimum to
// maximum), and what a value outside that runs as.
struct RecordRange {
    int32_t minimum;
    int32_t maximum;
    int32_t belowMinimum;
    int32_t aboveMaximum;
};

// WATERSPEED, in percent of the normal wave speed: below 10 % the water
// runs at the normal speed; far above 400 % it turns black.
inline constexpr RecordRange kWaterSpeedRange{10, 400, 100, 400};
// WATERSHIFT, the base-2 logarithm of the grid side (16 × 16 to 256 × 256):
// outside it, the factory 64 × 64.
inline constexpr RecordRange kWaterShiftRange{4, 8, 6, 6};
// DRIPSPEED, in hundredths of a second (1/100 s to one hour): the drip
// interval is a remainder by it, so it is at least 1.
inline constexpr RecordRange kDripSpeedRange{1, 360000, 1, 360000};

// `value` raised to the range's belowMinimum when under its minimum, else
// itself: the one end of the range that the scene needs for any value.
constexpr int32_t FitBelow(const RecordRange& range, int32_t value) {
    return value < range.minimum ? range.belowMinimum : value;
}

// `value` when inside the range, else belowMinimum or aboveMaximum.
constexpr int32_t FitRange(const RecordRange& range, int32_t value) {
    return value > range.maximum ? range.aboveMaximum : FitBelow(range, value);
}
