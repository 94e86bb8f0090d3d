// A picture of the whole desktop from the screenshot portal on the session
// bus. An answer that comes after the wait is listened for in a thread of
// its own, so that its file goes too. Relies on GIO's GDBus, std::thread,
// the pictures' LoadImageFile (platform.h), and portal_grant.cpp and
// portal_file.cpp for GNOME's grant and the portal's file.
//
// Provides: PortalScreenshot, RequestPortalScreenshotGrant.
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "platform/bus/portal_internal.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// What the portal's Response signal said.
struct Answer {
    bool answered = false;
    guint32 code = 2;  // 0 success, 1 cancelled, 2 other
    std::string uri;
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &answer->code, &results);
    const gchar* uri = nullptr;
    if (g_variant_lookup(results, "uri", "&s", &uri) && uri != nullptr) answer->uri = uri;
    g_variant_unref(results);
    answer->answered = true;
}

gboolean OnTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    *static_cast<bool*>(data) = true;
}

// The request object's path the portal will answer on: the caller's
// unique name without its colon, dots as underscores, and the token.
std::string RequestPath(GDBusConnection* bus, const std::string& token) {
    std::string sender = g_dbus_connection_get_unique_name(bus);
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

// One request: its own context and connection, the subscription to its
// answer, and the answer when it comes.
struct Request {
    GMainContext* context = nullptr;
    GDBusConnection* bus = nullptr;
    guint subscription = 0;
    timespec requested{};  // taken just before the call
    Answer answer;
    bool closed = false;  // the connection has gone: no answer can come
};

// Runs the request's context until its answer comes, its connection goes or
// `seconds` pass; true when the answer came.
bool WaitForAnswer(Request* r, double seconds) {
    bool timedOut = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(seconds * 1000.0));
    g_source_set_callback(timer, OnTimeout, &timedOut, nullptr);
    g_source_attach(timer, r->context);
    while (!r->answer.answered && !timedOut && !r->closed) {
        g_main_context_iteration(r->context, TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return r->answer.answered;
}

// Ends the request: unsubscribes, closes its connection and frees its
// context, which the calling thread must hold as its default.
void EndRequest(Request* r) {
    if (r->subscription != 0) g_dbus_connection_signal_unsubscribe(r->bus, r->subscription);
    g_signal_handlers_disconnect_by_data(r->bus, &r->closed);
    // The unsubscription's clean-up runs in the context.
    while (g_main_context_iteration(r->context, FALSE)) {
    }
    CloseSessionBus(r->bus);
    g_main_context_pop_thread_default(r->context);
    g_main_context_unref(r->context);
}

// Asks the portal on the request's connection (subscribed before the call,
// so that an answer that comes at once is heard) and waits at most
// `timeoutSeconds` for the answer. False, with the reason, when there is
// no portal or no answer in that time.
bool Ask(Request* r, double timeoutSeconds, std::string* error) {
    static unsigned serial = 0;
    const std::string token =
        "mereglass" + std::to_string(getpid()) + "_" + std::to_string(++serial);
    const std::string path = RequestPath(r->bus, token);
    r->subscription = g_dbus_connection_signal_subscribe(
        r->bus, kPortalName, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE, OnResponse, &r->answer, nullptr);
    g_signal_connect(r->bus, "closed", G_CALLBACK(OnClosed), &r->closed);

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
    GError* gerror = nullptr;
    r->requested = PortalRequestTime();
    GVariant* reply = g_dbus_connection_call_sync(
        r->bus, kPortalName, kPortalPath, "org.freedesktop.portal.Screenshot", "Screenshot",
        g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<int>(timeoutSeconds * 1000.0), nullptr,
        &gerror);
    if (reply == nullptr) {
        g_dbus_error_strip_remote_error(gerror);
        *error = Format(_("there is no screenshot portal: %s"), gerror->message);
        g_error_free(gerror);
        g_dbus_connection_signal_unsubscribe(r->bus, r->subscription);
        r->subscription = 0;
        return false;
    }
    g_variant_unref(reply);
    if (WaitForAnswer(r, timeoutSeconds)) return true;
    *error = _("the screenshot portal did not answer in time");
    return false;
}

// The pictures folder, where KDE's portal saves its picture: the user's
// XDG pictures folder, else ~/Pictures.
std::string PicturesFolder() {
    const gchar* folder = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES);
    return folder != nullptr ? folder : std::string(g_get_home_dir()) + "/Pictures";
}

// Why an answer of `code` (1: cancelled, 2: otherwise ended) brought no
// picture. KDE's portal answers 1 when it cannot save its picture, as
// when there is no pictures folder.
std::string FailureOf(guint32 code) {
    if (DesktopNamed("KDE")) {
        const std::string folder = PicturesFolder();
        if (!g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) {
            return Format(_("the screenshot portal could not save its picture: there is no "
                            "pictures folder %s"),
                          DisplayName(folder).c_str());
        }
    }
    return code == 1 ? _("the screenshot portal cancelled the request")
                     : _("the screenshot portal refused the request or failed");
}

// The local file an answer's uri names; empty when it names none.
std::string LocalFile(const Answer& answer) {
    gchar* host = nullptr;
    gchar* file =
        answer.uri.empty() ? nullptr : g_filename_from_uri(answer.uri.c_str(), &host, nullptr);
    const bool local = file != nullptr && (host == nullptr || std::strcmp(host, "localhost") == 0);
    const std::string name = local ? file : "";
    g_free(file);
    g_free(host);
    return name;
}

// Reads the picture of the answer, then deletes its file when the portal
// made it for this request (after `requested`).
bool ReadAnswer(const Answer& answer, const timespec& requested, RgbaImage* image,
                std::string* error) {
    if (answer.code != 0) {
        *error = FailureOf(answer.code);
        return false;
    }
    const std::string file = LocalFile(answer);
    if (answer.uri.empty()) {
        *error = _("the screenshot portal named no picture");
        return false;
    }
    if (file.empty()) {
        *error = Format(_("the screenshot portal named no local file: %s"),
                        DisplayName(answer.uri).c_str());
        return false;
    }
    PortalFile judged;
    JudgePortalFile(file.c_str(), requested, &judged);
    const bool ok = LoadImageFile(file.c_str(), INT_MAX, image, error);
    if (!ok) {
        *error = Format(_("the screenshot portal's picture %s: %s"), DisplayName(file).c_str(),
                        error->c_str());
    }
    DeletePortalFile(&judged);
    return ok;
}

// How long an answer that came too late is still listened for: a portal
// that saves its picture late saves it all the same.
constexpr double kLateAnswerSeconds = 120.0;

// Listens on in a thread of its own for the answer `r` did not get in time,
// and deletes its file, unread, as ReadAnswer would have; then ends the
// request. Takes `r` over.
void HearLateAnswer(Request* r) {
    std::thread([r] {
        g_main_context_push_thread_default(r->context);
        if (WaitForAnswer(r, kLateAnswerSeconds) && r->answer.code == 0) {
            const std::string file = LocalFile(r->answer);
            PortalFile judged;
            if (!file.empty()) JudgePortalFile(file.c_str(), r->requested, &judged);
            DeletePortalFile(&judged);
        }
        EndRequest(r);
        delete r;
    }).detach();
}

// A request on a connection of its own, dispatched in a context of its
// own; with `whateverTheGrant`, made even where the portal asks the user.
bool MakeRequest(double timeoutSeconds, bool whateverTheGrant, RgbaImage* image,
                 std::string* error) {
    auto* r = new Request;
    r->context = g_main_context_new();
    g_main_context_push_thread_default(r->context);
    r->bus = OpenSessionBus(N_("the screenshot portal"), error);
    if (r->bus == nullptr) {
        g_main_context_pop_thread_default(r->context);
        g_main_context_unref(r->context);
        delete r;
        return false;
    }
    const ScreenshotGrant grant = whateverTheGrant ? ScreenshotGrant::NotNeeded
                                                   : LookUpScreenshotGrant(r->bus, timeoutSeconds);
    bool ok = false;
    if (grant == ScreenshotGrant::Unasked) {
        *error =
            "the screenshot portal is not asked, as GNOME would ask over the saver whether "
            "programs may take screenshots: allow them once with Allow Screenshots in "
            "mereglass --configure";
    } else if (grant == ScreenshotGrant::Refused) {
        *error =
            "the screenshot portal is not asked, as GNOME's permission store holds a "
            "refusal of screenshots to programs (table screenshot, id screenshot)";
    } else if (Ask(r, timeoutSeconds, error)) {
        ok = ReadAnswer(r->answer, r->requested, image, error);
    } else if (r->subscription != 0 && !r->closed) {
        // Asked, but not answered in time.
        g_main_context_pop_thread_default(r->context);
        HearLateAnswer(r);
        return false;
    }
    EndRequest(r);
    delete r;
    return ok;
}

}  // namespace

bool PortalScreenshot(double timeoutSeconds, RgbaImage* image, std::string* error) {
    return MakeRequest(timeoutSeconds, false, image, error);
}

bool RequestPortalScreenshotGrant(double timeoutSeconds, std::string* error) {
    RgbaImage picture;
    return MakeRequest(timeoutSeconds, true, &picture, error);
}

}  // namespace platform
