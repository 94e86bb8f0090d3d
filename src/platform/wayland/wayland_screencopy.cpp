// An output's pixels through the compositor's screencopy: a shared-memory
// buffer the compositor copies the output into, turned upright on the
// desktop. Relies on libwayland-client, the generated screencopy code and
// memfd_create.
//
// Provides: CaptureWaylandOutput, WaylandHasScreencopy, OrientCapture.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "platform/wayland/wayland_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

// One capture in flight.
struct Capture {
    WaylandConnection* connection = nullptr;
    zwlr_screencopy_frame_v1* frame = nullptr;
    uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    bool offered = false;  // a shared-memory buffer was described
    bool copying = false;
    bool yInverted = false;
    bool ready = false;
    bool failed = false;
    wl_buffer* buffer = nullptr;
    void* pixels = MAP_FAILED;
    size_t size = 0;
    std::string error;

    ~Capture() {
        if (buffer != nullptr) wl_buffer_destroy(buffer);
        if (pixels != MAP_FAILED) munmap(pixels, size);
        if (frame != nullptr) zwlr_screencopy_frame_v1_destroy(frame);
    }
};

// Makes the buffer the compositor described and asks for the copy.
void StartCopy(Capture* k) {
    if (k->copying || k->failed) return;
    if (!k->offered || k->width <= 0 || k->height <= 0 || k->stride < 4 * k->width) {
        k->failed = true;
        k->error = _("the compositor offers no shared-memory buffer for it");
        return;
    }
    k->size = static_cast<size_t>(k->stride) * static_cast<size_t>(k->height);
    const int fd = memfd_create("mereglass-screencopy", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(k->size)) != 0) {
        if (fd >= 0) close(fd);
        k->failed = true;
        k->error = _("no shared memory for the copy");
        return;
    }
    k->pixels = mmap(nullptr, k->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (k->pixels == MAP_FAILED) {
        close(fd);
        k->failed = true;
        k->error = _("no shared memory for the copy");
        return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(k->connection->shm, fd, static_cast<int32_t>(k->size));
    k->buffer = wl_shm_pool_create_buffer(pool, 0, k->width, k->height, k->stride, k->format);
    wl_shm_pool_destroy(pool);
    close(fd);
    zwlr_screencopy_frame_v1_copy(k->frame, k->buffer);
    k->copying = true;
}

void OnBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
              uint32_t height, uint32_t stride) {
    auto* k = static_cast<Capture*>(data);
    k->format = format;
    k->width = static_cast<int>(width);
    k->height = static_cast<int>(height);
    k->stride = static_cast<int>(stride);
    k->offered = true;
    // Before version 3 the one buffer event is the whole description.
    if (k->connection->screencopyVersion < 3) StartCopy(k);
}

void OnFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<Capture*>(data)->yInverted = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void OnReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<Capture*>(data)->ready = true;
}

void OnFailed(void* data, zwlr_screencopy_frame_v1*) {
    auto* k = static_cast<Capture*>(data);
    k->failed = true;
    k->error = _("the compositor could not copy it");
}

void OnDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void OnDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
void OnBufferDone(void* data, zwlr_screencopy_frame_v1*) { StartCopy(static_cast<Capture*>(data)); }

const zwlr_screencopy_frame_v1_listener kFrameListener = {OnBuffer, OnFlags,  OnReady,     OnFailed,
                                                          OnDamage, OnDmabuf, OnBufferDone};

// Where the pixel at (x, y) of the upright picture (w × h) lies in the
// buffer the compositor made by turning it with `transform`: flipped
// about the vertical axis first (transforms 4 to 7), then turned by a
// quarter counter-clockwise per step.
void BufferPosition(int transform, int w, int h, int x, int y, int* bx, int* by) {
    if ((transform & 4) != 0) x = w - 1 - x;
    switch (transform & 3) {
        case 1:  // 90°: the picture's right edge becomes the buffer's top
            *bx = y;
            *by = w - 1 - x;
            break;
        case 2:
            *bx = w - 1 - x;
            *by = h - 1 - y;
            break;
        case 3:
            *bx = h - 1 - y;
            *by = x;
            break;
        default:
            *bx = x;
            *by = y;
            break;
    }
}

}  // namespace

bool OrientCapture(const uint8_t* data, int width, int height, int stride, uint32_t format,
                   bool yInverted, int transform, RgbaImage* image) {
    // Byte offsets of red, green and blue in a little-endian 32-bit pixel.
    int r = 0, b = 0;
    switch (format) {
        case WL_SHM_FORMAT_XRGB8888:
        case WL_SHM_FORMAT_ARGB8888:
            r = 2;
            b = 0;
            break;
        case WL_SHM_FORMAT_XBGR8888:
        case WL_SHM_FORMAT_ABGR8888:
            r = 0;
            b = 2;
            break;
        default:
            return false;
    }
    const bool turned = (transform & 1) != 0;
    const int w = turned ? height : width;
    const int h = turned ? width : height;
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    for (int y = 0; y < h; ++y) {
        // The image is bottom row first; y counts from the top.
        uint8_t* out = image->pixels.data() + static_cast<size_t>(h - 1 - y) * w * 4;
        for (int x = 0; x < w; ++x) {
            int bx = 0, by = 0;
            BufferPosition(transform & 7, w, h, x, y, &bx, &by);
            if (yInverted) by = height - 1 - by;
            const uint8_t* in =
                data + static_cast<size_t>(by) * stride + static_cast<size_t>(bx) * 4;
            out[x * 4 + 0] = in[r];
            out[x * 4 + 1] = in[1];
            out[x * 4 + 2] = in[b];
            out[x * 4 + 3] = 255;
        }
    }
    return true;
}

bool WaylandHasScreencopy(const WaylandConnection* connection) {
    return connection->screencopy != nullptr && connection->shm != nullptr;
}

bool CaptureWaylandOutput(WaylandConnection* connection, uint32_t output, double timeoutSeconds,
                          RgbaImage* image, std::string* error) {
    if (!WaylandHasScreencopy(connection)) {
        *error = _("the compositor offers no screencopy");
        return false;
    }
    OutputState* o = FindOutput(connection, output);
    if (o == nullptr) {
        *error = _("the output is gone");
        return false;
    }
    Capture k;
    k.connection = connection;
    k.frame = zwlr_screencopy_manager_v1_capture_output(connection->screencopy, 0, o->output);
    zwlr_screencopy_frame_v1_add_listener(k.frame, &kFrameListener, &k);
    if (!DispatchUntil(connection, timeoutSeconds, [&k] { return k.ready || k.failed; })) {
        *error = _("screencopy did not answer in time");
        return false;
    }
    if (k.failed) {
        *error = k.error;
        return false;
    }
    if (!OrientCapture(static_cast<const uint8_t*>(k.pixels), k.width, k.height, k.stride, k.format,
                       k.yInverted, o->info.transform, image)) {
        *error = _("the copy's pixel format is not one of 32-bit RGB");
        return false;
    }
    return true;
}

}  // namespace platform
