// The configuration dialog described from the settings table: one control
// per entry (the on/off settings first), the picture folder after the
// picture's choice, the sheet's values turned into the dialog's and back,
// and Save running the sheet's action of view/settings.h. The platform's
// settings dialog shows it.
#include "view/configure_dialog.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/settings_dialog.h"
#include "view/settings.h"

using platform::DialogControl;
using platform::DialogValue;
using platform::DialogValues;
using platform::SettingsDialogDescription;

struct ConfigureDialog {
    UserSettings* fields = nullptr;
    platform::SettingsStore* store = nullptr;
    platform::SettingsDialog* dialog = nullptr;
};

namespace {

// The widget names of the table's entries, in the table's order.
const char* const kOutletNames[kSettingCount] = {"oMainMonitorOnly", "oWaterSpeed", "oWaterRes",
                                                 "oDripSpeed",       "oLighting",   "oWantBowl",
                                                 "oFullDetail",      "oPicture",    "oIdleMinutes"};

// The dialog's rows, top to bottom: the on/off settings first, then the
// others; the picture folder (null) follows the picture's choice, offered
// whatever is shown, since its pictures also stand in for a desktop that
// cannot be read.
std::vector<const SettingEntry*> Rows() {
    std::vector<const SettingEntry*> rows;
    for (bool checks : {true, false}) {
        for (const SettingEntry& entry : kSettings) {
            if ((entry.style == SettingControl::Check) != checks) continue;
            rows.push_back(&entry);
            if (entry.control == &SheetControls::oPicture) rows.push_back(nullptr);
        }
    }
    return rows;
}

DialogControl Spin(double minimum, double maximum, double step, int digits, int scale) {
    DialogControl c;
    c.style = DialogControl::Style::Spin;
    c.minimum = minimum;
    c.maximum = maximum;
    c.step = step;
    c.digits = digits;
    c.scale = scale;
    return c;
}

// A choice of every value from the entry's minimum to its maximum, showing
// the factory value for one outside them.
DialogControl Choice(const SettingEntry& entry) {
    DialogControl c;
    c.style = DialogControl::Style::Choice;
    c.fallback = entry.factory;
    for (int v = entry.minimum; v <= entry.maximum; ++v) {
        std::string text;
        if (entry.style == SettingControl::GridSide) {
            const std::string side = std::to_string(1 << v);
            text = side + " \u00d7 " + side;
        } else {
            text = entry.choices[v - entry.minimum];
        }
        c.choices.push_back({v, text});
    }
    return c;
}

DialogControl Control(const SettingEntry& entry) {
    DialogControl c;
    switch (entry.style) {
        case SettingControl::Check:
            c.style = DialogControl::Style::Check;
            break;
        case SettingControl::Number:
            c = Spin(entry.minimum, entry.maximum, 5, 0, 1);
            break;
        case SettingControl::Hundredths:
            c = Spin(entry.minimum / 100.0, entry.maximum / 100.0, 0.25, 2, 100);
            break;
        case SettingControl::GridSide:
        case SettingControl::Choice:
            c = Choice(entry);
            break;
    }
    c.key = kOutletNames[&entry - kSettings];
    c.label = entry.label;
    return c;
}

DialogControl FolderControl() {
    DialogControl c;
    c.style = DialogControl::Style::Folder;
    c.key = "oPictureFolder";
    c.label = "Picture folder";
    c.title = "Picture Folder";
    return c;
}

DialogValues ToDialog(const SheetControls& controls) {
    DialogValues values;
    for (const SettingEntry* row : Rows()) {
        DialogValue v;
        if (row) {
            v.number = controls.*row->control;
        } else {
            v.path = controls.oPictureFolder;
        }
        values.push_back(v);
    }
    return values;
}

SheetControls FromDialog(const DialogValues& values) {
    SheetControls controls{};
    const std::vector<const SettingEntry*> rows = Rows();
    for (size_t i = 0; i < rows.size() && i < values.size(); ++i) {
        if (rows[i]) {
            controls.*rows[i]->control = values[i].number;
        } else {
            controls.oPictureFolder = values[i].path;
        }
    }
    return controls;
}

// The controls as the view's fields set them: every opening shows the
// fields, not abandoned edits.
DialogValues Shown(const UserSettings& fields) {
    SheetControls controls{};
    ConfigureSheetOpen(fields, &controls);
    return ToDialog(controls);
}

SettingsDialogDescription Describe(ConfigureDialog* d) {
    SettingsDialogDescription desc;
    desc.title = "Mereglass Settings";
    for (const SettingEntry* row : Rows()) {
        desc.controls.push_back(row ? Control(*row) : FolderControl());
    }
    desc.webSite = {"_Web Site", "configureSheet_openwebsite"};
    desc.defaults = {"_Defaults", "configureSheet_defaults"};
    desc.cancel = {"_Cancel", "configureSheet_cancel"};
    desc.save = {"_Save", "configureSheet_save"};
    desc.webPage = platform::kWebPage;
    SheetControls factory{};
    ConfigureSheetDefaults(&factory);
    desc.defaultValues = ToDialog(factory);
    desc.onSave = [d](const DialogValues& values) {
        ConfigureSheetSave(FromDialog(values), d->fields, d->store);
    };
    desc.previewFlags = [](const DialogValues& values) { return SheetFlags(FromDialog(values)); };
    return desc;
}

}  // namespace

ConfigureDialog* CreateConfigureDialog(UserSettings* settings, platform::SettingsStore* store,
                                       std::string* error) {
    auto* d = new ConfigureDialog;
    d->fields = settings;
    d->store = store;
    d->dialog = platform::CreateSettingsDialog(Describe(d), Shown(*settings), error);
    if (d->dialog == nullptr) {
        delete d;
        return nullptr;
    }
    return d;
}

void DestroyConfigureDialog(ConfigureDialog* dialog) {
    if (!dialog) return;
    platform::DestroySettingsDialog(dialog->dialog);
    delete dialog;
}

void* ConfigureDialogWindow(ConfigureDialog* dialog) {
    return platform::SettingsDialogWindow(dialog->dialog);
}

void SetConfigurePreviewProgram(ConfigureDialog* dialog, const std::string& program) {
    platform::SetSettingsDialogPreviewProgram(dialog->dialog, program);
}

bool RunConfigureDialog(ConfigureDialog* dialog) {
    return platform::RunSettingsDialog(dialog->dialog, Shown(*dialog->fields));
}
