// Vector math; see vector.h for the precision rules.
#include "support/vector.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;
// clamp steps by whole turns up to this many of them.
constexpr double kExactTurns = 64.0;

float Radians(float degrees) { return static_cast<float>(degrees * kPi / 180.0); }

}  // namespace

double clamp(double v, double lo, double hi) {
    // Nothing brings these into range, and the steps below would never end
    // on them.
    if (!std::isfinite(v) || !std::isfinite(lo) || !std::isfinite(hi) || !(hi > 0.0)) return v;
    // Far outside the range every step would round, or change nothing: the
    // whole turns come off at once. Within a few turns the steps run as
    // they always did, so those results keep every bit.
    const double far = kExactTurns * hi;
    if (std::fabs(v) > far || std::fabs(lo) > far) {
        if (v < lo) {
            double r = std::fmod(v - lo, hi);
            if (r < 0.0) r += hi;
            v = lo + r;
        }
        if (v >= hi) v = std::fmod(v, hi);
        return v;
    }
    while (v < lo) v += hi;
    while (v >= hi) v -= hi;
    return v;
}

COLOUR MakeColour(float r, float g, float b, float a) { return {r, g, b, a}; }
VECTOR3D MakePoint(float x, float y, float z) { return {x, y, z}; }
point2d Make2DPoint(float x, float y) { return {x, y}; }

void Rotate(VECTOR3D* v, float ax, float ay, float az) {
    if (ax == 0.0f && ay == 0.0f && az == 0.0f) return;
    const float rx = Radians(ax);
    const float ry = Radians(ay);
    const float rz = Radians(az);
    if (ax != 0.0f) {
        const double c = std::cos(static_cast<double>(rx));
        const double s = std::sin(static_cast<double>(rx));
        const double y = v->y, z = v->z;
        v->y = static_cast<float>(c * y - s * z);
        v->z = static_cast<float>(s * y + c * z);
    }
    if (ay != 0.0f) {
        const double c = std::cos(static_cast<double>(ry));
        const double s = std::sin(static_cast<double>(ry));
        const double x = v->x, z = v->z;
        v->x = static_cast<float>(c * x + s * z);
        v->z = static_cast<float>(c * z - s * x);
    }
    if (az != 0.0f) {
        const double c = std::cos(static_cast<double>(rz));
        const double s = std::sin(static_cast<double>(rz));
        const double x = v->x, y = v->y;
        v->x = static_cast<float>(c * x - s * y);
        v->y = static_cast<float>(s * x + c * y);
    }
}

VECTOR3D AddVectors(VECTOR3D a, VECTOR3D b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
VECTOR3D SubtractVectors(VECTOR3D a, VECTOR3D b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
VECTOR3D MultiplyVectors(VECTOR3D a, VECTOR3D b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
VECTOR3D DivideVectors(VECTOR3D a, VECTOR3D b) { return {a.x / b.x, a.y / b.y, a.z / b.z}; }

VECTOR3D ScaleVector(VECTOR3D a, double s) {
    return {static_cast<float>(a.x * s), static_cast<float>(a.y * s), static_cast<float>(a.z * s)};
}

double VectorLength(VECTOR3D a) {
    const float sum = a.x * a.x + a.y * a.y + a.z * a.z;
    return std::sqrt(static_cast<double>(sum));
}

float VectorLengthNOSQRT(VECTOR3D a) { return a.x * a.x + a.y * a.y + a.z * a.z; }

float DistanceBetweenVectors(VECTOR3D a, VECTOR3D b) {
    return VectorLengthNOSQRT(SubtractVectors(a, b));
}

VECTOR3D NormalizeVector(VECTOR3D a) {
    const double len = VectorLength(a);
    if (len == 0.0) return a;
    return {static_cast<float>(a.x / len), static_cast<float>(a.y / len),
            static_cast<float>(a.z / len)};
}

float VectorDotProduct(VECTOR3D a, VECTOR3D b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

VECTOR3D VectorCrossProduct(VECTOR3D a, VECTOR3D b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

VECTOR3D CalculateNormal(VECTOR3D a, VECTOR3D b, VECTOR3D c) {
    return VectorCrossProduct(SubtractVectors(a, b), SubtractVectors(b, c));
}

bool CompareVectors(VECTOR3D a, VECTOR3D b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

VECTOR3D AngleBetweenVectors(VECTOR3D a, VECTOR3D b) {
    VECTOR3D d = SubtractVectors(b, a);
    if (std::fabs(b.x - a.x) < 1.0f) d.x = static_cast<float>(d.x + 0.1);
    if (CompareVectors(a, b)) d.z = static_cast<float>(d.z + 1.0);
    const double len = VectorLength(d);
    const VECTOR3D up = {0.0f, 0.0f, 1.0f};
    VECTOR3D axis = VectorCrossProduct(up, d);
    const double axisLen = VectorLength(axis);
    if (axisLen != 0.0) {
        axis = {static_cast<float>(axis.x / axisLen), static_cast<float>(axis.y / axisLen),
                static_cast<float>(axis.z / axisLen)};
    }
    const double angle = std::acos(VectorDotProduct(up, d) / len) * 180.0 / kPi;
    return ScaleVector(axis, angle);
}
