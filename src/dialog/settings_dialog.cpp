// The settings dialog described from the settings table: one control
// per entry (the on/off settings first), the picture folder after the
// picture's choice, the autostart check box before the idle time, and the
// desktop's own idle delay and what holds the saver off under it; the
// controls' values turned into the dialog's and back, and Save running the
// action of settings/settings_table.h and adding or removing the
// autostart entry (platform/autostart_entry.h). The platform's settings
// dialog shows it.
#include "dialog/settings_dialog.h"

#include <ctime>
#include <string>
#include <vector>

#include "platform/autostart_entry.h"
#include "platform/desktop_idle_delay.h"
#include "platform/idle_session.h"
#include "platform/platform.h"
#include "platform/settings_dialog.h"
#include "platform/watcher_lock.h"
#include "platform/watcher_status.h"
#include "settings/settings_table.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "watcher/desktop_delay_text.h"
#include "watcher/idle_status_text.h"

using platform::DialogControl;
using platform::DialogValue;
using platform::DialogValues;
using platform::SettingsDialogDescription;

struct SettingsDialog {
    UserSettings* fields = nullptr;
    platform::SettingsStore* store = nullptr;
    platform::SettingsDialog* dialog = nullptr;
    // The autostart entry's place; `autostart` false when it has none (no
    // home folder), and the box then shows off and Save says why.
    platform::AutostartPlace place;
    bool autostart = false;
    std::string autostartError;
    // The desktop's own idle delay, read when the dialog is built.
    platform::DesktopIdleDelay desktopDelay;
    // Why nothing could lock the session here; empty when something can.
    std::string noLocker;
};

namespace {

// A row of the dialog: a setting of the table, the picture folder, or the
// autostart check box, which is no setting (the entry's file holds it).
struct Row {
    enum class Kind { Setting, Folder, Autostart } kind = Kind::Setting;
    const SettingEntry* entry = nullptr;  // Setting
};

bool IsIdleMinutes(const Row& row) {
    return row.entry != nullptr && row.entry->control == &SheetControls::oIdleMinutes;
}

bool IsLockMinutes(const Row& row) {
    return row.entry != nullptr && row.entry->control == &SheetControls::oLockMinutes;
}

// The dialog's rows, top to bottom: the on/off settings first, then the
// others; the picture folder follows the picture's choice, offered
// whatever is shown, since its pictures also stand in for a desktop that
// cannot be read; the autostart check box comes before the idle time.
std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (bool checks : {true, false}) {
        for (const SettingEntry& entry : kSettings) {
            if ((entry.style == SettingControl::Check) != checks) continue;
            const Row row{Row::Kind::Setting, &entry};
            if (IsIdleMinutes(row)) rows.push_back({Row::Kind::Autostart});
            rows.push_back(row);
            if (entry.control == &SheetControls::oPicture) rows.push_back({Row::Kind::Folder});
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
            text = _(entry.choices[v - entry.minimum]);
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
        case SettingControl::Minutes:
            c = Spin(entry.minimum, entry.maximum, 1, 0, 1);
            break;
        case SettingControl::Hundredths:
            c = Spin(entry.minimum / 100.0, entry.maximum / 100.0, 0.25, 2, 100);
            break;
        case SettingControl::GridSide:
        case SettingControl::Choice:
            c = Choice(entry);
            break;
    }
    c.key = entry.widget;
    c.label = _(entry.label);
    return c;
}

DialogControl FolderControl() {
    DialogControl c;
    c.style = DialogControl::Style::Folder;
    c.key = "oPictureFolder";
    c.label = _("Picture folder");
    c.title = _("Picture Folder");
    return c;
}

DialogControl AutostartControl() {
    DialogControl c;
    c.style = DialogControl::Style::Check;
    c.key = "oStartWhenIdle";
    c.label = _("Start by itself when the computer is idle");
    c.resetByDefaults = false;
    return c;
}

DialogValues ToDialog(const SheetControls& controls, bool autostart) {
    DialogValues values;
    for (const Row& row : Rows()) {
        DialogValue v;
        switch (row.kind) {
            case Row::Kind::Setting:
                v.number = controls.*row.entry->control;
                break;
            case Row::Kind::Folder:
                v.path = controls.oPictureFolder;
                break;
            case Row::Kind::Autostart:
                v.number = autostart ? 1 : 0;
                break;
        }
        values.push_back(v);
    }
    return values;
}

SheetControls FromDialog(const DialogValues& values, bool* autostart = nullptr) {
    SheetControls controls{};
    const std::vector<Row> rows = Rows();
    for (size_t i = 0; i < rows.size() && i < values.size(); ++i) {
        switch (rows[i].kind) {
            case Row::Kind::Setting:
                controls.*rows[i].entry->control = values[i].number;
                break;
            case Row::Kind::Folder:
                controls.oPictureFolder = values[i].path;
                break;
            case Row::Kind::Autostart:
                if (autostart) *autostart = values[i].number == 1;
                break;
        }
    }
    return controls;
}

// What holds the saver off now, as the session's running watcher says;
// nothing when none runs.
std::vector<platform::IdleHold> WatchedHolds() {
    const std::string session = platform::CurrentWatcherSession();
    platform::WatcherStatus status;
    if (session.empty() ||
        !platform::AskWatcherStatus(platform::WatcherStatusPath(platform::WatcherLockPath(session)),
                                    &status)) {
        return {};
    }
    return status.holds;
}

// The idle time's spin button, with the desktop's own delay on the line
// under it, stressed when it comes first, and what holds the saver off
// now.
DialogControl IdleMinutesControl(const SettingEntry& entry, const SettingsDialog* d) {
    DialogControl c = Control(entry);
    const platform::DesktopIdleDelay delay = d->desktopDelay;
    c.note = [delay](const DialogValues& values) {
        platform::DialogNote note;
        if (delay.seconds > 0) {
            const int minutes = FromDialog(values).oIdleMinutes;
            const std::string warning = DesktopDelayWarning(delay, minutes * 60);
            note = warning.empty() ? platform::DialogNote{DesktopDelayNote(delay), false}
                                   : platform::DialogNote{warning, true};
        }
        const std::string holds =
            IdleHoldsNote(WatchedHolds(), static_cast<double>(std::time(nullptr)));
        if (!holds.empty()) note.text += (note.text.empty() ? "" : "\n") + holds;
        return note;
    };
    return c;
}

// The lock time's spin button, greyed out with the reason under it where
// nothing can lock the session.
DialogControl LockMinutesControl(const SettingEntry& entry, const SettingsDialog* d) {
    DialogControl c = Control(entry);
    if (d->noLocker.empty()) return c;
    c.available = false;
    const std::string why = Format(_("Not here: %s"), d->noLocker.c_str());
    c.note = [why](const DialogValues&) { return platform::DialogNote{why, false}; };
    return c;
}

// Why nothing could lock the session here, as the idle watcher would find
// it; empty when something can.
std::string NoLocker() {
    std::string why;
    platform::IdleSession* session = platform::OpenIdleSession(0, platform::IdlePurpose::Ask, &why);
    if (session == nullptr) return why;
    platform::IdleSessionLocker(session, &why);
    platform::CloseIdleSession(session);
    return why;
}

// The controls as the view's fields set them, and the box as the autostart
// entry's presence, switched on: every opening shows those, not abandoned
// edits.
DialogValues Shown(const SettingsDialog* d) {
    SheetControls controls{};
    ConfigureSheetOpen(*d->fields, &controls);
    return ToDialog(controls, d->autostart && platform::AutostartEntryEnabled(d->place));
}

// Save's part for the box: the entry added or removed when the box says
// otherwise than the folder; a failure is told.
void SaveAutostart(const SettingsDialog* d, bool wanted) {
    if (d->autostart && platform::AutostartEntryEnabled(d->place) == wanted) return;
    if (!d->autostart) {
        if (wanted)
            Tell(Format(_("cannot add the autostart entry: %s"), d->autostartError.c_str()));
        return;
    }
    std::string message;
    if (platform::ChangeAutostartEntry(wanted, d->place, &message) != 0) {
        Tell(message);
    } else {
        platform::FollowAutostart(wanted, d->place.program);
    }
}

SettingsDialogDescription Describe(SettingsDialog* d) {
    SettingsDialogDescription desc;
    desc.title = _("Mereglass Settings");
    // The holds under the idle time follow the session.
    desc.noteRefreshSeconds = 2;
    for (const Row& row : Rows()) {
        switch (row.kind) {
            case Row::Kind::Setting:
                desc.controls.push_back(IsIdleMinutes(row)   ? IdleMinutesControl(*row.entry, d)
                                        : IsLockMinutes(row) ? LockMinutesControl(*row.entry, d)
                                                             : Control(*row.entry));
                break;
            case Row::Kind::Folder:
                desc.controls.push_back(FolderControl());
                break;
            case Row::Kind::Autostart:
                desc.controls.push_back(AutostartControl());
                break;
        }
    }
    desc.webSite = {_("_Web Site"), "configureSheet_openwebsite"};
    desc.defaults = {_("_Defaults"), "configureSheet_defaults"};
    desc.cancel = {_("_Cancel"), "configureSheet_cancel"};
    desc.save = {_("_Save"), "configureSheet_save"};
    desc.allowScreenshots.label = _("_Allow Screenshots…");
    desc.webPage = platform::kWebPage;
    SheetControls factory{};
    ConfigureSheetDefaults(&factory);
    desc.defaultValues = ToDialog(factory, false);
    desc.onSave = [d](const DialogValues& values) {
        bool autostart = false;
        ConfigureSheetSave(FromDialog(values, &autostart), d->fields, d->store);
        SaveAutostart(d, autostart);
    };
    desc.previewFlags = [](const DialogValues& values) { return SheetFlags(FromDialog(values)); };
    return desc;
}

}  // namespace

SettingsDialog* CreateSettingsDialog(UserSettings* settings, platform::SettingsStore* store,
                                     std::string* error) {
    auto* d = new SettingsDialog;
    d->fields = settings;
    d->store = store;
    d->autostart = platform::DefaultAutostartPlace(&d->place, &d->autostartError);
    d->desktopDelay = platform::ReadDesktopIdleDelay();
    d->noLocker = NoLocker();
    d->dialog = platform::CreateSettingsDialog(Describe(d), Shown(d), error);
    if (d->dialog == nullptr) {
        delete d;
        return nullptr;
    }
    return d;
}

void DestroySettingsDialog(SettingsDialog* dialog) {
    if (!dialog) return;
    platform::DestroySettingsDialog(dialog->dialog);
    delete dialog;
}

void* SettingsDialogWindow(SettingsDialog* dialog) {
    return platform::SettingsDialogWindow(dialog->dialog);
}

void SetSettingsDialogProgram(SettingsDialog* dialog, const std::string& program) {
    platform::SetSettingsDialogPreviewProgram(dialog->dialog, program);
    dialog->place.program = program;
}

bool RunSettingsDialog(SettingsDialog* dialog) {
    return platform::RunSettingsDialog(dialog->dialog, Shown(dialog));
}
