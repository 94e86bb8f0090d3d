// Connections of our own to the session bus, shared by the bus's files
// (the screenshot portal, its grant, the idle session, Mutter's power-save
// mode), and to the system bus (the idle session's logind, the power
// source). Private to src/platform/bus/; relies on GIO.
#pragma once

#include <gio/gio.h>

#include <string>

namespace platform {

// A connection of our own to the session bus (not GLib's shared one), so
// that its dispatching is the calling thread's alone; its signals are
// dispatched in the thread's default context of the moment. Null, with a
// reason that names `purpose` (N_("the screenshot portal"), translated
// here), when there is no session bus. Released with CloseSessionBus.
GDBusConnection* OpenSessionBus(const char* purpose, std::string* error);
void CloseSessionBus(GDBusConnection* bus);
// The same on the system bus; released with CloseSessionBus too.
GDBusConnection* OpenSystemBus(const char* purpose, std::string* error);

}  // namespace platform
