// The state behind the Wayland port's handles, shared by its files.
// Private to src/platform/wayland/; relies on libwayland-client and the protocol
// code the build generates.
#pragma once

#include <wayland-client.h>

#include <functional>
#include <memory>
#include <vector>

#include "dpms-client.h"
#include "fractional-scale-v1-client.h"
#include "platform/wayland/wayland.h"
#include "viewporter-client.h"
#include "wlr-screencopy-unstable-v1-client.h"
// The layer-shell header names an argument `namespace`, which C++ reserves.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client.h"
#undef namespace
#include "xdg-output-unstable-v1-client.h"
#include "xdg-shell-client.h"

namespace platform {

struct WaylandConnection;

// One wl_output and what the compositor said about it.
struct OutputState {
    WaylandConnection* connection = nullptr;
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    WaylandOutput info;
    int modeWidth = 0;  // the current mode, device pixels
    int modeHeight = 0;
    bool hasLogical = false;  // xdg-output gave the logical rectangle
    bool complete = false;    // described at least once
    // Its power state as KWin tells it (wayland_output_power.cpp), and the
    // mode until its done.
    org_kde_kwin_dpms* dpms = nullptr;
    uint32_t dpmsMode = ORG_KDE_KWIN_DPMS_MODE_ON;
};

struct WaylandConnection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_keyboard* keyboard = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    xdg_wm_base* wmBase = nullptr;
    zxdg_output_manager_v1* outputManager = nullptr;
    zwlr_screencopy_manager_v1* screencopy = nullptr;
    wp_viewporter* viewporter = nullptr;
    wp_fractional_scale_manager_v1* fractionalScale = nullptr;
    org_kde_kwin_dpms_manager* dpmsManager = nullptr;
    uint32_t screencopyVersion = 0;
    std::vector<std::unique_ptr<OutputState>> outputs;
    std::vector<WaylandEvent> events;  // waiting for WaylandDispatch
    // The views on the connection (wayland_view.cpp), to find the output
    // a surface covers.
    std::vector<View*> views;
    // The pointer: the surface it is over and where it entered it.
    wl_surface* pointerSurface = nullptr;
    double enterX = 0.0;
    double enterY = 0.0;
    // EGL, made with the first view (wayland_view.cpp): an EGLDisplay,
    // EGLConfig and the first view's EGLContext, which the others share.
    // Where contexts need no configuration, also one without depth for a
    // reduced drawable (null otherwise).
    void* eglDisplay = nullptr;
    void* eglConfig = nullptr;
    void* eglFlatConfig = nullptr;
    void* eglShareContext = nullptr;
};

// How a view's buffer covers its surface: at the output's integer scale
// (the surface's buffer scale), or stretched by the compositor over the
// surface's logical size through a viewport, which takes a buffer of any
// size: one at the compositor's preferred fractional scale, or a reduced
// one (wayland_scale.cpp).
struct SurfaceScale {
    wl_surface* surface = nullptr;
    wp_viewport* viewport = nullptr;  // made when first needed
    wp_fractional_scale_v1* fractional = nullptr;
    int integer = 1;         // the output's scale
    uint32_t preferred = 0;  // the compositor's preferred scale in 120ths; 0: none yet
    // Called when the preferred scale changes.
    std::function<void()> changed;
};

// Sets up `scale` for a new `surface` on an output of integer scale
// `outputScale`: the fractional scale where the compositor offers it (with
// a viewport), else the buffer scale.
void StartSurfaceScale(WaylandConnection* connection, wl_surface* surface, int outputScale,
                       SurfaceScale* scale);
void EndSurfaceScale(SurfaceScale* scale);
// The buffer size that shows a surface of logicalWidth × logicalHeight in
// full detail.
void FullDetailSize(const SurfaceScale& scale, int logicalWidth, int logicalHeight, int* width,
                    int* height);
// Makes a buffer of width × height pixels cover the surface's
// logicalWidth × logicalHeight from its next commit. False when that needs
// a viewport and the compositor offers none.
bool CoverSurface(WaylandConnection* connection, SurfaceScale* scale, int logicalWidth,
                  int logicalHeight, int width, int height);

OutputState* FindOutput(WaylandConnection* connection, uint32_t id);

// Follows the power state of `output` where the compositor tells it,
// unless it is followed already (wayland_output_power.cpp).
void WatchOutputPower(WaylandConnection* connection, OutputState* output);
// Lets go of the output's power object.
void EndOutputPower(OutputState* output);

// Dispatches the compositor's events until `done` says so or `seconds`
// have passed. False when time ran out or the connection broke.
bool DispatchUntil(WaylandConnection* connection, double seconds,
                   const std::function<bool()>& done);
// Waits until the compositor has handled every request sent so far, at
// most `seconds`.
bool RoundTrip(WaylandConnection* connection, double seconds);

// The output `view` (one of the connection's views) covers
// (wayland_view.cpp).
uint32_t OutputOfView(const View* view);
// The output the view whose surface is `surface` covers; 0 for none
// (wayland_view.cpp).
uint32_t OutputOfSurface(const WaylandConnection* connection, const wl_surface* surface);
// Lets go of the EGL display (wayland_view.cpp).
void ReleaseWaylandEgl(WaylandConnection* connection);

}  // namespace platform
