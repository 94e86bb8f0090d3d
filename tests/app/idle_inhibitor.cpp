// A test tool that keeps a Wayland session from going idle, as a video
// player would: it shows a small window (an xdg_toplevel with a grey shm
// buffer) and holds an idle inhibitor on its surface, which compositors
// apply only while the surface is visible. Once the compositor has shown
// the window (its first frame callback came) and taken the inhibitor, it
// prints "inhibiting" and stays until a signal ends it, which also ends
// the inhibition. Exits 2 when the compositor offers no idle inhibitors, 1
// on other failures. Relies on libwayland-client and the generated
// xdg-shell and idle-inhibit protocol code.
//
// Usage: mereglass_idle_inhibitor
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>

#include "idle-inhibit-unstable-v1-client.h"
#include "xdg-shell-client.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;

struct Client {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    zwp_idle_inhibit_manager_v1* inhibitors = nullptr;
    wl_surface* surface = nullptr;
    wl_buffer* buffer = nullptr;
    bool configured = false;
    bool shown = false;
};

template <typename T>
T* Bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t version) {
    return static_cast<T*>(wl_registry_bind(registry, name, interface, version));
}

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* c = static_cast<Client*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        c->compositor = Bind<wl_compositor>(registry, name, &wl_compositor_interface, 1);
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        c->shm = Bind<wl_shm>(registry, name, &wl_shm_interface, 1);
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        c->shell = Bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, 1);
    } else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0) {
        c->inhibitors = Bind<zwp_idle_inhibit_manager_v1>(
            registry, name, &zwp_idle_inhibit_manager_v1_interface, 1);
    }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* shell, uint32_t serial) { xdg_wm_base_pong(shell, serial); }

const xdg_wm_base_listener kShellListener = {OnPing};

void OnSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<Client*>(data)->configured = true;
}

const xdg_surface_listener kSurfaceListener = {OnSurfaceConfigure};

void OnToplevelConfigure(void*, xdg_toplevel*, int32_t, int32_t, wl_array*) {}
void OnToplevelClose(void*, xdg_toplevel*) {}

const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose, nullptr,
                                                 nullptr};

void OnFrameDone(void* data, wl_callback* callback, uint32_t) {
    static_cast<Client*>(data)->shown = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener kFrameListener = {OnFrameDone};

// A grey buffer of kWidth × kHeight in shared memory; null on failure.
wl_buffer* GreyBuffer(wl_shm* shm) {
    const int stride = kWidth * 4, size = stride * kHeight;
    const int fd = memfd_create("mereglass-idle-inhibitor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return nullptr;
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) return nullptr;
    std::memset(pixels, 0x80, size);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, kWidth, kHeight, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "idle inhibitor: no Wayland display\n");
        return 1;
    }
    Client c;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &c);
    wl_display_roundtrip(display);
    if (c.inhibitors == nullptr) {
        std::fprintf(stderr, "idle inhibitor: the compositor offers no idle inhibitors\n");
        return 2;
    }
    if (c.compositor == nullptr || c.shm == nullptr || c.shell == nullptr) {
        std::fprintf(stderr, "idle inhibitor: the compositor offers no xdg-shell windows\n");
        return 1;
    }
    xdg_wm_base_add_listener(c.shell, &kShellListener, nullptr);
    c.surface = wl_compositor_create_surface(c.compositor);
    xdg_surface* xdgSurface = xdg_wm_base_get_xdg_surface(c.shell, c.surface);
    xdg_surface_add_listener(xdgSurface, &kSurfaceListener, &c);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdgSurface);
    xdg_toplevel_add_listener(toplevel, &kToplevelListener, nullptr);
    xdg_toplevel_set_title(toplevel, "mereglass idle inhibitor");
    wl_surface_commit(c.surface);
    while (!c.configured && wl_display_dispatch(display) >= 0) {
    }
    c.buffer = GreyBuffer(c.shm);
    if (c.buffer == nullptr) {
        std::fprintf(stderr, "idle inhibitor: no shared memory\n");
        return 1;
    }
    zwp_idle_inhibitor_v1* inhibitor =
        zwp_idle_inhibit_manager_v1_create_inhibitor(c.inhibitors, c.surface);
    wl_surface_attach(c.surface, c.buffer, 0, 0);
    wl_surface_damage(c.surface, 0, 0, kWidth, kHeight);
    wl_callback_add_listener(wl_surface_frame(c.surface), &kFrameListener, &c);
    wl_surface_commit(c.surface);
    while (!c.shown && wl_display_dispatch(display) >= 0) {
    }
    if (!c.shown) {
        std::fprintf(stderr, "idle inhibitor: the compositor went away\n");
        return 1;
    }
    std::printf("inhibiting\n");
    std::fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    zwp_idle_inhibitor_v1_destroy(inhibitor);
    return 1;
}
