// The water step's numbers: the velocity pass and its damping, mean
// removal, the bowl's easing and where it shows first, and refraction on a
// flat field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "water/water.h"

namespace {

// The texture coordinate of a point sampled straight below it.
bool StraightBelow(const WATERCLASS& w, const WATERVERTEX& v) {
    return v.TexCoord.x == v.Position.x * w.InvSize + 0.5f &&
           v.TexCoord.y == 1.0f - (v.Position.z * w.InvSize + 0.5f);
}

float BowlDistanceSquared(const WATERVERTEX& v) {
    const VECTOR3D q = {v.Position.x, v.Position.y - 20.0f, v.Position.z};
    return VectorDotProduct(q, q);
}

}  // namespace

TEST(WaterStep, StillFlatFieldStaysFlat) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(5, 64.0f, true, 1.0f));
    VECTOR3D eye = {3.0f, 40.0f, -9.0f};
    for (int step = 0; step < 3; ++step) EXPECT_TRUE(w.Update(eye, 1.0 / 60.0));
    EXPECT_EQ(w.Mean, 0.0f);
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        ASSERT_EQ(w.Cells[i].Height, 0.0f);
        ASSERT_EQ(w.Cells[i].Velocity, 0.0f);
        ASSERT_EQ(w.Vertices[i].Position.y, 0.0f);
        const VECTOR3D up = {0.0f, 1.0f, 0.0f};
        ASSERT_TRUE(CompareVectors(w.Vertices[i].Normal, up));
    }
    // Grid points run edge to edge, by repeated addition of the spacing.
    EXPECT_EQ(w.Vertices[0].Position.x, -32.0f);
    EXPECT_EQ(w.Vertices[0].Position.z, -32.0f);
    EXPECT_NEAR(w.Vertices[31].Position.x, 32.0f, 1e-4);
    EXPECT_NEAR(w.Vertices[31 * 32].Position.z, 32.0f, 1e-4);
    EXPECT_EQ(w.Vertices[2].Position.x, -32.0f + 64.0f / 31.0f + 64.0f / 31.0f);
}

TEST(WaterStep, VelocityPassSpreadsARaisedPoint) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    auto at = [&](uint32_t x, uint32_t y) -> WATERCELL& {
        return w.Cells[(y & 15) * 16 + (x & 15)];
    };
    // Next to the corner, so that the neighbours wrap.
    at(0, 5).Height = 1.0f;
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    w.Update(eye, 0.0);
    EXPECT_EQ(at(0, 5).Velocity, -0.25f);
    for (auto [x, y] : {std::pair{15, 5}, {1, 5}, {0, 4}, {0, 6}}) {
        EXPECT_EQ(at(x, y).Velocity, 0.25f / 6.0f) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{15, 4}, {1, 4}, {15, 6}, {1, 6}}) {
        EXPECT_EQ(at(x, y).Velocity, 0.25f / 12.0f) << x << "," << y;
    }
    double velocities = 0.0;
    int moving = 0;
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        velocities += w.Cells[i].Velocity;
        moving += w.Cells[i].Velocity != 0.0f;
    }
    EXPECT_EQ(moving, 9);
    EXPECT_NEAR(velocities, 0.0, 1e-7);
    EXPECT_NEAR(w.Mean, 1.0f / 256.0f, 1e-9);
    // The raised point sinks by its velocity and the mean.
    EXPECT_EQ(at(0, 5).Height, (1.0f - 0.25f) - w.Mean);
}

TEST(WaterStep, SpeedScalesTheWaveTerm) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 0.5f));
    w.Cells[3 * 16 + 3].Height = 1.0f;
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    w.Update(eye, 0.0);
    EXPECT_EQ(w.Cells[3 * 16 + 3].Velocity, -0.125f);
    EXPECT_EQ(w.Cells[3 * 16 + 4].Velocity, 0.125f * 0.16666667f);
}

TEST(WaterStep, DampsOnlyVelocitiesBeyondAHundredth) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    // Heights stay 0, so only the damping changes these velocities.
    const float given[] = {0.01f, -0.01f, 0.0101f, -0.0101f, 0.5f, 0.001f};
    const float expected[] = {0.01f,        -0.01f, 0.0101f * 0.99f, -0.0101f * 0.99f,
                              0.5f * 0.99f, 0.001f};
    for (int i = 0; i < 6; ++i) w.Cells[40 * i + 7].Velocity = given[i];
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    w.Update(eye, 0.0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w.Cells[40 * i + 7].Velocity, expected[i]) << given[i];
}

TEST(WaterStep, MeanRemovalKeepsZeroSum) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(6, 64.0f, true, 1.0f));
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-0.5f, 1.5f);  // mean well above 0
    for (uint32_t i = 0; i < w.VertexCount; ++i) w.Cells[i] = {u(rng), u(rng) * 0.1f};
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    for (int step = 0; step < 3; ++step) {
        w.Update(eye, 1.0 / 60.0);
        double sum = 0.0, magnitude = 0.0;
        for (uint32_t i = 0; i < w.VertexCount; ++i) {
            sum += w.Cells[i].Height;
            magnitude += std::fabs(w.Cells[i].Height);
        }
        EXPECT_GT(magnitude, 100.0);
        EXPECT_NEAR(sum, 0.0, 2e-3) << step;
    }
}

TEST(WaterStep, DripSinksItsPointsAndLiftsEveryOtherByTheMean) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(6, 64.0f, true, 1.0f));
    srand(5);
    const uint32_t column = static_cast<uint32_t>(rand()) & 63;
    const uint32_t row = static_cast<uint32_t>(rand()) & 63;
    srand(5);
    const float strength = 1.25f;
    w.Drop(strength);
    for (uint32_t i = 0; i < w.VertexCount; ++i) ASSERT_EQ(w.Cells[i].Height, 0.0f);
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    w.Update(eye, 1.0 / 60.0);
    const float lift = 0.99f * strength / 4096.0f;
    EXPECT_NEAR(w.Mean, -lift, 1e-9);
    auto h = [&](uint32_t x, uint32_t y) { return w.Cells[((y & 63) << 6) | (x & 63)].Height; };
    EXPECT_NEAR(h(column, row), -0.25f * strength * 0.99f + lift, 1e-7);
    EXPECT_NEAR(h(column + 1, row), -0.125f * strength * 0.99f + lift, 1e-7);
    EXPECT_NEAR(h(column - 1, row + 1), -0.0625f * strength * 0.99f + lift, 1e-7);
    EXPECT_NEAR(h(column + 2, row), lift, 1e-9);
    EXPECT_NEAR(h(column + 30, row + 17), lift, 1e-9);
}

TEST(WaterStep, BowlEasing) {
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    {
        WATERCLASS w;  // elapsed 0 leaves the level alone
        ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
        w.BowlLevel = 123.5f;
        w.Update(eye, 0.0);
        EXPECT_EQ(w.BowlLevel, 123.5f);
    }
    {
        WATERCLASS w;  // elapsed * rate = 1 lands on the target
        ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
        w.Update(eye, 2.5);
        EXPECT_EQ(w.BowlLevel, 2500.0f);
        w.BowlLevel = -700.25f;
        w.Update(eye, 2.5);
        EXPECT_EQ(w.BowlLevel, 2500.0f);
        w.Update(eye, 5.0);  // no clamp: overshoots by the whole difference
        EXPECT_EQ(w.BowlLevel, 2500.0f);
        w.BowlLevel = 2000.0f;
        w.Update(eye, 5.0);
        EXPECT_EQ(w.BowlLevel, 3000.0f);
    }
    {
        WATERCLASS w;
        ASSERT_TRUE(w.Initialize(4, 64.0f, false, 1.0f));
        w.Update(eye, 5.0);
        EXPECT_EQ(w.BowlLevel, -1000.0f);
        w.BowlLevel = 0.0f;
        w.Update(eye, 0.5);  // 0 + (-1000 - 0) * 0.5 * 0.2
        EXPECT_EQ(w.BowlLevel, -100.0f);
    }
}

TEST(WaterStep, BowlOffAtLevelZeroSamplesStraightBelow) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(5, 64.0f, false, 1.0f));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (uint32_t i = 0; i < w.VertexCount; ++i) w.Cells[i] = {u(rng), 0.0f};
    VECTOR3D eye = {10.0f, 30.0f, -5.0f};
    w.Update(eye, 0.0);
    EXPECT_EQ(w.BowlLevel, 0.0f);
    for (uint32_t i = 0; i < w.VertexCount; ++i) ASSERT_TRUE(StraightBelow(w, w.Vertices[i])) << i;
    // Any positive step makes the level negative: every ray is then bent.
    w.Update(eye, 1.0 / 60.0);
    int bent = 0;
    for (uint32_t i = 0; i < w.VertexCount; ++i) bent += !StraightBelow(w, w.Vertices[i]);
    EXPECT_GT(bent, static_cast<int>(w.VertexCount) * 9 / 10);
}

TEST(WaterStep, BowlShowsFirstInTheMiddleAndReachesTheCornersLast) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(6, 64.0f, true, 1.0f));
    VECTOR3D eye = {5.0f, 50.0f, 7.0f};
    const uint32_t middle[] = {31 * 64 + 31, 31 * 64 + 32, 32 * 64 + 31, 32 * 64 + 32};
    const uint32_t corners[] = {0, 63, 63 * 64, 63 * 64 + 63};
    for (int step = 1; step <= 579; ++step) {
        const float before = w.BowlLevel;
        w.Update(eye, 1.0 / 60.0);
        if (step == 26) {
            for (uint32_t i = 0; i < w.VertexCount; ++i) {
                ASSERT_TRUE(StraightBelow(w, w.Vertices[i])) << "vertex " << i;
            }
        }
        if (step == 27) {
            for (uint32_t i : middle) {
                const float q2 = BowlDistanceSquared(w.Vertices[i]);
                EXPECT_NEAR(q2, 400.5f, 0.1f);
                EXPECT_LE(before, q2);
                EXPECT_GT(w.BowlLevel, q2);
                EXPECT_FALSE(StraightBelow(w, w.Vertices[i])) << i;
            }
        }
        if (step == 578) {
            for (uint32_t i : corners) {
                EXPECT_LT(w.BowlLevel, BowlDistanceSquared(w.Vertices[i]));
                EXPECT_TRUE(StraightBelow(w, w.Vertices[i])) << i;
            }
            EXPECT_FALSE(StraightBelow(w, w.Vertices[1]));
        }
        if (step == 579) {
            for (uint32_t i : corners) {
                EXPECT_NEAR(BowlDistanceSquared(w.Vertices[i]), 2448.0f, 1e-2);
                EXPECT_GT(w.BowlLevel, BowlDistanceSquared(w.Vertices[i]));
                EXPECT_FALSE(StraightBelow(w, w.Vertices[i])) << i;
            }
        }
    }
}

TEST(WaterStep, PointBelowTheEyeOnAFlatFieldIsNotShifted) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    VECTOR3D eye = {0.0f, 40.0f, 0.0f};
    w.Update(eye, 2.5);  // bowl at its full level: every ray is followed
    const uint32_t below = 9 * 16 + 5;
    eye = {w.Vertices[below].Position.x, 35.0f, w.Vertices[below].Position.z};
    w.Update(eye, 0.0);
    EXPECT_TRUE(StraightBelow(w, w.Vertices[below]));
    EXPECT_FALSE(StraightBelow(w, w.Vertices[below + 1]));
    EXPECT_FALSE(StraightBelow(w, w.Vertices[below + 16]));
    // The ray goes on away from the eye: the neighbour on +X reads from
    // further along +X, at a larger s.
    EXPECT_GT(w.Vertices[below + 1].TexCoord.x,
              w.Vertices[below + 1].Position.x * w.InvSize + 0.5f);
}

TEST(WaterStep, EyeOnTheSurfaceLeavesTheRayUnscaled) {
    // The eye exactly at a grid point: the direction to it has length 0 and
    // is used as it is, so no NaN reaches the mesh.
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    VECTOR3D eye = {-32.0f, 0.0f, -32.0f};
    w.Update(eye, 2.5);
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        ASSERT_TRUE(std::isfinite(w.Vertices[i].TexCoord.x)) << i;
        ASSERT_TRUE(std::isfinite(w.Vertices[i].TexCoord.y)) << i;
    }
}
