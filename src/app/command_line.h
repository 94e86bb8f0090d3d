// The mereglass command line: the options of a screen-saver hack (one or two
// dashes each), parsed into a plain record. Relies on the standard library
// only; nothing here opens a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "view/settings.h"

// Where the saver draws.
enum class HostMode {
    Window,      // its own top-level window (the default)
    Root,        // $XSCREENSAVER_WINDOW, else the root window
    WindowId,    // a window of another program
    FullScreen,  // one borderless window per monitor
    Render,      // headless, into PNG files
    Configure,   // the settings dialog
    Help,        // print the options and exit 0
    // List this program in ~/.xscreensaver, or take it out again.
    AddToXScreenSaver,
    RemoveFromXScreenSaver,
};

// A setting given on the command line: it replaces the stored value for
// this run only and is never written to the store.
struct SettingOverride {
    const SettingEntry* entry;
    int32_t value;
};

struct CommandLine {
    HostMode mode = HostMode::Window;
    // -geometry WxH+X+Y: window size and (when hasPosition) position.
    int windowWidth = 1280;
    int windowHeight = 720;
    bool hasPosition = false;
    int windowX = 0;  // "-0" counts too: see the two flags
    int windowY = 0;
    bool windowXFromRight = false;   // "-X": from the right edge of the screen
    bool windowYFromBottom = false;  // "-Y": from the bottom edge
    unsigned long windowId = 0;      // -window-id
    std::string display;             // -display; empty: $DISPLAY
    bool preview = false;            // --preview
    // --fullscreen on a Wayland session: Native runs on the compositor
    // itself, X11 through an X server; Automatic picks Native when
    // $WAYLAND_DISPLAY is set.
    enum class Session { Automatic, Native, X11 } session = Session::Automatic;
    bool showFps = false;  // -fps
    // --render DIR and its companions.
    std::string renderDir;
    int renderWidth = 1280;
    int renderHeight = 720;
    double renderSeconds = 10.0;
    int renderFps = 30;
    int renderEvery = 30;
    // --image FILE: the picture under the water instead of the desktop.
    std::string imageFile;
    // --scale N: the banner and the -fps text at N pixels a point for this
    // run; 0 takes the screen's own factor (1 for --render).
    int scale = 0;
    // --image-dir DIR: the picture folder for this run; it also puts a
    // Picture override (a picture from the folder) into `settings`.
    std::string imageDir;
    // --lighting / --no-lighting, --water-speed N, ...: one entry per
    // option, in the order given.
    std::vector<SettingOverride> settings;
};

// Parses argv (argv[0] is skipped). False, with a one-line reason in
// `error`, for an unknown option, a missing or malformed value, or options
// that do not go together.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error);

// Reads a window id as hex (0x...), octal (0...) or decimal, the whole text.
// False for anything else, and for 0.
bool ParseWindowId(const char* text, unsigned long* id);

// Applies the overrides of `cl` to settings read from the store, the
// picture folder of --image-dir among them.
void ApplySettingOverrides(const CommandLine& cl, UserSettings* settings);

// The option list that --help and a usage error print.
std::string UsageText();
