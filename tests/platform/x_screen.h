// What whole-program tests under an X server look at: a known desktop
// painted on the root window, screenshots of windows, and a poll that waits
// for what a test expects. Relies on Xlib.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <vector>

struct Rgb {
    int r, g, b;
};

// A window's pixels as the server holds them, top row first.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;

    const Rgb& At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    // Pixels of the rectangle for which `test` holds.
    template <typename F>
    int Count(int x0, int y0, int x1, int y1, F test) const {
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) n += test(At(x, y)) ? 1 : 0;
        }
        return n;
    }
};

// The rectangle of `window` at (x, y), w × h; empty when it cannot be read.
Shot Screenshot(Display* display, Window window, int x, int y, int w, int h);

// Pixels that differ clearly (by more than 24 in the sum of the channels).
int Differing(const Shot& a, const Shot& b);

bool Reddish(const Rgb& p);
bool Bluish(const Rgb& p);
bool Black(const Rgb& p);

// The desktop: the left half of the width × height screen red, the right
// half blue, each a checkerboard of a bright and a darker shade (so moving
// water shows), set as the root window's background.
void PaintDesktop(Display* display, int width, int height);

// Seconds of a monotonic clock.
double Now();

// Polls `condition` every 50 ms until it holds or `seconds` pass; slow
// machines and sanitized builds take a while to show their first frames.
bool EventuallyPoll(bool (*call)(void*), void* context, double seconds);
template <typename F>
bool Eventually(F condition, double seconds = 30.0) {
    return EventuallyPoll([](void* c) { return (*static_cast<F*>(c))(); }, &condition, seconds);
}
