// The settings table, the version rule and the dialog's actions. Relies on
// the platform's settings store (platform/platform.h).
#include "settings/settings_table.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

int32_t Flag(bool b) { return b ? 1 : 0; }

}  // namespace

// The ranges of the scene's record (wave speed, water resolution, drip
// interval) and what a value outside them runs as are the scene's own
// (scene/settings.h), which applies them to any record it is given.
namespace {

const char* const kPictureChoices[] = {N_("the desktop"), N_("a picture from a folder")};
const char* const kPrivacyChoices[] = {N_("as it is"), N_("blurred"), N_("pixelated")};

}  // namespace

const SettingEntry kSettings[kSettingCount] = {
    {.key = "MainMonitorOnly",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Run on the main monitor only"),
     .widget = "oMainMonitorOnly",
     .manual = "Run on the main monitor only and leave the others black (@FACTORY@).",
     .factory = 0,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oMainMonitorOnly,
     .get = [](const UserSettings& s) { return Flag(s.MainMonitorOnly); },
     .set = [](UserSettings& s, int32_t v) { s.MainMonitorOnly = v == 1; }},
    {.key = "WaterSpeed",
     .kind = SettingKind::Integer,
     .style = SettingControl::Number,
     .label = N_("Wave speed (%)"),
     .widget = "oWaterSpeed",
     .manual = "Wave speed in percent, @MIN@ to @MAX@ (@FACTORY@).",
     .factory = 100,
     .minimum = kWaterSpeedRange.minimum,
     .maximum = kWaterSpeedRange.maximum,
     .belowMinimum = kWaterSpeedRange.belowMinimum,
     .aboveMaximum = kWaterSpeedRange.aboveMaximum,
     .control = &SheetControls::oWaterSpeed,
     .get = [](const UserSettings& s) { return s.record.WATERSPEED; },
     .set = [](UserSettings& s, int32_t v) { s.record.WATERSPEED = v; }},
    {.key = "WaterRes",
     .kind = SettingKind::Integer,
     .style = SettingControl::GridSide,
     .label = N_("Water resolution"),
     .widget = "oWaterRes",
     .manual = R"(Water resolution: 2\(haN points a side, N from @MIN@ to @MAX@ (@FACTORY@).)",
     .factory = 6,
     .minimum = kWaterShiftRange.minimum,
     .maximum = kWaterShiftRange.maximum,
     .belowMinimum = kWaterShiftRange.belowMinimum,
     .aboveMaximum = kWaterShiftRange.aboveMaximum,
     .control = &SheetControls::oWaterRes,
     .get = [](const UserSettings& s) { return s.record.WATERSHIFT; },
     .set = [](UserSettings& s, int32_t v) { s.record.WATERSHIFT = v; }},
    {.key = "DripSpeed",
     .kind = SettingKind::Integer,
     .style = SettingControl::Hundredths,
     .label = N_("Time between drips (s)"),
     .widget = "oDripSpeed",
     .manual = "The shortest time between two drips, in hundredths of a second, @MIN@ to @MAX@\n"
               "(@FACTORY@); the longest is twice that.",
     .factory = 250,
     .minimum = kDripSpeedRange.minimum,
     .maximum = kDripSpeedRange.maximum,
     .belowMinimum = kDripSpeedRange.belowMinimum,
     .aboveMaximum = kDripSpeedRange.aboveMaximum,
     .control = &SheetControls::oDripSpeed,
     .get = [](const UserSettings& s) { return s.record.DRIPSPEED; },
     .set = [](UserSettings& s, int32_t v) { s.record.DRIPSPEED = v; }},
    {.key = "Lighting",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Moving light"),
     .widget = "oLighting",
     .manual = "A light that circles the pool; off, it stands still above the middle "
               "(@FACTORY@).",
     .factory = 1,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oLighting,
     .get = [](const UserSettings& s) { return Flag(s.record.LIGHTING); },
     .set = [](UserSettings& s, int32_t v) { s.record.LIGHTING = v == 1; }},
    {.key = "WantBowl",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Bowl-shaped pool"),
     .widget = "oWantBowl",
     .manual = "A bowl-shaped pool: the picture lines a spherical basin instead of a flat\n"
               "floor (@FACTORY@).",
     .factory = 1,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oWantBowl,
     .get = [](const UserSettings& s) { return Flag(s.record.WANTBOWL); },
     .set = [](UserSettings& s, int32_t v) { s.record.WANTBOWL = v == 1; }},
    {.key = "Caustics",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Light on the pool floor"),
     .widget = "oCaustics",
     .manual = "The bright, moving net of light that the ripples focus on the pool floor\n"
               "(@FACTORY@).",
     .factory = 0,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oCaustics,
     .get = [](const UserSettings& s) { return Flag(s.record.CAUSTICS); },
     .set = [](UserSettings& s, int32_t v) { s.record.CAUSTICS = v == 1; }},
    {.key = "FullDetail",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Full detail on a software renderer (uses far more CPU)"),
     .widget = "oFullDetail",
     .manual = "On a software renderer (Mesa's llvmpipe or softpipe, where the processor\n"
               "draws every pixel), the saver normally draws at half the width and height of\n"
               "its window, stretched to fill it, and at most 30 frames a second, which\n"
               "costs a fraction of the processor time.\n"
               "With full detail it draws every pixel at up to 60 frames a second (@FACTORY@).\n"
               "A graphics card always draws in full detail.",
     .factory = 0,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oFullDetail,
     .get = [](const UserSettings& s) { return Flag(s.FullDetail); },
     .set = [](UserSettings& s, int32_t v) { s.FullDetail = v == 1; }},
    {.key = "SaveBattery",
     .kind = SettingKind::Bool,
     .style = SettingControl::Check,
     .label = N_("Save power on battery"),
     .widget = "oSaveBattery",
     .manual = "While the machine runs on battery (as UPower tells on the system bus), the\n"
               "saver draws at most 30 frames a second and, on a software renderer, at half\n"
               "the width and height whatever FullDetail says; on mains it draws as before\n"
               "(@FACTORY@).",
     .factory = 1,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 1,
     .control = &SheetControls::oSaveBattery,
     .get = [](const UserSettings& s) { return Flag(s.SaveBattery); },
     .set = [](UserSettings& s, int32_t v) { s.SaveBattery = v == 1; }},
    {.key = "Picture",
     .kind = SettingKind::Integer,
     .style = SettingControl::Choice,
     .label = N_("Show"),
     .widget = "oPicture",
     .manual = R"(What lies under the water: 0 the desktop, 1 a picture from the picture
folder instead (@FACTORY@).
The folder is chosen in the settings dialog or with
.BR \-\-image\-dir ;
with 0, its pictures still stand in for a desktop that cannot be read.)",
     .factory = 0,
     .minimum = 0,
     .maximum = 1,
     .belowMinimum = 0,
     .aboveMaximum = 0,
     .control = &SheetControls::oPicture,
     .get = [](const UserSettings& s) { return static_cast<int32_t>(s.Picture); },
     .set = [](UserSettings& s,
               int32_t v) { s.Picture = v == 1 ? ShownPicture::Folder : ShownPicture::Desktop; },
     .choices = kPictureChoices},
    {.key = "DesktopPrivacy",
     .kind = SettingKind::Integer,
     .style = SettingControl::Choice,
     .label = N_("Desktop picture"),
     .widget = "oDesktopPrivacy",
     .manual = R"(The desktop's picture: 0 as it is, 1 blurred, 2 pixelated (@FACTORY@), so that
passers-by cannot read what was on the screen.
Only the desktop's own picture is changed, never an image file, the picture
folder's pictures or the built-in picture.)",
     .factory = 0,
     .minimum = 0,
     .maximum = 2,
     .belowMinimum = 0,
     .aboveMaximum = 2,
     .control = &SheetControls::oDesktopPrivacy,
     .get = [](const UserSettings& s) { return static_cast<int32_t>(s.Privacy); },
     .set = [](UserSettings& s,
               int32_t v) { s.Privacy = static_cast<DesktopPrivacy>(std::clamp(v, 0, 2)); },
     .choices = kPrivacyChoices},
    // A file without the key (one written before it existed) reads 0, which
    // runs as the factory value.
    {.key = "IdleMinutes",
     .kind = SettingKind::Integer,
     .style = SettingControl::Minutes,
     .label = N_("Start after this many idle minutes"),
     .widget = "oIdleMinutes",
     .manual = R"(With
.BR \-\-idle\-watch :
the minutes without input after which the saver starts, @MIN@ to @MAX@
(@FACTORY@).)",
     .factory = 10,
     .minimum = 1,
     .maximum = kMaxWatchMinutes,
     .belowMinimum = 10,
     .aboveMaximum = kMaxWatchMinutes,
     .control = &SheetControls::oIdleMinutes,
     .get = [](const UserSettings& s) { return s.IdleMinutes; },
     .set = [](UserSettings& s, int32_t v) { s.IdleMinutes = v; }},
    {.key = "LockMinutes",
     .kind = SettingKind::Integer,
     .style = SettingControl::Minutes,
     .label = N_("Lock the screen after the saver has run"),
     .widget = "oLockMinutes",
     .manual = R"(With
.BR \-\-idle\-watch :
lock the screen after the saver has run this many minutes, @MIN@ to @MAX@
(@FACTORY@: never).
The desktop's own lock screen locks it (GNOME's, KDE's, or whatever
locker listens to logind, such as swaylock under swayidle, or xss-lock):
the saver stays up until the lock screen shows, so the unlocked desktop is
never seen, and says in one line when nothing locked the session within
10 seconds.)",
     .factory = 0,
     .minimum = 0,
     .maximum = kMaxWatchMinutes,
     .belowMinimum = 0,
     .aboveMaximum = kMaxWatchMinutes,
     .control = &SheetControls::oLockMinutes,
     .get = [](const UserSettings& s) { return s.LockMinutes; },
     .set = [](UserSettings& s, int32_t v) { s.LockMinutes = v; }},
};

const SettingEntry* FindSetting(const char* key) {
    for (const SettingEntry& entry : kSettings) {
        if (std::strcmp(entry.key, key) == 0) return &entry;
    }
    return nullptr;
}

UserSettings FactorySettings() {
    UserSettings s{};
    for (const SettingEntry& entry : kSettings) entry.set(s, entry.factory);
    return s;
}

namespace {

void WriteSetting(platform::SettingsStore* store, const SettingEntry& entry, int32_t value) {
    if (entry.kind == SettingKind::Bool) {
        platform::StoreSetBool(store, entry.key, value == 1);
    } else {
        platform::StoreSetInteger(store, entry.key, value);
    }
}

}  // namespace

void ResetSettingsStore(platform::SettingsStore* store) {
    platform::StoreSetString(store, kSettingsVersionKey, kSettingsVersion);
    for (const SettingEntry& entry : kSettings) WriteSetting(store, entry, entry.factory);
    platform::StoreSetString(store, kPictureFolderKey, "");
    platform::StoreSynchronize(store);
}

int32_t FitSetting(const SettingEntry& entry, int32_t value) {
    return FitRange({entry.minimum, entry.maximum, entry.belowMinimum, entry.aboveMaximum}, value);
}

namespace {

// A stored version as part of a file name: letters, digits, '.', '-' and
// '_' only, at most 32 of them.
std::string VersionSuffix(const std::string& version) {
    std::string out = "v";
    for (char c : version.substr(0, 32)) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

// The text without the blanks around it, which a number may have.
std::string WithoutBlanksAround(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Stored text for a one-line message: control characters become '?'.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

// True when the store holds this settings version, blanks around it
// passed over as around a number; *version (when given) gets what it holds.
bool OfThisVersion(const platform::SettingsStore* store, bool* hasVersion = nullptr,
                   std::string* version = nullptr) {
    std::string stored;
    const bool has = platform::StoreString(store, kSettingsVersionKey, &stored);
    if (hasVersion) *hasVersion = has;
    if (version) *version = stored;
    return has && WithoutBlanksAround(stored) == kSettingsVersion;
}

// True for an on/off setting that came after files of this settings
// version were written: such a file lacks the key, and runs it as made.
// Other absent keys read as off.
bool IsNewerKey(const SettingEntry& entry) { return std::strcmp(entry.key, "SaveBattery") == 0; }

// The stored values of a trusted store, each integer brought into its
// range; with `speak`, a value that changes so is named on standard error.
UserSettings ReadStoredValues(const platform::SettingsStore* store, bool speak) {
    const std::string& path = platform::SettingsStorePath(store);
    // The bools first, then the integers, each in table order.
    UserSettings s{};
    for (SettingKind kind : {SettingKind::Bool, SettingKind::Integer}) {
        for (const SettingEntry& entry : kSettings) {
            if (entry.kind != kind) continue;
            if (kind == SettingKind::Bool) {
                std::string text;
                const bool absent = !platform::StoreString(store, entry.key, &text);
                entry.set(s, absent && IsNewerKey(entry)
                                 ? entry.factory
                                 : Flag(platform::StoreBool(store, entry.key)));
                continue;
            }
            const int32_t stored = platform::StoreInteger(store, entry.key);
            const int32_t v = FitSetting(entry, stored);
            std::string text;
            if (speak && v != stored && platform::StoreString(store, entry.key, &text)) {
                Tell(Format(_("settings file %s: %s=%s is not from %d to %d; %d used"),
                            DisplayName(path).c_str(), entry.key,
                            Printable(WithoutBlanksAround(text)).c_str(), entry.minimum,
                            entry.maximum, v));
            }
            entry.set(s, v);
        }
    }
    platform::StoreFileName(store, kPictureFolderKey, &s.PictureFolder);
    return s;
}

}  // namespace

UserSettings ReadSettings(platform::SettingsStore* store) {
    const std::string& path = platform::SettingsStorePath(store);
    std::string version;
    bool hasVersion = false;
    if (!OfThisVersion(store, &hasVersion, &version)) {
        // The values of another version are not trusted; the file they came
        // in is kept for the user before the factory values replace it.
        const std::string shown = DisplayName(path), stored = Printable(version);
        std::string kept, error;
        if (platform::StoreKeepFile(store, hasVersion ? VersionSuffix(version).c_str() : "old",
                                    &kept, &error)) {
            if (!kept.empty()) {
                const std::string as = DisplayName(kept);
                Tell(hasVersion ? Format(_("settings file %s is of version \"%s\"; kept as %s, "
                                           "factory settings used"),
                                         shown.c_str(), stored.c_str(), as.c_str())
                                : Format(_("settings file %s has no version; kept as %s, factory "
                                           "settings used"),
                                         shown.c_str(), as.c_str()));
            }
            ResetSettingsStore(store);
        } else if (!error.empty()) {
            Tell(hasVersion ? Format(_("settings file %s is of version \"%s\"; left as it is "
                                       "(%s), factory settings used"),
                                     shown.c_str(), stored.c_str(), error.c_str())
                            : Format(_("settings file %s has no version; left as it is (%s), "
                                       "factory settings used"),
                                     shown.c_str(), error.c_str()));
        }
        return FactorySettings();
    }

    return ReadStoredValues(store, true);
}

UserSettings PeekSettings(const platform::SettingsStore* store) {
    if (!OfThisVersion(store)) return FactorySettings();
    return ReadStoredValues(store, false);
}

void ConfigureSheetOpen(const UserSettings& fields, SheetControls* controls) {
    for (const SettingEntry& entry : kSettings) {
        controls->*entry.control = FitSetting(entry, entry.get(fields));
    }
    controls->oPictureFolder = fields.PictureFolder;
}

bool ConfigureSheetSave(const SheetControls& controls, UserSettings* fields,
                        platform::SettingsStore* store) {
    for (const SettingEntry& entry : kSettings) {
        entry.set(*fields, controls.*entry.control);
        WriteSetting(store, entry, entry.get(*fields));
    }
    fields->PictureFolder = controls.oPictureFolder;
    platform::StoreSetFileName(store, kPictureFolderKey, fields->PictureFolder);
    return platform::StoreSynchronize(store);
}

void ConfigureSheetDefaults(SheetControls* controls) {
    for (const SettingEntry& entry : kSettings) controls->*entry.control = entry.factory;
    controls->oPictureFolder.clear();
}

std::string SettingOptionName(const SettingEntry& entry) {
    std::string name;
    for (const char* c = entry.key; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') {
            if (!name.empty()) name += '-';
            name += static_cast<char>(*c - 'A' + 'a');
        } else {
            name += *c;
        }
    }
    return name;
}

std::vector<std::string> SheetFlags(const SheetControls& controls) {
    std::vector<std::string> flags;
    // The folder first: --image-dir also chooses the folder's picture, which
    // the Picture flag after it then sets as the control shows.
    if (!controls.oPictureFolder.empty()) {
        flags.push_back("--image-dir");
        flags.push_back(controls.oPictureFolder);
    }
    for (const SettingEntry& entry : kSettings) {
        const int v = controls.*entry.control;
        if (entry.kind == SettingKind::Bool) {
            flags.push_back((v == 1 ? "--" : "--no-") + SettingOptionName(entry));
        } else {
            flags.push_back("--" + SettingOptionName(entry));
            flags.push_back(std::to_string(v < entry.minimum   ? entry.minimum
                                           : v > entry.maximum ? entry.maximum
                                                               : v));
        }
    }
    return flags;
}
