// The headless host: a simulated clock that advances exactly 1/F per tick,
// frames written with FrameWriter, timing read from the process clocks.
// Relies on the platform layer (headless view, bundle, settings store), the
// hosted view and support/diagnostics.h to tell the user.
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
#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/settings_table.h"

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
    *error = DisplayName(dir) + ": " + (errno == EEXIST ? _("not a folder") : std::strerror(errno));
    return false;
}

// One render: the simulated clock, the settings, the view and what was
// drawn. The clock starts at a whole second of the real one (so runs differ
// in their random drips) and advances by tick / fps, formed from the tick
// number so that no rounding accumulates.
struct Render {
    explicit Render(const CommandLine& commandLine) : cl(commandLine), fps(commandLine.renderFps) {}

    const CommandLine& cl;
    const double fps;
    double start = 0.0;
    long tick = 0;
    platform::SettingsStore* store = nullptr;
    HostShared shared;
    HostedView hv;
    long drawn = 0;
    long written = 0;
    double wall = 0.0;  // seconds of the drawing, by the wall clock
    double cpu = 0.0;   // and by the process's CPU clock
};

// Opens the settings, sets the simulated clock and takes the picture.
void OpenRender(Render* r) {
    r->start = std::floor(platform::ClockSeconds());
    r->store = platform::OpenSettingsStore(kSettingsModule);
    r->shared.store = r->store;
    r->shared.clock = [r] { return r->start + static_cast<double>(r->tick) / r->fps; };
    DesktopSources sources;
    sources.mainScreen =
        platform::MainScreen(platform::HeadlessScreens(r->cl.renderWidth, r->cl.renderHeight));
    SetUserPictures(r->store, r->cl, &sources);
    AcquireDesktopImage(sources, &r->shared.desktopImage);
    r->shared.overrides = r->cl.settings;
}

// Makes the offscreen view and starts the saver on it. False, with the
// user told why and the view gone, when it cannot be.
bool StartRenderView(Render* r) {
    HostedView& hv = r->hv;
    hv.screen.width = r->cl.renderWidth;
    hv.screen.height = r->cl.renderHeight;
    // Frames on disk belong to no screen: scale 1 unless the run asks.
    hv.screen.scale = r->cl.scale > 0 ? r->cl.scale : 1;
    std::string error;
    hv.view = platform::CreateHeadlessView(hv.screen.width, hv.screen.height, &error);
    if (hv.view == nullptr) {
        Tell(Format(_("no offscreen OpenGL context: %s"), error.c_str()));
        return false;
    }
    ConnectHostedView(&hv, &r->shared);
    if (!StartHostedView(&hv, r->cl.preview, &error)) {
        Tell(error);
        EndHostedView(&hv);
        return false;
    }
    return true;
}

// Runs the ticks until the last one or a stop signal, writing every K-th
// frame drawn. Tick 0 sets up the scene; each later tick is one step of
// 1/fps. Returns the exit status: 1 when a frame file cannot be written
// (the run ends there, the frames written before it counted).
int DrawFrames(Render* r, FrameWriter* writer) {
    const CommandLine& cl = r->cl;
    const long lastTick = RenderTicks(cl);
    int status = 0;
    char path[4096];
    std::string error;
    const double wallStart = Seconds(CLOCK_MONOTONIC);
    const double cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);

    for (r->tick = 0; r->tick <= lastTick && gStop == 0; ++r->tick) {
        r->hv.frames.presented = false;
        r->hv.saver->AnimateOneFrame();
        if (!r->hv.frames.presented) continue;
        // Nothing shows an offscreen frame, so nothing would wait for it:
        // without this the renderer queues frames faster than it draws
        // them, holding every queued frame's vertex data, and the measured
        // rate would not be the drawing rate.
        glFinish();
        ++r->drawn;
        if (r->drawn % cl.renderEvery != 0) continue;
        std::snprintf(path, sizeof path, "%s/frame-%05ld.png", cl.renderDir.c_str(),
                      r->written + 1);
        platform::MakeViewCurrent(r->hv.view);
        writer->ReadFrame();
        if (!writer->WritePng(path, &error)) {
            Tell(error);
            status = 1;
            break;
        }
        ++r->written;
    }

    r->wall = Seconds(CLOCK_MONOTONIC) - wallStart;
    r->cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    return status;
}

// The run's result, on standard output: it is what --render produces
// besides the frames, not a message.
void PrintRate(const Render& r) {
    const CommandLine& cl = r.cl;
    if (r.drawn == 0) {
        std::printf("mereglass: no frames drawn\n");
        return;
    }
    std::printf(
        "mereglass: %ld frames of %dx%d in %.2f s: %.1f frames per second, "
        "%.2f ms CPU per frame; %ld written to %s\n",
        r.drawn, cl.renderWidth, cl.renderHeight, r.wall, r.wall > 0.0 ? r.drawn / r.wall : 0.0,
        r.cpu * 1000.0 / static_cast<double>(r.drawn), r.written,
        DisplayName(cl.renderDir).c_str());
}

}  // namespace

int RunHeadless(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    std::string error;
    if (!MakeFolder(cl.renderDir, &error)) {
        Tell(error);
        return 1;
    }
    Render r(cl);
    OpenRender(&r);
    if (!StartRenderView(&r)) {
        platform::CloseSettingsStore(r.store);
        return 1;
    }
    ReleasePicture(&r.shared);

    FrameWriter writer(r.hv.screen.width, r.hv.screen.height);
    // Until now a stop signal ended the process at once; from here on the
    // run ends after the frame at hand, and the view is torn down first.
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const int status = DrawFrames(&r, &writer);

    EndHostedView(&r.hv);
    platform::CloseSettingsStore(r.store);
    *stopSignal = gStop;
    PrintRate(r);
    return status;
}
