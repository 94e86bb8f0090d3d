// The idle session's part on a Wayland compositor: a connection of its
// own that asks for a notification after the idle time, through
// ext_idle_notifier_v1, else KDE's older org_kde_kwin_idle. Compositors
// apply their idle inhibitors to both: a notification never comes while a
// visible surface holds one. Relies on libwayland-client and the protocol
// code the build generates.
//
// Provides: OpenIdleWayland, CloseIdleWayland, IdleWaylandKind,
// IdleWaylandFd, SetIdleWaylandTime, WaylandDisplayListens,
// WaylandInputInhibited, DispatchIdleWayland.
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ext-idle-notify-v1-client.h"
#include "idle-client.h"
#include "platform/idle_internal.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "wlr-input-inhibitor-unstable-v1-client.h"

namespace platform {

struct IdleWayland {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* notifier = nullptr;
    ext_idle_notification_v1* notification = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout = nullptr;
    std::vector<IdleEvent> events;  // heard, not yet handed out
    bool idle = false;              // idled told, resumed not yet
    uint32_t pending = 0;           // a new idle time for after the resumed event
};

namespace {

void Push(IdleWayland* w, IdleEventKind kind) {
    IdleEvent e;
    e.kind = kind;
    w->events.push_back(e);
}

void Notify(IdleWayland* w, uint32_t idleMilliseconds);

void Idled(IdleWayland* w) {
    w->idle = true;
    Push(w, IdleEventKind::Idle);
}

void Resumed(IdleWayland* w) {
    w->idle = false;
    Push(w, IdleEventKind::Active);
    if (w->pending != 0) Notify(w, w->pending);
    w->pending = 0;
}

void OnIdled(void* data, ext_idle_notification_v1*) { Idled(static_cast<IdleWayland*>(data)); }
void OnResumed(void* data, ext_idle_notification_v1*) { Resumed(static_cast<IdleWayland*>(data)); }
const ext_idle_notification_v1_listener kNotificationListener = {OnIdled, OnResumed};

void OnKdeIdle(void* data, org_kde_kwin_idle_timeout*) { Idled(static_cast<IdleWayland*>(data)); }
void OnKdeResumed(void* data, org_kde_kwin_idle_timeout*) {
    Resumed(static_cast<IdleWayland*>(data));
}
const org_kde_kwin_idle_timeout_listener kTimeoutListener = {OnKdeIdle, OnKdeResumed};

// Asks (again) for a notification after `idleMilliseconds`, through the
// protocol the connection has; the one before, if any, is dropped.
void Notify(IdleWayland* w, uint32_t idleMilliseconds) {
    if (w->notifier != nullptr) {
        if (w->notification != nullptr) ext_idle_notification_v1_destroy(w->notification);
        w->notification =
            ext_idle_notifier_v1_get_idle_notification(w->notifier, idleMilliseconds, w->seat);
        ext_idle_notification_v1_add_listener(w->notification, &kNotificationListener, w);
    } else {
        if (w->kdeTimeout != nullptr) org_kde_kwin_idle_timeout_release(w->kdeTimeout);
        w->kdeTimeout = org_kde_kwin_idle_get_idle_timeout(w->kdeIdle, w->seat, idleMilliseconds);
        org_kde_kwin_idle_timeout_add_listener(w->kdeTimeout, &kTimeoutListener, w);
    }
}

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* w = static_cast<IdleWayland*>(data);
    const std::string_view i = interface;
    if (i == wl_seat_interface.name && w->seat == nullptr) {
        w->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (i == ext_idle_notifier_v1_interface.name) {
        w->notifier = static_cast<ext_idle_notifier_v1*>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (i == org_kde_kwin_idle_interface.name) {
        w->kdeIdle = static_cast<org_kde_kwin_idle*>(
            wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

std::string Broken(wl_display* display) {
    const int code = wl_display_get_error(display);
    if (code == EPROTO) return "the Wayland compositor ended the connection (a protocol error)";
    return std::string("the Wayland compositor has gone (") + std::strerror(code) + ")";
}

}  // namespace

IdleWayland* OpenIdleWayland(uint32_t idleMilliseconds, std::string* error) {
    auto* w = new IdleWayland;
    w->display = wl_display_connect(nullptr);
    if (w->display == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        *error = Format(_("cannot connect to the Wayland display \"%s\""),
                        DisplayName(name != nullptr ? name : "").c_str());
        CloseIdleWayland(w);
        return nullptr;
    }
    w->registry = wl_display_get_registry(w->display);
    wl_registry_add_listener(w->registry, &kRegistryListener, w);
    if (wl_display_roundtrip(w->display) < 0) {
        *error = Broken(w->display);
        CloseIdleWayland(w);
        return nullptr;
    }
    if (w->seat != nullptr && (w->notifier != nullptr || w->kdeIdle != nullptr)) {
        Notify(w, idleMilliseconds);
    } else {
        *error = w->seat == nullptr ? _("the Wayland compositor has no seat to watch")
                                    : _("the Wayland compositor offers no idle notifications "
                                        "(ext_idle_notifier_v1 or org_kde_kwin_idle)");
        CloseIdleWayland(w);
        return nullptr;
    }
    if (wl_display_flush(w->display) < 0 && errno != EAGAIN) {
        *error = Broken(w->display);
        CloseIdleWayland(w);
        return nullptr;
    }
    return w;
}

void CloseIdleWayland(IdleWayland* w) {
    if (w == nullptr) return;
    if (w->display != nullptr) {
        if (w->notification != nullptr) ext_idle_notification_v1_destroy(w->notification);
        if (w->notifier != nullptr) ext_idle_notifier_v1_destroy(w->notifier);
        if (w->kdeTimeout != nullptr) org_kde_kwin_idle_timeout_release(w->kdeTimeout);
        if (w->kdeIdle != nullptr) org_kde_kwin_idle_destroy(w->kdeIdle);
        if (w->seat != nullptr) wl_seat_destroy(w->seat);
        if (w->registry != nullptr) wl_registry_destroy(w->registry);
        wl_display_flush(w->display);
        wl_display_disconnect(w->display);
    }
    delete w;
}

IdleSourceKind IdleWaylandKind(const IdleWayland* w) {
    return w->notification != nullptr ? IdleSourceKind::ExtIdleNotifier : IdleSourceKind::KdeIdle;
}

int IdleWaylandFd(const IdleWayland* w) { return wl_display_get_fd(w->display); }

bool WaylandDisplayListens() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return false;
    wl_display_disconnect(display);
    return true;
}

bool WaylandInputInhibited() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return false;
    zwlr_input_inhibit_manager_v1* manager = nullptr;
    const wl_registry_listener listener = {
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            if (std::string_view(interface) == zwlr_input_inhibit_manager_v1_interface.name) {
                *static_cast<zwlr_input_inhibit_manager_v1**>(data) =
                    static_cast<zwlr_input_inhibit_manager_v1*>(wl_registry_bind(
                        registry, name, &zwlr_input_inhibit_manager_v1_interface, 1));
            }
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &manager);
    bool inhibited = false;
    if (wl_display_roundtrip(display) >= 0 && manager != nullptr) {
        // Refused with a protocol error while another client holds one.
        zwlr_input_inhibitor_v1* inhibitor = zwlr_input_inhibit_manager_v1_get_inhibitor(manager);
        inhibited = wl_display_roundtrip(display) < 0 && wl_display_get_error(display) == EPROTO;
        zwlr_input_inhibitor_v1_destroy(inhibitor);
        wl_display_flush(display);
    }
    if (manager != nullptr) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return inhibited;
}

void SetIdleWaylandTime(IdleWayland* w, uint32_t idleMilliseconds) {
    // While idle, a new notification would never tell of the return: the
    // new time waits for it.
    if (w->idle) {
        w->pending = idleMilliseconds;
        return;
    }
    Notify(w, idleMilliseconds);
    wl_display_flush(w->display);
}

bool DispatchIdleWayland(IdleWayland* w, std::vector<IdleEvent>* events, std::string* error) {
    bool ok = true;
    while (wl_display_prepare_read(w->display) != 0) {
        if (wl_display_dispatch_pending(w->display) < 0) ok = false;
        if (!ok) break;
    }
    if (ok) {
        // Reads only what waits: the caller polled the socket.
        pollfd fd{wl_display_get_fd(w->display), POLLIN, 0};
        if (poll(&fd, 1, 0) > 0) {
            ok = wl_display_read_events(w->display) >= 0;
        } else {
            wl_display_cancel_read(w->display);
        }
        ok = ok && wl_display_dispatch_pending(w->display) >= 0;
    }
    // A compositor that hangs up leaves the socket readable at its end.
    ok = ok && wl_display_get_error(w->display) == 0;
    events->insert(events->end(), w->events.begin(), w->events.end());
    w->events.clear();
    if (!ok) *error = Broken(w->display);
    return ok;
}

}  // namespace platform
