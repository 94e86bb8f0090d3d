// The screenshot portal as the Wayland host asks it, against a fake portal
// on a private session bus: a small GDBus service in a thread of the test
// that answers on the request object the caller's token names, with a PNG
// file, or never answers. Skipped without dbus-daemon.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"
#include "platform/wayland.h"

namespace {

const char kInterface[] =
    "<node><interface name='org.freedesktop.portal.Screenshot'>"
    "<method name='Screenshot'><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface></node>";

struct FakePortal {
    std::string uri;     // the picture's file; empty: never answers
    bool asked = false;  // the call carried interactive=false
    GMainLoop* loop = nullptr;
};

void OnCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*, const gchar*,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* portal = static_cast<FakePortal*>(data);
    GVariant* options = g_variant_get_child_value(parameters, 1);
    const gchar* token = "t";
    gboolean interactive = TRUE;
    g_variant_lookup(options, "handle_token", "&s", &token);
    g_variant_lookup(options, "interactive", "b", &interactive);
    portal->asked = !interactive;
    std::string name = sender + 1;
    for (char& c : name) c = c == '.' ? '_' : c;
    const std::string path = "/org/freedesktop/portal/desktop/request/" + name + "/" + token;
    g_variant_unref(options);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    if (portal->uri.empty()) return;
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&results, "{sv}", "uri", g_variant_new_string(portal->uri.c_str()));
    g_dbus_connection_emit_signal(bus, sender, path.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(ua{sv})", 0u, &results), nullptr);
}

class PortalOnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) GTEST_SKIP() << "no dbus-daemon";
        bus_ = std::make_unique<ChildProcess>(
            "/usr/bin/dbus-daemon",
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"});
        for (int i = 0; i < 200 && bus_->Output().find('\n') == std::string::npos; ++i) {
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
    }

    // Runs the fake portal in a thread of its own until TearDown.
    void StartPortal() {
        GMainContext* context = g_main_context_new();
        portal_.loop = g_main_loop_new(context, FALSE);
        service_ = std::thread([this, context] {
            g_main_context_push_thread_default(context);
            GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
            static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
            g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                              node->interfaces[0], &vtable, &portal_, nullptr,
                                              nullptr);
            GVariant* reply = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), nullptr,
                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
            if (reply != nullptr) g_variant_unref(reply);
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

    std::unique_ptr<ChildProcess> bus_;
    FakePortal portal_;
    std::thread service_;
    std::atomic<bool> owned_{false};  // the portal's name is taken
};

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
    ASSERT_TRUE(platform::PortalScreenshot(2.0, &image, &error)) << error;
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
    EXPECT_LT(platform::ClockSeconds() - start, 1.5);
    EXPECT_NE(error.find("in time"), std::string::npos) << error;
}
