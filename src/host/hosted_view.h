// HostedView: one MereglassView on a platform view (a window, an output's
// surface or a headless buffer), with the ViewPlatform services that
// connect the two; the host runs one per view. Relies on the platform
// layer, the settings and the desktop capture of the view.
//
// The host (src/host/): the frame loop on a session, the views it runs,
// their pictures, the reduced frame, --render and its frame writer. It may
// use the view, the command line and the layers below them; main runs it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "command/command_line.h"
#include "host/scaled_frame.h"
#include "platform/platform.h"
#include "view/desktop_capture.h"
#include "view/mereglass_view.h"
#include "water/water_raster.h"

// The screen a view is on and the size of its drawable there.
struct ViewScreen {
    int number = 1;      // the screen the view is on
    int mainNumber = 1;  // the main screen of the process
    int width = 0;       // drawable size, pixels
    int height = 0;
    // The screen's scale factor: the banner and the -fps text take this
    // many pixels per point of an ordinary screen.
    int scale = 1;
};

// The view's presents and the frame rate drawn over them.
struct FrameCounting {
    bool presented = false;  // a frame was presented since the flag was cleared
    bool showFps = false;    // draw the frame rate before each present
    // This view's frames advance the process's frame counter (one view per
    // process does, so the rate shown is one view's).
    bool counted = true;
};

// The reduced frame a software renderer draws, and how it reaches the
// window.
struct ReducedFrame {
    // Below 100: on a software renderer, unless the user asked for full
    // detail, the saver draws into a frame of this percentage of each side,
    // stretched over the window at each present.
    int percent = 100;
    // The view's renderer is a software one (known once started).
    bool softwareRenderer = false;
    ScaledFrame scaled;  // active when the saver draws at the reduced size
    // The compositor stretches the view's drawable over the window: the
    // saver draws the reduced frame straight into the drawable, and
    // `scaled` stays inactive.
    bool bufferScaled = false;
    // Where the window takes pixels: the reduced frame is read back,
    // stretched on the processor and put into the window (null: stretched
    // by the renderer and swapped), a band of bandRows rows at a time.
    // readBack holds one reduced frame.
    platform::ImagePresenter* presenter = nullptr;
    int bandWidth = 0;  // the window's width when the presenter was made
    int bandRows = 0;
    std::vector<uint32_t> readBack;
    // The water is drawn on the processor into readBack, from a copy of
    // the desktop texture, and handed to the frame before the rest is drawn
    // over it: with a presenter into `scaled`; where the compositor
    // stretches the drawable, through `staging`, copied into the drawable.
    uint32_t desktopTexture = 0;  // the view's, as it was captured
    std::vector<uint32_t> picture;
    WaterFrame water;
    ScaledFrame staging;

    // True when the saver draws a reduced frame (its own, or the view's
    // drawable stretched by the compositor).
    bool drawn() const { return scaled.active() || bufferScaled; }
};

// The user's detail and battery settings, and the machine's power state.
struct PowerState {
    bool fullDetail = false;  // the user's setting, read with the others
    bool saveBattery = true;  // the user's setting, read with the others
    // The machine runs on battery and saveBattery holds: the reduced frame
    // whatever fullDetail says.
    bool savingBattery = false;
};

struct HostedView {
    platform::View* view = nullptr;  // owned; destroyed after the saver
    std::unique_ptr<MereglassView> saver;
    ViewPlatform services;
    ViewScreen screen;
    FrameCounting frames;
    ReducedFrame reduced;
    PowerState power;
    // A window of its own (-window): a click on it drops a drip, a drag
    // leaves a trail (MereglassView::TouchWater).
    bool touchable = false;
    // This view's own desktop picture (a Wayland output's), shown instead
    // of the shared one when it is not empty.
    platform::RgbaImage picture;

    HostedView() = default;
    HostedView(const HostedView&) = delete;
    HostedView& operator=(const HostedView&) = delete;
};

// What every view of a process shares.
struct HostShared {
    platform::SettingsStore* store = nullptr;  // not owned
    // The settings as the views read them, taken before the first view: the
    // host's own choices (detail, battery, pictures) come from here.
    UserSettings settings{};
    // The desktop image, acquired once for all views before any window of
    // the program is mapped (AcquireDesktopImage); each view uploads it.
    platform::RgbaImage desktopImage;
    // The clock the views read; ClockSeconds unless a host simulates time.
    std::function<double()> clock;
    // Settings given on the command line, applied over the stored ones.
    std::vector<SettingOverride> overrides;
};

// Fills in the user's pictures in `sources`: the command line's image file,
// which replaces the desktop, and the picture folder of `settings` (with
// the command line's overrides), and a random seed for its pick; and what
// becomes of the desktop's picture (the DesktopPrivacy setting).
void SetUserPictures(const UserSettings& settings, const CommandLine& cl, DesktopSources* sources);

// Before the first view: a saver that only ever draws the reduced frame
// (FullDetail off in `settings`) has a software renderer draw on its own
// thread (platform::DrawOnOneThread).
void PrepareRenderer(const UserSettings& settings);

// Frees the picture once every view has made its desktop texture from it
// (a full-screen picture is several megabytes the running saver never reads).
void ReleasePicture(HostShared* shared);

// Fills hv->services for hv->view and creates hv->saver (not yet
// initialised). hv->view, the screen numbers and the size must be set.
void ConnectHostedView(HostedView* hv, const HostShared* shared);

// Creates, sizes and starts the saver: InitWithFrame (which captures the
// desktop), SetFrameSize, StartAnimation. False, with a reason, when the
// view cannot be created.
bool StartHostedView(HostedView* hv, bool preview, std::string* error);

// True when the saver draws a reduced frame (its own, or the view's
// drawable stretched by the compositor).
bool DrawsReducedFrame(const HostedView* hv);

// Follows the power state: with `onBattery` and the view's SaveBattery
// setting, a view on a software renderer draws the reduced frame whatever
// FullDetail says; back on mains, as its settings say. The host paces the
// ticks (PacedInterval).
void FollowBattery(HostedView* hv, bool onBattery);

// The window of the view now has this size: the saver is told it (or the
// reduced size of a scaled view, whose frame is made anew).
void ResizeHostedView(HostedView* hv, int width, int height);

// Stops and deallocates the saver in its own context, then destroys the
// platform view. Safe to call twice.
void EndHostedView(HostedView* hv);
