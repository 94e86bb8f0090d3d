// A GLib main context of our own, waited on by our own loop instead of
// GLib's: its descriptors are handed to the caller's poll or epoll set, and
// what is ready is run when the caller says so. Shared by the idle
// session's bus, the power source and Mutter's power-save mode;
// SyncEpollSet comes with it (epoll_set_internal.h). Private to
// src/platform/bus/; relies on GLib and Linux's epoll.
#pragma once

#include <glib.h>

#include <vector>

#include "platform/epoll_set_internal.h"

namespace platform {

// Runs whatever in `context` is ready without a wait, then prepares it for
// one: `fds` then holds the descriptors the wait is on, and `priority` the
// priority that DispatchContext checks at.
void PrepareContext(GMainContext* context, gint* priority, std::vector<GPollFD>* fds);

// Runs what the descriptors `fds` (from PrepareContext) have brought, found
// by a poll that does not wait, then prepares the context for the next
// wait as PrepareContext does.
void DispatchContext(GMainContext* context, gint* priority, std::vector<GPollFD>* fds);

// The descriptors of `fds`.
std::vector<int> DescriptorsOf(const std::vector<GPollFD>& fds);

// A main context of our own with one epoll set over its descriptors, for
// a service that the caller's loop waits on (the power source, Mutter's
// power-save mode).
struct OwnContext {
    GMainContext* context = nullptr;
    // The context's descriptors and priority from its last query, and the
    // epoll set that holds them.
    std::vector<GPollFD> fds;
    gint priority = 0;
    int epollFd = -1;
    std::vector<int> watched;
};

// Makes the context (acquired) and the epoll set; false when the set
// cannot be made.
bool OpenOwnContext(OwnContext* own);
// Runs whatever is ready and prepares the context for a wait, its
// descriptors in the epoll set.
void PrepareOwnContext(OwnContext* own);
// Runs what the descriptors brought, then prepares as above; signals and
// answers that come meanwhile go to this context.
void DispatchOwnContext(OwnContext* own);
// Runs what is left in the context, then lets go of it and the set.
void CloseOwnContext(OwnContext* own);

}  // namespace platform
