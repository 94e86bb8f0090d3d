// scene_frames: writes a few frames of a running scene as PNG files, for
// looking at and for the documentation. Runs the scene headless at
// 1280 x 720 with 1/60-second steps over a painted desktop, with the shipped
// archive's images when it is given (or built), and saves a frame after the
// intro, one during a banner and one during a message card; then the next
// frame's water drawn by the renderer and by the processor side by side;
// then a 4K screen's reduced frame at half and at a quarter of each side.
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

#include "host/frame_stretch.h"
#include "host/frame_writer.h"
#include "resources/textures.h"
#include "scene_rig.h"
#include "view/desktop_capture.h"
#include "water/water_raster.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Rgb {
    float r, g, b;
};

Rgb Mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A desktop picture painted top row first: a dusk wallpaper with hills, a
// top bar, icons, two windows (one of text) and a dock; laid out for
// 1280 x 720 and painted `scale` times as large, its text as fine as at 1.
class Desktop {
public:
    explicit Desktop(int scale = 1)
        : scale_(scale),
          width_(kWidth * scale),
          height_(kHeight * scale),
          pixels_(static_cast<size_t>(width_) * height_) {
        const Rgb sky = {0.10f, 0.16f, 0.38f}, glow = {0.93f, 0.56f, 0.42f};
        for (int py = 0; py < height_; ++py) {
            const float y = static_cast<float>(py) / scale_;
            const float t = y / kHeight;
            for (int px = 0; px < width_; ++px) {
                const float x = static_cast<float>(px) / scale_;
                Rgb c = Mix(sky, glow, t * t);
                // Two ranges of rolling hills.
                const float far =
                    470.0f + 40.0f * std::sin(x * 0.006f) + 18.0f * std::sin(x * 0.021f);
                const float near = 560.0f + 35.0f * std::sin(x * 0.004f + 2.0f) +
                                   12.0f * std::sin(x * 0.017f + 1.0f);
                if (y > far) c = Mix(c, {0.32f, 0.18f, 0.38f}, 0.8f);
                if (y > near) c = Mix(c, {0.16f, 0.10f, 0.24f}, 0.9f);
                pixels_[static_cast<size_t>(py) * width_ + px] = c;
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
            Text(200, 150 + line * 22, len, 9, {0.25f, 0.27f, 0.32f});
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

    int width() const { return width_; }
    int height() const { return height_; }

    // The picture as RGBA bytes, the bottom row first (as a texture).
    std::vector<uint8_t> Rgba() const {
        std::vector<uint8_t> bytes(pixels_.size() * 4);
        auto byte = [](float v) {
            return static_cast<uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
        };
        for (int y = 0; y < height_; ++y) {
            const Rgb* row = &pixels_[static_cast<size_t>(height_ - 1 - y) * width_];
            uint8_t* out = &bytes[static_cast<size_t>(y) * width_ * 4];
            for (int x = 0; x < width_; ++x, out += 4) {
                out[0] = byte(row[x].r), out[1] = byte(row[x].g), out[2] = byte(row[x].b);
                out[3] = 0xFF;
            }
        }
        return bytes;
    }

private:
    // At pixels of the painted picture.
    void Blend(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        Rgb& p = pixels_[static_cast<size_t>(y) * width_ + x];
        p = Mix(p, c, a);
    }
    // The rest at the layout's.
    void Box(int x0, int y0, int w, int h, Rgb c, float a) {
        for (int y = y0 * scale_; y < (y0 + h) * scale_; ++y) {
            for (int x = x0 * scale_; x < (x0 + w) * scale_; ++x) Blend(x, y, c, a);
        }
    }
    void Disc(int cx, int cy, int r, Rgb c, float a) {
        cx *= scale_, cy *= scale_, r *= scale_;
        for (int y = cy - r; y <= cy + r; ++y) {
            for (int x = cx - r; x <= cx + r; ++x) {
                const float d = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
                Blend(x, y, c, a * std::clamp(r - d, 0.0f, 1.0f));
            }
        }
    }
    // A line of text: letters of strokes one pixel wide in cells 7 pixels
    // wide and up to 12 high, whatever the scale, and a space now and then.
    void Text(int x0, int y0, int w, int h, Rgb c) {
        const int right = (x0 + w) * scale_, bottom = (y0 + h) * scale_;
        const int tall = std::min(12, h * scale_);
        uint32_t seed = static_cast<uint32_t>(x0 * 31 + y0);
        for (int x = x0 * scale_; x + 7 <= right; x += 7) {
            seed = seed * 1664525u + 1013904223u;
            if ((seed >> 28) < 2) continue;
            const int top = bottom - ((seed >> 27 & 1u) != 0 ? tall : tall * 2 / 3);
            for (int y = top; y < bottom; ++y) {
                Blend(x, y, c, 0.9f);
                if ((seed >> 20 & 1u) != 0) Blend(x + 4, y, c, 0.9f);
            }
            for (int dx = 1; dx < 4; ++dx) {
                if ((seed >> 21 & 1u) != 0) Blend(x + dx, top, c, 0.9f);
                if ((seed >> 22 & 1u) != 0) Blend(x + dx, (top + bottom) / 2, c, 0.9f);
                if ((seed >> 23 & 1u) != 0) Blend(x + dx, bottom - 1, c, 0.9f);
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

    int scale_, width_, height_;
    std::vector<Rgb> pixels_;
};

// The view's desktop texture of `desktop` at `percent` of each side, and a
// copy of it as the processor's water samples it, into `texels`.
WaterPicture DesktopPicture(const Desktop& desktop, int percent, uint32_t* texture,
                            std::vector<uint32_t>* texels) {
    const std::vector<uint8_t> rgba = desktop.Rgba();
    UploadDesktopTexture(texture, rgba.data(), static_cast<uint32_t>(desktop.width()),
                         static_cast<uint32_t>(desktop.height()), percent);
    return CopyWaterPicture(*texture, texels);
}

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
    const Desktop desktop;
    const std::vector<uint8_t> rgba = desktop.Rgba();
    rig.scene.deskTexture = MakeTexture(kWidth, kHeight, [&rgba](int x, int y) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * kWidth + x) * 4];
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    });

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
    glDeleteTextures(1, &rig.scene.deskTexture);
    std::vector<uint32_t> picture;
    WaterFrame water;
    water.picture = DesktopPicture(desktop, 100, &rig.scene.deskTexture, &picture);
    std::vector<uint32_t> renderer(kWidth * kHeight), processor(kWidth * kHeight);
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

    // A 3840 x 2160 screen's reduced frame drawn at half of each side and at
    // a quarter (the water on the processor, each from the desktop texture
    // of its share), each stretched back over the screen as the window
    // presenter does: over a minute of frames at 30 a second, the PSNR of
    // each against every pixel drawn, and of the quarter's against the
    // half's; and the last frame's 640 x 720
    // pixels at (1400, 600) of each side by side at 1 : 1, the half's on the
    // left.
    constexpr int kScreenWidth = 3 * kWidth, kScreenHeight = 3 * kHeight;
    const Desktop screen(3);
    struct Share {
        int percent = 0, width = 0, height = 0;
        uint32_t texture = 0;
        std::vector<uint32_t> texels, frame, stretched;
        WaterFrame water;
    };
    Share shares[3];
    shares[0].percent = 50;
    shares[1].percent = 25;
    shares[2].percent = 100;  // every pixel, for comparison
    for (Share& share : shares) {
        share.width = kScreenWidth * share.percent / 100;
        share.height = kScreenHeight * share.percent / 100;
        share.water.picture = DesktopPicture(screen, share.percent, &share.texture, &share.texels);
        share.frame.resize(static_cast<size_t>(share.width) * share.height);
        share.stretched.resize(static_cast<size_t>(kScreenWidth) * kScreenHeight);
        share.water.pixels = share.frame.data();
        share.water.width = share.width;
        share.water.height = share.height;
        share.water.handOver = [] {};
    }
    // The squared differences of the quarter's, and of the half's, from
    // every pixel's; of the quarter's from the half's.
    double squares[3] = {};
    size_t channels = 0;
    for (int second = 0; second < 60; ++second) {
        rig.scene.waterFrame = nullptr;
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 4, 4);
        glViewport(0, 0, 4, 4);
        for (int i = 0; i < 30; ++i) rig.Frame(1.0 / 30.0);
        glDisable(GL_SCISSOR_TEST);
        const VECTOR3D lightNow = rig.scene.lightPos, targetNow = rig.scene.lightTarget;
        for (Share& share : shares) {
            rig.scene.lightPos = lightNow;
            rig.scene.lightTarget = targetNow;
            rig.scene.deskTexture = share.texture;
            rig.scene.waterFrame = &share.water;
            glViewport(0, 0, share.width, share.height);
            HostReshape(share.width, share.height);
            rig.scene.Draw();
            if (share.percent == 100) {
                for (int y = 0; y < kScreenHeight; ++y) {
                    std::copy_n(
                        &share.frame[static_cast<size_t>(kScreenHeight - 1 - y) * kScreenWidth],
                        kScreenWidth, &share.stretched[static_cast<size_t>(y) * kScreenWidth]);
                }
                continue;
            }
            (share.percent == 50 ? StretchTwice : StretchFourTimes)(
                share.frame.data(), share.width, share.height, share.stretched.data(), kScreenWidth,
                kScreenHeight, 0, kScreenHeight);
        }
        const auto difference = [](uint32_t a, uint32_t b) {
            double sum = 0.0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int d =
                    static_cast<int>(a >> shift & 0xFFu) - static_cast<int>(b >> shift & 0xFFu);
                sum += d * d;
            }
            return sum;
        };
        for (size_t i = 0; i < shares[0].stretched.size(); ++i) {
            squares[0] += difference(shares[1].stretched[i], shares[2].stretched[i]);
            squares[1] += difference(shares[0].stretched[i], shares[2].stretched[i]);
            squares[2] += difference(shares[1].stretched[i], shares[0].stretched[i]);
        }
        channels += 3 * shares[0].stretched.size();
    }
    const auto psnr = [channels](double sum) {
        const double mse = sum / static_cast<double>(channels);
        return 10.0 * std::log10(255.0 * 255.0 / std::max(mse, 1e-12));
    };
    std::printf(
        "3840 x 2160 over 60 s, PSNR against every pixel: a quarter %.1f dB, half %.1f dB; "
        "a quarter against half %.1f dB\n",
        psnr(squares[0]), psnr(squares[1]), psnr(squares[2]));
    // Bottom row first, as glDrawPixels takes them.
    for (int y = 0; y < kHeight; ++y) {
        const size_t from = static_cast<size_t>(600 + kHeight - 1 - y) * kScreenWidth + 1400;
        uint32_t* row = &renderer[static_cast<size_t>(y) * kWidth];
        std::copy_n(&shares[0].stretched[from], kWidth / 2, row);
        std::copy_n(&shares[1].stretched[from], kWidth / 2, row + kWidth / 2);
    }
    glViewport(0, 0, kWidth, kHeight);
    glWindowPos2i(0, 0);
    glDisable(GL_TEXTURE_2D);
    glDrawPixels(kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, renderer.data());
    writer.ReadFrame();
    const std::string shares4k = folder + "/reduced-frame-half-quarter.png";
    if (!writer.WritePng(shares4k, &error)) {
        std::fprintf(stderr, "scene_frames: cannot write %s\n", error.c_str());
        return 1;
    }
    std::printf("%s at %.2f s\n", shares4k.c_str(), rig.scene.totalTime);
    return 0;
}
