// A test tool that types a key or moves the pointer on KWin, which has no
// input devices when headless, through its fake-input protocol: it asks
// for the right to use it, waits for the clients to see the new devices,
// then presses and releases A, or moves the pointer by DX, DY logical
// pixels in STEPS even steps and back the same way (so that runs one after
// another do not push it against an edge of the outputs). Exits 0 when the
// compositor took every request, 2 when it offers no fake input, 1 on other
// failures. Relies on libwayland-client and the generated fake-input
// protocol code.
//
// With "hold" it only asks for its devices, prints "holding" and keeps them
// in the seat until a signal ends it, as a machine's own keyboard and
// pointer stay: the clients that start later find them there.
//
// Usage: mereglass_fake_input key | motion DX DY STEPS | hold
#include <linux/input-event-codes.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake-input-client.h"

namespace {

// How long the clients are given to bind the seat's new devices, and the
// time between steps: generous, as the machine may be busy.
constexpr useconds_t kSettleMicroseconds = 500 * 1000;
constexpr useconds_t kStepMicroseconds = 100 * 1000;
// Key presses from the protocol's keyboard_key (since version 4).
constexpr uint32_t kKeyVersion = 4;

struct Globals {
    org_kde_kwin_fake_input* input = nullptr;
    uint32_t version = 0;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* g = static_cast<Globals*>(data);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        g->version = version < kKeyVersion ? version : kKeyVersion;
        g->input = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, g->version));
    }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

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
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "fake input: no Wayland display\n");
        return 1;
    }
    Globals g;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &g);
    wl_display_roundtrip(display);
    const bool key = std::strcmp(argv[1], "key") == 0;
    if (g.input == nullptr || (key && g.version < kKeyVersion)) {
        std::fprintf(stderr, "fake input: the compositor offers no fake %s\n",
                     key ? "keyboard" : "input");
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 2;
    }
    org_kde_kwin_fake_input_authenticate(g.input, "mereglass tests", "to act as the user");
    wl_display_roundtrip(display);
    if (std::strcmp(argv[1], "hold") == 0) {
        std::printf("holding\n");
        std::fflush(stdout);
        while (wl_display_dispatch(display) >= 0) {
        }
        return 1;
    }
    usleep(kSettleMicroseconds);
    if (key) {
        org_kde_kwin_fake_input_keyboard_key(g.input, KEY_A, WL_KEYBOARD_KEY_STATE_PRESSED);
        wl_display_roundtrip(display);
        usleep(kStepMicroseconds);
        org_kde_kwin_fake_input_keyboard_key(g.input, KEY_A, WL_KEYBOARD_KEY_STATE_RELEASED);
        wl_display_roundtrip(display);
    } else {
        const int steps = std::atoi(argv[4]);
        const double dx = std::atof(argv[2]) / steps, dy = std::atof(argv[3]) / steps;
        for (int i = 0; i < 2 * steps; ++i) {
            const double sign = i < steps ? 1.0 : -1.0;
            org_kde_kwin_fake_input_pointer_motion(g.input, wl_fixed_from_double(sign * dx),
                                                   wl_fixed_from_double(sign * dy));
            wl_display_roundtrip(display);
            usleep(kStepMicroseconds);
        }
    }
    const bool ok = wl_display_get_error(display) == 0;
    org_kde_kwin_fake_input_destroy(g.input);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return ok ? 0 : 1;
}
