// Vector math: the numbers the library promises, and its precision rules
// where they show in the last bit.
#include "support/vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

bool SameBits(VECTOR3D a, VECTOR3D b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(VectorClamp, WrapsByTheUpperBound) {
    EXPECT_EQ(clamp(-30, 0, 360), 330);
    EXPECT_EQ(clamp(720, 0, 360), 0);
    EXPECT_EQ(clamp(359.9, 0, 360), 359.9);
    EXPECT_EQ(clamp(-750, 0, 360), 330);
    // The step is hi, not hi - lo.
    EXPECT_EQ(clamp(5, 10, 20), 5);  // 5 + 20 = 25, which is >= 20, so back to 5
}

TEST(VectorClamp, HugeAndNonFiniteAnglesReturn) {
    // These never returned when the wrap stepped one turn at a time.
    EXPECT_EQ(clamp(1e20, 0, 360), std::fmod(1e20, 360.0));
    EXPECT_EQ(clamp(-1e20, 0, 360), std::fmod(-1e20, 360.0) + 360.0);
    EXPECT_EQ(clamp(0, -1e20, 360), 0);
    EXPECT_EQ(clamp(-2e20, -1e20, 360), -1e20 + std::fmod(-1e20, 360.0) + 360.0);
    EXPECT_EQ(clamp(HUGE_VAL, 0, 360), HUGE_VAL);
    EXPECT_TRUE(std::isnan(clamp(NAN, 0, 360)));
    EXPECT_EQ(clamp(7, 0, 0), 7);
    // Within 64 turns the steps are taken one by one, rounding included.
    double stepped = 23000.1;
    while (stepped >= 360) stepped -= 360;
    EXPECT_EQ(clamp(23000.1, 0, 360), stepped);
}

TEST(VectorRotate, ZeroAnglesLeaveTheVectorBitForBit) {
    VECTOR3D v = MakePoint(0.1f, -3.7f, 1e-30f);
    const VECTOR3D before = v;
    Rotate(&v, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(SameBits(v, before));
}

TEST(VectorRotate, QuarterTurnsAboutEachAxis) {
    VECTOR3D v = MakePoint(1, 0, 0);
    Rotate(&v, 0, 0, 90);
    EXPECT_NEAR(v.x, 0.0f, 1e-7);
    EXPECT_FLOAT_EQ(v.y, 1.0f);
    EXPECT_EQ(v.z, 0.0f);

    VECTOR3D w = MakePoint(0, 1, 0);
    Rotate(&w, 90, 0, 0);  // y -> z
    EXPECT_NEAR(w.y, 0.0f, 1e-7);
    EXPECT_FLOAT_EQ(w.z, 1.0f);

    VECTOR3D u = MakePoint(0, 0, 1);
    Rotate(&u, 0, 90, 0);  // z -> x
    EXPECT_FLOAT_EQ(u.x, 1.0f);
    EXPECT_NEAR(u.z, 0.0f, 1e-7);
}

TEST(VectorRotate, AppliesXThenYThenZInDoubleRoundingEachStep) {
    VECTOR3D v = MakePoint(0.3f, 0.7f, -1.1f);
    Rotate(&v, 10.0f, 20.0f, 30.0f);
    // Straight from the rule, each component rounded to float after each axis.
    auto rad = [](float d) { return static_cast<float>(d * 3.141592653589793 / 180.0); };
    double x = 0.3f, y = 0.7f, z = -1.1f;
    double c = std::cos(double{rad(10)}), s = std::sin(double{rad(10)});
    float ny = static_cast<float>(c * y - s * z), nz = static_cast<float>(s * y + c * z);
    y = ny;
    z = nz;
    c = std::cos(double{rad(20)});
    s = std::sin(double{rad(20)});
    float nx = static_cast<float>(c * x + s * z);
    nz = static_cast<float>(c * z - s * x);
    x = nx;
    z = nz;
    c = std::cos(double{rad(30)});
    s = std::sin(double{rad(30)});
    nx = static_cast<float>(c * x - s * y);
    ny = static_cast<float>(s * x + c * y);
    EXPECT_TRUE(SameBits(v, MakePoint(nx, ny, static_cast<float>(z))));
    // A full turn about Y in 72 steps of 5 degrees comes back to the start.
    VECTOR3D t = MakePoint(0, 75, 100);
    for (int i = 0; i < 72; ++i) Rotate(&t, 0, 5, 0);
    EXPECT_NEAR(t.x, 0.0f, 1e-3);
    EXPECT_EQ(t.y, 75.0f);
    EXPECT_NEAR(t.z, 100.0f, 1e-3);
}

TEST(VectorArithmetic, ComponentWiseOperations) {
    const VECTOR3D a = MakePoint(1, 2, 3), b = MakePoint(4, -5, 6);
    EXPECT_TRUE(SameBits(AddVectors(a, b), MakePoint(5, -3, 9)));
    EXPECT_TRUE(SameBits(SubtractVectors(a, b), MakePoint(-3, 7, -3)));
    EXPECT_TRUE(SameBits(MultiplyVectors(a, b), MakePoint(4, -10, 18)));
    EXPECT_TRUE(SameBits(DivideVectors(b, a), MakePoint(4, -2.5f, 2)));
    EXPECT_EQ(VectorDotProduct(a, b), 4 - 10 + 18);
    EXPECT_TRUE(SameBits(VectorCrossProduct(a, b), MakePoint(27, 6, -13)));
    EXPECT_TRUE(
        SameBits(CalculateNormal(MakePoint(0, 0, 0), MakePoint(1, 0, 0), MakePoint(1, 1, 0)),
                 VectorCrossProduct(MakePoint(-1, 0, 0), MakePoint(0, -1, 0))));
    const COLOUR c = MakeColour(0.1f, 0.2f, 0.3f, 0.4f);
    EXPECT_EQ(c.g, 0.2f);
    EXPECT_EQ(c.a, 0.4f);
    const point2d p = Make2DPoint(-256.0f, -35.0f);
    EXPECT_EQ(p.x, -256.0f);
    EXPECT_EQ(p.y, -35.0f);
}

TEST(VectorArithmetic, ScaleRoundsTheDoubleProduct) {
    const VECTOR3D a = MakePoint(1.0f, 3.0f, -0.1f);
    const VECTOR3D s = ScaleVector(a, 0.1);
    EXPECT_EQ(s.x, static_cast<float>(1.0 * 0.1));
    EXPECT_EQ(s.y, static_cast<float>(3.0 * 0.1));
    EXPECT_EQ(s.z, static_cast<float>(double{-0.1f} * 0.1));
}

TEST(VectorLengths, SquaredAndRootedForms) {
    EXPECT_EQ(DistanceBetweenVectors(MakePoint(0, 0, 0), MakePoint(3, 4, 0)), 25.0f);
    EXPECT_EQ(VectorLengthNOSQRT(MakePoint(1, 2, 2)), 9.0f);
    EXPECT_EQ(VectorLength(MakePoint(1, 2, 2)), 3.0);
    const VECTOR3D n = NormalizeVector(MakePoint(0, 3, 4));
    EXPECT_EQ(n.y, static_cast<float>(3.0 / 5.0));
    EXPECT_EQ(n.z, static_cast<float>(4.0 / 5.0));
}

TEST(VectorLengths, NormalizingZeroReturnsZeroInsteadOfNaN) {
    const VECTOR3D n = NormalizeVector(MakePoint(0, 0, 0));
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f);
}

TEST(VectorCompare, ExactToTheLastBit) {
    const VECTOR3D a = MakePoint(1.0f, 2.0f, 3.0f);
    VECTOR3D b = a;
    EXPECT_TRUE(CompareVectors(a, b));
    b.y = std::nextafter(b.y, 3.0f);
    EXPECT_FALSE(CompareVectors(a, b));
}

TEST(VectorAngle, AxisTimesAngleTowardsTheTarget) {
    const VECTOR3D r = AngleBetweenVectors(MakePoint(0, 0, 0), MakePoint(10, 0, 0));
    // up x d = (0,0,1) x (10,0,0) = (0,10,0): axis +Y, angle 90 degrees.
    EXPECT_NEAR(r.x, 0.0f, 1e-6);
    EXPECT_NEAR(r.y, 90.0f, 1e-4);
    EXPECT_NEAR(r.z, 0.0f, 1e-6);
    // Equal points: d = (0.1, 0, 1), so the angle is atan(0.1) about +Y.
    const VECTOR3D e = AngleBetweenVectors(MakePoint(2, 2, 2), MakePoint(2, 2, 2));
    EXPECT_NEAR(e.y, std::atan(0.1) * 180.0 / 3.141592653589793, 1e-3);
    EXPECT_NEAR(e.x, 0.0f, 1e-6);
}
