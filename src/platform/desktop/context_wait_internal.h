// A GLib main context of our own, waited on by our own loop instead of
// GLib's: its descriptors are handed to the caller's poll or epoll set, and
// what is ready is run when the caller says so. Shared by the idle
// session's bus and the power source; SyncEpollSet comes with it
// (epoll_set_internal.h). Private to src/platform/desktop/; relies on
// GLib and Linux's epoll.
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

}  // namespace platform
