// The settings dialog: a window with a live preview of the saver, the
// controls of the settings table, a chooser for the picture folder, the
// box "Start by itself when the computer is idle" (the idle watch's
// autostart entry, platform/autostart_entry.h, which Save adds or
// removes), the desktop's own idle delay under the idle time, and the
// buttons Cancel, Save, Defaults and Web site, working on the fields
// `settings` and on `store`. It is described here from the settings table,
// and runs the actions of settings/settings_table.h on what it hands back;
// the platform's toolkit (platform/settings_dialog.h) shows it. Relies on
// that, the platform's settings store, the autostart entry and the
// desktop's idle delay.
//
// While the dialog shows, the preview runs this program as a child
// (--preview -window-id ID, the controls' values as one-run flags, the
// desktop's picture as --image), restarted at most about twice a second as
// the values change and ended when the dialog closes; it never outlives the
// dialog's process. When it cannot run, the pane says "No preview".
#pragma once

#include <string>

#include "platform/platform.h"

struct UserSettings;  // settings/settings_table.h

struct SettingsDialog;

// Builds the dialog (not yet shown), its controls set from `settings`. Null,
// with a reason, when GTK cannot open a display. `settings` and `store` must
// outlive the dialog. The caller releases it with DestroySettingsDialog.
SettingsDialog* CreateSettingsDialog(UserSettings* settings, platform::SettingsStore* store,
                                     std::string* error);
void DestroySettingsDialog(SettingsDialog* dialog);
// The dialog's GtkWindow, for tests and embedding.
void* SettingsDialogWindow(SettingsDialog* dialog);
// The program the dialog runs instead of this one, in its preview and in
// the autostart entry and idle watch that its box starts (a test runs the
// real saver from its own process). The preview takes it at its next
// start.
void SetSettingsDialogProgram(SettingsDialog* dialog, const std::string& program);
// Shows the dialog and returns when it is closed (Save, Cancel or the
// window's close button). True when it was closed with Save.
bool RunSettingsDialog(SettingsDialog* dialog);
