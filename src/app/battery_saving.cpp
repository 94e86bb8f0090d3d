// The hosts' shared pace on battery and on mains.
#include "app/battery_saving.h"

#include <algorithm>

double PacedInterval(double saverInterval, bool anyReduced, bool savingBattery) {
    if (!anyReduced && !savingBattery) return saverInterval;
    return std::max(saverInterval, 1.0 / kEconomyFramesPerSecond);
}
