// The water grid: construction, Initialize (shift clamp, refraction table,
// spiral strip, buffers, a second call with the same or another size, and
// allocation failures) and drips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "water/water.h"

// ------------------------------------------------------------------------
// Failing allocations on demand: the nothrow array forms that Initialize
// uses return null once the armed count of successful ones has run out.
namespace {
int allocationsLeft = -1;  // -1: never fail
bool TakeAllocation() {
    if (allocationsLeft < 0) return true;
    if (allocationsLeft == 0) return false;
    --allocationsLeft;
    return true;
}
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (!TakeAllocation()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    if (!TakeAllocation()) return nullptr;
    try {
        return ::operator new[](size, align);
    } catch (...) {
        return nullptr;
    }
}

namespace {

struct Point {
    uint32_t x, y;
    bool operator==(const Point&) const = default;
};

std::vector<Point> AsPoints(const uint16_t* indices, size_t count, uint16_t shift) {
    std::vector<Point> out;
    const uint32_t n = 1u << shift;
    for (size_t i = 0; i < count; ++i) out.push_back({indices[i] % n, indices[i] / n});
    return out;
}

// A seed after which the first two rand() calls give column x, row y on a
// grid of side n.
unsigned SeedFor(uint32_t x, uint32_t y, uint32_t n) {
    for (unsigned seed = 1; seed < 1000000; ++seed) {
        srand(seed);
        const uint32_t c = static_cast<uint32_t>(rand()) & (n - 1);
        const uint32_t r = static_cast<uint32_t>(rand()) & (n - 1);
        if (c == x && r == y) return seed;
    }
    return 0;
}

}  // namespace

TEST(WaterGrid, ConstructionSetsTheDocumentedFieldsAndAllocatesNothing) {
    WATERCLASS w;
    EXPECT_EQ(w.InvSize, 1.0f);
    EXPECT_EQ(w.BowlLevel, 0.0f);
    EXPECT_EQ(w.IndexCount, 0u);
    EXPECT_EQ(w.VertexCount, 0u);
    EXPECT_EQ(w.Cells, nullptr);
    EXPECT_EQ(w.RefractTable, nullptr);
    EXPECT_EQ(w.Indices, nullptr);
    EXPECT_EQ(w.Vertices, nullptr);
    EXPECT_TRUE(w.WantBowl);
    EXPECT_EQ(w.Speed, 1.0f);
    EXPECT_EQ(w.Shift, 6);
    // Nothing to drip into or step yet.
    VECTOR3D eye = {0.0f, 30.0f, 0.0f};
    EXPECT_FALSE(w.Ready());
    EXPECT_FALSE(w.Drop(1.0f));
    EXPECT_FALSE(w.Update(eye, 0.1));
    EXPECT_EQ(w.BowlLevel, 0.0f);
}

TEST(WaterGrid, ShiftIsClampedToFourToEight) {
    struct Case {
        uint16_t given, used;
    } cases[] = {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4},  {5, 5},
                 {6, 6}, {7, 7}, {8, 8}, {9, 8}, {12, 8}, {65535, 8}};
    for (const Case& c : cases) {
        WATERCLASS w;
        ASSERT_TRUE(w.Initialize(c.given, 64.0f, false, 0.5f)) << c.given;
        EXPECT_EQ(w.Shift, c.used) << c.given;
        const uint32_t n = 1u << c.used;
        EXPECT_EQ(w.VertexCount, n * n);
        EXPECT_EQ(w.IndexCount, 2 * n * n);
        EXPECT_EQ(w.Size, 64.0f);
        EXPECT_EQ(w.InvSize, 0.015625f);
        EXPECT_FALSE(w.WantBowl);
        EXPECT_EQ(w.Speed, 0.5f);
    }
}

TEST(WaterGrid, RefractionTableHoldsTheWaterCoefficients) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    EXPECT_EQ(w.RefractTable, Refract);
    EXPECT_NEAR(Refract[0].NormalScale, 0.8814f, 5e-5);
    EXPECT_NEAR(Refract[0].Ratio, -0.7502f, 5e-5);
    EXPECT_NEAR(Refract[10].NormalScale, 0.8432f, 5e-5);
    EXPECT_NEAR(Refract[10].Ratio, -0.7502f, 5e-5);
    EXPECT_NEAR(Refract[255].NormalScale, 0.3340f, 5e-5);
    EXPECT_NEAR(Refract[255].Ratio, -0.7502f, 5e-5);
    // NormalScale is 1.333 cos(refracted) - cos(incident) up to rounding,
    // and falls as the incidence steepens.
    for (int i = 1; i < 256; ++i) {
        EXPECT_LT(Refract[i].NormalScale, Refract[i - 1].NormalScale) << i;
        EXPECT_NEAR(Refract[i].Ratio, -1.0 / 1.333, 1e-6) << i;
    }
}

TEST(WaterGrid, SpiralForASideOfFourIsExact) {
    std::vector<uint16_t> indices(32 + 4, 0xBEEF);
    FillWaterStrip(indices.data(), 2);
    const std::vector<Point> expected = {
        {0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, {3, 1}, {2, 1}, {3, 2},
        {2, 2}, {3, 3}, {2, 3}, {2, 3}, {2, 2}, {1, 3}, {1, 2}, {0, 3}, {0, 2}, {0, 2}, {1, 2},
        {0, 1}, {1, 1}, {1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 2}, {1, 2}, {1, 2}, {1, 1}};
    EXPECT_EQ(AsPoints(indices.data(), 32, 2), expected);
    for (size_t i = 32; i < indices.size(); ++i) EXPECT_EQ(indices[i], 0xBEEF) << i;
}

TEST(WaterGrid, SpiralFillsExactlyIndexCountAndCoversEveryPoint) {
    for (uint16_t shift = 4; shift <= 8; ++shift) {
        WATERCLASS w;
        ASSERT_TRUE(w.Initialize(shift, 64.0f, true, 1.0f));
        std::vector<uint16_t> strip(w.IndexCount + 8, 0xBEEF);
        FillWaterStrip(strip.data(), shift);
        for (size_t i = w.IndexCount; i < strip.size(); ++i) ASSERT_EQ(strip[i], 0xBEEF);
        ASSERT_EQ(std::memcmp(strip.data(), w.Indices, w.IndexCount * sizeof(uint16_t)), 0);
        std::set<uint32_t> seen;
        uint32_t largest = 0;
        for (uint32_t i = 0; i < w.IndexCount; ++i) {
            ASSERT_LT(w.Indices[i], w.VertexCount);
            seen.insert(w.Indices[i]);
            largest = std::max<uint32_t>(largest, w.Indices[i]);
        }
        EXPECT_EQ(seen.size(), w.VertexCount) << shift;
        EXPECT_EQ(largest, w.VertexCount - 1) << shift;
    }
}

TEST(WaterGrid, NewBuffersHoldAStillFlatField) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(5, 64.0f, true, 1.0f));
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        EXPECT_EQ(w.Cells[i].Height, 0.0f);
        EXPECT_EQ(w.Cells[i].Velocity, 0.0f);
        const VECTOR3D zero = {0.0f, 0.0f, 0.0f};
        EXPECT_TRUE(CompareVectors(w.Vertices[i].Position, zero));
        EXPECT_TRUE(CompareVectors(w.Vertices[i].Normal, zero));
    }
}

TEST(WaterGrid, SecondInitializeWithTheSameSizeKeepsBuffersAndHeights) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(5, 64.0f, true, 1.0f));
    w.Cells[17].Height = 0.75f;
    w.Cells[18].Velocity = -0.5f;
    w.Mean = 0.125f;
    w.BowlLevel = 321.0f;
    const WATERCELL* cells = w.Cells;
    const uint16_t* indices = w.Indices;
    const WATERVERTEX* vertices = w.Vertices;
    const REFRACTION before = Refract[10];
    Refract[10].NormalScale = 7.0f;  // a refill would overwrite this

    ASSERT_TRUE(w.Initialize(5, 32.0f, false, 0.25f));
    EXPECT_EQ(Refract[10].NormalScale, 7.0f);
    Refract[10] = before;
    EXPECT_EQ(w.Cells, cells);
    EXPECT_EQ(w.Indices, indices);
    EXPECT_EQ(w.Vertices, vertices);
    EXPECT_EQ(w.Cells[17].Height, 0.75f);
    EXPECT_EQ(w.Cells[18].Velocity, -0.5f);
    EXPECT_EQ(w.Mean, 0.125f);
    EXPECT_EQ(w.BowlLevel, 321.0f);
    EXPECT_EQ(w.Size, 32.0f);
    EXPECT_EQ(w.InvSize, 0.03125f);
    EXPECT_FALSE(w.WantBowl);
    EXPECT_EQ(w.Speed, 0.25f);
    // Out-of-range shifts that clamp to the same side count as the same size.
    ASSERT_TRUE(w.Initialize(9, 64.0f, true, 1.0f));
    ASSERT_TRUE(w.Initialize(8, 64.0f, true, 1.0f));
    const WATERCELL* big = w.Cells;
    ASSERT_TRUE(w.Initialize(200, 64.0f, true, 1.0f));
    EXPECT_EQ(w.Cells, big);
}

TEST(WaterGrid, SecondInitializeWithAnotherSizeStartsAFlatFieldOfThatSize) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    for (uint32_t i = 0; i < w.VertexCount; ++i) w.Cells[i] = {1.0f, 0.5f};
    for (uint16_t shift : {8, 5, 7, 4}) {
        ASSERT_TRUE(w.Initialize(shift, 64.0f, true, 1.0f));
        ASSERT_EQ(w.VertexCount, 1u << (2 * shift));
        std::vector<uint16_t> strip(w.IndexCount);
        FillWaterStrip(strip.data(), shift);
        EXPECT_EQ(std::memcmp(strip.data(), w.Indices, w.IndexCount * sizeof(uint16_t)), 0);
        for (uint32_t i = 0; i < w.VertexCount; ++i) {
            ASSERT_EQ(w.Cells[i].Height, 0.0f);
            ASSERT_EQ(w.Cells[i].Velocity, 0.0f);
        }
        // The step touches every cell and vertex of the new size (the
        // sanitizers catch any buffer left at the old one).
        VECTOR3D eye = {0.0f, 30.0f, 0.0f};
        w.Drop(1.0f);
        w.Update(eye, 0.1);
        const WATERVERTEX& last = w.Vertices[w.VertexCount - 1];
        EXPECT_NEAR(last.Position.x, 32.0f, 1e-3);
        EXPECT_NEAR(last.Position.z, 32.0f, 1e-3);
        for (uint32_t i = 0; i < w.VertexCount; ++i) w.Cells[i] = {1.0f, 0.5f};
    }
}

TEST(WaterGrid, FailedAllocationIsReportedAndRetried) {
    for (int granted = 0; granted < 4; ++granted) {
        WATERCLASS w;
        allocationsLeft = granted;
        const bool ok = w.Initialize(5, 64.0f, true, 1.0f);
        allocationsLeft = -1;
        EXPECT_FALSE(ok) << granted;
        // Buffers made before the failure stay; the rest are made by the
        // next call.
        EXPECT_EQ(w.Cells != nullptr, granted >= 1);
        EXPECT_EQ(w.Indices != nullptr, granted >= 2);
        EXPECT_EQ(w.Vertices != nullptr, granted >= 3);
        // Without all its buffers the water refuses to drip or step.
        VECTOR3D early = {0.0f, 30.0f, 0.0f};
        EXPECT_FALSE(w.Ready());
        EXPECT_FALSE(w.Drop(1.0f));
        EXPECT_FALSE(w.Update(early, 0.1));
        ASSERT_TRUE(w.Initialize(5, 64.0f, true, 1.0f));
        VECTOR3D eye = {0.0f, 30.0f, 0.0f};
        EXPECT_TRUE(w.Update(eye, 0.1));
    }
    // A failure while changing size leaves no buffer of the old size behind.
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    allocationsLeft = 1;
    EXPECT_FALSE(w.Initialize(6, 64.0f, true, 1.0f));
    allocationsLeft = -1;
    EXPECT_NE(w.Cells, nullptr);
    EXPECT_EQ(w.Indices, nullptr);
    ASSERT_TRUE(w.Initialize(6, 64.0f, true, 1.0f));
    VECTOR3D eye = {0.0f, 30.0f, 0.0f};
    EXPECT_TRUE(w.Update(eye, 0.1));
    EXPECT_NEAR(w.Vertices[w.VertexCount - 1].Position.x, 32.0f, 1e-3);
}

TEST(WaterDrop, WeightsWrapAroundTheOrigin) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    const unsigned seed = SeedFor(0, 0, 16);
    ASSERT_NE(seed, 0u);
    srand(seed);
    const float strength = 1.5f;
    EXPECT_TRUE(w.Drop(strength));
    auto v = [&](uint32_t x, uint32_t y) { return w.Cells[y * 16 + x].Velocity; };
    EXPECT_EQ(v(0, 0), -0.375f);
    EXPECT_EQ(v(15, 0), -0.1875f);
    EXPECT_EQ(v(1, 0), -0.1875f);
    EXPECT_EQ(v(0, 15), -0.1875f);
    EXPECT_EQ(v(0, 1), -0.1875f);
    EXPECT_EQ(v(15, 15), -0.09375f);
    EXPECT_EQ(v(1, 1), -0.09375f);
    EXPECT_EQ(v(1, 15), -0.09375f);
    EXPECT_EQ(v(15, 1), -0.09375f);
    int touched = 0;
    double sum = 0.0;
    for (uint32_t i = 0; i < w.VertexCount; ++i) {
        EXPECT_EQ(w.Cells[i].Height, 0.0f);
        if (w.Cells[i].Velocity != 0.0f) ++touched;
        sum += w.Cells[i].Velocity;
    }
    EXPECT_EQ(touched, 9);
    EXPECT_EQ(sum, -strength);
}

TEST(WaterDrop, TakesTheColumnFromTheFirstRandAndTheRowFromTheSecond) {
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(6, 64.0f, true, 1.0f));
    const unsigned seed = SeedFor(40, 9, 64);
    ASSERT_NE(seed, 0u);
    srand(seed);
    w.Drop(1.0f);
    EXPECT_EQ(w.Cells[9 * 64 + 40].Velocity, -0.25f);
    EXPECT_EQ(w.Cells[9 * 64 + 41].Velocity, -0.125f);
    EXPECT_EQ(w.Cells[10 * 64 + 41].Velocity, -0.0625f);
    EXPECT_EQ(w.Cells[40 * 64 + 9].Velocity, 0.0f);
    // Drips add up.
    srand(seed);
    w.Drop(1.0f);
    EXPECT_EQ(w.Cells[9 * 64 + 40].Velocity, -0.5f);
}

TEST(WaterDrop, DropAtPlacesTheSameDripAtAGivenPointWithoutRand) {
    WATERCLASS random, placed;
    ASSERT_TRUE(random.Initialize(6, 64.0f, true, 1.0f));
    ASSERT_TRUE(placed.Initialize(6, 64.0f, true, 1.0f));
    const unsigned seed = SeedFor(63, 5, 64);
    ASSERT_NE(seed, 0u);
    srand(seed);
    random.Drop(1.25f);
    srand(seed);
    const int next = rand();
    srand(seed);
    // Coordinates are taken modulo the side, as the neighbours are.
    EXPECT_TRUE(placed.DropAt(63 + 64, 5, 1.25f));
    EXPECT_EQ(rand(), next);
    for (uint32_t i = 0; i < placed.VertexCount; ++i) {
        EXPECT_EQ(placed.Cells[i].Velocity, random.Cells[i].Velocity) << i;
    }
    WATERCLASS none;
    EXPECT_FALSE(none.DropAt(0, 0, 1.0f));
}
