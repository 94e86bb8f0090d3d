// The configuration dialog on GTK 3: a live preview (the platform's
// preview pane), one control per entry of the settings table, a folder
// chooser for the picture folder, and the buttons Web site, Defaults,
// Cancel and Save, which run the sheet's actions of view/settings.h.
#include "view/configure_dialog.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/preview_pane.h"
#include "view/settings.h"

namespace platform {

struct ConfigureDialog {
    UserSettings* fields = nullptr;
    SettingsStore* store = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* controls[kSettingCount] = {};
    PreviewPane* preview = nullptr;
    GtkWidget* folder = nullptr;  // the picture folder's chooser
    GMainLoop* loop = nullptr;    // set while RunConfigureDialog waits
    bool saved = false;
};

namespace {

// Sets the widgets from the sheet's control values. A value the widget
// cannot show (a stored water resolution outside 4 to 8) shows the factory
// value, which is what the scene runs with then.
void SetWidgets(ConfigureDialog* d, const SheetControls& values) {
    for (size_t i = 0; i < kSettingCount; ++i) {
        const SettingEntry& entry = kSettings[i];
        const int v = values.*entry.control;
        GtkWidget* w = d->controls[i];
        switch (entry.style) {
            case SettingControl::Check:
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), v == 1);
                break;
            case SettingControl::Number:
                gtk_spin_button_set_value(GTK_SPIN_BUTTON(w), v);
                break;
            case SettingControl::GridSide:
            case SettingControl::Choice: {
                const std::string id = std::to_string(v);
                if (!gtk_combo_box_set_active_id(GTK_COMBO_BOX(w), id.c_str())) {
                    gtk_combo_box_set_active_id(GTK_COMBO_BOX(w),
                                                std::to_string(entry.factory).c_str());
                }
                break;
            }
            case SettingControl::Hundredths:
                gtk_spin_button_set_value(GTK_SPIN_BUTTON(w), v / 100.0);
                break;
        }
    }
    if (values.oPictureFolder.empty()) {
        gtk_file_chooser_unselect_all(GTK_FILE_CHOOSER(d->folder));
    } else {
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(d->folder), values.oPictureFolder.c_str());
    }
}

SheetControls ReadWidgets(ConfigureDialog* d) {
    SheetControls values{};
    for (size_t i = 0; i < kSettingCount; ++i) {
        const SettingEntry& entry = kSettings[i];
        GtkWidget* w = d->controls[i];
        int v = entry.factory;
        switch (entry.style) {
            case SettingControl::Check:
                v = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) ? 1 : 0;
                break;
            case SettingControl::Number:
                gtk_spin_button_update(GTK_SPIN_BUTTON(w));
                v = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w));
                break;
            case SettingControl::GridSide:
            case SettingControl::Choice:
                if (const char* id = gtk_combo_box_get_active_id(GTK_COMBO_BOX(w))) {
                    v = std::atoi(id);
                }
                break;
            case SettingControl::Hundredths:
                gtk_spin_button_update(GTK_SPIN_BUTTON(w));
                v = static_cast<int>(
                    std::lround(gtk_spin_button_get_value(GTK_SPIN_BUTTON(w)) * 100.0));
                break;
        }
        values.*entry.control = v;
    }
    if (gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d->folder))) {
        values.oPictureFolder = folder;
        g_free(folder);
    }
    return values;
}

void EndDialog(ConfigureDialog* d) {
    gtk_widget_hide(d->window);
    if (d->loop) g_main_loop_quit(d->loop);
}

void OnSave(GtkButton*, gpointer data) {
    auto* d = static_cast<ConfigureDialog*>(data);
    ConfigureSheetSave(ReadWidgets(d), d->fields, d->store);
    d->saved = true;
    EndDialog(d);
}

void OnCancel(GtkButton*, gpointer data) { EndDialog(static_cast<ConfigureDialog*>(data)); }

void OnDefaults(GtkButton*, gpointer data) {
    SheetControls values{};
    ConfigureSheetDefaults(&values);
    SetWidgets(static_cast<ConfigureDialog*>(data), values);
}

void OnWebSite(GtkButton*, gpointer) {
    if (!OpenWebPage(kWebPage)) {
        g_printerr("mereglass: cannot open %s in a browser\n", kWebPage);
    }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    EndDialog(static_cast<ConfigureDialog*>(data));
    return TRUE;  // keep the window for a later run
}

void OnValueChanged(GtkWidget*, gpointer data) {
    PreviewValuesChanged(static_cast<ConfigureDialog*>(data)->preview);
}

// Every change of a control reaches the preview.
void WatchControl(ConfigureDialog* d, const SettingEntry& entry, GtkWidget* control) {
    const bool combo =
        entry.style == SettingControl::GridSide || entry.style == SettingControl::Choice;
    const char* signal = entry.style == SettingControl::Check ? "toggled"
                         : combo                              ? "changed"
                                                              : "value-changed";
    g_signal_connect(control, signal, G_CALLBACK(OnValueChanged), d);
}

GtkWidget* MakeControl(const SettingEntry& entry) {
    switch (entry.style) {
        case SettingControl::Check:
            return gtk_check_button_new_with_label(entry.label);
        case SettingControl::Number:
            return gtk_spin_button_new_with_range(entry.minimum, entry.maximum, 5);
        case SettingControl::GridSide: {
            GtkWidget* combo = gtk_combo_box_text_new();
            for (int shift = entry.minimum; shift <= entry.maximum; ++shift) {
                const int side = 1 << shift;
                const std::string id = std::to_string(shift);
                const std::string text = std::to_string(side) + " \u00d7 " + std::to_string(side);
                gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo), id.c_str(), text.c_str());
            }
            return combo;
        }
        case SettingControl::Hundredths: {
            GtkWidget* spin =
                gtk_spin_button_new_with_range(entry.minimum / 100.0, entry.maximum / 100.0, 0.25);
            gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), 2);
            return spin;
        }
        case SettingControl::Choice: {
            GtkWidget* combo = gtk_combo_box_text_new();
            for (int v = entry.minimum; v <= entry.maximum; ++v) {
                gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo), std::to_string(v).c_str(),
                                          entry.choices[v - entry.minimum]);
            }
            return combo;
        }
    }
    return nullptr;
}

GtkWidget* AddButton(GtkWidget* box, const char* label, const char* name, GCallback handler,
                     ConfigureDialog* d) {
    GtkWidget* button = gtk_button_new_with_mnemonic(label);
    gtk_widget_set_name(button, name);
    g_signal_connect(button, "clicked", handler, d);
    gtk_container_add(GTK_CONTAINER(box), button);
    return button;
}

}  // namespace

ConfigureDialog* CreateConfigureDialog(UserSettings* settings, SettingsStore* store,
                                       std::string* error) {
    if (!gtk_init_check(nullptr, nullptr)) {
        if (error) *error = "cannot open the display for the settings dialog";
        return nullptr;
    }
    auto* d = new ConfigureDialog;
    d->fields = settings;
    d->store = store;
    d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(d->window);
    gtk_window_set_title(GTK_WINDOW(d->window), "Mereglass Settings");
    gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
    gtk_window_set_position(GTK_WINDOW(d->window), GTK_WIN_POS_CENTER);
    g_signal_connect(d->window, "delete-event", G_CALLBACK(OnDelete), d);

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(outer), 18);
    gtk_container_add(GTK_CONTAINER(d->window), outer);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_box_pack_start(GTK_BOX(outer), grid, TRUE, TRUE, 0);

    // The on/off settings first, then the numbers with their labels.
    static const char* const kOutletNames[kSettingCount] = {
        "oMainMonitorOnly", "oWaterSpeed", "oWaterRes",   "oDripSpeed",
        "oLighting",        "oWantBowl",   "oFullDetail", "oPicture"};
    int row = 0;
    for (bool checks : {true, false}) {
        for (size_t i = 0; i < kSettingCount; ++i) {
            const SettingEntry& entry = kSettings[i];
            if ((entry.style == SettingControl::Check) != checks) continue;
            GtkWidget* control = MakeControl(entry);
            gtk_widget_set_name(control, kOutletNames[i]);
            d->controls[i] = control;
            if (checks) {
                gtk_grid_attach(GTK_GRID(grid), control, 0, row, 2, 1);
            } else {
                GtkWidget* label = gtk_label_new(entry.label);
                gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
                gtk_widget_set_hexpand(control, TRUE);
                gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
                gtk_grid_attach(GTK_GRID(grid), control, 1, row, 1, 1);
            }
            ++row;
            if (entry.style == SettingControl::Choice &&
                entry.control == &SheetControls::oPicture) {
                // The folder is offered whatever is shown: its pictures
                // also stand in for a desktop that cannot be read.
                d->folder = gtk_file_chooser_button_new("Picture Folder",
                                                        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
                gtk_widget_set_name(d->folder, "oPictureFolder");
                GtkWidget* label = gtk_label_new("Picture folder");
                gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
                gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
                gtk_grid_attach(GTK_GRID(grid), d->folder, 1, row, 1, 1);
                g_signal_connect(d->folder, "file-set", G_CALLBACK(OnValueChanged), d);
                ++row;
            }
        }
    }

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    gtk_box_pack_end(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
    GtkWidget* web =
        AddButton(buttons, "_Web Site", "configureSheet_openwebsite", G_CALLBACK(OnWebSite), d);
    GtkWidget* defaults =
        AddButton(buttons, "_Defaults", "configureSheet_defaults", G_CALLBACK(OnDefaults), d);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(buttons), web, TRUE);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(buttons), defaults, TRUE);
    AddButton(buttons, "_Cancel", "configureSheet_cancel", G_CALLBACK(OnCancel), d);
    GtkWidget* save = AddButton(buttons, "_Save", "configureSheet_save", G_CALLBACK(OnSave), d);
    gtk_widget_set_can_default(save, TRUE);
    gtk_window_set_default(GTK_WINDOW(d->window), save);

    SheetControls values{};
    ConfigureSheetOpen(*settings, &values);
    SetWidgets(d, values);

    // The preview runs the values shown; it reads the desktop now, before
    // the dialog covers any of it.
    d->preview = CreatePreviewPane([d] { return SheetFlags(ReadWidgets(d)); });
    gtk_box_pack_start(GTK_BOX(outer), PreviewPaneWidget(d->preview), FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(outer), PreviewPaneWidget(d->preview), 0);
    for (size_t i = 0; i < kSettingCount; ++i) WatchControl(d, kSettings[i], d->controls[i]);
    gtk_widget_show_all(outer);
    return d;
}

void DestroyConfigureDialog(ConfigureDialog* dialog) {
    if (!dialog) return;
    DestroyPreviewPane(dialog->preview);
    gtk_widget_destroy(dialog->window);
    g_object_unref(dialog->window);
    while (gtk_events_pending()) gtk_main_iteration();
    delete dialog;
}

void* ConfigureDialogWindow(ConfigureDialog* dialog) { return dialog->window; }

void SetConfigurePreviewProgram(ConfigureDialog* dialog, const std::string& program) {
    SetPreviewProgram(dialog->preview, program);
}

bool RunConfigureDialog(ConfigureDialog* dialog) {
    // Every opening shows the view's fields, not abandoned edits.
    SheetControls values{};
    ConfigureSheetOpen(*dialog->fields, &values);
    SetWidgets(dialog, values);
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
