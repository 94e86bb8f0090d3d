// The water step's passes for AVX-512 units, sixteen grid points at a time.
// Built with -mavx512f; called only after the processor has been checked
// for it.
#include "water/water_kernel.h"

float WaterVelocityAvx512(const WATERSTEP& step) { return VelocityPass<V16>(step); }
void WaterMeshAvx512(const WATERSTEP& step) { MeshPass<V16>(step); }
