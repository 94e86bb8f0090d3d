// The mereglass command line: option table and parser. Relies on the
// standard library only.
#include "app/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/screen_scale.h"

namespace {

// Largest accepted size in either direction, pixels.
constexpr int kMaxSide = 16384;
// Longest headless run, seconds of simulated time.
constexpr double kMaxSeconds = 24.0 * 3600.0;
constexpr int kMaxFps = 1000;

const char kUsage[] =
    "Usage: mereglass [options]\n"
    "Shows the desktop under a pool of rippling water.\n"
    "\n"
    "Where to draw (options take one or two dashes):\n"
    "  -window               in a window of its own (the default)\n"
    "  -geometry WxH[+X+Y]   size and place of that window (1280x720)\n"
    "  -root                 in $XSCREENSAVER_WINDOW, else the root window\n"
    "  -window-id ID         in an existing window (hex 0x... or decimal)\n"
    "  --fullscreen          full screen on every monitor; a key or a click ends it\n"
    "  -display NAME         the X display to use\n"
    "  --wayland             --fullscreen on the Wayland compositor itself (the\n"
    "                        default when $WAYLAND_DISPLAY is set)\n"
    "  --x11                 --fullscreen through the X server, also on Wayland\n"
    "\n"
    "Drawing:\n"
    "  --preview             draw as a small preview: water only, no overlay\n"
    "  -fps                  show the frame rate in a corner\n"
    "  --image FILE          show this picture instead of the desktop\n"
    "  --scale N             draw the banner and the frame rate N times as large\n"
    "                        (1 to 8; the screen's factor, or 1 with --render)\n"
    "  --image-dir DIR       show a picture picked at random from this folder (and\n"
    "                        its sub-folders) instead of the desktop\n"
    "\n"
    "Without a display:\n"
    "  --render DIR          draw offscreen and write PNG frames into DIR\n"
    "  --size WxH            frame size (1280x720)\n"
    "  --seconds S           seconds of simulated time (10)\n"
    "  --fps F               simulated frames per second (30)\n"
    "  --every K             write every K-th frame (30)\n"
    "\n"
    "Other:\n"
    "  --configure           edit the settings\n"
    "  --add-to-xscreensaver     list this program in ~/.xscreensaver's programs\n"
    "  --remove-from-xscreensaver  take it out of that list again\n"
    "  --help                show this list\n"
    "\n"
    "Settings for this run (the saved ones apply otherwise):\n";

// "--name" and "-name" both give "name"; anything else gives null.
const char* OptionName(const char* arg) {
    if (arg[0] != '-') return nullptr;
    if (arg[1] == '-') return arg[2] != '\0' ? arg + 2 : nullptr;
    return arg[1] != '\0' ? arg + 1 : nullptr;
}

bool ParseInt(const char* text, int lo, int hi, int* value) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseSeconds(const char* text, double* value) {
    if (text == nullptr || *text == '\0') return false;
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

}  // namespace

// The setting an option names ("water-speed"; "lighting" or "no-lighting"
// for a bool), or null.
static const SettingEntry* SettingOfOption(const char* name) {
    for (const SettingEntry& entry : kSettings) {
        const std::string option = SettingOptionName(entry);
        if (option == name) return &entry;
        if (entry.kind == SettingKind::Bool && "no-" + option == name) return &entry;
    }
    return nullptr;
}

void ApplySettingOverrides(const CommandLine& cl, UserSettings* settings) {
    for (const SettingOverride& o : cl.settings) o.entry->set(*settings, o.value);
    if (!cl.imageDir.empty()) settings->PictureFolder = cl.imageDir;
}

std::string UsageText() {
    std::string text = kUsage;
    for (const SettingEntry& entry : kSettings) {
        std::string option = "  --";
        if (entry.kind == SettingKind::Bool) {
            option += "[no-]" + SettingOptionName(entry);
        } else {
            option += SettingOptionName(entry) + " " + std::to_string(entry.minimum) + ".." +
                      std::to_string(entry.maximum);
        }
        if (option.size() < 30) option.resize(30, ' ');
        std::string label = entry.label;
        if (entry.style == SettingControl::Hundredths) {
            const size_t unit = label.find(" (s)");
            if (unit != std::string::npos) label.erase(unit);
            label += " in 1/100 s";
        } else if (entry.style == SettingControl::GridSide) {
            label += ", 2^N points a side";
        } else if (entry.style == SettingControl::Choice) {
            for (int32_t v = entry.minimum; v <= entry.maximum; ++v) {
                label += (v == entry.minimum ? ": " : ", ") + std::to_string(v) + " " +
                         entry.choices[v - entry.minimum];
            }
        }
        text += option + " " + label;
        if (entry.kind == SettingKind::Integer) {
            text += " (" + std::to_string(entry.factory) + ")";
        } else {
            text += entry.factory != 0 ? " (on)" : " (off)";
        }
        text += '\n';
    }
    return text;
}

bool ParseWindowId(const char* text, unsigned long* id) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || v == 0) return false;
    *id = v;
    return true;
}

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error) {
    CommandLine cl;
    bool modeSet = false;
    bool renderOption = false;  // --size, --seconds, --fps F, --every
    const char* modeOption = nullptr;

    auto setMode = [&](HostMode mode, const char* arg) {
        // A window id given with -root wins, in either order: settings
        // programs run a hack in their preview pane as "hack --root
        // --window-id ID". That pane is the saver's small preview: water
        // only, as --preview draws it.
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
            *error = std::string(arg) + " cannot be combined with " + modeOption;
            return false;
        }
        cl.mode = mode;
        modeSet = true;
        modeOption = arg;
        return true;
    };

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* name = OptionName(arg);
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (name == nullptr) {
            *error = std::string("unexpected argument: ") + arg;
            return false;
        }
        auto missing = [&](const char* what) {
            *error = std::string(arg) + " needs " + what;
            return false;
        };

        if (std::strcmp(name, "help") == 0 || std::strcmp(name, "h") == 0) {
            *out = CommandLine{};
            out->mode = HostMode::Help;
            return true;
        } else if (std::strcmp(name, "window") == 0) {
            if (!setMode(HostMode::Window, arg)) return false;
        } else if (std::strcmp(name, "root") == 0) {
            if (!setMode(HostMode::Root, arg)) return false;
        } else if (std::strcmp(name, "window-id") == 0) {
            if (!ParseWindowId(value, &cl.windowId))
                return missing("a window id (0x... or decimal)");
            if (!setMode(HostMode::WindowId, arg)) return false;
            ++i;
        } else if (std::strcmp(name, "fullscreen") == 0) {
            if (!setMode(HostMode::FullScreen, arg)) return false;
        } else if (std::strcmp(name, "wayland") == 0 || std::strcmp(name, "x11") == 0) {
            const auto session =
                name[0] == 'w' ? CommandLine::Session::Native : CommandLine::Session::X11;
            if (cl.session != CommandLine::Session::Automatic && cl.session != session) {
                *error = "--wayland and --x11 do not go together";
                return false;
            }
            cl.session = session;
        } else if (std::strcmp(name, "configure") == 0) {
            if (!setMode(HostMode::Configure, arg)) return false;
        } else if (std::strcmp(name, "add-to-xscreensaver") == 0) {
            if (!setMode(HostMode::AddToXScreenSaver, arg)) return false;
        } else if (std::strcmp(name, "remove-from-xscreensaver") == 0) {
            if (!setMode(HostMode::RemoveFromXScreenSaver, arg)) return false;
        } else if (std::strcmp(name, "render") == 0) {
            if (value == nullptr || *value == '\0') return missing("a folder");
            cl.renderDir = value;
            if (!setMode(HostMode::Render, arg)) return false;
            ++i;
        } else if (std::strcmp(name, "geometry") == 0) {
            if (!ParseGeometry(value, &cl)) return missing("WxH or WxH+X+Y");
            ++i;
        } else if (std::strcmp(name, "display") == 0) {
            if (value == nullptr || *value == '\0') return missing("a display name");
            cl.display = value;
            ++i;
        } else if (std::strcmp(name, "preview") == 0) {
            cl.preview = true;
        } else if (std::strcmp(name, "fps") == 0) {
            // "-fps" alone shows the frame rate; "--fps F" sets the rate of
            // a headless run. A word after it that is not an option was
            // meant as the rate.
            if (IsNumber(value) || (value != nullptr && OptionName(value) == nullptr)) {
                if (!ParseInt(value, 1, kMaxFps, &cl.renderFps)) {
                    return missing("a whole number of frames per second (1 to 1000)");
                }
                renderOption = true;
                ++i;
            } else {
                cl.showFps = true;
            }
        } else if (std::strcmp(name, "size") == 0) {
            if (!ParseExactSize(value, &cl.renderWidth, &cl.renderHeight)) return missing("WxH");
            renderOption = true;
            ++i;
        } else if (std::strcmp(name, "seconds") == 0) {
            if (!ParseSeconds(value, &cl.renderSeconds)) return missing("a number of seconds");
            renderOption = true;
            ++i;
        } else if (std::strcmp(name, "every") == 0) {
            if (!ParseInt(value, 1, 1000000, &cl.renderEvery)) return missing("a whole number");
            renderOption = true;
            ++i;
        } else if (std::strcmp(name, "image") == 0) {
            if (value == nullptr || *value == '\0') return missing("a file");
            cl.imageFile = value;
            ++i;
        } else if (std::strcmp(name, "scale") == 0) {
            if (!ParseInt(value, 1, kMaxScreenScale, &cl.scale)) {
                return missing("a whole number from 1 to 8");
            }
            ++i;
        } else if (std::strcmp(name, "image-dir") == 0) {
            // A folder for this run, and its picture instead of the desktop.
            if (value == nullptr || *value == '\0') return missing("a folder");
            cl.imageDir = value;
            cl.settings.push_back(SettingOverride{FindSetting("Picture"),
                                                  static_cast<int32_t>(ShownPicture::Folder)});
            ++i;
        } else if (const SettingEntry* entry = SettingOfOption(name)) {
            int32_t v = 0;
            if (entry->kind == SettingKind::Bool) {
                v = std::strncmp(name, "no-", 3) == 0 ? 0 : 1;
            } else {
                int parsed = 0;
                if (!ParseInt(value, entry->minimum, entry->maximum, &parsed)) {
                    return missing(("a whole number from " + std::to_string(entry->minimum) +
                                    " to " + std::to_string(entry->maximum))
                                       .c_str());
                }
                v = parsed;
                ++i;
            }
            cl.settings.push_back(SettingOverride{entry, v});
        } else {
            *error = std::string("unknown option: ") + arg;
            return false;
        }
    }

    if (renderOption && cl.mode != HostMode::Render) {
        *error = "--size, --seconds, --fps F and --every go with --render DIR";
        return false;
    }
    *out = cl;
    return true;
}
