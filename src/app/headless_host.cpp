// The headless host: a simulated clock that advances exactly 1/F per tick,
// frames written with FrameWriter, timing read from the process clocks.
// Relies on the platform layer (headless view, bundle, settings store) and
// the hosted view.
#include "app/headless_host.h"

#include <GL/gl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/frame_writer.h"
#include "app/hosted_view.h"
#include "view/settings.h"

namespace {

// The stop signal that arrived, or 0.
volatile std::sig_atomic_t gStop = 0;

void OnStopSignal(int signal) { gStop = signal; }

double Seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Creates `dir` if it does not exist (its parent must). False, with a
// reason, when it cannot be made or is not a folder.
bool MakeFolder(const std::string& dir, std::string* error) {
    if (mkdir(dir.c_str(), 0777) == 0) return true;
    struct stat st {};
    if (errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    *error = dir + ": " + (errno == EEXIST ? "not a folder" : std::strerror(errno));
    return false;
}

}  // namespace

int RunHeadless(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    std::string error;
    if (!MakeFolder(cl.renderDir, &error)) {
        std::fprintf(stderr, "mereglass: %s\n", error.c_str());
        return 1;
    }

    // The simulated clock starts at a whole second of the real one (so runs
    // differ in their random drips) and advances by tick / fps, formed from
    // the tick number so that no rounding accumulates.
    const double start = std::floor(platform::ClockSeconds());
    long tick = 0;
    const double fps = cl.renderFps;

    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    HostShared shared;
    shared.store = store;
    shared.clock = [&] { return start + static_cast<double>(tick) / fps; };
    DesktopSources sources;
    sources.mainScreen =
        platform::MainScreen(platform::HeadlessScreens(cl.renderWidth, cl.renderHeight));
    sources.imageFile = cl.imageFile;
    SetPictureFolder(store, cl, &sources);
    AcquirePicture(sources, &shared);
    shared.overrides = cl.settings;

    HostedView hv;
    hv.width = cl.renderWidth;
    hv.height = cl.renderHeight;
    // Frames on disk belong to no screen: scale 1 unless the run asks.
    hv.screenScale = cl.scale > 0 ? cl.scale : 1;
    hv.view = platform::CreateHeadlessView(hv.width, hv.height, &error);
    if (hv.view == nullptr) {
        std::fprintf(stderr, "mereglass: no offscreen OpenGL context: %s\n", error.c_str());
        platform::CloseSettingsStore(store);
        return 1;
    }
    ConnectHostedView(&hv, &shared);
    if (!StartHostedView(&hv, cl.preview, &error)) {
        std::fprintf(stderr, "mereglass: %s\n", error.c_str());
        EndHostedView(&hv);
        platform::CloseSettingsStore(store);
        return 1;
    }

    ReleasePicture(&shared);

    FrameWriter writer(hv.width, hv.height);
    // Until now a stop signal ended the process at once; from here on the
    // run ends after the frame at hand, and the view is torn down first.
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    // Tick 0 sets up the scene; each later tick is one step of 1/fps.
    const long lastTick = std::lround(cl.renderSeconds * fps);
    long drawn = 0;
    long written = 0;
    int status = 0;
    char path[4096];
    const double wallStart = Seconds(CLOCK_MONOTONIC);
    const double cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);

    for (tick = 0; tick <= lastTick && gStop == 0; ++tick) {
        hv.presented = false;
        hv.saver->AnimateOneFrame();
        if (!hv.presented) continue;
        // Nothing shows an offscreen frame, so nothing would wait for it:
        // without this the renderer queues frames faster than it draws
        // them, holding every queued frame's vertex data, and the measured
        // rate would not be the drawing rate.
        glFinish();
        ++drawn;
        if (drawn % cl.renderEvery != 0) continue;
        ++written;
        std::snprintf(path, sizeof path, "%s/frame-%05ld.png", cl.renderDir.c_str(), written);
        platform::MakeViewCurrent(hv.view);
        writer.ReadFrame();
        if (!writer.WritePng(path, &error)) {
            std::fprintf(stderr, "mereglass: %s\n", error.c_str());
            status = 1;
            break;
        }
    }

    const double wall = Seconds(CLOCK_MONOTONIC) - wallStart;
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    EndHostedView(&hv);
    platform::CloseSettingsStore(store);
    *stopSignal = gStop;

    if (drawn > 0) {
        std::printf(
            "mereglass: %ld frames of %dx%d in %.2f s: %.1f frames per second, "
            "%.2f ms CPU per frame; %ld written to %s\n",
            drawn, cl.renderWidth, cl.renderHeight, wall, wall > 0.0 ? drawn / wall : 0.0,
            cpu * 1000.0 / static_cast<double>(drawn), written, cl.renderDir.c_str());
    } else {
        std::printf("mereglass: no frames drawn\n");
    }
    return status;
}
