// The idle session's bus part as its two files share it: the connections,
// their main context and the events heard, for idle_bus.cpp and our own
// screen-saver service (screen_saver_service.cpp). Private to
// src/platform/bus/; relies on GIO.
#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/idle_internal.h"

namespace platform {

struct ScreenSaverService;

// What a subscription to a change signal hands its callback.
struct BusListener {
    IdleBus* bus = nullptr;
    IdleEventKind kind = IdleEventKind::InhibitorsChanged;
};

inline constexpr size_t kBusChangeCount = 5;

struct IdleBus {
    GMainContext* context = nullptr;
    GDBusConnection* connection = nullptr;
    GDBusConnection* system = nullptr;  // logind's; null without a system bus
    std::string sessionPath;            // logind's object of this process's session, or empty
    std::vector<guint> subscriptions;
    guint systemSubscription = 0;  // the one among them on the system bus
    BusListener listeners[kBusChangeCount];
    std::vector<IdleEvent> events;  // heard, not yet handed out
    // The context's descriptors and priority from its last query.
    std::vector<GPollFD> fds;
    gint priority = 0;
    // GNOME's idle monitor, when it is the source: the idle time asked for
    // and its watches' ids (0: none); since when (monotonic seconds) it
    // has been gone or not yet asked again after a change of owner.
    bool gnome = false;
    uint32_t milliseconds = 0;
    guint32 idleWatch = 0;
    guint32 activeWatch = 0;
    double monitorGoneSince = 0.0;
    bool closed = false;
    // Services that did not answer in time, told once each.
    bool logindSlow = false;
    ScreenSaverService* service = nullptr;  // our own, while it runs
};

void PushIdleEvent(IdleBus* bus, IdleEventKind kind, std::string text = {});

// Our own service: its holds for BusHolds, and its end.
void ServiceHolds(const ScreenSaverService* service, std::vector<IdleHold>* holds);
// True while it owns org.freedesktop.ScreenSaver.
bool ServiceOwnsName(const ScreenSaverService* service);
void StopScreenSaverService(IdleBus* bus);

}  // namespace platform
