// Matrix and quaternion math; see matrix.h for the conventions.
#include "support/matrix.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 57.29577951308232;

double Radians(double degrees) { return degrees * kPi / 180.0; }

// Row r, column c.
double At(const MATRIX& m, int r, int c) { return m.m[4 * c + r]; }

double& Component(QUAT& q, int i) { return i == 0 ? q.x : i == 1 ? q.y : q.z; }

VECTOR3D ToVector(double x, double y, double z) {
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

// An angle wrapped into [0, 360) in double, rounded to float. A value just
// below 360 rounds up to 360 in float; that is 0.
float WrappedDegrees(double degrees) {
    const float f = static_cast<float>(clamp(degrees, 0, 360));
    return f == 360.0f ? 0.0f : f;
}

}  // namespace

MATRIX::MATRIX() {
    Zero();
    Identity();
}

void MATRIX::Zero() {
    for (double& e : m) e = 0.0;
}

void MATRIX::Identity() {
    Zero();
    m[0] = m[5] = m[10] = m[15] = 1.0;
}

void MATRIX::SetTranslation(VECTOR3D t) {
    m[12] = t.x;
    m[13] = t.y;
    m[14] = t.z;
}

QUAT::QUAT() { Identity(); }

void QUAT::Identity() {
    x = y = z = 0.0;
    w = 1.0;
}

bool QUAT::IsEqualTo(QUAT q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }

MATRIX MatrixAngleBetweenVectors(VECTOR3D a, VECTOR3D b) {
    VECTOR3D d = SubtractVectors(b, a);
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) d.z = static_cast<float>(d.z + 1.0);
    d = NormalizeVector(d);
    const VECTOR3D up =
        (d.x == 0.0f && d.z == 0.0f) ? MakePoint(-d.y, 0.0f, 0.0f) : MakePoint(0.0f, 1.0f, 0.0f);
    const VECTOR3D right = NormalizeVector(VectorCrossProduct(up, d));
    const VECTOR3D up2 = ScaleVector(NormalizeVector(VectorCrossProduct(right, d)), -1.0);

    MATRIX r;
    r.m[0] = right.x;
    r.m[1] = right.y;
    r.m[2] = right.z;
    r.m[4] = up2.x;
    r.m[5] = up2.y;
    r.m[6] = up2.z;
    r.m[8] = d.x;
    r.m[9] = d.y;
    r.m[10] = d.z;
    return r;
}

MATRIX AddMatrix(MATRIX a, MATRIX b) {
    MATRIX r;
    for (int i = 0; i < 16; ++i) r.m[i] = a.m[i] + b.m[i];
    return r;
}

MATRIX SubtractMatrix(MATRIX a, MATRIX b) {
    MATRIX r;
    for (int i = 0; i < 16; ++i) r.m[i] = a.m[i] - b.m[i];
    return r;
}

MATRIX MultiplyMatrix(MATRIX a, MATRIX b) {
    MATRIX r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            r.m[4 * c + row] = a.m[row] * b.m[4 * c] + a.m[4 + row] * b.m[4 * c + 1] +
                               a.m[8 + row] * b.m[4 * c + 2] + a.m[12 + row] * b.m[4 * c + 3];
        }
    }
    return r;
}

VECTOR3D MatrixPointMultiply(MATRIX m, VECTOR3D v) {
    const double* e = m.m;
    return ToVector(e[0] * v.x + e[4] * v.y + e[8] * v.z + e[12],
                    e[1] * v.x + e[5] * v.y + e[9] * v.z + e[13],
                    e[2] * v.x + e[6] * v.y + e[10] * v.z + e[14]);
}

VECTOR3D MatrixRotatePoint(MATRIX m, VECTOR3D v) {
    const double* e = m.m;
    return ToVector(e[0] * v.x + e[4] * v.y + e[8] * v.z, e[1] * v.x + e[5] * v.y + e[9] * v.z,
                    e[2] * v.x + e[6] * v.y + e[10] * v.z);
}

VECTOR3D MatrixInverseRotatePoint(MATRIX m, VECTOR3D v) {
    const double* e = m.m;
    return ToVector(e[0] * v.x + e[1] * v.y + e[2] * v.z, e[4] * v.x + e[5] * v.y + e[6] * v.z,
                    e[8] * v.x + e[9] * v.y + e[10] * v.z);
}

VECTOR3D MatrixTranslatePoint(MATRIX m, VECTOR3D v) {
    return ToVector(v.x + m.m[12], v.y + m.m[13], v.z + m.m[14]);
}

VECTOR3D MatrixInverseTranslatePoint(MATRIX m, VECTOR3D v) {
    return ToVector(v.x - m.m[12], v.y - m.m[13], v.z - m.m[14]);
}

MATRIX MatrixFromAngle(VECTOR3D angles) {
    const double ax = Radians(angles.x), ay = Radians(angles.y), az = Radians(angles.z);
    const double cx = std::cos(ax), sx = std::sin(ax);
    const double cy = std::cos(ay), sy = std::sin(ay);
    const double cz = std::cos(az), sz = std::sin(az);

    MATRIX r;
    r.m[0] = cy * cz;
    r.m[1] = -cy * sz;
    r.m[2] = -sy;
    r.m[3] = 0.0;
    r.m[4] = cx * sz - sx * sy * cz;
    r.m[5] = sx * sy * sz + cx * cz;
    r.m[6] = -sx * cy;
    r.m[7] = 0.0;
    r.m[8] = cx * sy * cz + sx * sz;
    r.m[9] = sx * cz - cx * sy * sz;
    r.m[10] = cx * cy;
    r.m[11] = 0.0;
    r.m[12] = r.m[13] = r.m[14] = 0.0;
    r.m[15] = 1.0;
    return r;
}

VECTOR3D AngleFromMatrix(MATRIX m) {
    const float y = static_cast<float>(-std::asin(m.m[2]));
    const double k = std::cos(static_cast<double>(y));
    const double ry = y * kDegreesPerRadian;
    double rx;
    double rz;
    if (std::fabs(k) > 0.005) {
        rx = std::atan2(-m.m[6] / k, m.m[10] / k) * kDegreesPerRadian;
        rz = std::atan2(-m.m[1] / k, m.m[0] / k) * kDegreesPerRadian;
    } else {
        rx = 0.0;
        rz = std::atan2(m.m[4], m.m[5]) * kDegreesPerRadian;
    }
    return {WrappedDegrees(rx), WrappedDegrees(ry), WrappedDegrees(rz)};
}

QUAT InverseQuat(QUAT q) {
    q.x = -q.x;
    q.y = -q.y;
    q.z = -q.z;
    return q;
}

double QuatMagnitude(QUAT q) { return std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w); }

QUAT NormalizeQuat(QUAT q) {
    const double len = QuatMagnitude(q);
    if (len == 0.0) return q;
    q.x /= len;
    q.y /= len;
    q.z /= len;
    q.w /= len;
    return q;
}

QUAT MultiplyQuats(QUAT a, QUAT b) {
    QUAT r;
    r.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    r.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    r.y = a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z;
    r.z = a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x;
    return r;
}

MATRIX QuatToRotationMatrix(QUAT q) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    MATRIX r;
    r.m[0] = 1.0 - 2.0 * (y * y + z * z);
    r.m[1] = 2.0 * (x * y + z * w);
    r.m[2] = 2.0 * (x * z - y * w);
    r.m[3] = 0.0;
    r.m[4] = 2.0 * (x * y - z * w);
    r.m[5] = 1.0 - 2.0 * (x * x + z * z);
    r.m[6] = 2.0 * (y * z + x * w);
    r.m[7] = 0.0;
    r.m[8] = 2.0 * (x * z + y * w);
    r.m[9] = 2.0 * (y * z - x * w);
    r.m[10] = 1.0 - 2.0 * (x * x + y * y);
    r.m[11] = 0.0;
    r.m[12] = r.m[13] = r.m[14] = 0.0;
    r.m[15] = 1.0;
    return r;
}

QUAT AxisAndAngleToQuat(VECTOR3D axis, double angle) {
    const double s = std::sin(angle / 2.0);
    QUAT q;
    q.x = axis.x * s;
    q.y = axis.y * s;
    q.z = axis.z * s;
    q.w = std::cos(angle / 2.0);
    return NormalizeQuat(q);
}

QUAT RotationToQuat(VECTOR3D angles) {
    const double hx = Radians(angles.x) / 2.0;
    const double hy = Radians(angles.y) / 2.0;
    const double hz = Radians(angles.z) / 2.0;
    const double cx = std::cos(hx), sx = std::sin(hx);
    const double cy = std::cos(hy), sy = std::sin(hy);
    const double cz = std::cos(hz), sz = std::sin(hz);
    QUAT q;
    q.x = sx * cy * cz - cx * sy * sz;
    q.y = cx * sy * cz + sx * cy * sz;
    q.z = cx * cy * sz - sx * sy * cz;
    q.w = cx * cy * cz + sx * sy * sz;
    return NormalizeQuat(q);
}

QUAT QuatSlerp(const QUAT* a, const QUAT* b, double t) {
    double cosom = a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
    QUAT to = *b;
    if (cosom < 0.0) {
        cosom = -cosom;
        to.x = -to.x;
        to.y = -to.y;
        to.z = -to.z;
        to.w = -to.w;
    }
    double scale0;
    double scale1;
    if (1.0 - cosom > 1e-05) {
        const double omega = std::acos(cosom);
        const double sinom = std::sin(omega);
        scale0 = std::sin((1.0 - t) * omega) / sinom;
        scale1 = std::sin(t * omega) / sinom;
    } else {
        scale0 = 1.0 - t;
        scale1 = t;
    }
    QUAT r;
    r.x = scale0 * a->x + scale1 * to.x;
    r.y = scale0 * a->y + scale1 * to.y;
    r.z = scale0 * a->z + scale1 * to.z;
    r.w = scale0 * a->w + scale1 * to.w;
    return r;
}

QUAT QuatFromMatrix(MATRIX m) {
    QUAT q;
    const double trace = At(m, 0, 0) + At(m, 1, 1) + At(m, 2, 2);
    if (trace > 0.0) {
        double s = std::sqrt(trace + 1.0);
        q.w = s / 2.0;
        s = 0.5 / s;
        q.x = (At(m, 2, 1) - At(m, 1, 2)) * s;
        q.y = (At(m, 0, 2) - At(m, 2, 0)) * s;
        q.z = (At(m, 1, 0) - At(m, 0, 1)) * s;
        return q;
    }
    static constexpr int kNext[3] = {1, 2, 0};
    int i = At(m, 0, 0) < At(m, 1, 1) ? 1 : 0;
    if (At(m, i, i) < At(m, 2, 2)) i = 2;
    const int j = kNext[i];
    const int k = kNext[j];
    double s = std::sqrt(At(m, i, i) - (At(m, j, j) + At(m, k, k)) + 1.0);
    Component(q, i) = s / 2.0;
    if (s != 0.0) s = 0.5 / s;
    q.w = (At(m, k, j) - At(m, j, k)) * s;
    Component(q, j) = (At(m, j, i) + At(m, i, j)) * s;
    Component(q, k) = (At(m, k, i) + At(m, i, k)) * s;
    return q;
}

void SaveMatrix(MATRIX m) {
    std::FILE* f = std::fopen("test.txt", "a");
    if (f == nullptr) return;
    std::fputs("\n", f);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) std::fprintf(f, "%4.5f ", m.m[4 * i + j]);
        std::fputs("\n", f);
    }
    std::fclose(f);
}
