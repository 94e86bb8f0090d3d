// Compositor: a real Wayland compositor for a whole-program test, headless
// (no GPU, no display): sway, KWin or Mutter, each with two outputs, a
// private runtime folder, a private session bus (Mutter also a private
// PipeWire and a stand-in for GNOME's session manager) and a keyboard and a
// pointer that stay in its seat; stopped with all it started when the object
// goes. Its clients run as its user with the environment a client of it
// needs. The test reads each output back, types a key, moves the pointer and
// inhibits idleness through each compositor's own means: grim, wtype and
// the virtual pointer on sway; KWin's screenshot service and fake input;
// Mutter's ScreenCast (through PipeWire) and RemoteDesktop services; and
// powers Mutter's monitors down and up through its DisplayConfig service.
// Relies on ChildProcess and the test tools built beside it (tests/app).
//
// sway refuses to run as root: when the test runs as root, sway, its
// clients and tools run as uid 65534 from copies that user can read; the
// others run as the test's user.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "shot.h"

enum class CompositorKind { Sway, Kwin, Mutter };

// sway's desktop: one known colour, R, G, B.
constexpr unsigned char kSwayDesktop[3] = {0x33, 0x66, 0x99};
// Generous: sanitized builds on a shared machine start slowly.
constexpr double kCompositorDeadline = 30.0;

double MonotonicSeconds();

// Polls `condition` every 50 ms until it holds (true) or `seconds` pass.
template <typename F>
bool Soon(F condition, double seconds = kCompositorDeadline) {
    const double end = MonotonicSeconds() + seconds;
    while (!condition()) {
        if (MonotonicSeconds() > end) return false;
        usleep(50 * 1000);
    }
    return true;
}

class Compositor {
public:
    // Why `kind` cannot run here (a program or tool missing), or empty.
    static std::string Unavailable(CompositorKind kind);
    // Starts `kind` and waits until each output shows its desktop; null,
    // with `error` set (and the compositor's output), when it does not.
    static std::unique_ptr<Compositor> Start(CompositorKind kind, std::string* error);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    CompositorKind kind() const { return kind_; }
    const char* name() const;
    // The outputs, in the order the compositor reports them.
    const std::vector<std::string>& outputs() const { return outputs_; }
    // Each output's desktop, read back at the start, by output.
    const Shot& desktop(size_t output) const { return desktops_[output]; }
    // What the compositor and its helpers printed.
    std::string Log() const;
    // False once the compositor, or a helper it needs, has ended.
    bool Alive();
    // Ends the compositor at once (SIGKILL), as a crash would.
    void Kill();

    // `args` as a client of the compositor: its user, its environment plus
    // `env`; SIGTERM should the test die.
    std::unique_ptr<ChildProcess> Spawn(std::vector<std::string> args,
                                        const std::vector<std::string>& env = {});
    // A stand-in of a bus service on the compositor's bus
    // (tests/platform/bus_standin.cpp), once it says it is ready; null when
    // it does not.
    std::unique_ptr<ChildProcess> StandIn(const std::vector<std::string>& args,
                                          const std::vector<std::string>& env = {});
    // The compositor's private session bus, which may stand in for the
    // system bus too.
    std::string BusAddress() const { return "unix:path=" + run_ + "/bus"; }
    // Runs a tool to its end; true when it succeeds.
    bool Run(std::vector<std::string> args);
    // The mereglass program, where the compositor's user can run it.
    std::string Program() const { return bin_ + "/mereglass"; }

    // Reads `output` back; false when the compositor gives no picture.
    bool Grab(const std::string& output, Shot* shot);
    // Reads every output back, in the order of outputs().
    bool GrabEach(std::vector<Shot>* shots);
    // Presses and releases a key (A), through another keyboard the seat
    // gains for it (the seat always has one).
    bool TypeKey();
    // Moves the pointer by (dx, dy) logical pixels in `steps` even steps,
    // then back, through another pointer the seat gains for it.
    bool MovePointer(double dx, double dy, int steps);
    // Holds (true) or lets go of (false) an inhibition of idleness, as a
    // video player does: on sway and KWin a visible window with a Wayland
    // idle inhibitor, on Mutter an inhibitor of idleness in GNOME's session
    // manager. True once it is in force (the window shows on an output)
    // or gone.
    bool InhibitIdle(bool on);
    // Mutter only: powers its monitors down (true) or up (false), as
    // GNOME's power management does (DisplayConfig's PowerSaveMode); true
    // when Mutter took it.
    bool PowerSave(bool down);
    // sway only: a command through swaymsg; true when sway took it.
    bool SwayCommand(std::vector<std::string> args);

private:
    explicit Compositor(CompositorKind kind) : kind_(kind) {}
    bool Prepare(std::string* error);
    bool StartBus(std::string* error);
    bool StartSway(std::string* error);
    bool StartKwin(std::string* error);
    bool StartMutter(std::string* error);
    bool HoldSeatDevices(std::string* error);
    bool WaitForDesktops(std::string* error);
    std::string Tool(const char* name) const { return bin_ + "/" + name; }

    CompositorKind kind_;
    bool otherUser_ = false;
    std::string dir_, run_, bin_, swaySocket_;
    std::vector<std::string> env_;
    std::vector<std::string> outputs_;
    std::vector<Shot> desktops_;
    // Helpers first: they go after the compositor, in reverse order.
    std::vector<std::unique_ptr<ChildProcess>> helpers_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> sessionManager_;
    std::unique_ptr<ChildProcess> inhibitor_;
};

// One compositor of a kind for all the tests of a suite: started by the
// first test that asks for it, and again after a test that spoilt it
// (changed its outputs, killed it). Stop() in TearDownTestSuite.
class SharedCompositor {
public:
    explicit SharedCompositor(CompositorKind kind) : kind_(kind) {}
    // The running compositor; null with `error` set when it cannot start.
    Compositor* Get(std::string* error);
    // The next Get starts a new one.
    void Spoil() { spoilt_ = true; }
    bool spoilt() const { return spoilt_; }
    void Stop() { compositor_.reset(); }

private:
    CompositorKind kind_;
    bool spoilt_ = false;
    std::unique_ptr<Compositor> compositor_;
};
