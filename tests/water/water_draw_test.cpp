// Drawing the water: the strip's winding (from the index list and the mesh,
// no context needed) and real drawing on the headless context: seen from
// above the lit surface fills the view, from below culling hides it, the
// texture follows the texture coordinates, and the count of drawn indices.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include "headless_gl.h"
#include "water/water.h"

namespace {

struct Winding {
    uint32_t counterClockwise = 0;  // seen from +Y
    uint32_t clockwise = 0;
    uint32_t degenerate = 0;
};

// Walks the drawn part of the strip (IndexCount - 2 indices) as OpenGL
// does: every odd triangle has its first two corners swapped.
Winding StripWinding(const WATERCLASS& w) {
    Winding out;
    const uint32_t drawn = w.IndexCount - 2;
    for (uint32_t i = 0; i + 2 < drawn; ++i) {
        uint32_t a = w.Indices[i], b = w.Indices[i + 1];
        const uint32_t c = w.Indices[i + 2];
        if (i & 1) std::swap(a, b);
        const VECTOR3D pa = w.Vertices[a].Position, pb = w.Vertices[b].Position,
                       pc = w.Vertices[c].Position;
        // Y of (b - a) x (c - a), in double: exact for these coordinates.
        const double y = (double(pb.z) - pa.z) * (double(pc.x) - pa.x) -
                         (double(pb.x) - pa.x) * (double(pc.z) - pa.z);
        if (y > 0) {
            ++out.counterClockwise;
        } else if (y < 0) {
            ++out.clockwise;
        } else {
            ++out.degenerate;
        }
    }
    return out;
}

void LookAtWater(double eyeY, double upZ) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-30.0, 30.0, -30.0, 30.0, 1.0, 200.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0.0, eyeY, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, upZ);
}

// A directional light along world +Y; call after the view is set up.
void LightFromAbove() {
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat direction[] = {0.0f, 1.0f, 0.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
}

int CountPixels(const HeadlessGL& gl, const std::vector<uint8_t>& pixels, uint32_t rgba) {
    int count = 0;
    for (int y = 0; y < gl.height(); ++y) {
        for (int x = 0; x < gl.width(); ++x) count += gl.PixelAt(pixels, x, y) == rgba;
    }
    return count;
}

}  // namespace

TEST(WaterStrip, EveryGridSquareGivesTwoCounterClockwiseTriangles) {
    for (uint16_t shift = 4; shift <= 8; ++shift) {
        WATERCLASS w;
        ASSERT_TRUE(w.Initialize(shift, 64.0f, true, 1.0f));
        // Before the first step every position is 0: nothing but degenerates.
        const Winding before = StripWinding(w);
        EXPECT_EQ(before.counterClockwise + before.clockwise, 0u);
        VECTOR3D eye = {0.0f, 40.0f, 0.0f};
        w.Update(eye, 1.0 / 60.0);
        const uint32_t n = 1u << shift;
        const Winding after = StripWinding(w);
        EXPECT_EQ(after.counterClockwise, 2 * (n - 1) * (n - 1)) << n;
        EXPECT_EQ(after.clockwise, 0u) << n;
        EXPECT_EQ(after.counterClockwise + after.degenerate, w.IndexCount - 4);
        if (shift == 6) {
            EXPECT_EQ(after.counterClockwise, 7938u);
        }
        // The first triangle: grid points (0,0), (0,1), (1,0).
        EXPECT_EQ(w.Indices[0], 0);
        EXPECT_EQ(w.Indices[1], n);
        EXPECT_EQ(w.Indices[2], 1);
    }
}

TEST(WaterDraw, DrawsNothingBeforeInitialize) {
    HeadlessGL gl(8, 8);
    ASSERT_TRUE(gl.ok()) << gl.error();
    WATERCLASS w;
    EXPECT_FALSE(w.DrawSurface());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
}

TEST(WaterDraw, LitFlatFieldFillsTheViewFromAboveAndIsCulledFromBelow) {
    HeadlessGL gl(48, 48);
    ASSERT_TRUE(gl.ok()) << gl.error();
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(4, 64.0f, true, 1.0f));
    VECTOR3D eye = {0.0f, 100.0f, 0.0f};
    w.Update(eye, 1.0 / 60.0);

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glColor4f(1.0f, 0.5f, 0.25f, 1.0f);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    LookAtWater(100.0, -1.0);
    LightFromAbove();
    EXPECT_TRUE(w.DrawSurface());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    auto pixels = gl.ReadPixels();
    // Ambient 0.2 plus full diffuse light: 1.2 times the colour.
    const uint32_t lit = gl.PixelAt(pixels, 24, 24);
    EXPECT_EQ(lit >> 24, 0xFFu);
    EXPECT_NEAR(static_cast<int>((lit >> 16) & 0xFF), 153, 2);
    EXPECT_EQ(CountPixels(gl, pixels, lit), 48 * 48);

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    LookAtWater(-100.0, 1.0);
    w.DrawSurface();
    pixels = gl.ReadPixels();
    EXPECT_EQ(CountPixels(gl, pixels, 0x000000FFu), 48 * 48);

    // The same view without culling does see the surface.
    glDisable(GL_CULL_FACE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    w.DrawSurface();
    pixels = gl.ReadPixels();
    EXPECT_EQ(CountPixels(gl, pixels, 0x000000FFu), 0);
}

TEST(WaterDraw, TextureFollowsTheTextureCoordinates) {
    HeadlessGL gl(32, 32);
    ASSERT_TRUE(gl.ok()) << gl.error();
    WATERCLASS w;
    ASSERT_TRUE(w.Initialize(5, 64.0f, false, 1.0f));
    VECTOR3D eye = {0.0f, 100.0f, 0.0f};
    w.Update(eye, 0.0);  // bowl off at level 0: sampled straight below

    // Left half red, right half blue; s runs along +X.
    const uint8_t texels[2 * 4] = {255, 0, 0, 255, 0, 0, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    LookAtWater(100.0, -1.0);
    w.DrawSurface();
    const auto pixels = gl.ReadPixels();
    glDeleteTextures(1, &texture);
    for (int y = 0; y < 32; y += 5) {
        EXPECT_EQ(gl.PixelAt(pixels, 2, y), 0xFF0000FFu) << y;
        EXPECT_EQ(gl.PixelAt(pixels, 13, y), 0xFF0000FFu) << y;
        EXPECT_EQ(gl.PixelAt(pixels, 18, y), 0x0000FFFFu) << y;
        EXPECT_EQ(gl.PixelAt(pixels, 29, y), 0x0000FFFFu) << y;
    }
}

TEST(WaterDraw, DrawsAllButTheLastTwoIndicesFromTheVertexRecords) {
    HeadlessGL gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    struct Case {
        uint16_t shift;
        GLuint indices;
    } cases[] = {{4, 510}, {6, 8190}, {8, 131070}};
    for (const Case& c : cases) {
        WATERCLASS w;
        ASSERT_TRUE(w.Initialize(c.shift, 64.0f, true, 1.0f));
        VECTOR3D eye = {0.0f, 40.0f, 0.0f};
        w.Update(eye, 1.0 / 60.0);
        GLuint query = 0;
        glGenQueries(1, &query);
        glBeginQuery(GL_PRIMITIVES_GENERATED, query);
        w.DrawSurface();
        glEndQuery(GL_PRIMITIVES_GENERATED);
        GLuint triangles = 0;
        glGetQueryObjectuiv(query, GL_QUERY_RESULT, &triangles);
        glDeleteQueries(1, &query);
        EXPECT_EQ(triangles + 2, c.indices) << c.shift;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

        // The arrays stay enabled and point into the vertex records.
        EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
        EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
        GLvoid* pointer = nullptr;
        glGetPointerv(GL_VERTEX_ARRAY_POINTER, &pointer);
        EXPECT_EQ(pointer, &w.Vertices[0].Position);
        glGetPointerv(GL_NORMAL_ARRAY_POINTER, &pointer);
        EXPECT_EQ(pointer, &w.Vertices[0].Normal);
        glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &pointer);
        EXPECT_EQ(pointer, &w.Vertices[0].TexCoord);
        GLint stride = 0;
        glGetIntegerv(GL_NORMAL_ARRAY_STRIDE, &stride);
        EXPECT_EQ(stride, static_cast<GLint>(sizeof(WATERVERTEX)));
    }
}
