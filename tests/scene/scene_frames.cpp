// scene_frames: writes a few frames of a running scene as PNG files, for
// looking at and for the documentation. Runs the scene headless at
// 1280 x 720 with 1/60-second steps over a painted desktop, with the shipped
// archive's images when it is given (or built), and saves a frame after the
// intro, one during a banner and one during a message card; then the next
// frame's water drawn by the renderer and by the processor side by side.
//
//   scene_frames OUTPUT-FOLDER [ARCHIVE]
//
// Not a test: nothing runs it but a developer.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/frame_writer.h"
#include "resources/textures.h"
#include "scene_rig.h"
#include "view/desktop_capture.h"
#include "water/water_raster.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
// The desktop texture's width (its height is half): the sides rounded to
// powers of two, as the view makes them.
constexpr uint32_t kTextureSide = 1024;

struct Rgb {
    float r, g, b;
};

Rgb Mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A desktop picture painted top row first: a dusk wallpaper with hills, a
// top bar, icons, two windows and a dock.
class Desktop {
public:
    Desktop() : pixels_(static_cast<size_t>(kWidth) * kHeight) {
        const Rgb sky = {0.10f, 0.16f, 0.38f}, glow = {0.93f, 0.56f, 0.42f};
        for (int y = 0; y < kHeight; ++y) {
            const float t = static_cast<float>(y) / kHeight;
            for (int x = 0; x < kWidth; ++x) {
                Rgb c = Mix(sky, glow, t * t);
                // Two ranges of rolling hills.
                const float far =
                    470.0f + 40.0f * std::sin(x * 0.006f) + 18.0f * std::sin(x * 0.021f);
                const float near = 560.0f + 35.0f * std::sin(x * 0.004f + 2.0f) +
                                   12.0f * std::sin(x * 0.017f + 1.0f);
                if (y > far) c = Mix(c, {0.32f, 0.18f, 0.38f}, 0.8f);
                if (y > near) c = Mix(c, {0.16f, 0.10f, 0.24f}, 0.9f);
                Set(x, y, c);
            }
        }
        // The sun.
        Disc(980, 420, 70, {1.0f, 0.85f, 0.55f}, 0.9f);
        // Top bar with a clock and a few status marks.
        Box(0, 0, kWidth, 26, {0.12f, 0.12f, 0.14f}, 0.92f);
        Box(600, 8, 80, 10, {0.85f, 0.85f, 0.88f}, 1.0f);
        for (int i = 0; i < 4; ++i) Box(1160 + i * 26, 7, 16, 12, {0.7f, 0.75f, 0.8f}, 1.0f);
        Box(14, 7, 60, 12, {0.85f, 0.85f, 0.88f}, 1.0f);
        // Desktop icons with their labels.
        const Rgb icons[] = {{0.30f, 0.62f, 0.93f},
                             {0.95f, 0.75f, 0.25f},
                             {0.45f, 0.80f, 0.45f},
                             {0.85f, 0.35f, 0.40f}};
        for (int i = 0; i < 4; ++i) {
            Box(34, 62 + i * 96, 52, 52, icons[i], 1.0f);
            Box(40, 68 + i * 96, 40, 14, {1.0f, 1.0f, 1.0f}, 0.35f);
            Box(28, 122 + i * 96, 64, 8, {0.95f, 0.95f, 0.95f}, 0.9f);
        }
        // A text window.
        Window(170, 90, 600, 400, {0.30f, 0.45f, 0.75f});
        for (int line = 0; line < 14; ++line) {
            const int len = 320 + ((line * 137) % 200);
            Box(200, 150 + line * 22, len, 9, {0.25f, 0.27f, 0.32f}, 0.85f);
        }
        // A picture window over it.
        Window(640, 230, 520, 360, {0.55f, 0.30f, 0.60f});
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 4; ++col) {
                const float h = static_cast<float>(row * 4 + col) / 12.0f;
                const Rgb c = {0.5f + 0.5f * std::sin(6.28f * h),
                               0.5f + 0.5f * std::sin(6.28f * h + 2.1f),
                               0.5f + 0.5f * std::sin(6.28f * h + 4.2f)};
                Box(662 + col * 122, 282 + row * 98, 110, 86, c, 1.0f);
            }
        }
        // The dock.
        Box(420, 658, 440, 54, {0.9f, 0.92f, 0.95f}, 0.35f);
        for (int i = 0; i < 7; ++i) Box(436 + i * 60, 666, 44, 38, icons[i % 4], 1.0f);
    }

    // The picture as a texture: the bottom row goes first (t = 0).
    GLuint Upload() const {
        return MakeTexture(kWidth, kHeight, [this](int x, int y) {
            const Rgb c = pixels_[static_cast<size_t>(kHeight - 1 - y) * kWidth + x];
            auto byte = [](float v) {
                return static_cast<uint32_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
            };
            return (byte(c.r) << 24) | (byte(c.g) << 16) | (byte(c.b) << 8) | 0xFFu;
        });
    }

private:
    void Set(int x, int y, Rgb c) { pixels_[static_cast<size_t>(y) * kWidth + x] = c; }
    void Blend(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        Rgb& p = pixels_[static_cast<size_t>(y) * kWidth + x];
        p = Mix(p, c, a);
    }
    void Box(int x0, int y0, int w, int h, Rgb c, float a) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) Blend(x, y, c, a);
        }
    }
    void Disc(int cx, int cy, int r, Rgb c, float a) {
        for (int y = cy - r; y <= cy + r; ++y) {
            for (int x = cx - r; x <= cx + r; ++x) {
                const float d = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
                Blend(x, y, c, a * std::clamp(r - d, 0.0f, 1.0f));
            }
        }
    }
    void Window(int x, int y, int w, int h, Rgb title) {
        Box(x + 8, y + 10, w, h, {0.0f, 0.0f, 0.0f}, 0.35f);  // shadow
        Box(x, y, w, h, {0.94f, 0.94f, 0.96f}, 1.0f);
        Box(x, y, w, 30, title, 1.0f);
        const Rgb buttons[] = {{0.95f, 0.38f, 0.35f}, {0.98f, 0.76f, 0.25f}, {0.35f, 0.80f, 0.40f}};
        for (int i = 0; i < 3; ++i) Disc(x + 18 + i * 22, y + 15, 7, buttons[i], 1.0f);
        Box(x + w / 2 - 70, y + 11, 140, 8, {1.0f, 1.0f, 1.0f}, 0.8f);
    }

    std::vector<Rgb> pixels_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scene_frames OUTPUT-FOLDER [ARCHIVE]\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::string archive = argc > 2 ? argv[2] : "";
#ifdef MEREGLASS_FRAMES_ARCHIVE
    if (archive.empty()) archive = MEREGLASS_FRAMES_ARCHIVE;
#endif

    std::srand(20261208);
    SceneRig rig(kWidth, kHeight);
    if (!rig.gl.ok()) {
        std::fprintf(stderr, "scene_frames: no OpenGL context: %s\n", rig.gl.error().c_str());
        return 1;
    }
    SETTINGS settings = TestSettings(6);  // the factory settings
    if (!rig.Setup(settings)) {
        std::fprintf(stderr, "scene_frames: the scene could not be set up\n");
        return 1;
    }
    if (!archive.empty() &&
        !LoadTexturesFromDataFile(archive.c_str(), &rig.scene.textures, &rig.scene.textureCount)) {
        std::fprintf(stderr, "scene_frames: %s did not load; drawing without its images\n",
                     archive.c_str());
    }
    rig.scene.deskTexture = Desktop().Upload();

    // Seconds at which a frame is saved, and its name.
    const struct {
        double at;
        const char* name;
    } shots[] = {{14.5, "scene-water.png"}, {24.0, "scene-banner.png"}, {41.2, "scene-card.png"}};
    constexpr double kStep = 1.0 / 60.0;
    FrameWriter writer(kWidth, kHeight);
    int frame = 0;
    for (const auto& shot : shots) {
        // Frames in between only advance the scene: they draw into a tiny
        // corner of the surface.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 4, 4);
        glViewport(0, 0, 4, 4);
        while ((frame + 1) * kStep < shot.at) {
            rig.Frame(kStep);
            ++frame;
        }
        glDisable(GL_SCISSOR_TEST);
        glViewport(0, 0, kWidth, kHeight);
        rig.Frame(kStep);
        ++frame;
        const std::string path = folder + "/" + shot.name;
        glFinish();
        writer.ReadFrame();
        std::string error;
        if (!writer.WritePng(path, &error)) {
            std::fprintf(stderr, "scene_frames: cannot write %s\n", error.c_str());
            return 1;
        }
        std::printf("%s at %.2f s\n", path.c_str(), rig.scene.totalTime);
    }

    // The next frame's water drawn by the renderer and by the processor
    // (as a reduced frame on a software renderer draws it), the middle half
    // of each side by side at 1 : 1, the renderer's on the left.
    // The desktop texture as the view makes it: sides rounded to powers of
    // two, repeating.
    std::vector<uint8_t> rgba(static_cast<size_t>(kWidth) * kHeight * 4);
    glBindTexture(GL_TEXTURE_2D, rig.scene.deskTexture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    uint32_t desk = 0;
    UploadDesktopTexture(&desk, rgba.data(), kWidth, kHeight, 100);
    glDeleteTextures(1, &rig.scene.deskTexture);
    rig.scene.deskTexture = desk;
    std::vector<uint32_t> picture(static_cast<size_t>(kTextureSide + 1) * kTextureSide / 2);
    glBindTexture(GL_TEXTURE_2D, rig.scene.deskTexture);
    glPixelStorei(GL_PACK_ROW_LENGTH, kTextureSide + 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, picture.data());
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    RepeatFirstTexels(picture.data(), kTextureSide, kTextureSide / 2);
    std::vector<uint32_t> renderer(kWidth * kHeight), processor(kWidth * kHeight);
    WaterFrame water;
    water.picture = {picture.data(), kTextureSide, kTextureSide / 2};
    water.pixels = processor.data();
    water.width = kWidth;
    water.height = kHeight;
    water.handOver = [] {};
    rig.scene.Update(kStep);
    const VECTOR3D light = rig.scene.lightPos, target = rig.scene.lightTarget;
    for (WaterFrame* frameOf : {static_cast<WaterFrame*>(nullptr), &water}) {
        rig.scene.lightPos = light;
        rig.scene.lightTarget = target;
        rig.scene.waterFrame = frameOf;
        rig.scene.preview = true;
        rig.scene.cardAlpha = 0.0f;  // the water undimmed
        HostReshape(kWidth, kHeight);
        rig.scene.Draw();
        if (frameOf == nullptr) {
            glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, renderer.data());
        }
    }
    for (int y = 0; y < kHeight; ++y) {
        uint32_t* row = &renderer[static_cast<size_t>(y) * kWidth];
        std::copy_n(row + kWidth / 4, kWidth / 2, row);
        std::copy_n(&processor[static_cast<size_t>(y) * kWidth + kWidth / 4], kWidth / 2,
                    row + kWidth / 2);
    }
    glWindowPos2i(0, 0);
    glDisable(GL_TEXTURE_2D);
    glDrawPixels(kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, renderer.data());
    writer.ReadFrame();
    std::string error;
    const std::string path = folder + "/water-renderer-processor.png";
    if (!writer.WritePng(path, &error)) {
        std::fprintf(stderr, "scene_frames: cannot write %s\n", error.c_str());
        return 1;
    }
    std::printf("%s at %.2f s\n", path.c_str(), rig.scene.totalTime);
    return 0;
}
