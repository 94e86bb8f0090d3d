// The settings dialog on GTK 3, built from a plain description of what it
// edits: a live preview of the saver (the preview pane) above a grid of
// controls (check buttons, spin buttons, drop-down choices, a folder
// chooser), and the buttons Web site, Defaults, Cancel and Save. It knows
// nothing of the settings behind the controls: the caller describes them,
// gives the values to show, and is handed the values back on Save and
// whenever the preview needs its flags; a control may carry a line of
// text under it that follows the values. Relies on GTK 3 and the preview
// pane; this header includes no GTK.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// One entry of a drop-down choice: the value it stands for and its text.
struct DialogChoice {
    int value = 0;
    std::string text;
};

// A line of text under a control, made from the values shown.
struct DialogNote {
    std::string text;       // empty: no line
    bool stressed = false;  // shown in bold, as a warning
};

// A control's value: 1 or 0 for a check button, the number of a spin
// button or choice, the path of a folder chooser ("" for none).
struct DialogValue {
    int number = 0;
    std::string path;
};
// One value per control, in the order of the description's controls.
using DialogValues = std::vector<DialogValue>;

// One control of the dialog.
struct DialogControl {
    enum class Style {
        Check,   // a check button carrying its label
        Spin,    // a spin button, its label to the left
        Choice,  // a drop-down list of `choices`, its label to the left
        Folder,  // a folder chooser titled `title`, its label to the left
    };
    Style style = Style::Check;
    std::string key;    // the widget's name, by which tests find it
    std::string label;  // the check button's text, or the label beside it
    // Spin: the range and the step of the arrows as shown, and the digits
    // after the point. The value is shown divided by `scale` (a value in
    // hundredths of a second shown in seconds has scale 100) and read back
    // multiplied by it and rounded.
    double minimum = 0.0;
    double maximum = 0.0;
    double step = 1.0;
    int digits = 0;
    int scale = 1;
    // Choice: the entries, in the order listed, and the value shown instead
    // of one that is not among them (and read when none is chosen).
    std::vector<DialogChoice> choices;
    int fallback = 0;
    std::string title;  // Folder: the chooser's window title
    // False for a control that is no setting: Defaults leaves it as it is.
    bool resetByDefaults = true;
    // False for a setting that cannot work here: shown, greyed out (its
    // note says why).
    bool available = true;
    // When set, the line under the control, made again whenever a value
    // shown changes.
    std::function<DialogNote(const DialogValues&)> note;
};

// A button: its label, with an underscore before its mnemonic, and its
// widget name.
struct DialogButton {
    std::string label;
    std::string key;
};

// Everything the dialog shows and does.
struct SettingsDialogDescription {
    std::string title;
    // One row each, top to bottom: a check button spans both columns.
    std::vector<DialogControl> controls;
    // Web site opens `webPage` in a browser; Defaults shows
    // `defaultValues` (in the controls it resets); Cancel closes; Save
    // hands the values shown to `onSave`, then closes.
    DialogButton webSite, defaults, cancel, save;
    std::string webPage;
    DialogValues defaultValues;
    std::function<void(const DialogValues&)> onSave;
    // When above 0, the lines under the controls are made again this often,
    // for what they show of things outside the dialog.
    int noteRefreshSeconds = 0;
    // The saver's one-run options for the values shown, for the preview.
    std::function<std::vector<std::string>(const DialogValues&)> previewFlags;
    // Shown under the controls only where the screenshot portal would ask
    // the user over the saver (platform/portal_screenshot.h:
    // PortalScreenshotGrant is Unasked): makes the one request that may
    // ask, so that the question comes over this dialog, and shows the
    // outcome beside it.
    DialogButton allowScreenshots{"_Allow Screenshots\u2026", "allowScreenshots"};
};

struct SettingsDialog;

// Builds the dialog (not yet shown), its controls showing `shown`. Reads
// the desktop for the preview now, before the dialog covers any of it.
// Null, with a reason, when GTK cannot open a display. The caller releases
// it with DestroySettingsDialog, which ends the preview.
SettingsDialog* CreateSettingsDialog(const SettingsDialogDescription& description,
                                     const DialogValues& shown, std::string* error);
void DestroySettingsDialog(SettingsDialog* dialog);
// The dialog's GtkWindow, for tests and embedding.
void* SettingsDialogWindow(SettingsDialog* dialog);
// The program the preview runs instead of this one. Takes effect at the
// preview's next start.
void SetSettingsDialogPreviewProgram(SettingsDialog* dialog, const std::string& program);
// Shows the dialog modally with its controls showing `shown` (not the
// edits of an earlier run) and returns when it is closed: true by Save,
// false by Cancel or the window's close button.
bool RunSettingsDialog(SettingsDialog* dialog, const DialogValues& shown);

}  // namespace platform
