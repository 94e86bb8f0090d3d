// A test tool that moves a pointer on a Wayland compositor that has none
// (a headless one): it adds a virtual pointer to the seat, waits for the
// clients to see it, then moves it by DX, DY logical pixels in STEPS even
// steps and back the same way (so that runs one after another do not push
// it against an edge of the outputs). Exits 0 when the compositor took
// every request, 2 when it offers no virtual pointers, 1 on other failures.
// Relies on libwayland-client and the generated virtual-pointer protocol
// code.
//
// With "hold" it only adds its pointer, prints "holding" and keeps it in
// the seat until a signal ends it, as a machine's own pointer stays: the
// clients that start later find a pointer there.
//
// Usage: mereglass_virtual_pointer DX DY STEPS | hold
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wlr-virtual-pointer-unstable-v1-client.h"

namespace {

// How long the clients are given to bind the seat's new pointer, and the
// time between steps: generous, as the machine may be busy.
constexpr useconds_t kSettleMicroseconds = 500 * 1000;
constexpr useconds_t kStepMicroseconds = 100 * 1000;

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* g = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && g->seat == nullptr) {
        g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

uint32_t Milliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

}  // namespace

int main(int argc, char** argv) {
    const bool hold = argc == 2 && std::strcmp(argv[1], "hold") == 0;
    if (!hold && (argc != 4 || std::atoi(argv[3]) <= 0)) {
        std::fprintf(stderr, "usage: %s DX DY STEPS | hold\n", argv[0]);
        return 1;
    }
    const int steps = hold ? 0 : std::atoi(argv[3]);
    const double dx = hold ? 0.0 : std::atof(argv[1]) / steps;
    const double dy = hold ? 0.0 : std::atof(argv[2]) / steps;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "virtual pointer: no Wayland display\n");
        return 1;
    }
    Globals g;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &g);
    wl_display_roundtrip(display);
    if (g.manager == nullptr) {
        std::fprintf(stderr, "virtual pointer: the compositor offers no virtual pointers\n");
        wl_display_disconnect(display);
        return 2;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.manager, g.seat);
    wl_display_roundtrip(display);
    if (hold) {
        std::printf("holding\n");
        std::fflush(stdout);
        while (wl_display_dispatch(display) >= 0) {
        }
        return 1;
    }
    usleep(kSettleMicroseconds);
    for (int i = 0; i < 2 * steps; ++i) {
        const double sign = i < steps ? 1.0 : -1.0;
        zwlr_virtual_pointer_v1_motion(pointer, Milliseconds(), wl_fixed_from_double(sign * dx),
                                       wl_fixed_from_double(sign * dy));
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        usleep(kStepMicroseconds);
    }
    const bool ok = wl_display_get_error(display) == 0;
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(g.manager);
    if (g.seat != nullptr) wl_seat_destroy(g.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return ok ? 0 : 1;
}
