// The settings dialog on GTK 3: the window, the preview pane above a grid
// of the described controls, and the row of buttons; widgets set from and
// read into the caller's values.
// Provides: CreateSettingsDialog, RunSettingsDialog and the rest of
// platform/settings_dialog.h.
#include "platform/settings_dialog.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/portal_screenshot.h"
#include "platform/toolkit/preview_pane.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

struct SettingsDialog {
    SettingsDialogDescription description;
    GtkWidget* window = nullptr;
    std::vector<GtkWidget*> controls;  // one per described control
    std::vector<GtkWidget*> notes;     // the line under each; null for none
    guint noteTimer = 0;               // makes the notes again, when asked for
    PreviewPane* preview = nullptr;
    GMainLoop* loop = nullptr;  // set while RunSettingsDialog waits
    bool saved = false;
    int asking = 0;  // Allow Screenshots' requests still waiting for the portal
};

namespace {

using Style = DialogControl::Style;

void SetWidget(GtkWidget* w, const DialogControl& control, const DialogValue& value) {
    switch (control.style) {
        case Style::Check:
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), value.number == 1);
            break;
        case Style::Spin:
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(w),
                                      value.number / static_cast<double>(control.scale));
            break;
        case Style::Choice:
            if (!gtk_combo_box_set_active_id(GTK_COMBO_BOX(w),
                                             std::to_string(value.number).c_str())) {
                gtk_combo_box_set_active_id(GTK_COMBO_BOX(w),
                                            std::to_string(control.fallback).c_str());
            }
            break;
        case Style::Folder:
            if (value.path.empty()) {
                gtk_file_chooser_unselect_all(GTK_FILE_CHOOSER(w));
            } else {
                gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(w), value.path.c_str());
            }
            break;
    }
}

DialogValue ReadWidget(GtkWidget* w, const DialogControl& control) {
    DialogValue value;
    switch (control.style) {
        case Style::Check:
            value.number = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) ? 1 : 0;
            break;
        case Style::Spin:
            gtk_spin_button_update(GTK_SPIN_BUTTON(w));
            value.number = static_cast<int>(
                std::lround(gtk_spin_button_get_value(GTK_SPIN_BUTTON(w)) * control.scale));
            break;
        case Style::Choice: {
            const char* id = gtk_combo_box_get_active_id(GTK_COMBO_BOX(w));
            value.number = id ? std::atoi(id) : control.fallback;
            break;
        }
        case Style::Folder:
            if (gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(w))) {
                value.path = folder;
                g_free(folder);
            }
            break;
    }
    return value;
}

DialogValues ReadWidgets(const SettingsDialog* d) {
    DialogValues values;
    const std::vector<DialogControl>& controls = d->description.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        values.push_back(ReadWidget(d->controls[i], controls[i]));
    }
    return values;
}

// The lines under the controls, for the values shown now.
void UpdateNotes(SettingsDialog* d) {
    const DialogValues values = ReadWidgets(d);
    for (size_t i = 0; i < d->notes.size(); ++i) {
        GtkWidget* label = d->notes[i];
        if (label == nullptr) continue;
        const DialogNote note = d->description.controls[i].note(values);
        if (note.stressed) {
            gchar* markup = g_markup_printf_escaped("<b>%s</b>", note.text.c_str());
            gtk_label_set_markup(GTK_LABEL(label), markup);
            g_free(markup);
        } else {
            gtk_label_set_text(GTK_LABEL(label), note.text.c_str());
        }
        GtkStyleContext* style = gtk_widget_get_style_context(label);
        if (note.stressed) {
            gtk_style_context_remove_class(style, GTK_STYLE_CLASS_DIM_LABEL);
            gtk_style_context_add_class(style, GTK_STYLE_CLASS_WARNING);
        } else {
            gtk_style_context_remove_class(style, GTK_STYLE_CLASS_WARNING);
            gtk_style_context_add_class(style, GTK_STYLE_CLASS_DIM_LABEL);
        }
        gtk_widget_set_visible(label, !note.text.empty());
    }
}

// The controls show `values`; with `defaults`, only those that Defaults
// resets.
void SetWidgets(SettingsDialog* d, const DialogValues& values, bool defaults = false) {
    const std::vector<DialogControl>& controls = d->description.controls;
    for (size_t i = 0; i < controls.size() && i < values.size(); ++i) {
        if (defaults && !controls[i].resetByDefaults) continue;
        SetWidget(d->controls[i], controls[i], values[i]);
    }
    UpdateNotes(d);
}

void EndDialog(SettingsDialog* d) {
    gtk_widget_hide(d->window);
    if (d->loop) g_main_loop_quit(d->loop);
}

void OnSave(GtkButton*, gpointer data) {
    auto* d = static_cast<SettingsDialog*>(data);
    if (d->description.onSave) d->description.onSave(ReadWidgets(d));
    d->saved = true;
    EndDialog(d);
}

void OnCancel(GtkButton*, gpointer data) { EndDialog(static_cast<SettingsDialog*>(data)); }

void OnDefaults(GtkButton*, gpointer data) {
    auto* d = static_cast<SettingsDialog*>(data);
    SetWidgets(d, d->description.defaultValues, true);
}

void OnWebSite(GtkButton*, gpointer data) {
    const char* page = static_cast<SettingsDialog*>(data)->description.webPage.c_str();
    if (!OpenWebPage(page)) {
        Tell(Format(_("cannot open %s in a browser"), page));
    }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    EndDialog(static_cast<SettingsDialog*>(data));
    return TRUE;  // keep the window for a later run
}

void OnValueChanged(GtkWidget*, gpointer data) {
    auto* d = static_cast<SettingsDialog*>(data);
    UpdateNotes(d);
    PreviewValuesChanged(d->preview);
}

// Every change of a control reaches the notes and the preview.
void WatchControl(SettingsDialog* d, const DialogControl& control, GtkWidget* w) {
    const char* signal = "value-changed";
    switch (control.style) {
        case Style::Check:
            signal = "toggled";
            break;
        case Style::Choice:
            signal = "changed";
            break;
        case Style::Folder:
            signal = "file-set";
            break;
        case Style::Spin:
            break;
    }
    g_signal_connect(w, signal, G_CALLBACK(OnValueChanged), d);
}

GtkWidget* MakeControl(const DialogControl& control) {
    switch (control.style) {
        case Style::Check:
            return gtk_check_button_new_with_label(control.label.c_str());
        case Style::Spin: {
            GtkWidget* spin =
                gtk_spin_button_new_with_range(control.minimum, control.maximum, control.step);
            gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), control.digits);
            return spin;
        }
        case Style::Choice: {
            GtkWidget* combo = gtk_combo_box_text_new();
            for (const DialogChoice& choice : control.choices) {
                gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo),
                                          std::to_string(choice.value).c_str(),
                                          choice.text.c_str());
            }
            return combo;
        }
        case Style::Folder:
            return gtk_file_chooser_button_new(control.title.c_str(),
                                               GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    }
    return nullptr;
}

// The control's row of the grid: a check button across both columns, any
// other control right of its label.
GtkWidget* AddControlRow(GtkWidget* grid, int row, const DialogControl& control) {
    GtkWidget* w = MakeControl(control);
    gtk_widget_set_name(w, control.key.c_str());
    gtk_widget_set_sensitive(w, control.available);
    if (control.style == Style::Check) {
        gtk_grid_attach(GTK_GRID(grid), w, 0, row, 2, 1);
        return w;
    }
    GtkWidget* label = gtk_label_new(control.label.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    if (control.style != Style::Folder) gtk_widget_set_hexpand(w, TRUE);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), w, 1, row, 1, 1);
    return w;
}

// The row under a control with a note: the note's line, under the control,
// wrapped, shown only while it has text.
GtkWidget* AddNoteRow(GtkWidget* grid, int row, const DialogControl& control) {
    GtkWidget* label = gtk_label_new("");
    gtk_widget_set_name(label, (control.key + "Note").c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
    gtk_widget_set_no_show_all(label, TRUE);
    const bool check = control.style == Style::Check;
    gtk_grid_attach(GTK_GRID(grid), label, check ? 0 : 1, row, check ? 2 : 1, 1);
    return label;
}

GtkWidget* AddButton(GtkWidget* box, const DialogButton& button, GCallback handler,
                     SettingsDialog* d) {
    GtkWidget* w = gtk_button_new_with_mnemonic(button.label.c_str());
    gtk_widget_set_name(w, button.key.c_str());
    g_signal_connect(w, "clicked", handler, d);
    gtk_container_add(GTK_CONTAINER(box), w);
    return w;
}

// Web site and Defaults on the left; Cancel, then Save (the default) on
// the right.
void AddButtons(SettingsDialog* d, GtkWidget* outer) {
    const SettingsDialogDescription& desc = d->description;
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    gtk_box_pack_end(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
    GtkWidget* web = AddButton(buttons, desc.webSite, G_CALLBACK(OnWebSite), d);
    GtkWidget* defaults = AddButton(buttons, desc.defaults, G_CALLBACK(OnDefaults), d);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(buttons), web, TRUE);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(buttons), defaults, TRUE);
    AddButton(buttons, desc.cancel, G_CALLBACK(OnCancel), d);
    GtkWidget* save = AddButton(buttons, desc.save, G_CALLBACK(OnSave), d);
    gtk_widget_set_can_default(save, TRUE);
    gtk_window_set_default(GTK_WINDOW(d->window), save);
}

// The longest wait for the answer to Allow Screenshots: the user is
// reading the portal's question.
constexpr double kAllowScreenshotsSeconds = 60.0;

// Allow Screenshots' request, in a thread of its own so that the dialog
// stays live while the portal asks its question.
void AskForScreenshots(GTask* task, gpointer, gpointer, GCancellable*) {
    std::string error;
    if (RequestPortalScreenshotGrant(kAllowScreenshotsSeconds, &error)) {
        g_task_return_boolean(task, TRUE);
    } else {
        g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_FAILED, "%s", error.c_str());
    }
}

// Back on the dialog's thread. The task holds the button, and the button
// its outcome label; the dialog waits for this before it goes.
void OnScreenshotsAnswered(GObject* button, GAsyncResult* result, gpointer data) {
    --static_cast<SettingsDialog*>(data)->asking;
    auto* outcome = static_cast<GtkLabel*>(g_object_get_data(button, "outcome"));
    GError* error = nullptr;
    if (g_task_propagate_boolean(G_TASK(result), &error)) {
        gtk_widget_hide(GTK_WIDGET(button));
        gtk_label_set_text(outcome, _("Screenshots are allowed: the saver shows the desktop."));
    } else {
        gtk_widget_set_sensitive(GTK_WIDGET(button), TRUE);
        gtk_label_set_text(outcome, Format(_("No screenshot: %s"), error->message).c_str());
        g_error_free(error);
    }
}

void OnAllowScreenshots(GtkButton* button, gpointer data) {
    gtk_widget_set_sensitive(GTK_WIDGET(button), FALSE);
    gtk_label_set_text(static_cast<GtkLabel*>(g_object_get_data(G_OBJECT(button), "outcome")),
                       _("Waiting for the answer…"));
    ++static_cast<SettingsDialog*>(data)->asking;
    GTask* task = g_task_new(button, nullptr, OnScreenshotsAnswered, data);
    g_task_run_in_thread(task, AskForScreenshots);
    g_object_unref(task);
}

// Allow Screenshots and its outcome, under the controls, where the portal
// would ask the user over the saver.
void AddAllowScreenshots(SettingsDialog* d, GtkWidget* outer) {
    if (PortalScreenshotGrant(2.0) != ScreenshotGrant::Unasked) return;
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* button =
        AddButton(row, d->description.allowScreenshots, G_CALLBACK(OnAllowScreenshots), d);
    GtkWidget* outcome = gtk_label_new(
        _("GNOME asks before programs take screenshots: answer here, not over the saver."));
    gtk_widget_set_name(outcome, "allowScreenshotsOutcome");
    gtk_label_set_line_wrap(GTK_LABEL(outcome), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(outcome), 50);
    gtk_label_set_xalign(GTK_LABEL(outcome), 0.0f);
    gtk_container_add(GTK_CONTAINER(row), outcome);
    g_object_set_data_full(G_OBJECT(button), "outcome", g_object_ref(outcome), g_object_unref);
    gtk_box_pack_start(GTK_BOX(outer), row, FALSE, FALSE, 0);
}

// The window and its vertical box, which holds the grid and the buttons.
GtkWidget* MakeWindow(SettingsDialog* d) {
    d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(d->window);
    gtk_window_set_title(GTK_WINDOW(d->window), d->description.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
    gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER);
    g_signal_connect(d->window, "delete-event", G_CALLBACK(OnDelete), d);

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(outer), 18);
    gtk_container_add(GTK_CONTAINER(d->window), outer);
    return outer;
}

}  // namespace

SettingsDialog* CreateSettingsDialog(const SettingsDialogDescription& description,
                                     const DialogValues& shown, std::string* error) {
    if (!gtk_init_check(nullptr, nullptr)) {
        if (error) *error = _("cannot open the display for the settings dialog");
        return nullptr;
    }
    auto* d = new SettingsDialog;
    d->description = description;
    GtkWidget* outer = MakeWindow(d);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_box_pack_start(GTK_BOX(outer), grid, TRUE, TRUE, 0);
    int row = 0;
    for (const DialogControl& control : description.controls) {
        d->controls.push_back(AddControlRow(grid, row++, control));
        d->notes.push_back(control.note ? AddNoteRow(grid, row++, control) : nullptr);
    }
    AddAllowScreenshots(d, outer);
    AddButtons(d, outer);
    SetWidgets(d, shown);

    // The preview runs the values shown; it reads the desktop now, before
    // the dialog covers any of it.
    d->preview = CreatePreviewPane([d] {
        return d->description.previewFlags ? d->description.previewFlags(ReadWidgets(d))
                                           : std::vector<std::string>{};
    });
    gtk_box_pack_start(GTK_BOX(outer), PreviewPaneWidget(d->preview), FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(outer), PreviewPaneWidget(d->preview), 0);
    for (size_t i = 0; i < d->controls.size(); ++i) {
        WatchControl(d, description.controls[i], d->controls[i]);
    }
    gtk_widget_show_all(outer);
    UpdateNotes(d);
    if (description.noteRefreshSeconds > 0) {
        d->noteTimer = g_timeout_add_seconds(
            static_cast<guint>(description.noteRefreshSeconds),
            [](gpointer data) -> gboolean {
                UpdateNotes(static_cast<SettingsDialog*>(data));
                return G_SOURCE_CONTINUE;
            },
            d);
    }
    return d;
}

void DestroySettingsDialog(SettingsDialog* dialog) {
    if (!dialog) return;
    if (dialog->noteTimer != 0) g_source_remove(dialog->noteTimer);
    // A request the portal has not answered yet is waited for (it gives up
    // by itself), so that the file of a late answer goes before the program
    // may end.
    while (dialog->asking > 0) g_main_context_iteration(nullptr, TRUE);
    DestroyPreviewPane(dialog->preview);
    gtk_widget_destroy(dialog->window);
    g_object_unref(dialog->window);
    while (gtk_events_pending()) gtk_main_iteration();
    delete dialog;
}

void* SettingsDialogWindow(SettingsDialog* dialog) { return dialog->window; }

void SetSettingsDialogPreviewProgram(SettingsDialog* dialog, const std::string& program) {
    SetPreviewProgram(dialog->preview, program);
}

bool RunSettingsDialog(SettingsDialog* dialog, const DialogValues& shown) {
    SetWidgets(dialog, shown);
    dialog->saved = false;
    dialog->loop = g_main_loop_new(nullptr, FALSE);
    gtk_window_set_modal(GTK_WINDOW(dialog->window), TRUE);
    gtk_window_present(GTK_WINDOW(dialog->window));
    g_main_loop_run(dialog->loop);
    g_main_loop_unref(dialog->loop);
    dialog->loop = nullptr;
    while (gtk_events_pending()) gtk_main_iteration();
    return dialog->saved;
}

}  // namespace platform
