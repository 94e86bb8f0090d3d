// WATERCLASS::Update: the wave step and the new mesh. The two grid passes
// run on the widest vector unit that the processor has (chosen once, at the
// first step); the bowl easing between them is scalar. Relies on
// water_kernel.h for the passes.
#include "water/water_kernel.h"

namespace {

struct PATHPASSES {
    WaterVelocityPass velocity;
    WaterMeshPass mesh;
};

WaterPath currentPath = WaterPath::Auto;
PATHPASSES passes = {nullptr, nullptr};

bool Supported(WaterPath path) {
    switch (path) {
        case WaterPath::Scalar:
            return true;
#if defined(__x86_64__)
        case WaterPath::Sse2:
            return true;
        case WaterPath::Avx:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx");
        case WaterPath::Avx512:
            __builtin_cpu_init();
            // Its file is built with -mavx512f, which lets the compiler use
            // AVX2 as well.
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
#endif
        default:
            return false;
    }
}

PATHPASSES PassesOf(WaterPath path) {
    switch (path) {
#if defined(__x86_64__)
        case WaterPath::Sse2:
            return {WaterVelocitySse2, WaterMeshSse2};
        case WaterPath::Avx:
            return {WaterVelocityAvx, WaterMeshAvx};
        case WaterPath::Avx512:
            return {WaterVelocityAvx512, WaterMeshAvx512};
#endif
        default:
            return {WaterVelocityScalar, WaterMeshScalar};
    }
}

}  // namespace

float WaterVelocityScalar(const WATERSTEP& step) { return VelocityPass<V1>(step); }
void WaterMeshScalar(const WATERSTEP& step) { MeshPass<V1>(step); }
#if defined(__x86_64__)
float WaterVelocitySse2(const WATERSTEP& step) { return VelocityPass<V4>(step); }
void WaterMeshSse2(const WATERSTEP& step) { MeshPass<V4>(step); }
#endif

bool SelectWaterPath(WaterPath path) {
    if (path == WaterPath::Auto) {
        const WaterPath widest[] = {WaterPath::Avx512, WaterPath::Avx, WaterPath::Sse2};
        path = WaterPath::Scalar;
        for (WaterPath p : widest) {
            if (Supported(p)) {
                path = p;
                break;
            }
        }
    }
    if (!Supported(path)) return false;
    currentPath = path;
    passes = PassesOf(path);
    return true;
}

WaterPath CurrentWaterPath() {
    if (currentPath == WaterPath::Auto) SelectWaterPath(WaterPath::Auto);
    return currentPath;
}

const char* WaterPathName(WaterPath path) {
    switch (path) {
        case WaterPath::Auto:
            return "Auto";
        case WaterPath::Scalar:
            return "Scalar";
        case WaterPath::Sse2:
            return "Sse2";
        case WaterPath::Avx:
            return "Avx";
        case WaterPath::Avx512:
            return "Avx512";
    }
    return "?";
}

bool WATERCLASS::Update(VECTOR3D& eye, double elapsed) {
    if (!Ready()) return false;
    if (currentPath == WaterPath::Auto) SelectWaterPath(WaterPath::Auto);
    const uint32_t n = 1u << Shift;
    WATERSTEP step;
    step.cells = Cells;
    step.vertices = Vertices;
    step.oldHeights = Scratch;
    step.newHeights = step.oldHeights + n * (n + 2);
    step.velocities = step.newHeights + n * (n + 2);
    step.columnX = step.velocities + n * n;
    step.n = n;
    step.gain = Speed * 0.25f;

    // Velocities, and the mean of the heights they lead to.
    const float sum = passes.velocity(step);
    Mean = sum / static_cast<float>(VertexCount);

    // The bowl eases towards its level; the step only scales the easing.
    const float target = WantBowl ? 2500.0f : -1000.0f;
    const double rate = WantBowl ? 0.4 : 0.2;
    const float difference = target - BowlLevel;
    BowlLevel = static_cast<float>(BowlLevel + difference * elapsed * rate);

    step.mean = Mean;
    step.bowlLevel = BowlLevel;
    step.wantBowl = WantBowl;
    step.normalScale = RefractTable[10].NormalScale;
    step.ratio = RefractTable[10].Ratio;
    step.invSize = InvSize;
    step.firstZ = Size * -0.5f;
    step.spacing = Size / static_cast<float>(n - 1);
    step.eye = eye;
    passes.mesh(step);
    return true;
}
