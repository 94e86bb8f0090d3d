// Matrix and quaternion math: products and their order, Euler round trips,
// quaternion conversions through every branch, interpolation and the dump.
#include "support/matrix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr double kPi = 3.141592653589793;

void ExpectNearMatrix(const MATRIX& a, const MATRIX& b, double tol = 1e-12) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

void ExpectNearVector(VECTOR3D a, VECTOR3D b, float tol = 1e-5f) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// Same rotation: q and -q both count.
void ExpectSameRotation(QUAT a, QUAT b, double tol = 1e-12) {
    const double sign = (a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w) < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(a.x, sign * b.x, tol);
    EXPECT_NEAR(a.y, sign * b.y, tol);
    EXPECT_NEAR(a.z, sign * b.z, tol);
    EXPECT_NEAR(a.w, sign * b.w, tol);
}

double AngleDifference(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::fmin(d, 360.0 - d);
}

QUAT Quat(double x, double y, double z, double w) {
    QUAT q;
    q.x = x, q.y = y, q.z = z, q.w = w;
    return q;
}

}  // namespace

TEST(MatrixBasics, IdentityTranslationAndPointProducts) {
    MATRIX m;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], i % 5 == 0 ? 1.0 : 0.0);
    m.SetTranslation(MakePoint(1, 2, 3));
    EXPECT_TRUE(CompareVectors(MatrixPointMultiply(m, MakePoint(0, 0, 0)), MakePoint(1, 2, 3)));
    EXPECT_TRUE(CompareVectors(MatrixRotatePoint(m, MakePoint(0, 0, 0)), MakePoint(0, 0, 0)));
    EXPECT_TRUE(CompareVectors(MatrixTranslatePoint(m, MakePoint(1, 1, 1)), MakePoint(2, 3, 4)));
    EXPECT_TRUE(
        CompareVectors(MatrixInverseTranslatePoint(m, MakePoint(1, 1, 1)), MakePoint(0, -1, -2)));

    // A turn plus a shift; the bottom row is ignored (no division by w).
    MATRIX r = MatrixFromAngle(MakePoint(20, 35, -50));
    r.SetTranslation(MakePoint(-4, 0.5f, 9));
    r.m[3] = 5, r.m[15] = 7;
    const VECTOR3D v = MakePoint(0.3f, -2, 1.25f);
    ExpectNearVector(MatrixPointMultiply(r, v), MatrixTranslatePoint(r, MatrixRotatePoint(r, v)));
    ExpectNearVector(MatrixInverseRotatePoint(r, MatrixRotatePoint(r, v)), v);
    r.Zero();
    for (double e : r.m) EXPECT_EQ(e, 0.0);
}

TEST(MatrixBasics, SumsDifferencesAndProductOrder) {
    MATRIX shift, scale;
    shift.SetTranslation(MakePoint(1, 0, 0));
    scale.m[0] = scale.m[5] = scale.m[10] = 2.0;
    // shift * scale scales first; scale * shift scales the shift too.
    EXPECT_EQ(MultiplyMatrix(shift, scale).m[12], 1.0);
    EXPECT_EQ(MultiplyMatrix(scale, shift).m[12], 2.0);
    const VECTOR3D v = MakePoint(3, -1, 2);
    EXPECT_TRUE(CompareVectors(MatrixPointMultiply(MultiplyMatrix(shift, scale), v),
                               MatrixPointMultiply(shift, MatrixPointMultiply(scale, v))));
    const MATRIX sum = AddMatrix(shift, scale);
    const MATRIX back = SubtractMatrix(sum, scale);
    EXPECT_EQ(sum.m[0], 3.0);
    EXPECT_EQ(sum.m[12], 1.0);
    EXPECT_EQ(sum.m[15], 2.0);
    ExpectNearMatrix(back, shift, 0.0);
}

TEST(MatrixEuler, RoundTripOverASweep) {
    for (float x = 0; x < 360; x += 23)
        for (float z = 0; z < 360; z += 29)
            for (float y : {0.0f, 1.0f, 30.0f, 60.0f, 89.0f, 271.0f, 300.0f, 359.5f}) {
                const VECTOR3D a = MakePoint(x, y, z);
                const VECTOR3D b = AngleFromMatrix(MatrixFromAngle(a));
                EXPECT_LT(AngleDifference(b.x, x), 1e-3) << x << " " << y << " " << z;
                EXPECT_LT(AngleDifference(b.y, y), 1e-3) << x << " " << y << " " << z;
                EXPECT_LT(AngleDifference(b.z, z), 1e-3) << x << " " << y << " " << z;
                for (float c : {b.x, b.y, b.z}) {
                    EXPECT_GE(c, 0.0f);
                    EXPECT_LT(c, 360.0f);
                }
            }
    // Just below 0 wraps to just below 360, which float rounds to 360: 0.
    const VECTOR3D small = AngleFromMatrix(MatrixFromAngle(MakePoint(-1e-6f, -1e-6f, -1e-6f)));
    EXPECT_TRUE(CompareVectors(small, MakePoint(0, 0, 0)));
    EXPECT_FLOAT_EQ(AngleFromMatrix(MatrixFromAngle(MakePoint(-0.01f, 0, 0))).x, 359.99f);
}

TEST(MatrixEuler, OtherYGiveAnEquivalentTriple) {
    for (float y : {91.0f, 135.0f, 180.0f, 269.0f, -45.0f}) {
        const MATRIX m = MatrixFromAngle(MakePoint(40, y, 110));
        ExpectNearMatrix(MatrixFromAngle(AngleFromMatrix(m)), m, 1e-5);
    }
}

TEST(MatrixEuler, GimbalLockPutsTheWholeTurnIntoZ) {
    const VECTOR3D b = AngleFromMatrix(MatrixFromAngle(MakePoint(30, 90, 50)));
    EXPECT_EQ(b.x, 0.0f);
    EXPECT_NEAR(b.y, 90.0f, 1e-4);
    EXPECT_NEAR(b.z, 20.0f, 1e-4);  // at y = 90 only z - x is seen
    ExpectNearMatrix(MatrixFromAngle(b), MatrixFromAngle(MakePoint(30, 90, 50)), 1e-6);
}

TEST(MatrixEuler, MatrixTurnsXAndZTheOtherWayFromTheQuaternion) {
    for (float x : {0.0f, 15.0f, 200.0f})
        for (float y : {-40.0f, 10.0f, 95.0f})
            for (float z : {0.0f, 70.0f, 330.0f})
                ExpectNearMatrix(MatrixFromAngle(MakePoint(x, y, z)),
                                 QuatToRotationMatrix(RotationToQuat(MakePoint(-x, y, -z))));
}

TEST(MatrixLookAt, OrthonormalFrameAlongTheDirection) {
    const VECTOR3D targets[] = {{4, -2, 7}, {0, 5, 0}, {0, -3, 0}, {0, 0, 0}, {1e-30f, 1, 0}};
    for (VECTOR3D b : targets) {
        const MATRIX m = MatrixAngleBetweenVectors(MakePoint(0, 0, 0), b);
        for (double e : m.m) EXPECT_TRUE(std::isfinite(e));
        if (b.x == 1e-30f) continue;  // too thin to make a frame: finite is all we ask
        const VECTOR3D d =
            CompareVectors(b, MakePoint(0, 0, 0)) ? MakePoint(0, 0, 1) : NormalizeVector(b);
        ExpectNearVector(MakePoint(m.m[8], m.m[9], m.m[10]), d, 1e-6f);
        const VECTOR3D c0 = MakePoint(m.m[0], m.m[1], m.m[2]);
        const VECTOR3D c1 = MakePoint(m.m[4], m.m[5], m.m[6]);
        EXPECT_NEAR(VectorLength(c0), 1.0, 1e-6);
        EXPECT_NEAR(VectorLength(c1), 1.0, 1e-6);
        EXPECT_NEAR(VectorDotProduct(c0, c1), 0.0f, 1e-6);
        EXPECT_NEAR(VectorDotProduct(c0, d), 0.0f, 1e-6);
        EXPECT_NEAR(VectorDotProduct(VectorCrossProduct(c0, c1), d), 1.0f, 1e-6);  // right-handed
    }
    // Exact frames: along +X, straight up and straight down.
    struct Frame {
        VECTOR3D target, right, up;
    };
    const Frame frames[] = {{{3, 0, 0}, {0, 0, -1}, {0, 1, 0}},
                            {{0, 2, 0}, {0, 0, -1}, {-1, 0, 0}},
                            {{0, -2, 0}, {0, 0, -1}, {1, 0, 0}}};
    for (const Frame& f : frames) {
        const MATRIX m = MatrixAngleBetweenVectors(MakePoint(0, 0, 0), f.target);
        ExpectNearVector(MakePoint(m.m[0], m.m[1], m.m[2]), f.right, 0.0f);
        ExpectNearVector(MakePoint(m.m[4], m.m[5], m.m[6]), f.up, 0.0f);
    }
    // Towards itself: +Z, so the identity.
    ExpectNearMatrix(MatrixAngleBetweenVectors(MakePoint(2, 3, 4), MakePoint(2, 3, 4)), MATRIX(),
                     0.0);
}

TEST(Quaternion, BasicsAndTheZeroQuaternion) {
    QUAT q;
    EXPECT_TRUE(q.IsEqualTo(Quat(0, 0, 0, 1)));
    EXPECT_FALSE(q.IsEqualTo(Quat(0, 0, 0, std::nextafter(1.0, 2.0))));
    q = Quat(3, 0, 4, 0);
    EXPECT_EQ(QuatMagnitude(q), 5.0);
    EXPECT_TRUE(NormalizeQuat(q).IsEqualTo(Quat(0.6, 0, 0.8, 0)));
    EXPECT_TRUE(InverseQuat(q).IsEqualTo(Quat(-3, -0.0, -4, 0)));
    q.Identity();
    EXPECT_TRUE(q.IsEqualTo(QUAT()));
    // No direction to keep: returned as it came, never NaN.
    EXPECT_TRUE(NormalizeQuat(Quat(0, 0, 0, 0)).IsEqualTo(Quat(0, 0, 0, 0)));
    EXPECT_TRUE(NormalizeQuat(Quat(1e-200, 0, -1e-200, 0)).IsEqualTo(Quat(1e-200, 0, -1e-200, 0)));
    EXPECT_TRUE(NormalizeQuat(Quat(1e-150, 0, 0, 0)).IsEqualTo(Quat(1, 0, 0, 0)));
}

TEST(Quaternion, ProductComposesRotations) {
    EXPECT_TRUE(MultiplyQuats(Quat(1, 0, 0, 0), Quat(0, 1, 0, 0)).IsEqualTo(Quat(0, 0, 1, 0)));
    const QUAT qs[] = {AxisAndAngleToQuat(MakePoint(1, 2, -0.5f), 0.7),
                       AxisAndAngleToQuat(MakePoint(0, 0, 1), 2.9),
                       RotationToQuat(MakePoint(80, -10, 145))};
    for (const QUAT& a : qs)
        for (const QUAT& b : qs) {
            ExpectNearMatrix(QuatToRotationMatrix(MultiplyQuats(a, b)),
                             MultiplyMatrix(QuatToRotationMatrix(a), QuatToRotationMatrix(b)));
        }
    ExpectSameRotation(MultiplyQuats(qs[0], InverseQuat(qs[0])), QUAT());
}

TEST(Quaternion, AxisAngleAndEulerMatchVectorRotation) {
    const QUAT quarterZ = AxisAndAngleToQuat(MakePoint(0, 0, 1), kPi / 2);
    ExpectNearVector(MatrixRotatePoint(QuatToRotationMatrix(quarterZ), MakePoint(1, 0, 0)),
                     MakePoint(0, 1, 0), 1e-7f);
    // Euler angles apply X, then Y, then Z, like Rotate.
    const VECTOR3D angles = MakePoint(25, -60, 140);
    const QUAT q = RotationToQuat(angles);
    const QUAT composed =
        MultiplyQuats(AxisAndAngleToQuat(MakePoint(0, 0, 1), 140 * kPi / 180),
                      MultiplyQuats(AxisAndAngleToQuat(MakePoint(0, 1, 0), -60 * kPi / 180),
                                    AxisAndAngleToQuat(MakePoint(1, 0, 0), 25 * kPi / 180)));
    ExpectSameRotation(q, composed);
    VECTOR3D v = MakePoint(0.5f, 1.5f, -2);
    const VECTOR3D turned = MatrixRotatePoint(QuatToRotationMatrix(q), v);
    Rotate(&v, angles.x, angles.y, angles.z);
    ExpectNearVector(turned, v);
}

TEST(Quaternion, FromMatrixReachesEveryBranch) {
    struct Case {
        VECTOR3D axis;
        double degrees;
        int largest;  // -1: positive trace
    };
    const Case cases[] = {{{1, 2, 3}, 40, -1},
                          {{1, 0.2f, 0.1f}, 170, 0},
                          {{0.1f, 1, -0.2f}, 170, 1},
                          {{-0.2f, 0.1f, 1}, 170, 2},
                          {{1, 0, 0}, 180, 0},
                          // Exact half turns: only the largest diagonal gives a root above 0.
                          {{0, 1, 0}, 180, 1},
                          {{0, 0, 1}, 180, 2}};
    for (const Case& c : cases) {
        const QUAT q = AxisAndAngleToQuat(NormalizeVector(c.axis), c.degrees * kPi / 180);
        MATRIX m = QuatToRotationMatrix(q);
        const double d[3] = {m.m[0], m.m[5], m.m[10]};
        if (c.largest < 0) {
            ASSERT_GT(d[0] + d[1] + d[2], 0.0);
        } else {
            ASSERT_LE(d[0] + d[1] + d[2], 0.0);
            for (int i = 0; i < 3; ++i) ASSERT_LE(d[i], d[c.largest]);
        }
        m.SetTranslation(MakePoint(7, 8, 9));  // the rotation part only is read
        const QUAT back = QuatFromMatrix(m);
        ExpectSameRotation(back, q);
        MATRIX rot = m;
        rot.SetTranslation(MakePoint(0, 0, 0));
        ExpectNearMatrix(QuatToRotationMatrix(back), rot);
    }
    for (float y : {10.0f, 100.0f, 170.0f}) {  // matrices built from Euler angles
        const MATRIX m = MatrixFromAngle(MakePoint(165, y, 20));
        ExpectNearMatrix(QuatToRotationMatrix(QuatFromMatrix(m)), m);
    }
}

TEST(Quaternion, SlerpEndsMiddleAndLinearBranch) {
    const QUAT a = AxisAndAngleToQuat(MakePoint(0, 1, 0), 0.3);
    const QUAT b = AxisAndAngleToQuat(MakePoint(1, 0, 1), 1.9);
    EXPECT_TRUE(QuatSlerp(&a, &b, 0.0).IsEqualTo(a));
    EXPECT_TRUE(QuatSlerp(&a, &b, 1.0).IsEqualTo(b));
    const QUAT negB = Quat(-b.x, -b.y, -b.z, -b.w);
    EXPECT_TRUE(QuatSlerp(&a, &negB, 1.0).IsEqualTo(b));  // the shorter arc ends at -(-b)
    EXPECT_TRUE(QuatSlerp(&a, &negB, 0.0).IsEqualTo(a));

    // Constant speed along a unit arc.
    const double omega = std::acos(a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w);
    for (double t : {0.25, 0.5, 0.8}) {
        const QUAT s = QuatSlerp(&a, &b, t);
        EXPECT_NEAR(QuatMagnitude(s), 1.0, 1e-12);
        EXPECT_NEAR(std::acos(a.x * s.x + a.y * s.y + a.z * s.z + a.w * s.w), t * omega, 1e-9);
    }

    // Nearly equal: straight blend, not normalised.
    const QUAT c = AxisAndAngleToQuat(MakePoint(0, 1, 0), 0.3001);
    const QUAT lin = QuatSlerp(&a, &c, 0.25);
    EXPECT_EQ(lin.y, 0.75 * a.y + 0.25 * c.y);
    EXPECT_EQ(lin.w, 0.75 * a.w + 0.25 * c.w);
    ExpectSameRotation(QuatSlerp(&a, &a, 0.6), a, 1e-15);
}

TEST(MatrixDump, AppendsColumnsToTestTxt) {
    const std::filesystem::path home = std::filesystem::current_path();
    char dir[] = "/tmp/mereglass-matrix-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);

    MATRIX m;
    SaveMatrix(m);
    for (int i = 0; i < 16; ++i) m.m[i] = i - 2.5;
    m.m[13] = 12345.678901;
    SaveMatrix(m);
    std::ifstream in("test.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "\n1.00000 0.00000 0.00000 0.00000 \n0.00000 1.00000 0.00000 0.00000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n0.00000 0.00000 0.00000 1.00000 \n"
              "\n-2.50000 -1.50000 -0.50000 0.50000 \n1.50000 2.50000 3.50000 4.50000 \n"
              "5.50000 6.50000 7.50000 8.50000 \n9.50000 12345.67890 11.50000 12.50000 \n");

    // A folder in the way: nothing written, no fault.
    std::filesystem::remove("test.txt");
    std::filesystem::create_directory("test.txt");
    SaveMatrix(m);
    EXPECT_TRUE(std::filesystem::is_empty("test.txt"));

    ASSERT_EQ(chdir(home.c_str()), 0);
    std::filesystem::remove_all(dir);
}
