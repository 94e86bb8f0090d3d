// Whether the compositor has an output powered off, as KWin's DPMS
// protocol tells it (modes applied at its done event). wlroots' output
// power management is not followed: wlroots lets one client at a time hold
// an output's power object, and a saver that held them would keep the
// tools that power outputs down (wlopm) from doing it. There an output
// that is off makes no frames, so its surfaces get no frame callbacks, and
// the host waits without a timeout while no view may draw. Relies on
// libwayland-client and the generated protocol code.
//
// Provides: WaylandTellsPower; WatchOutputPower, EndOutputPower.
#include "platform/wayland/wayland_internal.h"

namespace platform {

namespace {

// Records the output's power state, telling the host when it changed.
void SetPoweredOff(OutputState* o, bool off) {
    if (o->info.poweredOff == off) return;
    o->info.poweredOff = off;
    WaylandEvent e;
    e.kind = WaylandEventKind::PowerChanged;
    e.output = o->info.id;
    o->connection->events.push_back(e);
}

// KWin says On for an output that has no power management.
void OnDpmsSupported(void*, org_kde_kwin_dpms*, uint32_t) {}

void OnDpmsMode(void* data, org_kde_kwin_dpms*, uint32_t mode) {
    static_cast<OutputState*>(data)->dpmsMode = mode;
}

void OnDpmsDone(void* data, org_kde_kwin_dpms*) {
    auto* o = static_cast<OutputState*>(data);
    SetPoweredOff(o, o->dpmsMode != ORG_KDE_KWIN_DPMS_MODE_ON);
}

const org_kde_kwin_dpms_listener kDpmsListener = {OnDpmsSupported, OnDpmsMode, OnDpmsDone};

}  // namespace

bool WaylandTellsPower(const WaylandConnection* connection) {
    return connection->dpmsManager != nullptr;
}

void WatchOutputPower(WaylandConnection* c, OutputState* o) {
    if (o->dpms != nullptr || c->dpmsManager == nullptr) return;
    o->dpms = org_kde_kwin_dpms_manager_get(c->dpmsManager, o->output);
    org_kde_kwin_dpms_add_listener(o->dpms, &kDpmsListener, o);
}

void EndOutputPower(OutputState* o) {
    if (o->dpms != nullptr) org_kde_kwin_dpms_release(o->dpms);
    o->dpms = nullptr;
}

}  // namespace platform
