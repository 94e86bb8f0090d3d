// The library's step against the plain one in tests/water: random fields,
// drips, eyes and steps, every grid size and every code path this processor
// runs. Results must match bit for bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "plain_water_step.h"
#include "water/water.h"
#include "water/water_step.h"

namespace {

struct Twin {
    WATERCLASS fast;
    WATERCLASS plain;
};

void Randomise(WATERCLASS& w, std::mt19937& rng, float scale) {
    std::uniform_real_distribution<float> u(-scale, scale);
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        w.Cells[i].Height = u(rng);
        w.Cells[i].Velocity = u(rng) * 0.1f;
    }
}

void CopyState(const WATERCLASS& from, WATERCLASS& to) {
    std::memcpy(static_cast<void*>(to.Cells), from.Cells, sizeof(WATERCELL) * from.VertexCount);
    std::memcpy(static_cast<void*>(to.Vertices), from.Vertices,
                sizeof(WATERVERTEX) * from.VertexCount);
    to.Mean = from.Mean;
    to.BowlLevel = from.BowlLevel;
}

// First differing vertex, or -1.
long FirstVertexDifference(const WATERCLASS& a, const WATERCLASS& b) {
    for (uint32_t i = 0; i < a.VertexCount; ++i) {
        if (std::memcmp(&a.Vertices[i], &b.Vertices[i], sizeof(WATERVERTEX)) != 0) return i;
    }
    return -1;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class WaterStepPaths : public ::testing::TestWithParam<WaterPath> {
protected:
    void SetUp() override {
        if (!SelectWaterPath(GetParam())) GTEST_SKIP() << "processor lacks this path";
    }
    void TearDown() override { SelectWaterPath(WaterPath::Auto); }
};

TEST_P(WaterStepPaths, MatchesThePlainStepBitForBit) {
    std::mt19937 rng(1234u + static_cast<unsigned>(GetParam()));
    std::uniform_real_distribution<float> coord(-80.0f, 80.0f);
    for (uint16_t shift = 4; shift <= 8; ++shift) {
        for (int variant = 0; variant < 4; ++variant) {
            const bool bowl = (variant & 1) != 0;
            const float speed = variant < 2 ? 1.0f : 0.37f + 0.01f * shift;
            Twin t;
            ASSERT_TRUE(t.fast.Initialize(shift, 64.0f, bowl, speed));
            ASSERT_TRUE(t.plain.Initialize(shift, 64.0f, bowl, speed));
            Randomise(t.fast, rng, variant == 0 ? 0.0f : 2.0f);
            t.fast.BowlLevel = variant == 3 ? 1200.0f : 0.0f;
            CopyState(t.fast, t.plain);
            for (int step = 0; step < 5; ++step) {
                VECTOR3D eye = {coord(rng), 10.0f + coord(rng) * 0.5f, coord(rng)};
                if (step == 2) eye = {0.0f, 20.0f, 0.0f};
                // On a still field, the eye on the first grid point.
                const bool still = variant == 0 && step == 0;
                if (still) eye = {-32.0f, 0.0f, -32.0f};
                const double elapsed = step == 1 ? 0.0 : 0.005 + 0.5 * step;
                const unsigned seed = rng();
                if (!still) {
                    srand(seed);
                    t.fast.Drop(0.5f + 0.3f * step);
                    srand(seed);
                    t.plain.Drop(0.5f + 0.3f * step);
                }
                VECTOR3D eyeCopy = eye;
                t.fast.Update(eye, elapsed);
                PlainWaterStep(t.plain, eyeCopy, elapsed);
                SCOPED_TRACE(testing::Message()
                             << "shift " << shift << " variant " << variant << " step " << step);
                ASSERT_EQ(std::memcmp(t.fast.Cells, t.plain.Cells,
                                      sizeof(WATERCELL) * t.fast.VertexCount),
                          0);
                ASSERT_TRUE(SameBits(t.fast.Mean, t.plain.Mean));
                ASSERT_TRUE(SameBits(t.fast.BowlLevel, t.plain.BowlLevel));
                ASSERT_EQ(FirstVertexDifference(t.fast, t.plain), -1);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, WaterStepPaths,
                         ::testing::Values(WaterPath::Scalar, WaterPath::Sse2, WaterPath::Avx,
                                           WaterPath::Avx512),
                         [](const ::testing::TestParamInfo<WaterPath>& info) {
                             return std::string(WaterPathName(info.param));
                         });

TEST(WaterStepPath, AutomaticChoiceIsARunnablePath) {
    ASSERT_TRUE(SelectWaterPath(WaterPath::Auto));
    const WaterPath chosen = CurrentWaterPath();
    EXPECT_NE(chosen, WaterPath::Auto);
    EXPECT_TRUE(SelectWaterPath(chosen));
    EXPECT_TRUE(SelectWaterPath(WaterPath::Scalar));
    EXPECT_EQ(CurrentWaterPath(), WaterPath::Scalar);
#if defined(__x86_64__)
    EXPECT_TRUE(SelectWaterPath(WaterPath::Sse2));  // part of every x86-64
    EXPECT_NE(chosen, WaterPath::Scalar);
#endif
    SelectWaterPath(WaterPath::Auto);
    EXPECT_EQ(CurrentWaterPath(), chosen);
}

}  // namespace
