// The user settings: the one table that declares each setting once (store
// key, kind, field, factory value, range, and every text and widget name
// it has), the picture folder kept beside it, the version rule that reads
// them from the settings store, and the settings dialog's actions written
// against its controls. The controls (SheetControls, named as the dialog's
// widgets) and the actions (ConfigureSheetOpen, ...Save, ...Defaults) keep
// the names of the sheet the dialog grew from. Relies on the platform's
// settings store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/settings.h"
#include "settings/setting_choices.h"

namespace platform {
struct SettingsStore;
}

// The module name of the settings store and the version string that makes
// its values trusted.
inline constexpr const char* kSettingsModule = "tkMereglass";
inline constexpr const char* kSettingsVersion = "1.0.1";
inline constexpr const char* kSettingsVersionKey = "version";

// The store key of the picture folder: a path, not an integer, so it is
// kept beside the table with the store's file-name functions (any bytes a
// name may hold). Empty (the factory value) for none.
inline constexpr const char* kPictureFolderKey = "PictureFolder";

// The view's settings: the multi-screen rule's flag, the record that the
// scene driver receives, and the host's choices of detail and picture.
struct UserSettings {
    bool MainMonitorOnly;
    SETTINGS record;
    // Off (the factory value, and what a store without the key gives): on a
    // software renderer the saver draws at half the width and height and at
    // most 30 frames a second. On: every pixel, every tick. Hardware
    // renderers always draw in full.
    bool FullDetail;
    // On (the factory value): while the machine runs on battery the saver
    // draws at most 30 frames a second and, on a software renderer, the
    // reduced frame whatever FullDetail says.
    bool SaveBattery;
    // The desktop, or a picture picked at random from PictureFolder each
    // run. A folder stands in for a desktop that cannot be read either way.
    ShownPicture Picture;
    std::string PictureFolder;
    // The idle watcher (--idle-watch) starts the saver after this many
    // minutes without input.
    int32_t IdleMinutes;
    // The desktop's picture as it is, blurred or pixelated; never the
    // user's own pictures.
    DesktopPrivacy Privacy;
    // The idle watcher asks the desktop's own lock screen to lock the
    // session once the saver has run this many minutes; 0: never.
    int32_t LockMinutes;
};

// The controls of the settings dialog. An on/off control holds a
// state (1 on, 0 off, anything else counts as off); an integer control holds
// its integer value.
struct SheetControls {
    int oMainMonitorOnly;
    int oLighting;
    int oWantBowl;
    int oCaustics;
    int oWaterSpeed;
    int oWaterRes;
    int oDripSpeed;
    int oFullDetail;
    int oSaveBattery;
    int oPicture;
    int oIdleMinutes;
    int oDesktopPrivacy;
    int oLockMinutes;
    std::string oPictureFolder;  // the folder chooser
};

enum class SettingKind { Bool, Integer };

// How the settings dialog shows a setting.
enum class SettingControl {
    Check,       // an on/off check button
    Number,      // a spin button of whole numbers, stepping by 5
    Minutes,     // a spin button of whole minutes, stepping by 1
    GridSide,    // a choice of grid sizes 2^v × 2^v
    Hundredths,  // a spin button in seconds, stored in hundredths of a second
    Choice,      // a list of the entry's `choices`, value 0 first
};

// One setting: its row in the table, every fact and text the program has
// of it. `minimum` and `maximum` bound what the dialog and the flags
// offer; a value outside them (from the store, or in the view's fields)
// runs as `belowMinimum` or `aboveMaximum` (see FitSetting). The scene's
// record's fields take these four from the scene (kWaterSpeedRange and the
// others in scene/settings.h), which applies them itself too.
struct SettingEntry {
    const char* key = "";  // the store key ("WaterSpeed")
    SettingKind kind = SettingKind::Integer;
    SettingControl style = SettingControl::Number;
    const char* label = "";   // what the dialog and --help call it, in English (N_)
    const char* widget = "";  // the dialog's widget name, by which tests find it
    // The manual page's paragraph (roff), in English. @MIN@, @MAX@ and
    // @FACTORY@ stand for the range and the factory value ("on" or "off" for
    // a setting that is on or off).
    const char* manual = "";
    int32_t factory = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t belowMinimum = 0;
    int32_t aboveMaximum = 0;
    int SheetControls::*control = nullptr;  // the dialog's control
    int32_t (*get)(const UserSettings&) = nullptr;
    void (*set)(UserSettings&, int32_t) = nullptr;
    // A Choice's texts, one for each value from minimum to maximum.
    const char* const* choices = nullptr;  // English (N_), shown translated
};

// The longest idle time and lock time, minutes: twelve hours.
inline constexpr int32_t kMaxWatchMinutes = 720;

// Every setting, in the order the reset, the dialog, Save and Defaults visit
// them: "MainMonitorOnly", "WaterSpeed", "WaterRes", "DripSpeed",
// "Lighting", "WantBowl", "Caustics", "FullDetail", "SaveBattery",
// "Picture", "DesktopPrivacy", "IdleMinutes", "LockMinutes". The picture
// folder follows them.
inline constexpr size_t kSettingCount = 13;
extern const SettingEntry kSettings[kSettingCount];
// The entry for `key`, or null.
const SettingEntry* FindSetting(const char* key);

// The factory values: MainMonitorOnly false, lighting and bowl on, caustics
// off, wave
// speed 100 %, water resolution 2^6, drips every 2.5 s, the desktop shown,
// no picture folder, the desktop as it is, 10 idle minutes before the idle
// watcher starts it.
UserSettings FactorySettings();

// `value` brought into the entry's range: itself when inside it, else
// belowMinimum or aboveMaximum.
int32_t FitSetting(const SettingEntry& entry, int32_t value);

// Reads the settings at a view's creation. When the store's "version" is
// absent or not exactly "1.0.1", keeps a copy of the old file beside it
// ("<file>.v<version>", or "<file>.old" without one), resets the store to
// the factory values (version first), synchronizes it and returns the
// factory values, with one line to the user (Tell); when no copy can be
// kept, or the user made the file read-only, the file stays as it is and
// the factory values are returned, with one line.
// Otherwise every integer value is brought into its range (FitSetting);
// a stored value that changes so is named in one line to the user,
// and the store is not written.
UserSettings ReadSettings(platform::SettingsStore* store);

// The settings as ReadSettings gives them, without writing the store or
// saying anything: for a host that needs them before its views read them.
UserSettings PeekSettings(const platform::SettingsStore* store);

// Writes "version", the factory values and an empty picture folder to the
// store and synchronizes it.
void ResetSettingsStore(platform::SettingsStore* store);

// Opening the dialog: the controls show the caller's fields (not the store),
// as the scene runs them (FitSetting).
void ConfigureSheetOpen(const UserSettings& fields, SheetControls* controls);
// Save: the fields take the controls' values and are written to the store
// ("version" untouched), which is synchronized. False when the store could
// not be written (the fields are updated anyway).
bool ConfigureSheetSave(const SheetControls& controls, UserSettings* fields,
                        platform::SettingsStore* store);
// Defaults: the controls show the factory values (no picture folder);
// fields and store stay.
void ConfigureSheetDefaults(SheetControls* controls);
// Cancel changes nothing: the next opening shows the fields again.

// The command-line option of a setting: its store key in lower case with
// dashes between the words ("WaterSpeed" gives "water-speed"). A bool
// setting also has the form "no-" + name.
std::string SettingOptionName(const SettingEntry& entry);

// The one-run options that run the saver with the controls' values: the
// picture folder first when one is chosen ("--image-dir", DIR), then one or
// two words per setting in the table's order ("--no-lighting",
// "--water-speed", "150", ...). A number outside the setting's range is
// given as the nearest end of it.
std::vector<std::string> SheetFlags(const SheetControls& controls);
