// The desktop's own user interface: the browser and a GTK message box.
//
// Provides: OpenWebPage, ShowAlertDialog, kWebPage.
#include <gio/gio.h>
#include <gtk/gtk.h>

#include "platform/platform.h"

#ifndef MEREGLASS_DOC_DIR
#define MEREGLASS_DOC_DIR "/usr/local/share/doc/mereglass"
#endif

namespace platform {

// Until the project has a public home page, its page is the installed
// documentation.
const char* const kWebPage = "file://" MEREGLASS_DOC_DIR "/index.html";

bool OpenWebPage(const char* uri) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri, nullptr, &error)) return true;
    g_clear_error(&error);
    // No handler known to GLib: the desktop's opener, in the background.
    gchar* argv[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(uri), nullptr};
    const gboolean started =
        g_spawn_async(nullptr, argv, nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                               G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, &error);
    g_clear_error(&error);
    return started != FALSE;
}

bool ShowAlertDialog(const char* caption, const char* text) {
    if (!gtk_init_check(nullptr, nullptr)) return false;
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", caption);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    return true;
}

}  // namespace platform
