// --render: the frame loop's hook, with frames written by FrameWriter and
// timing read from the process clocks. Relies on the host, the headless
// session and support/diagnostics.h to tell the user.
#include "host/render.h"

#include <GL/gl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/frame_writer.h"
#include "host/host.h"
#include "platform/session.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

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

// The frames of a render: a simulated clock that starts at a whole second
// of the real one (so runs differ in their random drips) and advances by
// tick / fps, formed from the tick number so that no rounding
// accumulates; tick 0 sets up the scene, each later tick is one step of
// 1/fps. Every K-th frame drawn is written.
class RenderHook final : public FrameHook {
public:
    explicit RenderHook(const CommandLine& commandLine)
        : cl(commandLine),
          fps(commandLine.renderFps),
          start(std::floor(platform::ClockSeconds())),
          lastTick(RenderTicks(commandLine)) {}

    double Clock() const override { return start + static_cast<double>(tick) / fps; }

    void Begin(HostedView* hv) override {
        writer = std::make_unique<FrameWriter>(hv->screen.width, hv->screen.height);
        began = true;
        wallStart = Seconds(CLOCK_MONOTONIC);
        cpuStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    }

    bool AfterTick(HostedView* hv, int* status) override {
        const bool more = Written(hv, status) && ++tick <= lastTick;
        wall = Seconds(CLOCK_MONOTONIC) - wallStart;
        cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
        return more;
    }

    const CommandLine& cl;
    const double fps;
    const double start;
    const long lastTick;
    bool began = false;  // the view started and the ticks began
    long tick = 0;
    long drawn = 0;
    long written = 0;
    double wall = 0.0;  // seconds of the drawing, by the wall clock
    double cpu = 0.0;   // and by the process's CPU clock

private:
    // Counts the frame the tick drew, if any, and writes it when it is
    // due. False, with the user told why and *status 1, when the file
    // cannot be written (the run ends there, the frames written before it
    // counted).
    bool Written(HostedView* hv, int* status) {
        if (!hv->frames.presented) return true;
        // Nothing shows an offscreen frame, so nothing would wait for it:
        // without this the renderer queues frames faster than it draws
        // them, holding every queued frame's vertex data, and the measured
        // rate would not be the drawing rate.
        glFinish();
        ++drawn;
        if (drawn % cl.renderEvery != 0) return true;
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%05ld.png", written + 1);
        const std::string path = cl.renderDir + name;
        platform::MakeViewCurrent(hv->view);
        writer->ReadFrame();
        std::string error;
        if (!writer->WritePng(path, &error)) {
            Tell(error);
            *status = 1;
            return false;
        }
        ++written;
        return true;
    }

    std::unique_ptr<FrameWriter> writer;
    double wallStart = 0.0;
    double cpuStart = 0.0;
};

// The run's result, on standard output: it is what --render produces
// besides the frames, not a message.
void PrintRate(const RenderHook& r) {
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

int RunRender(const CommandLine& cl, platform::SettingsStore* store, int* stopSignal) {
    *stopSignal = 0;
    std::string error;
    if (!MakeFolder(cl.renderDir, &error)) {
        Tell(error);
        return 1;
    }
    RenderHook hook(cl);
    const int status = RunHost(cl, store,
                               std::unique_ptr<platform::Session>(
                                   platform::OpenHeadlessSession(cl.renderWidth, cl.renderHeight)),
                               &hook, stopSignal);
    // A render that never started has said why.
    if (hook.began) PrintRate(hook);
    return status;
}
