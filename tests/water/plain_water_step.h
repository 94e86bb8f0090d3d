// A second, deliberately plain water step for checking the library's fast
// one: modulo wrap-around, one point at a time, no carried offsets. Works on
// the fields of an initialised WATERCLASS exactly as WATERCLASS::Update does.
#pragma once

#include "water/water.h"

void PlainWaterStep(WATERCLASS& water, const VECTOR3D& eye, double elapsed);
