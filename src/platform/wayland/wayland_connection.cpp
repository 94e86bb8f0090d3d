// The connection to a Wayland compositor: its registry, the outputs with
// their names, logical rectangles, scale (wl_output, xdg-output) and power
// (wayland_output_power.cpp), the seat's keyboard and pointer, the
// compositor's scaling of buffers (viewporter, fractional scale), and
// dispatching with deadlines. Relies on libwayland-client and the
// generated protocol code.
//
// Provides: OpenWayland, CloseWayland, WaylandFd, WaylandHasLayerShell,
// WaylandOutputs, WaylandFlush, WaylandDispatch; FindOutput,
// DispatchUntil, RoundTrip.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/wayland/wayland_internal.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

// How long the connection waits for the compositor at start-up.
constexpr double kStartSeconds = 2.0;

void Emit(WaylandConnection* c, WaylandEventKind kind, uint32_t output) {
    WaylandEvent e;
    e.kind = kind;
    e.output = output;
    c->events.push_back(e);
}

// ---------------------------------------------------------------- outputs

// The logical rectangle when xdg-output gave none: the mode turned by the
// transform and divided by the scale, at the position wl_output gave.
void FillLogical(OutputState* o) {
    if (o->hasLogical) return;
    const bool turned = (o->info.transform & 1) != 0;
    const int scale = std::max(1, o->info.scale);
    o->info.width = (turned ? o->modeHeight : o->modeWidth) / scale;
    o->info.height = (turned ? o->modeWidth : o->modeHeight) / scale;
}

void OutputDescribed(OutputState* o) {
    FillLogical(o);
    if (o->info.width <= 0 || o->info.height <= 0) return;
    // xdg-output before version 3 ends its description with its own done;
    // the rectangle may come after wl_output's.
    if (o->connection->outputManager != nullptr && !o->hasLogical) return;
    if (!o->complete) {
        o->complete = true;
        Emit(o->connection, WaylandEventKind::OutputAdded, o->info.id);
    }
}

void OnGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                const char*, const char*, int32_t transform) {
    auto* o = static_cast<OutputState*>(data);
    if (!o->hasLogical) {
        o->info.x = x;
        o->info.y = y;
    }
    o->info.transform = transform;
}

void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto* o = static_cast<OutputState*>(data);
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        o->modeWidth = width;
        o->modeHeight = height;
    }
}

void OnOutputDone(void* data, wl_output*) { OutputDescribed(static_cast<OutputState*>(data)); }

void OnScale(void* data, wl_output*, int32_t factor) {
    static_cast<OutputState*>(data)->info.scale = std::max(1, factor);
}

// Up to version 3, which is what outputs are bound at most.
const wl_output_listener kOutputListener = {OnGeometry, OnMode,  OnOutputDone,
                                            OnScale,    nullptr, nullptr};

void OnLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* o = static_cast<OutputState*>(data);
    o->info.x = x;
    o->info.y = y;
}

void OnLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* o = static_cast<OutputState*>(data);
    o->info.width = width;
    o->info.height = height;
    o->hasLogical = width > 0 && height > 0;
}

void OnXdgDone(void* data, zxdg_output_v1*) { OutputDescribed(static_cast<OutputState*>(data)); }

void OnXdgName(void* data, zxdg_output_v1*, const char* name) {
    static_cast<OutputState*>(data)->info.name = name;
}

void OnXdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener = {OnLogicalPosition, OnLogicalSize, OnXdgDone,
                                                    OnXdgName, OnXdgDescription};

void WatchXdgOutput(WaylandConnection* c, OutputState* o) {
    if (c->outputManager == nullptr || o->xdgOutput != nullptr) return;
    o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(c->outputManager, o->output);
    zxdg_output_v1_add_listener(o->xdgOutput, &kXdgOutputListener, o);
}

void DestroyOutput(OutputState* o) {
    EndOutputPower(o);
    if (o->xdgOutput != nullptr) zxdg_output_v1_destroy(o->xdgOutput);
    if (wl_output_get_version(o->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(o->output);
    } else {
        wl_output_destroy(o->output);
    }
}

// ---------------------------------------------------------------- input

void OnPointerEnter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x,
                    wl_fixed_t y) {
    auto* c = static_cast<WaylandConnection*>(data);
    c->pointerSurface = surface;
    c->enterX = wl_fixed_to_double(x);
    c->enterY = wl_fixed_to_double(y);
}

void OnPointerLeave(void* data, wl_pointer*, uint32_t, wl_surface*) {
    static_cast<WaylandConnection*>(data)->pointerSurface = nullptr;
}

void OnPointerMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto* c = static_cast<WaylandConnection*>(data);
    const uint32_t output = OutputOfSurface(c, c->pointerSurface);
    if (output == 0) return;
    WaylandEvent e;
    e.kind = WaylandEventKind::PointerMoved;
    e.output = output;
    e.x = wl_fixed_to_double(x) - c->enterX;
    e.y = wl_fixed_to_double(y) - c->enterY;
    c->events.push_back(e);
}

void OnPointerButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
    auto* c = static_cast<WaylandConnection*>(data);
    if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
        Emit(c, WaylandEventKind::ButtonPressed, OutputOfSurface(c, c->pointerSurface));
    }
}

void OnPointerAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void OnPointerFrame(void*, wl_pointer*) {}
void OnPointerAxisSource(void*, wl_pointer*, uint32_t) {}
void OnPointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void OnPointerAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}

// Up to version 5 of wl_pointer, which is what the seat is bound at most.
const wl_pointer_listener kPointerListener = {
    OnPointerEnter, OnPointerLeave,      OnPointerMotion,   OnPointerButton,       OnPointerAxis,
    OnPointerFrame, OnPointerAxisSource, OnPointerAxisStop, OnPointerAxisDiscrete, nullptr};

void OnKeymap(void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); }
void OnKeyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void OnKeyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}

void OnKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t state) {
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
        Emit(static_cast<WaylandConnection*>(data), WaylandEventKind::KeyPressed, 0);
    }
}

void OnModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void OnRepeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_keyboard_listener kKeyboardListener = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave,
                                                OnKey,    OnModifiers,     OnRepeatInfo};

void OnCapabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* c = static_cast<WaylandConnection*>(data);
    const bool hasPointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    const bool hasKeyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (hasPointer && c->pointer == nullptr) {
        c->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(c->pointer, &kPointerListener, c);
    } else if (!hasPointer && c->pointer != nullptr) {
        wl_pointer_destroy(c->pointer);
        c->pointer = nullptr;
        c->pointerSurface = nullptr;
    }
    if (hasKeyboard && c->keyboard == nullptr) {
        c->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(c->keyboard, &kKeyboardListener, c);
    } else if (!hasKeyboard && c->keyboard != nullptr) {
        wl_keyboard_destroy(c->keyboard);
        c->keyboard = nullptr;
    }
}

void OnSeatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {OnCapabilities, OnSeatName};

void OnPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }

const xdg_wm_base_listener kWmBaseListener = {OnPing};

// ---------------------------------------------------------------- registry

template <typename T>
T* Bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered,
        uint32_t wanted) {
    return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* c = static_cast<WaylandConnection*>(data);
    const std::string_view i = interface;
    if (i == wl_compositor_interface.name) {
        c->compositor = Bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
    } else if (i == wl_shm_interface.name) {
        c->shm = Bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
    } else if (i == wl_seat_interface.name && c->seat == nullptr) {
        c->seat = Bind<wl_seat>(registry, name, &wl_seat_interface, version, 5);
        wl_seat_add_listener(c->seat, &kSeatListener, c);
    } else if (i == zwlr_layer_shell_v1_interface.name) {
        c->layerShell =
            Bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 3);
    } else if (i == xdg_wm_base_interface.name) {
        c->wmBase = Bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 1);
        xdg_wm_base_add_listener(c->wmBase, &kWmBaseListener, c);
    } else if (i == zxdg_output_manager_v1_interface.name) {
        c->outputManager = Bind<zxdg_output_manager_v1>(
            registry, name, &zxdg_output_manager_v1_interface, version, 3);
        for (auto& o : c->outputs) WatchXdgOutput(c, o.get());
    } else if (i == zwlr_screencopy_manager_v1_interface.name) {
        c->screencopyVersion = std::min(version, 3u);
        c->screencopy = Bind<zwlr_screencopy_manager_v1>(
            registry, name, &zwlr_screencopy_manager_v1_interface, version, 3);
    } else if (i == wp_viewporter_interface.name) {
        c->viewporter = Bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
    } else if (i == wp_fractional_scale_manager_v1_interface.name) {
        c->fractionalScale = Bind<wp_fractional_scale_manager_v1>(
            registry, name, &wp_fractional_scale_manager_v1_interface, version, 1);
    } else if (i == org_kde_kwin_dpms_manager_interface.name) {
        c->dpmsManager = Bind<org_kde_kwin_dpms_manager>(
            registry, name, &org_kde_kwin_dpms_manager_interface, version, 1);
        for (auto& o : c->outputs) WatchOutputPower(c, o.get());
    } else if (i == wl_output_interface.name) {
        auto o = std::make_unique<OutputState>();
        o->connection = c;
        o->info.id = name;
        o->output = Bind<wl_output>(registry, name, &wl_output_interface, version, 3);
        wl_output_add_listener(o->output, &kOutputListener, o.get());
        WatchXdgOutput(c, o.get());
        WatchOutputPower(c, o.get());
        c->outputs.push_back(std::move(o));
    }
}

void OnGlobalRemove(void* data, wl_registry*, uint32_t name) {
    auto* c = static_cast<WaylandConnection*>(data);
    for (auto it = c->outputs.begin(); it != c->outputs.end(); ++it) {
        if ((*it)->info.id != name) continue;
        if ((*it)->complete) Emit(c, WaylandEventKind::OutputRemoved, name);
        DestroyOutput(it->get());
        c->outputs.erase(it);
        return;
    }
}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// The reason a connection broke, for one line.
std::string BrokenReason(wl_display* display) {
    const int code = wl_display_get_error(display);
    if (code == EPROTO) return "the compositor ended the connection (a protocol error)";
    return std::string("the compositor has gone (") + std::strerror(code) + ")";
}

// Reads and dispatches what waits, waiting at most `timeoutMs` for it
// (0: not at all). False when the connection broke.
bool ReadAndDispatch(wl_display* display, int timeoutMs) {
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) return false;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    const int ready = poll(&fd, 1, timeoutMs);
    if (ready > 0) {
        if (wl_display_read_events(display) < 0) return false;
    } else {
        wl_display_cancel_read(display);
    }
    return wl_display_dispatch_pending(display) >= 0;
}

}  // namespace

OutputState* FindOutput(WaylandConnection* connection, uint32_t id) {
    for (auto& o : connection->outputs) {
        if (o->info.id == id) return o.get();
    }
    return nullptr;
}

bool DispatchUntil(WaylandConnection* connection, double seconds,
                   const std::function<bool()>& done) {
    const double deadline = ClockSeconds() + seconds;
    while (!done()) {
        const double left = deadline - ClockSeconds();
        if (left <= 0.0) return false;
        if (!ReadAndDispatch(connection->display, static_cast<int>(std::ceil(left * 1000.0)))) {
            return false;
        }
    }
    return true;
}

namespace {

void OnSyncDone(void* data, wl_callback* callback, uint32_t) {
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener kSyncListener = {OnSyncDone};

}  // namespace

bool RoundTrip(WaylandConnection* connection, double seconds) {
    bool done = false;
    wl_callback* callback = wl_display_sync(connection->display);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    if (DispatchUntil(connection, seconds, [&done] { return done; })) return true;
    // Unanswered: a destroyed callback's late answer is dropped.
    if (!done) wl_callback_destroy(callback);
    return false;
}

WaylandConnection* OpenWayland(const char* name, std::string* error) {
    const char* shown = name != nullptr ? name : std::getenv("WAYLAND_DISPLAY");
    wl_display* display = wl_display_connect(name);
    if (display == nullptr) {
        *error = Format(_("cannot connect to the Wayland display \"%s\""),
                        DisplayName(shown != nullptr ? shown : "").c_str());
        return nullptr;
    }
    auto* c = new WaylandConnection;
    c->display = display;
    c->registry = wl_display_get_registry(display);
    wl_registry_add_listener(c->registry, &kRegistryListener, c);
    // The globals, then what the outputs and the seat say about themselves.
    if (!RoundTrip(c, kStartSeconds) || !RoundTrip(c, kStartSeconds)) {
        *error = _("the Wayland compositor does not answer");
        CloseWayland(c);
        return nullptr;
    }
    if (c->compositor == nullptr || (c->layerShell == nullptr && c->wmBase == nullptr)) {
        *error =
            _("the Wayland compositor offers neither layer-shell surfaces nor toplevels "
              "(xdg_wm_base)");
        CloseWayland(c);
        return nullptr;
    }
    return c;
}

void CloseWayland(WaylandConnection* c) {
    if (c == nullptr) return;
    ReleaseWaylandEgl(c);
    for (auto& o : c->outputs) DestroyOutput(o.get());
    c->outputs.clear();
    if (c->pointer != nullptr) wl_pointer_destroy(c->pointer);
    if (c->keyboard != nullptr) wl_keyboard_destroy(c->keyboard);
    if (c->seat != nullptr) wl_seat_destroy(c->seat);
    if (c->screencopy != nullptr) zwlr_screencopy_manager_v1_destroy(c->screencopy);
    // KDE's DPMS manager has no destructor request: only the proxy goes.
    if (c->dpmsManager != nullptr) org_kde_kwin_dpms_manager_destroy(c->dpmsManager);
    if (c->outputManager != nullptr) zxdg_output_manager_v1_destroy(c->outputManager);
    if (c->fractionalScale != nullptr) wp_fractional_scale_manager_v1_destroy(c->fractionalScale);
    if (c->viewporter != nullptr) wp_viewporter_destroy(c->viewporter);
    if (c->wmBase != nullptr) xdg_wm_base_destroy(c->wmBase);
    if (c->layerShell != nullptr) zwlr_layer_shell_v1_destroy(c->layerShell);
    if (c->shm != nullptr) wl_shm_destroy(c->shm);
    if (c->compositor != nullptr) wl_compositor_destroy(c->compositor);
    wl_registry_destroy(c->registry);
    wl_display_flush(c->display);
    wl_display_disconnect(c->display);
    delete c;
}

int WaylandFd(const WaylandConnection* connection) {
    return wl_display_get_fd(connection->display);
}

bool WaylandHasLayerShell(const WaylandConnection* connection) {
    return connection->layerShell != nullptr;
}

std::vector<WaylandOutput> WaylandOutputs(const WaylandConnection* connection) {
    std::vector<WaylandOutput> out;
    for (const auto& o : connection->outputs) {
        if (o->complete) out.push_back(o->info);
    }
    return out;
}

bool WaylandFlush(WaylandConnection* connection) {
    return wl_display_flush(connection->display) >= 0 || errno == EAGAIN;
}

bool WaylandDispatch(WaylandConnection* connection, std::vector<WaylandEvent>* events,
                     std::string* error) {
    const bool ok =
        ReadAndDispatch(connection->display, 0) && wl_display_get_error(connection->display) == 0;
    events->insert(events->end(), connection->events.begin(), connection->events.end());
    connection->events.clear();
    if (!ok) *error = BrokenReason(connection->display);
    return ok;
}

}  // namespace platform
