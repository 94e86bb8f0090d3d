// The settings table, the version rule and the sheet's actions. Relies on
// the platform's settings store (platform/platform.h).
#include "host/settings.h"

#include <cstring>
#include <string>

#include "host/platform/platform.h"

namespace {

int32_t Flag(bool b) { return b ? 1 : 0; }

}  // namespace

// The drip interval is offered from 1/100 s to one hour; the scene needs at
// least 1. The water resolution is the base-2 logarithm of the grid side,
// 16 × 16 to 256 × 256.
const SettingEntry kSettings[6] = {
    {"MainMonitorOnly", SettingKind::Bool, SettingControl::Check, "Run on the main monitor only", 0,
     0, 1, &SheetControls::oMainMonitorOnly,
     [](const UserSettings& s) { return Flag(s.MainMonitorOnly); },
     [](UserSettings& s, int32_t v) { s.MainMonitorOnly = v == 1; }},
    {"WaterSpeed", SettingKind::Integer, SettingControl::Number, "Wave speed (%)", 100, 10, 400,
     &SheetControls::oWaterSpeed, [](const UserSettings& s) { return s.record.WATERSPEED; },
     [](UserSettings& s, int32_t v) { s.record.WATERSPEED = v; }},
    {"WaterRes", SettingKind::Integer, SettingControl::GridSide, "Water resolution", 6, 4, 8,
     &SheetControls::oWaterRes, [](const UserSettings& s) { return s.record.WATERSHIFT; },
     [](UserSettings& s, int32_t v) { s.record.WATERSHIFT = v; }},
    {"DripSpeed", SettingKind::Integer, SettingControl::Hundredths, "Time between drips (s)", 250,
     1, 360000, &SheetControls::oDripSpeed,
     [](const UserSettings& s) { return s.record.DRIPSPEED; },
     [](UserSettings& s, int32_t v) { s.record.DRIPSPEED = v; }},
    {"Lighting", SettingKind::Bool, SettingControl::Check, "Moving light", 1, 0, 1,
     &SheetControls::oLighting, [](const UserSettings& s) { return Flag(s.record.LIGHTING); },
     [](UserSettings& s, int32_t v) { s.record.LIGHTING = v == 1; }},
    {"WantBowl", SettingKind::Bool, SettingControl::Check, "Bowl-shaped pool", 1, 0, 1,
     &SheetControls::oWantBowl, [](const UserSettings& s) { return Flag(s.record.WANTBOWL); },
     [](UserSettings& s, int32_t v) { s.record.WANTBOWL = v == 1; }},
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
    platform::StoreSynchronize(store);
}

UserSettings ReadSettings(platform::SettingsStore* store) {
    std::string version;
    const bool hasVersion = platform::StoreString(store, kSettingsVersionKey, &version);

    // The bools first, then the integers, each in table order.
    UserSettings s{};
    for (SettingKind kind : {SettingKind::Bool, SettingKind::Integer}) {
        for (const SettingEntry& entry : kSettings) {
            if (entry.kind != kind) continue;
            const int32_t v = kind == SettingKind::Bool ? Flag(platform::StoreBool(store, entry.key))
                                                        : platform::StoreInteger(store, entry.key);
            entry.set(s, v);
        }
    }

    if (!hasVersion || version != kSettingsVersion) {
        ResetSettingsStore(store);
        s = FactorySettings();
    }
    return s;
}

void ConfigureSheetOpen(const UserSettings& fields, SheetControls* controls) {
    for (const SettingEntry& entry : kSettings) controls->*entry.control = entry.get(fields);
}

bool ConfigureSheetSave(const SheetControls& controls, UserSettings* fields,
                        platform::SettingsStore* store) {
    for (const SettingEntry& entry : kSettings) {
        entry.set(*fields, controls.*entry.control);
        WriteSetting(store, entry, entry.get(*fields));
    }
    return platform::StoreSynchronize(store);
}

void ConfigureSheetDefaults(SheetControls* controls) {
    for (const SettingEntry& entry : kSettings) controls->*entry.control = entry.factory;
}
