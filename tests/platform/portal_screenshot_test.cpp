// The screenshot portal as the Wayland session and the settings dialog ask
// it, against fakes on a private session bus: a small GDBus service in a
// thread of the test that answers on the request object the caller's
// token names, with a PNG file it makes then or one that was there, with a
// failure code, or never; and GNOME's permission store, holding what the
// test puts in it. Skipped without dbus-daemon; the dialog's test runs on
// a private Xvfb.
#include "platform/portal_screenshot.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"
#include "platform/settings_dialog.h"
#include "x_screen.h"
#include "xvfb.h"

namespace fs = std::filesystem;

namespace {

// How long the caller waits for the fake's answer: it comes at once, but a
// loaded machine may take a while to run the fake's thread.
constexpr double kAnswerSeconds = 30.0;

const char kInterfaces[] =
    "<node><interface name='org.freedesktop.portal.Screenshot'>"
    "<method name='Screenshot'><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.freedesktop.impl.portal.PermissionStore'>"
    "<method name='Lookup'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sas}' direction='out'/><arg type='v' direction='out'/></method>"
    "</interface></node>";

struct FakePortal {
    std::string uri;       // the picture's file; empty: never answers
    std::string makeFrom;  // when set, copied to uri's file as the request comes
    guint32 code = 0;      // not 0: answers this failure instead
    guint lateMs = 0;      // not 0: answers that many milliseconds late
    std::atomic<int> requests{0};
    std::atomic<bool> asked{false};     // the last request carried interactive=false
    std::atomic<bool> answered{false};  // the last request's answer is sent
    // The permission store's table "screenshot", id "screenshot": app id
    // to its word. Empty: no such entry.
    std::map<std::string, std::string> grants;
    GMainLoop* loop = nullptr;
};

// Makes the picture's file as a portal does: after the request came, in a
// later tick of the clock the file system stamps files with.
void MakeFile(const FakePortal& portal) {
    timespec came{}, now{};
    clock_gettime(CLOCK_REALTIME, &came);
    do {
        usleep(1000);
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec < came.tv_sec ||
             (now.tv_sec == came.tv_sec && now.tv_nsec <= came.tv_nsec));
    gchar* path = g_filename_from_uri(portal.uri.c_str(), nullptr, nullptr);
    fs::copy_file(portal.makeFrom, path);
    g_free(path);
}

void AnswerScreenshot(FakePortal* portal, GDBusConnection* bus, const gchar* sender,
                      GVariant* parameters, GDBusMethodInvocation* invocation) {
    GVariant* options = g_variant_get_child_value(parameters, 1);
    const gchar* token = "t";
    gboolean interactive = TRUE;
    g_variant_lookup(options, "handle_token", "&s", &token);
    g_variant_lookup(options, "interactive", "b", &interactive);
    portal->asked = !interactive;
    ++portal->requests;
    std::string name = sender + 1;
    for (char& c : name) c = c == '.' ? '_' : c;
    const std::string path = "/org/freedesktop/portal/desktop/request/" + name + "/" + token;
    g_variant_unref(options);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    portal->answered = false;
    if (portal->uri.empty() && portal->code == 0) return;
    // A late answer holds the fake's thread: nothing else is asked meanwhile.
    if (portal->lateMs != 0) g_usleep(gulong{portal->lateMs} * 1000);
    if (!portal->makeFrom.empty()) MakeFile(*portal);
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    if (portal->code == 0) {
        g_variant_builder_add(&results, "{sv}", "uri", g_variant_new_string(portal->uri.c_str()));
    }
    // Marked before it goes: the one who gets the answer may look at once.
    portal->answered = true;
    g_dbus_connection_emit_signal(bus, sender, path.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(ua{sv})", portal->code, &results),
                                  nullptr);
}

void AnswerLookup(FakePortal* portal, GDBusMethodInvocation* invocation) {
    if (portal->grants.empty()) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.portal.Error.NotFound", "No entry for screenshot");
        return;
    }
    GVariantBuilder apps;
    g_variant_builder_init(&apps, G_VARIANT_TYPE("a{sas}"));
    for (const auto& [app, word] : portal->grants) {
        const gchar* words[] = {word.c_str(), nullptr};
        g_variant_builder_add(&apps, "{s^as}", app.c_str(), words);
    }
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(a{sas}v)", &apps, g_variant_new_byte(0)));
}

void OnCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar* interface,
            const gchar*, GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* portal = static_cast<FakePortal*>(data);
    if (g_str_has_suffix(interface, "PermissionStore")) {
        AnswerLookup(portal, invocation);
    } else {
        AnswerScreenshot(portal, bus, sender, parameters, invocation);
    }
}

// A 6 × 4 PNG file, its top row red and the rest blue.
void WritePicture(const std::string& file) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 6, 4);
    gdk_pixbuf_fill(pixbuf, 0x0000ffff);
    GdkPixbuf* top = gdk_pixbuf_new_subpixbuf(pixbuf, 0, 0, 6, 1);
    gdk_pixbuf_fill(top, 0xff0000ff);
    EXPECT_TRUE(gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr));
    g_object_unref(top);
    g_object_unref(pixbuf);
}

GtkWidget* FindNamed(GtkWidget* widget, const char* name) {
    if (g_strcmp0(gtk_widget_get_name(widget), name) == 0) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next) {
        found = FindNamed(static_cast<GtkWidget*>(c->data), name);
    }
    g_list_free(children);
    return found;
}

class PortalOnPrivateBus : public ::testing::Test {
protected:
    // A home of the tests' own, set before GLib first reads it: the
    // pictures folder lies in it.
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/mereglass-portal-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

    void SetUp() override {
        unsetenv("XDG_CURRENT_DESKTOP");
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) GTEST_SKIP() << "no dbus-daemon";
        bus_ = std::make_unique<ChildProcess>(
            "/usr/bin/dbus-daemon",
            // Its socket in the suite's home, not among /tmp's leftovers.
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1",
                                     "--address=unix:dir=" + home_});
        for (int i = 0; i < 1200 && bus_->Output().find('\n') == std::string::npos; ++i) {
            usleep(25 * 1000);
        }
        const std::string out = bus_->Output();
        ASSERT_NE(out.find('\n'), std::string::npos) << out;
        setenv("DBUS_SESSION_BUS_ADDRESS", out.substr(0, out.find('\n')).c_str(), 1);
    }

    void TearDown() override {
        if (service_.joinable()) {
            g_main_loop_quit(portal_.loop);
            service_.join();
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        std::error_code ec;
        if (!folder_.empty()) fs::remove_all(folder_, ec);
    }

    // Runs the fake portal in a thread of its own until TearDown.
    void StartPortal() {
        GMainContext* context = g_main_context_new();
        portal_.loop = g_main_loop_new(context, FALSE);
        service_ = std::thread([this, context] {
            g_main_context_push_thread_default(context);
            GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaces, nullptr);
            static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
            const char* const services[][2] = {
                {"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop"},
                {"org.freedesktop.impl.portal.PermissionStore",
                 "/org/freedesktop/impl/portal/PermissionStore"}};
            for (int i = 0; i < 2; ++i) {
                g_dbus_connection_register_object(bus, services[i][1], node->interfaces[i], &vtable,
                                                  &portal_, nullptr, nullptr);
                GVariant* reply = g_dbus_connection_call_sync(
                    bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "RequestName", g_variant_new("(su)", services[i][0], 4u), nullptr,
                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
                if (reply != nullptr) g_variant_unref(reply);
            }
            owned_ = true;
            g_main_loop_run(portal_.loop);
            g_dbus_node_info_unref(node);
            g_object_unref(bus);
            g_main_context_pop_thread_default(context);
            g_main_loop_unref(portal_.loop);
            g_main_context_unref(context);
        });
        while (!owned_) usleep(10 * 1000);
    }

    // A folder for the pictures of one test, with the picture the fake
    // copies and a file of the user's beside it.
    std::string MakeFolder() {
        char pattern[] = "/tmp/mereglass-portal-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        WritePicture(folder_ + "/source.png");
        std::ofstream(folder_ + "/notes.txt") << "the user's";
        return folder_;
    }
    static std::string home_;
    std::unique_ptr<ChildProcess> bus_;
    FakePortal portal_;
    std::thread service_;
    std::atomic<bool> owned_{false};  // the portal's names are taken
    std::string folder_;
};
std::string PortalOnPrivateBus::home_;

}  // namespace

TEST_F(PortalOnPrivateBus, AnswersWithTheWholeDesktopsPictureAndIsNotWaitedForLong) {
    // A 6 × 4 picture, its top row red and the rest blue.
    char dir[] = "/tmp/mereglass-portal-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/desktop.png";
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 6, 4);
    gdk_pixbuf_fill(pixbuf, 0x0000ffff);
    GdkPixbuf* top = gdk_pixbuf_new_subpixbuf(pixbuf, 0, 0, 6, 1);
    gdk_pixbuf_fill(top, 0xff0000ff);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr));
    g_object_unref(top);
    g_object_unref(pixbuf);
    portal_.uri = "file://" + file;
    StartPortal();

    platform::RgbaImage image;
    std::string error;
    ASSERT_TRUE(platform::PortalScreenshot(kAnswerSeconds, &image, &error)) << error;
    EXPECT_TRUE(portal_.asked);
    ASSERT_EQ(image.width, 6);
    ASSERT_EQ(image.height, 4);
    // Bottom row first: the last row is the red one.
    EXPECT_EQ(image.pixels[0], 0);
    EXPECT_EQ(image.pixels[2], 255);
    EXPECT_EQ(image.pixels[(3 * 6) * 4], 255);
    EXPECT_EQ(image.pixels[(3 * 6) * 4 + 2], 0);
    unlink(file.c_str());
    rmdir(dir);

    // A portal that never answers is given up after the time allowed.
    portal_.uri.clear();
    const double start = platform::ClockSeconds();
    EXPECT_FALSE(platform::PortalScreenshot(0.5, &image, &error));
    EXPECT_LT(platform::ClockSeconds() - start, 10 * 0.5);
    EXPECT_NE(error.find("in time"), std::string::npos) << error;
}

TEST_F(PortalOnPrivateBus, DeletesTheFileItMadeForTheRequestAndNothingElse) {
    const std::string folder = MakeFolder();
    portal_.makeFrom = folder + "/source.png";
    portal_.uri = "file://" + folder + "/Screenshot.png";
    StartPortal();
    platform::RgbaImage image;
    std::string error;
    ASSERT_TRUE(platform::PortalScreenshot(kAnswerSeconds, &image, &error)) << error;
    EXPECT_EQ(image.width, 6);
    EXPECT_FALSE(fs::exists(folder + "/Screenshot.png"));
    EXPECT_TRUE(fs::exists(folder + "/source.png"));
    EXPECT_TRUE(fs::exists(folder + "/notes.txt"));

    // A file that was there before the request is the user's.
    portal_.makeFrom.clear();
    portal_.uri = "file://" + folder + "/source.png";
    image = platform::RgbaImage{};
    ASSERT_TRUE(platform::PortalScreenshot(kAnswerSeconds, &image, &error)) << error;
    EXPECT_EQ(image.width, 6);
    EXPECT_TRUE(fs::exists(folder + "/source.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

// An answer after the wait is still heard: the file the portal made for
// the request goes, and the user's files stay.
TEST_F(PortalOnPrivateBus, ALateAnswersFileIsDeletedAllTheSame) {
    const std::string folder = MakeFolder();
    portal_.makeFrom = folder + "/source.png";
    portal_.uri = "file://" + folder + "/Screenshot.png";
    portal_.lateMs = 1500;
    StartPortal();
    platform::RgbaImage image;
    std::string error;
    EXPECT_FALSE(platform::PortalScreenshot(0.2, &image, &error));
    EXPECT_NE(error.find("in time"), std::string::npos) << error;
    EXPECT_TRUE(
        Eventually([&] { return portal_.answered && !fs::exists(folder + "/Screenshot.png"); },
                   kAnswerSeconds));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(PortalOnPrivateBus, OnGnomeTheSaverAsksOnlyWithAGrantForHostPrograms) {
    const std::string folder = MakeFolder();
    portal_.makeFrom = folder + "/source.png";
    portal_.uri = "file://" + folder + "/Screenshot.png";
    StartPortal();
    setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
    platform::RgbaImage image;
    std::string error;
    using platform::ScreenshotGrant;
    // Nothing stored, another program's grant, a refusal: never asked.
    const std::pair<std::map<std::string, std::string>, ScreenshotGrant> stores[] = {
        {{}, ScreenshotGrant::Unasked},
        {{{"org.example.Paint", "yes"}}, ScreenshotGrant::Unasked},
        {{{"", "no"}}, ScreenshotGrant::Refused},
        {{{"org.example.Mereglass", "no"}}, ScreenshotGrant::Refused},
        {{{"", "yes"}, {"org.example.Mereglass", "no"}}, ScreenshotGrant::Refused}};
    for (const auto& [grants, grant] : stores) {
        portal_.grants = grants;
        EXPECT_EQ(platform::PortalScreenshotGrant(kAnswerSeconds), grant);
        EXPECT_FALSE(platform::PortalScreenshot(kAnswerSeconds, &image, &error));
        EXPECT_NE(error.find(grant == ScreenshotGrant::Unasked ? "Allow Screenshots" : "refusal"),
                  std::string::npos)
            << error;
    }
    EXPECT_EQ(portal_.requests, 0);

    // The dialog's request is made whatever the grant; its file goes too.
    portal_.grants.clear();
    EXPECT_TRUE(platform::RequestPortalScreenshotGrant(kAnswerSeconds, &error)) << error;
    EXPECT_EQ(portal_.requests, 1);
    EXPECT_FALSE(fs::exists(folder + "/Screenshot.png"));

    // Granted to host programs, or to this one by its application id.
    for (const char* app : {"", "org.example.Mereglass"}) {
        portal_.grants = {{app, "yes"}};
        EXPECT_EQ(platform::PortalScreenshotGrant(kAnswerSeconds), ScreenshotGrant::Granted);
        EXPECT_TRUE(platform::PortalScreenshot(kAnswerSeconds, &image, &error)) << error;
    }
    EXPECT_EQ(portal_.requests, 3);

    // Elsewhere the portal does not ask: no store is needed.
    portal_.grants.clear();
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    EXPECT_EQ(platform::PortalScreenshotGrant(kAnswerSeconds), ScreenshotGrant::NotNeeded);
    EXPECT_TRUE(platform::PortalScreenshot(kAnswerSeconds, &image, &error)) << error;
}

TEST_F(PortalOnPrivateBus, OnKdeAMissingPicturesFolderIsTheReasonGiven) {
    // KDE's portal answers "cancelled" (1) when it cannot save its picture.
    portal_.code = 1;
    StartPortal();
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    platform::RgbaImage image;
    std::string error;
    EXPECT_FALSE(platform::PortalScreenshot(kAnswerSeconds, &image, &error));
    EXPECT_EQ(error,
              "the screenshot portal could not save its picture: there is no pictures "
              "folder " +
                  home_ + "/Pictures");

    fs::create_directory(home_ + "/Pictures");
    EXPECT_FALSE(platform::PortalScreenshot(kAnswerSeconds, &image, &error));
    EXPECT_EQ(error, "the screenshot portal cancelled the request");
    portal_.code = 2;
    EXPECT_FALSE(platform::PortalScreenshot(kAnswerSeconds, &image, &error));
    EXPECT_EQ(error, "the screenshot portal refused the request or failed");
    fs::remove(home_ + "/Pictures");
}

TEST_F(PortalOnPrivateBus, TheSettingsDialogMakesTheOneRequestThatAsksWhereGnomeHasNoGrant) {
    Xvfb server(640, 480);
    ASSERT_TRUE(server.ok()) << server.error();
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    const std::string folder = MakeFolder();
    portal_.makeFrom = folder + "/source.png";
    portal_.uri = "file://" + folder + "/Screenshot.png";
    StartPortal();
    setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);

    platform::SettingsDialogDescription description;
    description.title = "Settings";
    std::string error;
    platform::SettingsDialog* dialog = platform::CreateSettingsDialog(description, {}, &error);
    ASSERT_NE(dialog, nullptr) << error;
    auto* window = static_cast<GtkWidget*>(platform::SettingsDialogWindow(dialog));
    GtkWidget* button = FindNamed(window, "allowScreenshots");
    ASSERT_NE(button, nullptr);
    auto* outcome = GTK_LABEL(FindNamed(window, "allowScreenshotsOutcome"));
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_TRUE(Eventually(
        [&] {
            while (gtk_events_pending()) gtk_main_iteration();
            return g_str_has_prefix(gtk_label_get_text(outcome), "Screenshots are allowed") !=
                   FALSE;
        },
        30.0))
        << gtk_label_get_text(outcome);
    EXPECT_EQ(portal_.requests, 1);
    EXPECT_TRUE(portal_.asked);
    EXPECT_FALSE(gtk_widget_get_visible(button));
    EXPECT_FALSE(fs::exists(folder + "/Screenshot.png"));
    platform::DestroySettingsDialog(dialog);

    // Closed while the portal asks, the dialog waits for the answer, whose
    // file goes before the program may end.
    portal_.lateMs = 1500;
    portal_.answered = false;
    dialog = platform::CreateSettingsDialog(description, {}, &error);
    ASSERT_NE(dialog, nullptr) << error;
    window = static_cast<GtkWidget*>(platform::SettingsDialogWindow(dialog));
    gtk_button_clicked(GTK_BUTTON(FindNamed(window, "allowScreenshots")));
    platform::DestroySettingsDialog(dialog);
    EXPECT_TRUE(portal_.answered);
    EXPECT_FALSE(fs::exists(folder + "/Screenshot.png"));
    portal_.lateMs = 0;

    // Granted, there is nothing to ask.
    portal_.grants = {{"", "yes"}};
    dialog = platform::CreateSettingsDialog(description, {}, &error);
    ASSERT_NE(dialog, nullptr) << error;
    EXPECT_EQ(FindNamed(static_cast<GtkWidget*>(platform::SettingsDialogWindow(dialog)),
                        "allowScreenshots"),
              nullptr);
    platform::DestroySettingsDialog(dialog);
}
