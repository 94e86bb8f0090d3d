// View frustum: the table before any extraction, the unit cube of identity
// matrices, and a real perspective view checked against its clip space.
#include "support/frustum.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "headless_gl.h"

namespace {

// Taken during static initialisation, before any test can extract.
struct Table {
    float planes[6][4];
};
const Table kInitialTable = [] {
    Table t;
    std::memcpy(t.planes, frustum, sizeof t.planes);
    return t;
}();

float Distance(int plane, VECTOR3D p) {
    const float* f = frustum[plane];
    return f[0] * p.x + f[1] * p.y + f[2] * p.z + f[3];
}

void LoadIdentityView() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void LoadPerspectiveView() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(50.0, 1.6, 0.5, 40.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(3, 4, 10, 1, -2, -5, 0, 1, 0);
}

}  // namespace

TEST(FrustumTable, AllZeroBeforeAnyExtraction) {
    for (const auto& plane : kInitialTable.planes)
        for (float v : plane) EXPECT_EQ(v, 0.0f);
    std::memcpy(frustum, kInitialTable.planes, sizeof frustum);
    for (VECTOR3D p : {MakePoint(0, 0, 0), MakePoint(1e6f, -3, 2)}) {
        EXPECT_FALSE(PointInFrustum(p));
        EXPECT_TRUE(SphereInFrustum(p, 1e-6f));
        EXPECT_FALSE(SphereInFrustum(p, 0.0f));  // 0 <= -0
    }
}

TEST(FrustumIdentity, UnitCubeFacingInwards) {
    HeadlessGL gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    LoadIdentityView();
    ExtractFrustum();
    const float expected[6][4] = {{-1, 0, 0, 1}, {1, 0, 0, 1},  {0, 1, 0, 1},
                                  {0, -1, 0, 1}, {0, 0, -1, 1}, {0, 0, 1, 1}};
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 4; ++k) EXPECT_EQ(frustum[i][k], expected[i][k]) << i << "," << k;

    EXPECT_TRUE(PointInFrustum(MakePoint(0, 0, 0)));
    EXPECT_TRUE(PointInFrustum(MakePoint(0.99f, -0.99f, 0.99f)));
    EXPECT_FALSE(PointInFrustum(MakePoint(1, 0, 0)));   // on the right plane
    EXPECT_FALSE(PointInFrustum(MakePoint(0, 0, -1)));  // on the near plane
    EXPECT_TRUE(SphereInFrustum(MakePoint(1.5f, 0, 0), 0.6f));
    EXPECT_FALSE(SphereInFrustum(MakePoint(1.5f, 0, 0), 0.5f));  // touches from outside
    EXPECT_FALSE(SphereInFrustum(MakePoint(0, 0, 3), 1.0f));     // beyond the far plane

    const VECTOR3D c = MakePoint(-1.5f, 0, 0);
    EXPECT_TRUE(SphereInsideSinglePlaneFrustum(0, c, 0.1f));
    EXPECT_FALSE(SphereInsideSinglePlaneFrustum(1, c, 0.5f));
    EXPECT_TRUE(SphereInsideSinglePlaneFrustum(1, c, 0.6f));
    // Out-of-range planes rule nothing out (and read nothing: ASan watches).
    for (int plane : {-1, 6, 7, INT_MAX, INT_MIN})
        EXPECT_TRUE(SphereInsideSinglePlaneFrustum(plane, MakePoint(-50, 0, 0), 0.1f));

    const VECTOR3D p = MakePoint(5, 2, 3);
    const VECTOR3D onPlane[6] = {{1, 2, 3}, {-1, 2, 3}, {5, -1, 3},
                                 {5, 1, 3}, {5, 2, 1},  {5, 2, -1}};
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(CompareVectors(PointAtEdgeOfFrustum(i, p), onPlane[i])) << i;
    for (int plane : {7, -1, 6})
        EXPECT_TRUE(CompareVectors(PointAtEdgeOfFrustum(plane, p), MakePoint(0, 0, 0)));
}

TEST(FrustumPerspective, AgreesWithClipSpaceOfTheView) {
    HeadlessGL gl(32, 20);
    ASSERT_TRUE(gl.ok()) << gl.error();
    LoadPerspectiveView();
    ExtractFrustum();
    for (const auto& f : frustum)
        EXPECT_NEAR(std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]), 1.0, 1e-6);

    double proj[16], modl[16];
    glGetDoublev(GL_PROJECTION_MATRIX, proj);
    glGetDoublev(GL_MODELVIEW_MATRIX, modl);
    auto clip = [&](VECTOR3D p, double out[4]) {
        const double v[4] = {p.x, p.y, p.z, 1.0};
        double eye[4];
        for (int r = 0; r < 4; ++r)
            eye[r] = modl[r] * v[0] + modl[4 + r] * v[1] + modl[8 + r] * v[2] + modl[12 + r];
        for (int r = 0; r < 4; ++r)
            out[r] = proj[r] * eye[0] + proj[4 + r] * eye[1] + proj[8 + r] * eye[2] +
                     proj[12 + r] * eye[3];
    };

    int inside = 0, outside = 0;
    for (float x = -30; x <= 30; x += 1.7f)
        for (float y = -30; y <= 30; y += 1.9f)
            for (float z = -50; z <= 15; z += 2.3f) {
                const VECTOR3D p = MakePoint(x, y, z);
                double c[4];
                clip(p, c);
                const double margin =
                    std::fmin(c[3] - std::fabs(c[0]),
                              std::fmin(c[3] - std::fabs(c[1]), c[3] - std::fabs(c[2])));
                if (std::fabs(margin) < 1e-3) continue;  // too near a plane to call
                const bool expected = margin > 0;
                EXPECT_EQ(PointInFrustum(p), expected) << x << " " << y << " " << z;
                EXPECT_EQ(SphereInFrustum(p, 0.0f), expected);
                (expected ? inside : outside)++;
            }
    EXPECT_GT(inside, 500);
    EXPECT_GT(outside, 500);

    // Named points along the line of sight (eye (3,4,10) towards (1,-2,-5)).
    const VECTOR3D eye = MakePoint(3, 4, 10);
    const VECTOR3D dir = NormalizeVector(MakePoint(-2, -6, -15));
    auto along = [&](double s) { return AddVectors(eye, ScaleVector(dir, s)); };
    EXPECT_FALSE(PointInFrustum(eye));
    EXPECT_FALSE(PointInFrustum(along(0.4)));  // in front of the near plane
    EXPECT_TRUE(PointInFrustum(along(0.6)));
    EXPECT_TRUE(PointInFrustum(along(39.0)));
    EXPECT_FALSE(PointInFrustum(along(41.0)));  // beyond the far plane
    EXPECT_FALSE(PointInFrustum(along(-5.0)));  // behind the eye
    EXPECT_TRUE(SphereInFrustum(along(41.0), 1.5f));
    EXPECT_FALSE(SphereInFrustum(along(41.0), 0.5f));
    EXPECT_FALSE(SphereInsideSinglePlaneFrustum(kFrustumFar, along(41.0), 0.5f));
    EXPECT_TRUE(SphereInsideSinglePlaneFrustum(kFrustumNear, along(41.0), 0.5f));
}

TEST(FrustumPerspective, EdgePointsLieOnTheirPlanes) {
    HeadlessGL gl(32, 20);
    ASSERT_TRUE(gl.ok()) << gl.error();
    LoadPerspectiveView();
    ExtractFrustum();
    for (VECTOR3D p : {MakePoint(1, -2, -5), MakePoint(-7, 3, 12), MakePoint(20, 0.5f, -30)}) {
        for (int i = 0; i < 6; ++i) {
            const VECTOR3D q = PointAtEdgeOfFrustum(i, p);
            const float scale = 1.0f + std::fabs(q.x) + std::fabs(q.y) + std::fabs(q.z);
            EXPECT_NEAR(Distance(i, q), 0.0f, 1e-6f * scale) << "plane " << i;
            // Moved along one axis only: X for 0-1, Y for 2-3, Z for 4-5.
            const int axis = i / 2;
            EXPECT_TRUE(axis == 0 || q.x == p.x);
            EXPECT_TRUE(axis == 1 || q.y == p.y);
            EXPECT_TRUE(axis == 2 || q.z == p.z);
        }
    }
}

TEST(FrustumDegenerate, ZeroMatrixLeavesNoNaN) {
    HeadlessGL gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    LoadIdentityView();
    const GLfloat zero[16] = {};
    glLoadMatrixf(zero);
    ExtractFrustum();
    for (const auto& f : frustum)
        for (float v : f) EXPECT_EQ(v, 0.0f);
    EXPECT_FALSE(PointInFrustum(MakePoint(0, 0, 0)));
}
