// A test tool that types a key or moves the pointer on a GNOME compositor
// (Mutter), which has no input devices when headless, through its
// RemoteDesktop service on the session bus: it starts a session (whose
// virtual devices last as long as this tool's connection), waits for the
// clients to see them, then presses and releases A, or moves the pointer by
// DX, DY logical pixels in STEPS even steps and back the same way (so that
// runs one after another do not push it against an edge of the outputs).
// Exits 0 when the compositor took every request, 2 when the bus has no
// RemoteDesktop service, 1 on other failures. Relies on GIO.
//
// With "hold" it only starts its session and shows the seat its devices
// (a Shift and a pointer motion there and back), prints "holding" and keeps
// them until a signal ends it, as a machine's own keyboard and pointer
// stay: the clients that start later find them there.
//
// Usage: mereglass_remote_desktop key | motion DX DY STEPS | hold
#include <gio/gio.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// How long the clients are given to bind the seat's new devices, and the
// time between steps: generous, as the machine may be busy.
constexpr useconds_t kSettleMicroseconds = 500 * 1000;
constexpr useconds_t kStepMicroseconds = 100 * 1000;
constexpr int kTimeoutMilliseconds = 20 * 1000;
const char kService[] = "org.gnome.Mutter.RemoteDesktop";
const char kSession[] = "org.gnome.Mutter.RemoteDesktop.Session";

// Calls `method` and drops its answer; false with `error` set on failure.
bool Call(GDBusConnection* bus, const std::string& path, const char* interface, const char* method,
          GVariant* args, std::string* error, std::string* reply = nullptr) {
    GError* e = nullptr;
    GVariant* r =
        g_dbus_connection_call_sync(bus, kService, path.c_str(), interface, method, args, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, kTimeoutMilliseconds, nullptr, &e);
    if (r == nullptr) {
        *error = std::string(method) + ": " + e->message;
        g_error_free(e);
        return false;
    }
    if (reply != nullptr && g_variant_is_of_type(r, G_VARIANT_TYPE("(o)"))) {
        const char* path = nullptr;
        g_variant_get(r, "(&o)", &path);
        *reply = path;
    }
    g_variant_unref(r);
    return true;
}

// The seat shows the clients a keyboard and a pointer only once they were
// used (a key that shows the keyboard reaches them as held already): the
// first session, held, uses them once, so that the seat keeps them.
bool Hold(GDBusConnection* bus, const std::string& session, std::string* error) {
    for (const bool pressed : {true, false}) {
        if (!Call(bus, session, kSession, "NotifyKeyboardKeycode",
                  g_variant_new("(ub)", KEY_LEFTSHIFT, gboolean{pressed}), error)) {
            return false;
        }
    }
    for (const double d : {1.0, -1.0}) {
        if (!Call(bus, session, kSession, "NotifyPointerMotionRelative",
                  g_variant_new("(dd)", d, d), error)) {
            return false;
        }
    }
    std::printf("holding\n");
    std::fflush(stdout);
    for (;;) pause();
}

bool Act(GDBusConnection* bus, const std::string& session, int argc, char** argv,
         std::string* error) {
    if (std::strcmp(argv[1], "hold") == 0) return Hold(bus, session, error);
    if (std::strcmp(argv[1], "key") == 0) {
        if (!Call(bus, session, kSession, "NotifyKeyboardKeycode",
                  g_variant_new("(ub)", KEY_A, TRUE), error)) {
            return false;
        }
        usleep(kStepMicroseconds);
        return Call(bus, session, kSession, "NotifyKeyboardKeycode",
                    g_variant_new("(ub)", KEY_A, FALSE), error);
    }
    const int steps = std::atoi(argv[argc - 1]);
    const double dx = std::atof(argv[2]) / steps, dy = std::atof(argv[3]) / steps;
    for (int i = 0; i < 2 * steps; ++i) {
        const double sign = i < steps ? 1.0 : -1.0;
        if (!Call(bus, session, kSession, "NotifyPointerMotionRelative",
                  g_variant_new("(dd)", sign * dx, sign * dy), error)) {
            return false;
        }
        usleep(kStepMicroseconds);
    }
    return true;
}

bool Usage(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "key") == 0 || std::strcmp(argv[1], "hold") == 0)) {
        return true;
    }
    return argc == 5 && std::strcmp(argv[1], "motion") == 0 && std::atoi(argv[4]) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!Usage(argc, argv)) {
        std::fprintf(stderr, "usage: %s key | motion DX DY STEPS | hold\n", argv[0]);
        return 1;
    }
    GError* e = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    if (bus == nullptr) {
        std::fprintf(stderr, "remote desktop: no session bus: %s\n", e->message);
        g_error_free(e);
        return 1;
    }
    std::string error, session;
    bool ok = Call(bus, "/org/gnome/Mutter/RemoteDesktop", kService, "CreateSession", nullptr,
                   &error, &session) &&
              Call(bus, session, kSession, "Start", nullptr, &error);
    if (ok) {
        usleep(kSettleMicroseconds);
        ok = Act(bus, session, argc, argv, &error);
        std::string ignored;
        Call(bus, session, kSession, "Stop", nullptr, &ignored);
    }
    g_object_unref(bus);
    if (!ok) {
        std::fprintf(stderr, "remote desktop: %s\n", error.c_str());
        return error.find("ServiceUnknown") != std::string::npos ? 2 : 1;
    }
    return 0;
}
