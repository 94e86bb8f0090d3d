// Whether the compositor has an output powered off: wlroots' output power
// management (a mode event per output, sent at once and after each change),
// else KDE's DPMS (modes applied at its done event). Relies on
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

void OnPowerMode(void* data, zwlr_output_power_v1*, uint32_t mode) {
    SetPoweredOff(static_cast<OutputState*>(data), mode == ZWLR_OUTPUT_POWER_V1_MODE_OFF);
}

// The object is no longer valid (the output went, or another client holds
// the output's power): its state is unknown, which counts as on.
void OnPowerFailed(void* data, zwlr_output_power_v1*) {
    auto* o = static_cast<OutputState*>(data);
    zwlr_output_power_v1_destroy(o->power);
    o->power = nullptr;
    SetPoweredOff(o, false);
}

const zwlr_output_power_v1_listener kPowerListener = {OnPowerMode, OnPowerFailed};

// KDE's DPMS says On for an output that has no power management.
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
    return connection->powerManager != nullptr || connection->dpmsManager != nullptr;
}

void WatchOutputPower(WaylandConnection* c, OutputState* o) {
    if (o->power != nullptr || o->dpms != nullptr) return;
    if (c->powerManager != nullptr) {
        o->power = zwlr_output_power_manager_v1_get_output_power(c->powerManager, o->output);
        zwlr_output_power_v1_add_listener(o->power, &kPowerListener, o);
    } else if (c->dpmsManager != nullptr) {
        o->dpms = org_kde_kwin_dpms_manager_get(c->dpmsManager, o->output);
        org_kde_kwin_dpms_add_listener(o->dpms, &kDpmsListener, o);
    }
}

void EndOutputPower(OutputState* o) {
    if (o->power != nullptr) zwlr_output_power_v1_destroy(o->power);
    if (o->dpms != nullptr) org_kde_kwin_dpms_release(o->dpms);
    o->power = nullptr;
    o->dpms = nullptr;
}

}  // namespace platform
