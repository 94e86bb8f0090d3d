// ScaledFrame: an offscreen colour buffer smaller than the window, which the
// saver draws into and which is stretched over the window at each present.
// On a software renderer the cost of a frame follows its pixel count, so
// drawing at half the width and height and stretching costs far less than
// drawing every pixel. It has no depth buffer: the water is one height field
// seen from straight above, so almost no pixel of it hides another (frames
// drawn with and without depth are the same to the bit at every setting we
// compared; steep drips every tenth of a second change a pixel or two in
// fifty thousand), while testing and clearing depth costs a software
// renderer about a twentieth of the frame. Relies on OpenGL framebuffer
// objects (3.0, or ARB_framebuffer_object); everything is allocated at
// set-up and on resizes, nothing per frame.
#pragma once

#include <cstdint>

class ScaledFrame {
public:
    ScaledFrame() = default;
    ScaledFrame(const ScaledFrame&) = delete;
    ScaledFrame& operator=(const ScaledFrame&) = delete;

    // Whether the current context can draw offscreen and stretch.
    static bool Supported();

    // (Re)creates the buffers for a window of windowWidth × windowHeight:
    // the frame is `percent` of each side (at least 1 pixel). Needs the
    // view's context current. False, with nothing allocated, when the
    // renderer refuses the buffers.
    bool Create(int windowWidth, int windowHeight, int percent);
    // Frees the buffers; needs the view's context current. Safe to call
    // twice.
    void Destroy();
    bool active() const { return framebuffer_ != 0; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Directs drawing into the frame.
    void Bind() const;
    // Stretches the frame over the whole window and leaves the window's own
    // buffer bound for what is drawn on top (the frame rate) and the swap.
    // With topFirst, the frame's rows were made top first (an upload of
    // pixels in that order) and are turned back on the way.
    void Stretch(bool topFirst = false) const;
    // Reads the frame back into `pixels` (width() × height(), rows bottom
    // first, bytes B, G, R, A: the order the frame is kept in, so the
    // renderer only copies), and leaves the window's own buffer bound.
    void ReadPixels(uint32_t* pixels) const;
    // Replaces the frame's pixels with width() x height() pixels in the
    // order ReadPixels gives them.
    void Upload(const uint32_t* pixels) const;

private:
    uint32_t framebuffer_ = 0;
    uint32_t colour_ = 0;
    int width_ = 0;
    int height_ = 0;
    int windowWidth_ = 0;
    int windowHeight_ = 0;
};

// The size of a side drawn at `percent`, at least 1.
int ScaledSide(int side, int percent);

// The share of each side a software renderer draws of a view of width x
// height pixels: half, or a quarter where half would still be more than
// kMostReducedRows on its shorter side. A 4K screen then draws as many rows
// as a 1080p one, each covering as much of a screen of the same size, for a
// quarter of the cost of half.
inline constexpr int kMostReducedRows = 900;
int ReducedPercent(int width, int height);

// Whether `renderer` (GL_RENDERER) names a software rasterizer.
bool IsSoftwareRenderer(const char* renderer);
