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
const SettingSpec kSettings[6] = {
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

const SettingSpec* FindSetting(const char* key) {
    for (const SettingSpec& spec : kSettings) {
        if (std::strcmp(spec.key, key) == 0) return &spec;
    }
    return nullptr;
}

UserSettings FactorySettings() {
    UserSettings s{};
    for (const SettingSpec& spec : kSettings) spec.set(s, spec.factory);
    return s;
}

namespace {

void WriteSetting(platform::SettingsStore* store, const SettingSpec& spec, int32_t value) {
    if (spec.kind == SettingKind::Bool) {
        platform::StoreSetBool(store, spec.key, value == 1);
    } else {
        platform::StoreSetInteger(store, spec.key, value);
    }
}

}  // namespace

void ResetSettingsStore(platform::SettingsStore* store) {
    platform::StoreSetString(store, kSettingsVersionKey, kSettingsVersion);
    for (const SettingSpec& spec : kSettings) WriteSetting(store, spec, spec.factory);
    platform::StoreSynchronize(store);
}

UserSettings ReadSettings(platform::SettingsStore* store) {
    std::string version;
    const bool hasVersion = platform::StoreString(store, kSettingsVersionKey, &version);

    // The bools first, then the integers, each in table order.
    UserSettings s{};
    for (SettingKind kind : {SettingKind::Bool, SettingKind::Integer}) {
        for (const SettingSpec& spec : kSettings) {
            if (spec.kind != kind) continue;
            const int32_t v = kind == SettingKind::Bool ? Flag(platform::StoreBool(store, spec.key))
                                                        : platform::StoreInteger(store, spec.key);
            spec.set(s, v);
        }
    }

    if (!hasVersion || version != kSettingsVersion) {
        ResetSettingsStore(store);
        s = FactorySettings();
    }
    return s;
}

void ConfigureSheetOpen(const UserSettings& fields, SheetControls* controls) {
    for (const SettingSpec& spec : kSettings) controls->*spec.control = spec.get(fields);
}

bool ConfigureSheetSave(const SheetControls& controls, UserSettings* fields,
                        platform::SettingsStore* store) {
    for (const SettingSpec& spec : kSettings) {
        spec.set(*fields, controls.*spec.control);
        WriteSetting(store, spec, spec.get(*fields));
    }
    return platform::StoreSynchronize(store);
}

void ConfigureSheetDefaults(SheetControls* controls) {
    for (const SettingSpec& spec : kSettings) controls->*spec.control = spec.factory;
}
