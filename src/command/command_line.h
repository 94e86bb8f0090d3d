// The mereglass command line: the table of the options of a screen-saver
// hack (one or two dashes each), from which the parser, --help and the
// manual page's option list all come, and the plain record it parses into.
// Relies on the settings table for the one-run setting options; nothing
// here opens a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_table.h"

// Where the saver draws.
enum class HostMode {
    Window,      // its own top-level window (the default)
    Root,        // $XSCREENSAVER_WINDOW, else the root window
    WindowId,    // a window of another program
    FullScreen,  // one borderless window per monitor
    Render,      // headless, into PNG files
    Configure,   // the settings dialog
    IdleWatch,   // stay in the session; full screen after the idle time
    IdleStatus,  // print the idle watcher's status and exit
    Help,        // print the options and exit 0
    // List this program in ~/.xscreensaver, or take it out again.
    AddToXScreenSaver,
    RemoveFromXScreenSaver,
    // Start the idle watch with every session (an autostart entry), or no
    // longer.
    AddToAutostart,
    RemoveFromAutostart,
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
    // --idle-seconds N: the idle watcher's idle time for this run, in
    // seconds; 0 takes the IdleMinutes setting.
    int idleSeconds = 0;
    // --lock-seconds N: the idle watcher locks the session once its saver
    // has run N seconds, for this run; 0 takes the LockMinutes setting.
    int lockSeconds = 0;
    // --image-dir DIR: the picture folder for this run; it also puts a
    // Picture override (a picture from the folder) into `settings`.
    std::string imageDir;
    // --lighting / --no-lighting, --water-speed N, ...: one entry per
    // option, in the order given.
    std::vector<SettingOverride> settings;
};

// The groups that --help and the manual page list the options in, in
// their order.
struct OptionGroup {
    const char* help;    // the heading in --help
    const char* manual;  // the manual page's .SS heading
    // Roff lines before and after the group's options in the manual page,
    // or null.
    const char* manualBefore = nullptr;
    const char* manualAfter = nullptr;
};

// One option. The parser takes a word "-NAME" or "--NAME" for the entry
// whose `shown` name (without its dashes) or `alias` is NAME. Two entries
// may share a name when one takes a value and the other does not: the one
// with the value is taken when the next word is a number or not an option.
struct OptionEntry {
    const char* shown;               // "-window-id": as --help and the manual show it
    const char* alias = nullptr;     // another name, not shown ("h"), or null
    const char* argument = nullptr;  // "ID": what the value is called; null for none
    // The tag's argument in the manual page when it is more than the
    // argument in italics (" W" x H for "WxH"), or null.
    const char* manualArgument = nullptr;
    // What a missing or bad value is refused for: "<word> needs <needs>".
    const char* needs = nullptr;
    // Reads and stores the value (false for a bad one), or for an option
    // without one sets what it turns on. Null for an option that only sets
    // the mode.
    bool (*take)(const char* value, CommandLine* cl) = nullptr;
    bool setsMode = false;
    HostMode mode = HostMode::Window;  // when setsMode
    // --size, --seconds, --fps F and --every: only with --render DIR.
    bool renderOnly = false;
    size_t group = 0;              // index into kOptionGroups
    const char* help = nullptr;    // --help's text; a line break continues under it
    const char* manual = nullptr;  // the manual page's paragraph, roff
};

inline constexpr size_t kOptionGroupCount = 5;
extern const OptionGroup kOptionGroups[kOptionGroupCount];
// The settings' options (--water-speed N, --[no-]lighting, ...) come from
// the settings table and form the last group; every other option is here,
// in the order --help lists them.
inline constexpr size_t kOptionCount = 28;
extern const OptionEntry kOptions[kOptionCount];

// Parses argv (argv[0] is skipped). False, with a one-line reason in
// `error`, for an unknown option, a missing or malformed value, or options
// that do not go together.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error);

// Reads a window id as hex (0x... or 0X...) or else decimal (a leading 0
// included), the whole text: no sign, no blanks. False for anything else,
// and for 0.
bool ParseWindowId(const char* text, unsigned long* id);

// The ticks a --render run steps through after its first, which sets the
// scene up: its seconds × frames per second, rounded. Each draws a frame.
long RenderTicks(const CommandLine& cl);

// Applies the overrides of `cl` to settings read from the store, the
// picture folder of --image-dir among them.
void ApplySettingOverrides(const CommandLine& cl, UserSettings* settings);

// The option list that --help and a usage error print.
std::string UsageText();

// The manual page's option list, roff: the groups' .SS headings and one .TP
// paragraph per option, the settings' options last.
std::string ManualOptions();
