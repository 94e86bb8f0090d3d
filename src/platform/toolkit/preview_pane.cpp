// The preview pane: a GtkStack of the saver's window (a drawing area with a
// native X window of its own, which the child draws into) and a "No
// preview" line for when the child cannot run. The dialog's process draws
// nothing with OpenGL; the child, this same program with --preview
// -window-id, does. Relies on GTK 3 and GDK's X11 backend, and on
// preview_child.cpp for the process.
//
// Provides: CreatePreviewPane, DestroyPreviewPane, PreviewPaneWidget,
// SetPreviewProgram, PreviewValuesChanged.
#include "platform/toolkit/preview_pane.h"

#include <gdk/gdkx.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/toolkit/preview_child.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

// The pane keeps the main monitor's aspect inside this box.
constexpr int kPaneWidth = 320;
constexpr int kPaneHeight = 240;
// The desktop's picture is handed over at most this size: plenty for the
// pane, and quick to write and read at every restart.
constexpr int kPictureSide = 1024;
// A change of values waits this long, so the child restarts at most about
// twice a second; a running child is looked at this often.
constexpr guint kRestartMilliseconds = 500;
constexpr guint kWatchMilliseconds = 200;

constexpr const char* kSaverPage = "saver";
constexpr const char* kNonePage = "none";

}  // namespace

struct PreviewPane {
    PreviewFlags flags;
    std::string program;
    GtkWidget* stack = nullptr;
    GtkWidget* area = nullptr;
    // The desktop's picture as a PNG in an anonymous file, handed to each
    // child as /proc/self/fd/N; -1 when the desktop could not be read (the
    // child then shows what the saver shows without one).
    int pictureFd = -1;
    PreviewChild* child = nullptr;
    std::vector<std::string> running;  // the child's flags
    guint restartTimer = 0;
    guint watchTimer = 0;
};

namespace {

std::string ThisProgram() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "/proc/self/exe";
    path[n] = '\0';
    return path;
}

GdkRectangle MainMonitor(GdkDisplay* display) {
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle r{0, 0, 0, 0};
    if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &r);
    return r;
}

bool AllBlack(GdkPixbuf* pixbuf) {
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* p = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const guchar* q = p + y * stride + x * channels;
            if (q[0] | q[1] | q[2]) return false;
        }
    }
    return true;
}

// The main monitor's part of the root window as a PNG in an anonymous
// file, as the saver reads the desktop in a window of its own: a root that
// reads back black (as under Wayland) counts as unreadable. -1 when there
// is nothing to hand over.
int CaptureDesktop(const GdkRectangle& monitor) {
    if (monitor.width <= 0 || monitor.height <= 0) return -1;
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), monitor.x,
                                                 monitor.y, monitor.width, monitor.height);
    if (shot == nullptr) return -1;
    if (AllBlack(shot)) {
        g_object_unref(shot);
        return -1;
    }
    const int w = gdk_pixbuf_get_width(shot), h = gdk_pixbuf_get_height(shot);
    if (std::max(w, h) > kPictureSide) {
        const double f = static_cast<double>(kPictureSide) / std::max(w, h);
        GdkPixbuf* small =
            gdk_pixbuf_scale_simple(shot, std::max(1, static_cast<int>(w * f)),
                                    std::max(1, static_cast<int>(h * f)), GDK_INTERP_BILINEAR);
        g_object_unref(shot);
        shot = small;
        if (shot == nullptr) return -1;
    }
    gchar* png = nullptr;
    gsize size = 0;
    const gboolean saved =
        gdk_pixbuf_save_to_buffer(shot, &png, &size, "png", nullptr, "compression", "1", nullptr);
    g_object_unref(shot);
    if (!saved) return -1;
    int fd = memfd_create("mereglass-desktop", MFD_CLOEXEC);
    for (gsize done = 0; fd >= 0 && done < size;) {
        const ssize_t n = write(fd, png + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            fd = -1;
        } else {
            done += static_cast<gsize>(n);
        }
    }
    g_free(png);
    return fd;
}

void ShowPage(PreviewPane* pane, const char* page) {
    gtk_stack_set_visible_child_name(GTK_STACK(pane->stack), page);
}

void Stop(PreviewPane* pane) {
    if (pane->watchTimer != 0) g_source_remove(pane->watchTimer);
    pane->watchTimer = 0;
    StopPreviewChild(pane->child);
    pane->child = nullptr;
    pane->running.clear();
}

gboolean OnWatch(gpointer data) {
    auto* pane = static_cast<PreviewPane*>(data);
    if (PreviewChildRunning(pane->child, nullptr)) return G_SOURCE_CONTINUE;
    // The child ended on its own (it said why on standard error): the
    // dialog stays, the pane says so.
    pane->watchTimer = 0;
    StopPreviewChild(pane->child);
    pane->child = nullptr;
    ShowPage(pane, kNonePage);
    return G_SOURCE_REMOVE;
}

void Start(PreviewPane* pane) {
    if (pane->child != nullptr || !gtk_widget_get_mapped(pane->area)) return;
    GdkWindow* window = gtk_widget_get_window(pane->area);
    if (window == nullptr || !GDK_IS_X11_WINDOW(window)) {
        ShowPage(pane, kNonePage);
        return;
    }
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx",
                  static_cast<unsigned long>(gdk_x11_window_get_xid(window)));
    std::vector<std::string> args{
        pane->program, "--preview",
        "-window-id",  id,
        "-display",    gdk_display_get_name(gdk_window_get_display(window))};
    std::vector<std::string> flags = pane->flags();
    args.insert(args.end(), flags.begin(), flags.end());
    // The desktop's picture, unless a picture from the folder is to show
    // (an --image would win over it).
    bool folderPicture = false;
    bool folder = false;
    for (size_t i = 0; i < flags.size(); ++i) {
        if (flags[i] == "--image-dir") folder = true;
        if (flags[i] == "--picture" && i + 1 < flags.size() && flags[i + 1] == "1") {
            folderPicture = true;
        }
    }
    if (pane->pictureFd >= 0 && !(folder && folderPicture)) {
        args.push_back("--image");
        args.push_back("/proc/self/fd/" + std::to_string(pane->pictureFd));
    }
    // The window must exist on the server before another client draws in it.
    gdk_display_sync(gdk_window_get_display(window));
    std::string error;
    pane->child = StartPreviewChild(args, pane->pictureFd, &error);
    if (pane->child == nullptr) {
        Tell(Format(_("no preview: %s"), error.c_str()));
        ShowPage(pane, kNonePage);
        return;
    }
    pane->running = std::move(flags);
    pane->watchTimer = g_timeout_add(kWatchMilliseconds, OnWatch, pane);
}

void OnRealize(GtkWidget* area, gpointer) {
    // The child draws into this X window; the dialog never draws there.
    gdk_window_ensure_native(gtk_widget_get_window(area));
}

void OnMap(GtkWidget*, gpointer data) { Start(static_cast<PreviewPane*>(data)); }

void OnUnmap(GtkWidget*, gpointer data) { Stop(static_cast<PreviewPane*>(data)); }

gboolean OnRestart(gpointer data) {
    auto* pane = static_cast<PreviewPane*>(data);
    pane->restartTimer = 0;
    const bool shown =
        g_strcmp0(gtk_stack_get_visible_child_name(GTK_STACK(pane->stack)), kSaverPage) == 0;
    if (!shown) {
        // After a failure, a change of values tries again: the saver's page
        // maps and starts a child.
        ShowPage(pane, kSaverPage);
    } else if (pane->child == nullptr || pane->flags() != pane->running) {
        Stop(pane);
        Start(pane);
    }
    return G_SOURCE_REMOVE;
}

}  // namespace

PreviewPane* CreatePreviewPane(PreviewFlags flags) {
    auto* pane = new PreviewPane;
    pane->flags = std::move(flags);
    pane->program = ThisProgram();
    const GdkRectangle monitor = MainMonitor(gdk_display_get_default());
    pane->pictureFd = CaptureDesktop(monitor);

    int width = kPaneWidth, height = kPaneHeight;
    if (monitor.width > 0 && monitor.height > 0) {
        if (monitor.width * kPaneHeight >= monitor.height * kPaneWidth) {
            height = std::max(1, kPaneWidth * monitor.height / monitor.width);
        } else {
            width = std::max(1, kPaneHeight * monitor.width / monitor.height);
        }
    }
    pane->stack = gtk_stack_new();
    gtk_widget_set_name(pane->stack, "previewPane");
    gtk_widget_set_halign(pane->stack, GTK_ALIGN_CENTER);
    pane->area = gtk_drawing_area_new();
    gtk_widget_set_name(pane->area, "previewSaver");
    gtk_widget_set_size_request(pane->area, width, height);
    g_signal_connect_after(pane->area, "realize", G_CALLBACK(OnRealize), pane);
    g_signal_connect(pane->area, "map", G_CALLBACK(OnMap), pane);
    g_signal_connect(pane->area, "unmap", G_CALLBACK(OnUnmap), pane);
    GtkWidget* none = gtk_label_new(_("No preview"));
    gtk_widget_set_name(none, "previewNone");
    gtk_stack_add_named(GTK_STACK(pane->stack), pane->area, kSaverPage);
    gtk_stack_add_named(GTK_STACK(pane->stack), none, kNonePage);
    gtk_widget_show(pane->area);
    gtk_widget_show(none);
    ShowPage(pane, kSaverPage);
    return pane;
}

void DestroyPreviewPane(PreviewPane* pane) {
    if (pane == nullptr) return;
    Stop(pane);
    if (pane->restartTimer != 0) g_source_remove(pane->restartTimer);
    g_signal_handlers_disconnect_by_data(pane->area, pane);
    if (pane->pictureFd >= 0) close(pane->pictureFd);
    delete pane;
}

GtkWidget* PreviewPaneWidget(PreviewPane* pane) { return pane->stack; }

void SetPreviewProgram(PreviewPane* pane, const std::string& program) { pane->program = program; }

void PreviewValuesChanged(PreviewPane* pane) {
    if (pane->restartTimer == 0) {
        pane->restartTimer = g_timeout_add(kRestartMilliseconds, OnRestart, pane);
    }
}

}  // namespace platform
