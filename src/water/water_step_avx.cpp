// The water step's passes for AVX units, eight grid points at a time. Built
// with -mavx; called only after the processor has been checked for it.
#include "water/water_kernel.h"

float WaterVelocityAvx(const WATERSTEP& step) { return VelocityPass<V8>(step); }
void WaterMeshAvx(const WATERSTEP& step) { MeshPass<V8>(step); }
