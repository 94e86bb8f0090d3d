// Holds N monitors of W x H side by side on the X display ($DISPLAY), the
// last on the server's one output (so that its automatic monitor gives
// way), for the whole-program benchmarks of several monitors under Xvfb.
// The X server forgets monitors with the client that made them: this one
// stays until it is ended. Prints "ready" once they are in place.
// Usage: x_monitors W H N
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s W H N\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), n = std::atoi(argv[3]);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || w <= 0 || h <= 0 || n <= 0) return 1;
    const Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResources(display, root);
    if (resources == nullptr || resources->noutput < 1) return 1;
    for (int i = 0; i < n; ++i) {
        const bool last = i == n - 1;
        XRRMonitorInfo* m = XRRAllocateMonitor(display, last ? 1 : 0);
        m->name = XInternAtom(display, ("BENCH-" + std::to_string(i)).c_str(), False);
        m->x = i * w;
        m->width = w;
        m->height = h;
        m->mwidth = w * 254 / 960;  // 96 dots an inch
        m->mheight = h * 254 / 960;
        if (last) {
            m->outputs[0] = resources->outputs[0];
            m->primary = True;
        }
        XRRSetMonitor(display, root, m);
        XFree(m);
    }
    XRRFreeScreenResources(resources);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    pause();
    return 0;
}
