// Test rig for the scene driver: a headless context, the host's GL set-up
// and projection step (as the view does them), a scene driven by pairs of
// Update and Draw, and texture records made in the test the way the archive
// loader makes them.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "headless_gl.h"
#include "scene/scene.h"
#include "scene/settings.h"
#include "water/water.h"

// The factory settings, with a small grid unless a test asks for more.
inline SETTINGS TestSettings(int32_t shift = 4) { return SETTINGS{true, true, 100, shift, 250}; }

// The host's projection step: perspective 45°, the view's aspect ratio in
// single precision, near 1, far 100, identity model-view left current.
inline void HostReshape(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<float>(width) / static_cast<float>(height), 1.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The host's one-time GL set-up, ending with the projection step.
inline void HostInit(int width, int height) {
    glViewport(0, 0, width, height);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    HostReshape(width, height);
}

// An RGBA texture of w x h texels; texel(x, y) gives 0xRRGGBBAA, y = 0 is
// the first row uploaded (t = 0). Linear filtering, clamped at the edges.
inline GLuint MakeTexture(int w, int h, const std::function<uint32_t(int, int)>& texel) {
    std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t c = texel(x, y);
            uint8_t* p = &bytes[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(c >> 24);
            p[1] = static_cast<uint8_t>(c >> 16);
            p[2] = static_cast<uint8_t>(c >> 8);
            p[3] = static_cast<uint8_t>(c);
        }
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
    return name;
}

inline GLuint SolidTexture(uint32_t rgba) {
    return MakeTexture(4, 4, [rgba](int, int) { return rgba; });
}

// Replaces the scene's records with `count` records, record i holding a
// texture of colours[i] (0 leaves the record empty), as the loader does.
inline void InstallRecords(SSMAIN& scene, const std::vector<uint32_t>& colours) {
    delete[] scene.textures;
    scene.textures = new Texture[colours.size()];
    scene.textureCount = static_cast<int32_t>(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) {
        if (colours[i] != 0) scene.textures[i].glName = SolidTexture(colours[i]);
    }
}

// A headless view of the given pixel size with the host's GL state, and a
// scene set up for a view of sceneWidth x sceneHeight (the view's size
// unless given). The context outlives the scene.
struct SceneRig {
    HeadlessGL gl;
    SSMAIN scene;
    int viewWidth;
    int viewHeight;

    SceneRig(int w, int h) : gl(w, h), viewWidth(w), viewHeight(h) {
        if (gl.ok()) HostInit(w, h);
    }

    bool Setup(const SETTINGS& settings, bool preview = false, int sceneWidth = 0,
               int sceneHeight = 0) {
        return scene.Setup(preview, sceneWidth ? sceneWidth : viewWidth,
                           sceneHeight ? sceneHeight : viewHeight, &settings);
    }

    // One drawn tick of the host: Update, projection step, Draw.
    void Frame(double seconds) {
        scene.Update(seconds);
        HostReshape(viewWidth, viewHeight);
        scene.Draw();
    }
};

// Sum of the velocities of the whole grid, and the number of grid points
// whose velocity is not 0.
inline double VelocitySum(const SSMAIN& scene, int* moving = nullptr) {
    double sum = 0.0;
    int count = 0;
    for (uint32_t i = 0; i < scene.water->VertexCount; ++i) {
        sum += scene.water->Cells[i].Velocity;
        if (scene.water->Cells[i].Velocity != 0.0f) ++count;
    }
    if (moving) *moving = count;
    return sum;
}

// Brings the whole grid to rest.
inline void StillWater(SSMAIN& scene) {
    for (uint32_t i = 0; i < scene.water->VertexCount; ++i) scene.water->Cells[i] = {0.0f, 0.0f};
}
