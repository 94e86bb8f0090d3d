// How a Wayland view's buffer covers its surface: the output's integer
// buffer scale, or a viewport the compositor stretches the buffer through
// (to the compositor's preferred fractional scale, or from a reduced
// buffer). Relies on libwayland-client and the generated viewporter and
// fractional-scale code.
//
// Provides: StartSurfaceScale, EndSurfaceScale, FullDetailSize,
// CoverSurface.
#include <algorithm>
#include <cstdint>

#include "platform/wayland/wayland_internal.h"

namespace platform {

namespace {

// Fractional scales are in 120ths.
constexpr int64_t kScaleDenominator = 120;

void OnPreferredScale(void* data, wp_fractional_scale_v1*, uint32_t scale) {
    auto* s = static_cast<SurfaceScale*>(data);
    if (scale == 0 || scale == s->preferred) return;
    s->preferred = scale;
    if (s->changed) s->changed();
}

const wp_fractional_scale_v1_listener kFractionalListener = {OnPreferredScale};

// A logical length at `scale` 120ths, rounded half away from zero.
int Scaled(int length, uint32_t scale) {
    return static_cast<int>((static_cast<int64_t>(length) * scale + kScaleDenominator / 2) /
                            kScaleDenominator);
}

}  // namespace

void StartSurfaceScale(WaylandConnection* c, wl_surface* surface, int outputScale,
                       SurfaceScale* s) {
    s->surface = surface;
    s->integer = std::max(1, outputScale);
    if (c->fractionalScale != nullptr && c->viewporter != nullptr) {
        // The buffer scale stays 1: the viewport says the surface's size.
        s->viewport = wp_viewporter_get_viewport(c->viewporter, surface);
        s->fractional =
            wp_fractional_scale_manager_v1_get_fractional_scale(c->fractionalScale, surface);
        wp_fractional_scale_v1_add_listener(s->fractional, &kFractionalListener, s);
    } else if (wl_surface_get_version(surface) >= WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION) {
        wl_surface_set_buffer_scale(surface, s->integer);
    } else {
        s->integer = 1;
    }
}

void EndSurfaceScale(SurfaceScale* s) {
    if (s->fractional != nullptr) wp_fractional_scale_v1_destroy(s->fractional);
    if (s->viewport != nullptr) wp_viewport_destroy(s->viewport);
    s->fractional = nullptr;
    s->viewport = nullptr;
}

void FullDetailSize(const SurfaceScale& s, int logicalWidth, int logicalHeight, int* width,
                    int* height) {
    if (s.fractional != nullptr) {
        // Until the compositor says, the output's integer scale.
        const uint32_t scale =
            s.preferred != 0 ? s.preferred : static_cast<uint32_t>(s.integer * kScaleDenominator);
        *width = std::max(1, Scaled(logicalWidth, scale));
        *height = std::max(1, Scaled(logicalHeight, scale));
        return;
    }
    *width = logicalWidth * s.integer;
    *height = logicalHeight * s.integer;
}

bool CoverSurface(WaylandConnection* c, SurfaceScale* s, int logicalWidth, int logicalHeight,
                  int width, int height) {
    if (s->viewport == nullptr) {
        if (width == logicalWidth * s->integer && height == logicalHeight * s->integer) {
            return true;  // the buffer scale does it
        }
        if (c->viewporter == nullptr) return false;
        s->viewport = wp_viewporter_get_viewport(c->viewporter, s->surface);
        // From now on the viewport says the surface's size.
        if (s->integer != 1) wl_surface_set_buffer_scale(s->surface, 1);
    }
    wp_viewport_set_destination(s->viewport, logicalWidth, logicalHeight);
    return true;
}

}  // namespace platform
