// The mereglass command line: the option table and the parser that reads
// argv with it. Relies on the settings table for the setting options.
#include "command/command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command/screen_scale.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

// Largest accepted size in either direction, pixels.
constexpr int kMaxSide = 16384;
// Longest headless run, seconds of simulated time.
constexpr double kMaxSeconds = 24.0 * 3600.0;
constexpr int kMaxFps = 1000;
// The longest idle time for one run, seconds: the setting's longest.
constexpr int kMaxIdleSeconds = kMaxWatchMinutes * 60;

// "--name" and "-name" both give "name"; anything else gives null.
const char* OptionName(const char* arg) {
    if (arg[0] != '-') return nullptr;
    if (arg[1] == '-') return arg[2] != '\0' ? arg + 2 : nullptr;
    return arg[1] != '\0' ? arg + 1 : nullptr;
}

// Whether a number's text starts as one: a blank (which strtol and strtod
// would skip) or nothing is refused, as trailing blanks are.
bool StartsAsNumber(const char* text) {
    return text != nullptr && *text != '\0' && !std::isspace(static_cast<unsigned char>(*text));
}

bool ParseInt(const char* text, int lo, int hi, int* value) {
    if (!StartsAsNumber(text)) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseSeconds(const char* text, double* value) {
    if (!StartsAsNumber(text)) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v <= 0.0 || v > kMaxSeconds) {
        return false;
    }
    *value = v;
    return true;
}

// "WxH", both sides 1 ... kMaxSide; *rest gets what follows the height.
bool ParseSize(const char* text, int* width, int* height, const char** rest) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const long w = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || (*end != 'x' && *end != 'X') || w < 1 || w > kMaxSide) {
        return false;
    }
    const char* h_text = end + 1;
    if (*h_text < '0' || *h_text > '9') return false;
    const long h = std::strtol(h_text, &end, 10);
    if (errno != 0 || h < 1 || h > kMaxSide) return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    *rest = end;
    return true;
}

// "WxH" alone.
bool ParseExactSize(const char* text, int* width, int* height) {
    const char* rest = nullptr;
    return text != nullptr && ParseSize(text, width, height, &rest) && *rest == '\0';
}

// "WxH", "WxH+X+Y", "WxH-X+Y" ... (X geometry: a minus sign places the
// window's right or bottom edge that far from the screen's).
bool ParseGeometry(const char* text, CommandLine* out) {
    if (text == nullptr) return false;
    const char* rest = nullptr;
    int w = 0, h = 0;
    if (!ParseSize(text, &w, &h, &rest)) return false;
    int x = 0, y = 0;
    bool position = false, fromRight = false, fromBottom = false;
    if (*rest != '\0') {
        char* end = nullptr;
        if (*rest != '+' && *rest != '-') return false;
        errno = 0;
        const long xv = std::strtol(rest, &end, 10);
        if (errno != 0 || end == rest || (*end != '+' && *end != '-')) return false;
        const char* y_text = end;
        const long yv = std::strtol(y_text, &end, 10);
        if (errno != 0 || end == y_text || *end != '\0') return false;
        if (xv < -kMaxSide || xv > kMaxSide || yv < -kMaxSide || yv > kMaxSide) return false;
        x = static_cast<int>(xv);
        y = static_cast<int>(yv);
        fromRight = *rest == '-';
        fromBottom = *y_text == '-';
        position = true;
    }
    out->windowWidth = w;
    out->windowHeight = h;
    out->hasPosition = position;
    out->windowX = x;
    out->windowY = y;
    out->windowXFromRight = fromRight;
    out->windowYFromBottom = fromBottom;
    return true;
}

bool IsNumber(const char* text) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    std::strtod(text, &end);
    return *end == '\0';
}

// A value that must not be empty: a folder, a file, a display name.
bool TakeText(const char* value, std::string* to) {
    if (value == nullptr || *value == '\0') return false;
    *to = value;
    return true;
}

// --wayland or --x11; false when the other was given before.
bool TakeSession(CommandLine::Session session, CommandLine* cl) {
    if (cl->session != CommandLine::Session::Automatic && cl->session != session) return false;
    cl->session = session;
    return true;
}

// The groups of kOptionGroups.
enum : size_t { kWhere, kDrawing, kHeadless, kOther };

}  // namespace

const OptionGroup kOptionGroups[kOptionGroupCount] = {
    {N_("Where to draw (options take one or two dashes)"), "Where to draw"},
    {N_("Drawing"), "Drawing"},
    {N_("Without a display"), "Without a display", nullptr,
     R"(.PP
.BR \-\-size ,
.BR \-\-seconds ,
.BI \-\-fps " F"
and
.B \-\-every
go only with
.BR \-\-render .)"},
    {N_("Other"), "Other"},
    {N_("Settings for this run (the saved ones apply otherwise)"), "Settings for this run",
     R"(Each saved setting can be given for one run; the saved ones apply otherwise.
A setting that is on or off takes the form
.BI \-\- name
or
.BI \-\-no\- name\fR.)"},
};

const OptionEntry kOptions[kOptionCount] = {
    {.shown = "-window",
     .setsMode = true,
     .mode = HostMode::Window,
     .group = kWhere,
     .help = N_("in a window of its own (the default)"),
     .manual = "Draw in a window of its own.\n"
               "This is the default."},
    {.shown = "-geometry",
     .argument = "WxH[+X+Y]",
     .manualArgument = R"(" W" x H\fR[\fB+\fIX\fB+\fIY\fR])",
     .needs = N_("WxH or WxH+X+Y"),
     .take = ParseGeometry,
     .group = kWhere,
     .help = N_("size and place of that window (1280x720)"),
     .manual = "The size of that window, and where to place it; 1280x720 when not given.\n"
               "A minus sign instead of a plus places the window's right or bottom edge\n"
               "that far from the screen's."},
    {.shown = "-root",
     .setsMode = true,
     .mode = HostMode::Root,
     .group = kWhere,
     .help = N_("in $XSCREENSAVER_WINDOW, else the root window"),
     .manual = "Draw in the window named by the environment variable\n"
               ".BR XSCREENSAVER_WINDOW ,\n"
               "else in the root window.\n"
               "Screen-saver daemons run hacks this way."},
    {.shown = "-window-id",
     .argument = "ID",
     .needs = N_("a window id (0x... or decimal)"),
     .take = [](const char* v, CommandLine* cl) { return ParseWindowId(v, &cl->windowId); },
     .setsMode = true,
     .mode = HostMode::WindowId,
     .group = kWhere,
     .help = N_("in an existing window (hex 0x... or decimal)"),
     .manual = R"(Draw in an existing window, given in hexadecimal
.RI ( 0x ...\&)
or decimal.
Together with
.BR \-root ,
as settings programs run a hack in their preview pane, the window id wins
and only the water is drawn, as with
.BR \-\-preview .)"},
    {.shown = "--fullscreen",
     .setsMode = true,
     .mode = HostMode::FullScreen,
     .group = kWhere,
     .help = N_("full screen on every monitor; a key or a click ends it"),
     .manual = "Cover every monitor; a key or a click ends it."},
    {.shown = "-display",
     .argument = "NAME",
     .needs = N_("a display name"),
     .take = [](const char* v, CommandLine* cl) { return TakeText(v, &cl->display); },
     .group = kWhere,
     .help = N_("the X display to use"),
     .manual = "The X display to use, instead of\n"
               ".BR DISPLAY ."},

    // --fullscreen's path on a Wayland session; the two exclude each other.
    {.shown = "--wayland",
     .needs = N_("no --x11 beside it"),
     .take = [](const char*,
                CommandLine* cl) { return TakeSession(CommandLine::Session::Native, cl); },
     .group = kWhere,
     .help = N_("--fullscreen on the Wayland compositor itself (the\n"
                "default when $WAYLAND_DISPLAY is set)"),
     .manual = R"(With
.BR \-\-fullscreen :
cover every output of the Wayland compositor natively, over a picture of
each output taken before. The default when
.B WAYLAND_DISPLAY
is set.)"},
    {.shown = "--x11",
     .needs = N_("no --wayland beside it"),
     .take = [](const char*,
                CommandLine* cl) { return TakeSession(CommandLine::Session::X11, cl); },
     .group = kWhere,
     .help = N_("--fullscreen through the X server, also on Wayland"),
     .manual = R"(With
.BR \-\-fullscreen :
go through the X server (XWayland on a Wayland session) instead.)"},

    {.shown = "--preview",
     .take =
         [](const char*, CommandLine* cl) {
             cl->preview = true;
             return true;
         },
     .group = kDrawing,
     .help = N_("draw as a small preview: water only, no overlay"),
     .manual = "Draw as a small preview: the water only, without the banner and the\n"
               "message card."},
    // "-fps" alone shows the frame rate; "--fps F" sets the rate of a
    // headless run (below).
    {.shown = "-fps",
     .take =
         [](const char*, CommandLine* cl) {
             cl->showFps = true;
             return true;
         },
     .group = kDrawing,
     .help = N_("show the frame rate in a corner"),
     .manual = "Show the frame rate in a corner."},
    {.shown = "--image",
     .argument = "FILE",
     .needs = N_("a file"),
     .take = [](const char* v, CommandLine* cl) { return TakeText(v, &cl->imageFile); },
     .group = kDrawing,
     .help = N_("show this picture instead of the desktop"),
     .manual = "Show this picture (a PNG or JPEG file, told by its content) instead of\n"
               "the desktop. A picture that would decode to more than 250 million pixels\n"
               "is refused."},
    {.shown = "--scale",
     .argument = "N",
     .needs = N_("a whole number from 1 to 8"),
     .take = [](const char* v,
                CommandLine* cl) { return ParseInt(v, 1, kMaxScreenScale, &cl->scale); },
     .group = kDrawing,
     .help = N_("draw the banner and the frame rate N times as large\n"
                "(1 to 8; the screen's factor, or 1 with --render)"),
     .manual = R"(Draw the banner and the frame rate
.I N
times as large, 1 to 8, for this run.
Without it they follow the screen's scale factor as the desktop states it:
.B GDK_SCALE
when set, else the
.B Xft.dpi
resource divided by 96 and rounded, at least 1;
.B \-\-render
draws at 1.
The water, the intro and the message card take their size from the view
and stay as they are.)"},
    // A folder for this run, and its picture instead of the desktop.
    {.shown = "--image-dir",
     .argument = "DIR",
     .needs = N_("a folder"),
     .take =
         [](const char* v, CommandLine* cl) {
             if (!TakeText(v, &cl->imageDir)) return false;
             cl->settings.push_back(SettingOverride{FindSetting("Picture"),
                                                    static_cast<int32_t>(ShownPicture::Folder)});
             return true;
         },
     .group = kDrawing,
     .help = N_("show a picture picked at random from this folder (and\n"
                "its sub-folders) instead of the desktop"),
     .manual = R"(Show a picture picked at random from this folder instead of the desktop,
for this run only (the folder and
.B \-\-picture 1
together).
PNG and JPEG files are looked for in the folder and its sub-folders (at
most 4000 entries and 16 levels deep; hidden files and folders are passed
over, and no folder is read twice, so a link loop does no harm).
Files named so are read only when their content is PNG or JPEG.
A picture that cannot be read gives way to another; a folder that is
empty or cannot be read is named in one line, and the desktop (or the
built-in picture) is shown instead.)"},

    {.shown = "--render",
     .argument = "DIR",
     .needs = N_("a folder"),
     .take = [](const char* v, CommandLine* cl) { return TakeText(v, &cl->renderDir); },
     .setsMode = true,
     .mode = HostMode::Render,
     .group = kHeadless,
     .help = N_("draw offscreen and write PNG frames into DIR"),
     .manual = "Draw offscreen, without a display, and write PNG frames into\n"
               ".IR DIR ."},
    {.shown = "--size",
     .argument = "WxH",
     .manualArgument = R"(" W" x H)",
     .needs = N_("WxH"),
     .take = [](const char* v,
                CommandLine* cl) { return ParseExactSize(v, &cl->renderWidth, &cl->renderHeight); },
     .renderOnly = true,
     .group = kHeadless,
     .help = N_("frame size (1280x720)"),
     .manual = "The frame size; 1280x720 when not given."},
    {.shown = "--seconds",
     .argument = "S",
     .needs = N_("a number of seconds"),
     .take = [](const char* v, CommandLine* cl) { return ParseSeconds(v, &cl->renderSeconds); },
     .renderOnly = true,
     .group = kHeadless,
     .help = N_("seconds of simulated time (10)"),
     .manual = "Seconds of simulated time, at least one frame's; 10 when not given."},
    {.shown = "--fps",
     .argument = "F",
     .needs = N_("a whole number of frames per second (1 to 1000)"),
     .take = [](const char* v, CommandLine* cl) { return ParseInt(v, 1, kMaxFps, &cl->renderFps); },
     .renderOnly = true,
     .group = kHeadless,
     .help = N_("simulated frames per second (30)"),
     .manual = "Simulated frames per second, 1 to 1000; 30 when not given."},
    {.shown = "--every",
     .argument = "K",
     .needs = N_("a whole number"),
     .take = [](const char* v,
                CommandLine* cl) { return ParseInt(v, 1, 1000000, &cl->renderEvery); },
     .renderOnly = true,
     .group = kHeadless,
     .help = N_("write every K-th frame (30)"),
     .manual = "Write every\n"
               ".IR K \\-th\n"
               "frame; 30 when not given."},

    {.shown = "--configure",
     .setsMode = true,
     .mode = HostMode::Configure,
     .group = kOther,
     .help = N_("edit the settings"),
     .manual = R"(Open the settings dialog, which edits the saved settings.
Its preview pane runs the saver with the values shown, before they are
saved:
.B mereglass \-\-preview \-window\-id
.I ID
with each value as a setting option and the desktop's picture as
.BR \-\-image ,
restarted as the values change and ended when the dialog closes.
When the saver cannot run there, the pane says \(lqNo preview\(rq.)"},
    {.shown = "--idle-watch",
     .setsMode = true,
     .mode = HostMode::IdleWatch,
     .group = kOther,
     .help = N_("stay in the session and start full screen after the\n"
                "idle time; input ends it (GNOME, KDE, sway, X11)"),
     .manual = R"(Stay in the session, asleep, and start the saver on every output once
the session has been idle for the time the
.B IdleMinutes
setting names; input ends it, and it starts again after the next idle
time.
It never starts while a program holds off idleness (a video, a
presentation) or while the session is locked.
It learns of idleness from GNOME's idle monitor, else the Wayland
compositor's idle notifications, else the X server's idle time; under
XScreenSaver or MATE's screen saver it says that daemon is in charge and
exits with status 1.
One runs per session; a second one says so and exits with status 1.)"},
    {.shown = "--idle-seconds",
     .argument = "N",
     .needs = N_("a whole number of seconds from 1 to 43200"),
     .take = [](const char* v,
                CommandLine* cl) { return ParseInt(v, 1, kMaxIdleSeconds, &cl->idleSeconds); },
     .group = kOther,
     .help = N_("with --idle-watch: the idle time in seconds, for this run"),
     .manual = R"(With
.BR \-\-idle\-watch :
the idle time in seconds, 1 to 43200, for this run.)"},
    {.shown = "--lock-seconds",
     .argument = "N",
     .needs = N_("a whole number of seconds from 1 to 43200"),
     .take = [](const char* v,
                CommandLine* cl) { return ParseInt(v, 1, kMaxIdleSeconds, &cl->lockSeconds); },
     .group = kOther,
     .help = N_("with --idle-watch: lock the screen after the saver has\n"
                "run N seconds, for this run"),
     .manual = R"(With
.BR \-\-idle\-watch :
ask the desktop's own lock screen to lock the session once the saver has
run N seconds, 1 to 43200, for this run (see
.BR LockMinutes ).)"},
    {.shown = "--idle-status",
     .setsMode = true,
     .mode = HostMode::IdleStatus,
     .group = kOther,
     .help = N_("say whether the idle watch runs, its idle time, and\n"
                "which programs hold the saver off, since when"),
     .manual = R"(Print whether the session's idle watcher runs, its idle time and where it
learns of idleness, whether the saver shows, and one line for each
program that holds the saver off: its name and process, how it asks
(org.freedesktop.ScreenSaver, logind, GNOME's session manager, KDE's
power management, or the X screen saver's suspension), since when, and
its reason.
Exits with status 0 when a watcher runs, 1 otherwise.)"},
    {.shown = "--add-to-xscreensaver",
     .setsMode = true,
     .mode = HostMode::AddToXScreenSaver,
     .group = kOther,
     .help = N_("list this program in ~/.xscreensaver's programs"),
     .manual = R"(Add the line
.RS
.PP
.EX
GL: "Mereglass" \fIPATH\fP \-\-root
.EE
.PP
to the
.B programs:
resource of
.IR ~/.xscreensaver ,
where
.I PATH
is the full path of this program.
The old file is kept as
.IR ~/.xscreensaver.bak .
When the file has no
.B programs:
resource yet, the list starts from the system's default list, so that no
other saver disappears.
XScreenSaver rereads the file by itself.
.RE)"},
    {.shown = "--remove-from-xscreensaver",
     .setsMode = true,
     .mode = HostMode::RemoveFromXScreenSaver,
     .group = kOther,
     .help = N_("take it out of that list again"),
     .manual = "Take that line out of\n"
               ".I ~/.xscreensaver\n"
               "again."},
    {.shown = "--add-to-autostart",
     .setsMode = true,
     .mode = HostMode::AddToAutostart,
     .group = kOther,
     .help = N_("start --idle-watch with every session (an autostart\n"
                "entry in ~/.config/autostart)"),
     .manual = R"(Start
.B \-\-idle\-watch
with every session: write the desktop entry
.I mereglass\-idle\-watch.desktop
into the autostart folder,
.IR $XDG_CONFIG_HOME/autostart ,
which runs the full path of this program with
.BR \-\-idle\-watch .
The autostart folder is made when it is missing; nothing else in the
user's folders changes.
The desktop lists the entry among its startup programs, where it can also
be switched off.
When the same entry is there already, nothing changes; one that differs
(from a program since moved) is written again.
In a running session (a Wayland or X display), the idle watch starts at
once too, unless one runs already.)"},
    {.shown = "--remove-from-autostart",
     .setsMode = true,
     .mode = HostMode::RemoveFromAutostart,
     .group = kOther,
     .help = N_("take that entry away again"),
     .manual = "Take that entry out of the autostart folder again; the idle watch\n"
               "running in this session ends too."},
    // Ends the parsing: whatever else is given, the list is printed.
    {.shown = "--help",
     .alias = "h",
     .setsMode = true,
     .mode = HostMode::Help,
     .group = kOther,
     .help = N_("show this list"),
     .manual = "Print every option and exit."},
};

namespace {

// The word's name is the entry's shown name or its alias.
bool Names(const OptionEntry& entry, const char* name) {
    const char* shown = entry.shown + std::strspn(entry.shown, "-");
    return std::strcmp(shown, name) == 0 ||
           (entry.alias != nullptr && std::strcmp(entry.alias, name) == 0);
}

// The entry for an option's name, or null. Of two entries with the name,
// the one with a value when `next` is a value (a number, or a word that is
// not an option), else the other.
const OptionEntry* FindOption(const char* name, const char* next) {
    const bool valueFollows = IsNumber(next) || (next != nullptr && OptionName(next) == nullptr);
    const OptionEntry* found = nullptr;
    for (const OptionEntry& entry : kOptions) {
        if (!Names(entry, name)) continue;
        if (found == nullptr || (entry.argument != nullptr) == valueFollows) found = &entry;
    }
    return found;
}

// The setting an option names ("water-speed"; "lighting" or "no-lighting"
// for a bool), or null.
const SettingEntry* SettingOfOption(const char* name) {
    for (const SettingEntry& entry : kSettings) {
        const std::string option = SettingOptionName(entry);
        if (option == name) return &entry;
        if (entry.kind == SettingKind::Bool && "no-" + option == name) return &entry;
    }
    return nullptr;
}

// What the parser has gathered so far.
struct Parse {
    CommandLine cl;
    bool modeSet = false;
    bool renderOption = false;  // --size, --seconds, --fps F, --every
    const char* modeOption = nullptr;
    std::string* error;

    explicit Parse(std::string* e) : error(e) {}

    bool SetMode(HostMode mode, const char* arg);
    bool Take(const OptionEntry& entry, const char* arg, const char* value, int* i);
    bool TakeSetting(const SettingEntry& entry, const char* arg, const char* name,
                     const char* value, int* i);
    bool Missing(const char* arg, const std::string& what) {
        *error = Format(_("%s needs %s"), arg, what.c_str());
        return false;
    }
};

bool Parse::SetMode(HostMode mode, const char* arg) {
    // A window id given with -root wins, in either order: settings programs
    // run a hack in their preview pane as "hack --root --window-id ID". That
    // pane is the saver's small preview: water only, as --preview draws it.
    const bool rootAndId = (cl.mode == HostMode::Root && mode == HostMode::WindowId) ||
                           (cl.mode == HostMode::WindowId && mode == HostMode::Root);
    if (modeSet && rootAndId) {
        if (mode == HostMode::WindowId) {
            cl.mode = mode;
            modeOption = arg;
        }
        cl.preview = true;
        return true;
    }
    if (modeSet && cl.mode != mode) {
        *error = Format(_("%s cannot be combined with %s"), arg, modeOption);
        return false;
    }
    cl.mode = mode;
    modeSet = true;
    modeOption = arg;
    return true;
}

// The option and its value, if it takes one (*i then moves past it).
bool Parse::Take(const OptionEntry& entry, const char* arg, const char* value, int* i) {
    if (entry.take != nullptr && !entry.take(value, &cl)) return Missing(arg, _(entry.needs));
    if (entry.setsMode && !SetMode(entry.mode, arg)) return false;
    if (entry.renderOnly) renderOption = true;
    if (entry.argument != nullptr) ++*i;
    return true;
}

bool Parse::TakeSetting(const SettingEntry& entry, const char* arg, const char* name,
                        const char* value, int* i) {
    int32_t v = 0;
    if (entry.kind == SettingKind::Bool) {
        v = std::strncmp(name, "no-", 3) == 0 ? 0 : 1;
    } else {
        int parsed = 0;
        if (!ParseInt(value, entry.minimum, entry.maximum, &parsed)) {
            return Missing(arg,
                           Format(_("a whole number from %d to %d"), entry.minimum, entry.maximum));
        }
        v = parsed;
        ++*i;
    }
    cl.settings.push_back(SettingOverride{&entry, v});
    return true;
}

}  // namespace

void ApplySettingOverrides(const CommandLine& cl, UserSettings* settings) {
    for (const SettingOverride& o : cl.settings) o.entry->set(*settings, o.value);
    if (!cl.imageDir.empty()) settings->PictureFolder = cl.imageDir;
}

bool ParseWindowId(const char* text, unsigned long* id) {
    if (text == nullptr) return false;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (*digits == '\0') return false;
    for (const char* c = digits; *c != '\0'; ++c) {
        const int ch = static_cast<unsigned char>(*c);
        if (hex ? !std::isxdigit(ch) : !std::isdigit(ch)) return false;
    }
    errno = 0;
    const unsigned long v = std::strtoul(digits, nullptr, hex ? 16 : 10);
    if (errno != 0 || v == 0) return false;
    *id = v;
    return true;
}

long RenderTicks(const CommandLine& cl) { return std::lround(cl.renderSeconds * cl.renderFps); }

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error) {
    Parse parse(error);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* name = OptionName(arg);
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (name == nullptr) {
            *error = Format(_("unexpected argument: %s"), DisplayName(arg).c_str());
            return false;
        }
        if (const OptionEntry* entry = FindOption(name, value)) {
            if (entry->setsMode && entry->mode == HostMode::Help) {
                *out = CommandLine{};
                out->mode = HostMode::Help;
                return true;
            }
            if (!parse.Take(*entry, arg, value, &i)) return false;
        } else if (const SettingEntry* setting = SettingOfOption(name)) {
            if (!parse.TakeSetting(*setting, arg, name, value, &i)) return false;
        } else {
            *error = Format(_("unknown option: %s"), DisplayName(arg).c_str());
            return false;
        }
    }
    if (parse.cl.idleSeconds != 0 && parse.cl.mode != HostMode::IdleWatch) {
        *error = _("--idle-seconds goes with --idle-watch");
        return false;
    }
    if (parse.cl.lockSeconds != 0 && parse.cl.mode != HostMode::IdleWatch) {
        *error = _("--lock-seconds goes with --idle-watch");
        return false;
    }
    if (parse.renderOption && parse.cl.mode != HostMode::Render) {
        *error = _("--size, --seconds, --fps F and --every go with --render DIR");
        return false;
    }
    if (parse.cl.mode == HostMode::Render && RenderTicks(parse.cl) < 1) {
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, "%g", parse.cl.renderSeconds);
        *error = Format(_("--seconds %s is less than one frame at %d frames per second"), seconds,
                        parse.cl.renderFps);
        return false;
    }
    *out = parse.cl;
    return true;
}
