// The settings table, the version rule and the sheet's actions. Relies on
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
    {"MainMonitorOnly", SettingKind::Bool, SettingControl::Check,
     N_("Run on the main monitor only"), 0, 0, 1, 0, 1, &SheetControls::oMainMonitorOnly,
     [](const UserSettings& s) { return Flag(s.MainMonitorOnly); },
     [](UserSettings& s, int32_t v) { s.MainMonitorOnly = v == 1; }},
    {"WaterSpeed", SettingKind::Integer, SettingControl::Number, N_("Wave speed (%)"), 100,
     kWaterSpeedRange.minimum, kWaterSpeedRange.maximum, kWaterSpeedRange.belowMinimum,
     kWaterSpeedRange.aboveMaximum, &SheetControls::oWaterSpeed,
     [](const UserSettings& s) { return s.record.WATERSPEED; },
     [](UserSettings& s, int32_t v) { s.record.WATERSPEED = v; }},
    {"WaterRes", SettingKind::Integer, SettingControl::GridSide, N_("Water resolution"), 6,
     kWaterShiftRange.minimum, kWaterShiftRange.maximum, kWaterShiftRange.belowMinimum,
     kWaterShiftRange.aboveMaximum, &SheetControls::oWaterRes,
     [](const UserSettings& s) { return s.record.WATERSHIFT; },
     [](UserSettings& s, int32_t v) { s.record.WATERSHIFT = v; }},
    {"DripSpeed", SettingKind::Integer, SettingControl::Hundredths, N_("Time between drips (s)"),
     250, kDripSpeedRange.minimum, kDripSpeedRange.maximum, kDripSpeedRange.belowMinimum,
     kDripSpeedRange.aboveMaximum, &SheetControls::oDripSpeed,
     [](const UserSettings& s) { return s.record.DRIPSPEED; },
     [](UserSettings& s, int32_t v) { s.record.DRIPSPEED = v; }},
    {"Lighting", SettingKind::Bool, SettingControl::Check, N_("Moving light"), 1, 0, 1, 0, 1,
     &SheetControls::oLighting, [](const UserSettings& s) { return Flag(s.record.LIGHTING); },
     [](UserSettings& s, int32_t v) { s.record.LIGHTING = v == 1; }},
    {"WantBowl", SettingKind::Bool, SettingControl::Check, N_("Bowl-shaped pool"), 1, 0, 1, 0, 1,
     &SheetControls::oWantBowl, [](const UserSettings& s) { return Flag(s.record.WANTBOWL); },
     [](UserSettings& s, int32_t v) { s.record.WANTBOWL = v == 1; }},
    {"Caustics", SettingKind::Bool, SettingControl::Check, N_("Light on the pool floor"), 0, 0, 1,
     0, 1, &SheetControls::oCaustics, [](const UserSettings& s) { return Flag(s.record.CAUSTICS); },
     [](UserSettings& s, int32_t v) { s.record.CAUSTICS = v == 1; }},
    {"FullDetail", SettingKind::Bool, SettingControl::Check,
     N_("Full detail on a software renderer (uses far more CPU)"), 0, 0, 1, 0, 1,
     &SheetControls::oFullDetail, [](const UserSettings& s) { return Flag(s.FullDetail); },
     [](UserSettings& s, int32_t v) { s.FullDetail = v == 1; }},
    {"SaveBattery", SettingKind::Bool, SettingControl::Check, N_("Save power on battery"), 1, 0, 1,
     0, 1, &SheetControls::oSaveBattery, [](const UserSettings& s) { return Flag(s.SaveBattery); },
     [](UserSettings& s, int32_t v) { s.SaveBattery = v == 1; }},
    {"Picture", SettingKind::Integer, SettingControl::Choice, N_("Show"), 0, 0, 1, 0, 0,
     &SheetControls::oPicture,
     [](const UserSettings& s) { return static_cast<int32_t>(s.Picture); },
     [](UserSettings& s, int32_t v) {
         s.Picture = v == 1 ? ShownPicture::Folder : ShownPicture::Desktop;
     },
     kPictureChoices},
    {"DesktopPrivacy", SettingKind::Integer, SettingControl::Choice, N_("Desktop picture"), 0, 0, 2,
     0, 2, &SheetControls::oDesktopPrivacy,
     [](const UserSettings& s) { return static_cast<int32_t>(s.Privacy); },
     [](UserSettings& s, int32_t v) {
         s.Privacy = static_cast<DesktopPrivacy>(std::clamp(v, 0, 2));
     },
     kPrivacyChoices},
    // A file without the key (one written before it existed) reads 0, which
    // runs as the factory value.
    {"IdleMinutes", SettingKind::Integer, SettingControl::Minutes,
     N_("Start after this many idle minutes"), 10, 1, 720, 10, 720, &SheetControls::oIdleMinutes,
     [](const UserSettings& s) { return s.IdleMinutes; },
     [](UserSettings& s, int32_t v) { s.IdleMinutes = v; }},
    {"LockMinutes", SettingKind::Integer, SettingControl::Minutes,
     N_("Lock the screen after the saver has run"), 0, 0, 720, 0, 720, &SheetControls::oLockMinutes,
     [](const UserSettings& s) { return s.LockMinutes; },
     [](UserSettings& s, int32_t v) { s.LockMinutes = v; }},
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
