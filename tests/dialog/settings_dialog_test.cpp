// The GTK settings dialog under a private Xvfb: built with the view's
// fields, edited through its widgets, saved, reset and cancelled through its
// buttons, and the settings file and the autostart entry checked; the
// desktop's idle delay from KDE's files in the temporary configuration
// folder; its preview pane runs the real
// mereglass program as a child, which the tests find in /proc. With
// MEREGLASS_DIALOG_PNG set, it also writes a picture of the dialog to that
// path. The process takes its language as the program does, and its texts
// from the build tree's catalogues.
#include "dialog/settings_dialog.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libintl.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"
#include "platform/watcher_lock.h"
#include "settings/settings_table.h"
#include "x_screen.h"
#include "xvfb.h"

// After GoogleTest: Xlib's macros (None) clash with its names.
#include <gdk/gdkx.h>

namespace fs = std::filesystem;

namespace {

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

void Pump(int milliseconds) {
    const gint64 end = g_get_monotonic_time() + gint64{milliseconds} * 1000;
    while (g_get_monotonic_time() < end) {
        while (gtk_events_pending()) gtk_main_iteration();
        g_usleep(10000);
    }
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A process as /proc tells it: its state letter ('Z' for a zombie) and
// its command line.
struct Process {
    pid_t pid = 0;
    char state = '?';
    std::vector<std::string> args;

    bool Has(const std::string& word) const {
        for (const std::string& a : args) {
            if (a == word) return true;
        }
        return false;
    }
};

// The mereglass processes whose parent is `parent`, zombies included.
std::vector<Process> MereglassChildren(pid_t parent) {
    std::vector<Process> found;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadText(e.path() / "stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        char state = '?';
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
        if (ppid != parent || stat.substr(open + 1, close - open - 1) != "mereglass") continue;
        Process p;
        p.pid = std::atoi(name.c_str());
        p.state = state;
        const std::string cmdline = ReadText(e.path() / "cmdline");
        for (size_t at = 0; at < cmdline.size();) {
            const size_t end = cmdline.find('\0', at);
            p.args.push_back(cmdline.substr(at, end - at));
            at = end == std::string::npos ? cmdline.size() : end + 1;
        }
        found.push_back(p);
    }
    return found;
}

// Whether `signal` waits to be delivered to the process.
bool Pending(pid_t pid, int signal) {
    std::istringstream status(ReadText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("ShdPnd:", 0) != 0 && line.rfind("SigPnd:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        if (mask & (1ull << (signal - 1))) return true;
    }
    return false;
}

// Texts in `language` from here on ("" for the locale's own). LANGUAGE
// counts only beside a message locale other than "C"; glibc drops the
// texts it looked up before only when the message locale changes.
void SpeakLanguage(const char* language) {
    setenv("LANGUAGE", language, 1);
    setlocale(LC_MESSAGES, "C");
    ASSERT_NE(setlocale(LC_MESSAGES, "C.UTF-8"), nullptr);
}

bool IsGone(pid_t pid) {
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || stat[close + 2] == 'Z';
}

class SettingsDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // As the program starts: before GTK, which would set every locale
        // category otherwise.
        platform::UseUserLanguage();
        bindtextdomain("mereglass", MEREGLASS_LOCALE_DIR);
        // Each test's home lies in one folder of the suite's: GLib keeps the
        // first home it is told of for the life of the process, and GTK
        // writes there after that test has ended.
        char pattern[] = "/tmp/mereglass-dialog-XXXXXX";
        if (mkdtemp(pattern) != nullptr) homes_ = pattern;
        server_ = new Xvfb(800, 600);
        if (!server_->ok()) return;
        setenv("DISPLAY", server_->display().c_str(), 1);
        setenv("GDK_BACKEND", "x11", 1);
        setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus in tests
        // No session bus: the folder chooser asks for one, which GLib would
        // autolaunch on this private X server; with one launched, the test
        // process was ended by SIGTERM as the server went away.
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        setenv("GTK_THEME", "Adwaita", 1);
        // A GLib or GTK warning (a signal a widget does not have, a wrong
        // cast) fails the test instead of scrolling past.
        g_log_set_always_fatal(
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        std::error_code ec;
        if (!homes_.empty()) fs::remove_all(homes_, ec);
    }

    void SetUp() override {
        ASSERT_TRUE(server_->ok()) << server_->error();
        ASSERT_FALSE(homes_.empty()) << "no folder for the homes";
        std::string pattern = homes_ + "/home-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home_.c_str(), 1);  // the idle watch's lock
        unsetenv("XDG_CURRENT_DESKTOP");  // no desktop's idle delay unless a test sets one
        store_ = platform::OpenSettingsStore(kSettingsModule);
        fields_ = ReadSettings(store_);
        file_ = platform::SettingsStorePath(store_);
    }
    void TearDown() override {
        if (dialog_) DestroySettingsDialog(dialog_);
        platform::CloseSettingsStore(store_);
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

    void Build() {
        std::string error;
        dialog_ = CreateSettingsDialog(&fields_, store_, &error);
        ASSERT_NE(dialog_, nullptr) << error;
        window_ = static_cast<GtkWidget*>(SettingsDialogWindow(dialog_));
        SetSettingsDialogProgram(dialog_, MEREGLASS_PROGRAM);
    }
    // The one running preview child, once there is exactly one whose
    // command line holds `word` (pumping the dialog's events meanwhile).
    Process PreviewWith(const char* word) {
        Process child;
        const bool seen = Eventually([&] {
            Pump(50);
            const std::vector<Process> children = MereglassChildren(getpid());
            if (children.size() != 1 || !children[0].Has(word)) return false;
            child = children[0];
            return true;
        });
        EXPECT_TRUE(seen) << "no single preview child with " << word;
        return child;
    }
    std::string Page() {
        return gtk_stack_get_visible_child_name(GTK_STACK(Widget("previewPane")));
    }
    GtkWidget* Widget(const char* name) {
        GtkWidget* w = FindNamed(window_, name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool Checked(const char* name) {
        return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Widget(name)));
    }
    double Spin(const char* name) {
        return gtk_spin_button_get_value(GTK_SPIN_BUTTON(Widget(name)));
    }
    std::string Choice(const char* name) {
        const char* id = gtk_combo_box_get_active_id(GTK_COMBO_BOX(Widget(name)));
        return id ? id : "";
    }
    void Click(const char* name) { gtk_button_clicked(GTK_BUTTON(Widget(name))); }
    std::string Folder() {
        gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(Widget("oPictureFolder")));
        const std::string out = path ? path : "";
        g_free(path);
        return out;
    }

    static Xvfb* server_;
    static std::string homes_;
    std::string home_;
    std::string file_;
    platform::SettingsStore* store_ = nullptr;
    UserSettings fields_{};
    SettingsDialog* dialog_ = nullptr;
    GtkWidget* window_ = nullptr;
};
Xvfb* SettingsDialogTest::server_ = nullptr;
std::string SettingsDialogTest::homes_;

TEST_F(SettingsDialogTest, ShowsTheFieldsAndSavesWhatTheWidgetsSay) {
    fields_.MainMonitorOnly = true;
    fields_.record = {false, true, 250, 7, 33, true};
    fields_.Picture = ShownPicture::Folder;
    fields_.PictureFolder = home_ + "/holiday";
    fs::create_directories(home_ + "/holiday");
    fs::create_directories(home_ + "/garden");
    Build();
    EXPECT_EQ(Choice("oPicture"), "1");
    EXPECT_EQ(Folder(), home_ + "/holiday");
    EXPECT_TRUE(Checked("oMainMonitorOnly"));
    EXPECT_FALSE(Checked("oLighting"));
    EXPECT_TRUE(Checked("oWantBowl"));
    EXPECT_TRUE(Checked("oCaustics"));
    EXPECT_EQ(Spin("oWaterSpeed"), 250.0);
    EXPECT_EQ(Choice("oWaterRes"), "7");
    EXPECT_DOUBLE_EQ(Spin("oDripSpeed"), 0.33);  // shown in seconds
    // The store still holds the factory values: the dialog shows the fields.
    EXPECT_EQ(platform::StoreInteger(store_, "DripSpeed"), 250);

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oMainMonitorOnly")), FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oLighting")), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oWantBowl")), FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oCaustics")), FALSE);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oWaterSpeed")), 375);
    gtk_combo_box_set_active_id(GTK_COMBO_BOX(Widget("oWaterRes")), "4");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oDripSpeed")), 12.34);
    gtk_combo_box_set_active_id(GTK_COMBO_BOX(Widget("oPicture")), "0");
    gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(Widget("oPictureFolder")),
                                  (home_ + "/garden").c_str());
    Click("configureSheet_save");

    EXPECT_FALSE(fields_.MainMonitorOnly);
    EXPECT_TRUE(fields_.record.LIGHTING);
    EXPECT_FALSE(fields_.record.WANTBOWL);
    EXPECT_FALSE(fields_.record.CAUSTICS);
    EXPECT_EQ(fields_.record.WATERSPEED, 375);
    EXPECT_EQ(fields_.record.WATERSHIFT, 4);
    EXPECT_EQ(fields_.record.DRIPSPEED, 1234);
    EXPECT_EQ(fields_.Picture, ShownPicture::Desktop);
    EXPECT_EQ(fields_.PictureFolder, home_ + "/garden");
    EXPECT_EQ(ReadText(file_),
              "[tkMereglass]\n"
              "version=1.0.1\n"
              "MainMonitorOnly=false\n"
              "WaterSpeed=375\n"
              "WaterRes=4\n"
              "DripSpeed=1234\n"
              "Lighting=true\n"
              "WantBowl=false\n"
              "Caustics=false\n"
              "FullDetail=false\n"
              "SaveBattery=true\n"
              "Picture=0\n"
              "DesktopPrivacy=0\n"
              "IdleMinutes=10\n"
              "LockMinutes=0\n"
              "PictureFolder=" +
                  home_ + "/garden\n");
}

TEST_F(SettingsDialogTest, ListsTheOnOffSettingsFirstThenTheOthersBesideTheirLabels) {
    Build();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_)), "Mereglass Settings");
    const std::pair<const char*, const char*> rows[] = {
        {"oMainMonitorOnly", "Run on the main monitor only"},
        {"oLighting", "Moving light"},
        {"oWantBowl", "Bowl-shaped pool"},
        {"oCaustics", "Light on the pool floor"},
        {"oFullDetail", "Full detail on a software renderer (uses far more CPU)"},
        {"oSaveBattery", "Save power on battery"},
        {"oWaterSpeed", "Wave speed (%)"},
        {"oWaterRes", "Water resolution"},
        {"oDripSpeed", "Time between drips (s)"},
        {"oPicture", "Show"},
        {"oPictureFolder", "Picture folder"},
        {"oDesktopPrivacy", "Desktop picture"},
        {"oStartWhenIdle", "Start by itself when the computer is idle"},
        {"oIdleMinutes", "Start after this many idle minutes"},
        {"oLockMinutes", "Lock the screen after the saver has run"}};
    GtkWidget* grid = gtk_widget_get_parent(Widget("oMainMonitorOnly"));
    for (int row = 0; row < 15; ++row) {
        const auto [name, text] = rows[row];
        GtkWidget* control = Widget(name);
        const bool check = row < 6 || row == 12;
        int top = -1, left = -1;
        gtk_container_child_get(GTK_CONTAINER(grid), control, "top-attach", &top, "left-attach",
                                &left, nullptr);
        // The idle time's line under it takes a row.
        EXPECT_EQ(top, row < 14 ? row : row + 1) << name;
        GtkWidget* label = check ? control : gtk_grid_get_child_at(GTK_GRID(grid), 0, top);
        EXPECT_EQ(left, check ? 0 : 1) << name;
        EXPECT_STREQ(
            check ? gtk_button_get_label(GTK_BUTTON(label)) : gtk_label_get_text(GTK_LABEL(label)),
            text);
    }
}

// German from its catalogue, English for a language without one; GTK's
// start leaves the numeric locale alone.
TEST_F(SettingsDialogTest, SpeaksTheUsersLanguageOrEnglish) {
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    std::ofstream(home_ + "/kscreenlockerrc") << "[Daemon]\nTimeout=5\n";
    fields_.IdleMinutes = 3;
    struct Texts {
        const char* language;
        const char* title;
        const char* light;
        const char* save;
        const char* desktop;
        const char* note;
    };
    const Texts cases[] = {
        {"de", "Mereglass-Einstellungen", "Bewegtes Licht", "_Speichern", "die Arbeitsfläche",
         "KDE sperrt den Bildschirm nach 5 Minuten Leerlauf"},
        {"pt", "Mereglass Settings", "Moving light", "_Save", "the desktop",
         "KDE locks the screen after 5 minutes idle"}};
    for (const Texts& c : cases) {
        SpeakLanguage(c.language);
        Build();
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_)), c.title);
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(Widget("oLighting"))), c.light);
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(Widget("configureSheet_save"))), c.save);
        gtk_combo_box_set_active_id(GTK_COMBO_BOX(Widget("oPicture")), "0");
        gchar* shown = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(Widget("oPicture")));
        EXPECT_STREQ(shown, c.desktop);
        g_free(shown);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Widget("oIdleMinutesNote"))), c.note);
        DestroySettingsDialog(dialog_);
        dialog_ = nullptr;
    }
    unsetenv("XDG_CURRENT_DESKTOP");
    SpeakLanguage("");
    EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
}

TEST_F(SettingsDialogTest, OffersOnlyTheRangesOfTheSettingsTable) {
    fields_.record.WATERSHIFT = 0;  // absent key under a matching version
    fields_.record.WATERSPEED = 9000;
    Build();
    EXPECT_EQ(Choice("oWaterRes"), "6");  // what the scene runs with
    EXPECT_EQ(Spin("oWaterSpeed"), 400.0);
    GtkTreeModel* grids = gtk_combo_box_get_model(GTK_COMBO_BOX(Widget("oWaterRes")));
    EXPECT_EQ(gtk_tree_model_iter_n_children(grids, nullptr), 5);  // 16² to 256²

    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oDripSpeed")), 0.0);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oWaterSpeed")), 1.0);
    Click("configureSheet_save");
    EXPECT_EQ(fields_.record.DRIPSPEED, 1);  // never below 1/100 s
    EXPECT_EQ(fields_.record.WATERSPEED, 10);
    EXPECT_EQ(fields_.record.WATERSHIFT, 6);
}

TEST_F(SettingsDialogTest, ShowsAndSavesTheWaveSpeedTheSceneRuns) {
    // Below 10 % the scene runs the normal speed; Save must not turn that
    // into a tenth of it.
    fields_.record.WATERSPEED = 5;
    Build();
    EXPECT_EQ(Spin("oWaterSpeed"), 100.0);
    Click("configureSheet_save");
    EXPECT_EQ(fields_.record.WATERSPEED, 100);
    EXPECT_NE(ReadText(file_).find("WaterSpeed=100\n"), std::string::npos);
}

TEST_F(SettingsDialogTest, DefaultsFillsTheWidgetsAndCancelKeepsEverything) {
    fields_.MainMonitorOnly = true;
    fields_.record = {false, false, 50, 5, 1000, true};
    fields_.Picture = ShownPicture::Folder;
    fields_.PictureFolder = home_;
    Build();
    const std::string before = ReadText(file_);
    Click("configureSheet_defaults");
    EXPECT_FALSE(Checked("oMainMonitorOnly"));
    EXPECT_TRUE(Checked("oLighting"));
    EXPECT_TRUE(Checked("oWantBowl"));
    EXPECT_FALSE(Checked("oCaustics"));
    EXPECT_EQ(Spin("oWaterSpeed"), 100.0);
    EXPECT_EQ(Choice("oWaterRes"), "6");
    EXPECT_DOUBLE_EQ(Spin("oDripSpeed"), 2.5);
    EXPECT_EQ(Choice("oPicture"), "0");
    EXPECT_EQ(Folder(), "");
    EXPECT_TRUE(fields_.MainMonitorOnly);  // nothing changes before Save
    Click("configureSheet_cancel");
    EXPECT_TRUE(fields_.MainMonitorOnly);
    EXPECT_EQ(fields_.record.DRIPSPEED, 1000);
    EXPECT_EQ(fields_.PictureFolder, home_);
    EXPECT_EQ(ReadText(file_), before);
}

TEST_F(SettingsDialogTest, StartWhenIdleShowsTheAutostartEntryAndSaveWritesIt) {
    const std::string entry = home_ + "/autostart/mereglass-idle-watch.desktop";
    // An entry the desktop switched off shows unticked, and stays so.
    fs::create_directories(home_ + "/autostart");
    const std::string off =
        "[Desktop Entry]\nType=Application\nExec=/x "
        "--idle-watch\nX-GNOME-Autostart-enabled=false\n";
    std::ofstream(entry) << off;
    Build();
    EXPECT_FALSE(Checked("oStartWhenIdle"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oStartWhenIdle")), TRUE);
    Click("configureSheet_cancel");
    EXPECT_EQ(ReadText(entry), off);
    // Defaults leaves the box, which is no setting, as it is; Save writes
    // the entry, switched on.
    Click("configureSheet_defaults");
    EXPECT_TRUE(Checked("oStartWhenIdle"));
    Click("configureSheet_save");
    EXPECT_NE(ReadText(entry).find(" --idle-watch\n"), std::string::npos);
    EXPECT_NE(ReadText(entry).find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
    EXPECT_EQ(ReadText(file_).find("autostart"), std::string::npos);  // not a setting
    // The session follows at once: its idle watch runs.
    const std::string lock = platform::WatcherLockPath(platform::CurrentWatcherSession());
    EXPECT_TRUE(Eventually([&] { return platform::RunningWatcher(lock) > 0; }, 30.0));

    // Opened again, the box shows the entry; unticked, Save removes it.
    DestroySettingsDialog(dialog_);
    dialog_ = nullptr;
    Build();
    EXPECT_TRUE(Checked("oStartWhenIdle"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oStartWhenIdle")), FALSE);
    Click("configureSheet_save");
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_TRUE(fs::is_directory(home_ + "/autostart"));
    EXPECT_TRUE(Eventually([&] { return platform::RunningWatcher(lock) == 0; }, 30.0));
}

TEST_F(SettingsDialogTest, ShowsTheDesktopsIdleDelayUnderTheIdleTime) {
    // KDE locks after 5 minutes; the saver's 10 come too late.
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    std::ofstream(home_ + "/kscreenlockerrc") << "[Daemon]\nTimeout=5\n";
    fields_.IdleMinutes = 10;
    Build();
    GtkWidget* note = Widget("oIdleMinutesNote");
    GtkStyleContext* style = gtk_widget_get_style_context(note);
    EXPECT_TRUE(gtk_widget_get_visible(note));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(note)),
                 "KDE locks the screen after 5 minutes idle, before the saver starts at 10 "
                 "minutes: shorten the saver's idle time or lengthen KDE's");
    EXPECT_TRUE(gtk_style_context_has_class(style, GTK_STYLE_CLASS_WARNING));
    // The spin steps by a minute; below the desktop's delay, the note
    // only says what the desktop does.
    double step = 0, page = 0;
    gtk_spin_button_get_increments(GTK_SPIN_BUTTON(Widget("oIdleMinutes")), &step, &page);
    EXPECT_EQ(step, 1.0);
    gtk_spin_button_get_increments(GTK_SPIN_BUTTON(Widget("oWaterSpeed")), &step, &page);
    EXPECT_EQ(step, 5.0);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oIdleMinutes")), 4);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(note)), "KDE locks the screen after 5 minutes idle");
    EXPECT_FALSE(gtk_style_context_has_class(style, GTK_STYLE_CLASS_WARNING));
    gtk_spin_button_spin(GTK_SPIN_BUTTON(Widget("oIdleMinutes")), GTK_SPIN_STEP_FORWARD, 0);
    EXPECT_TRUE(gtk_style_context_has_class(style, GTK_STYLE_CLASS_WARNING));

    // Without a delay of the desktop, no note.
    DestroySettingsDialog(dialog_);
    dialog_ = nullptr;
    unsetenv("XDG_CURRENT_DESKTOP");
    Build();
    GtkWidget* none = FindNamed(window_, "oIdleMinutesNote");
    EXPECT_TRUE(none == nullptr || !gtk_widget_get_visible(none));
    // Nothing to lock the session here (no bus): the lock time is greyed
    // out, with the reason.
    EXPECT_FALSE(gtk_widget_get_sensitive(Widget("oLockMinutes")));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Widget("oLockMinutesNote"))),
                 "Not here: no lock screen to ask: there is no session bus");
}

TEST_F(SettingsDialogTest, RunsModallyAndReopensWithTheFields) {
    fields_.record.WATERSPEED = 220;
    Build();
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget("oWaterSpeed")), 30);
    // The user presses Cancel once the dialog is up.
    g_timeout_add(
        200,
        [](gpointer data) -> gboolean {
            gtk_button_clicked(
                GTK_BUTTON(FindNamed(static_cast<GtkWidget*>(data), "configureSheet_cancel")));
            return G_SOURCE_REMOVE;
        },
        window_);
    EXPECT_FALSE(RunSettingsDialog(dialog_));
    EXPECT_EQ(fields_.record.WATERSPEED, 220);

    g_timeout_add(
        200,
        [](gpointer data) -> gboolean {
            auto* window = static_cast<GtkWidget*>(data);
            // Reopened with the field, not the abandoned 30.
            const double shown =
                gtk_spin_button_get_value(GTK_SPIN_BUTTON(FindNamed(window, "oWaterSpeed")));
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(FindNamed(window, "oWaterSpeed")), shown + 1);
            gtk_button_clicked(GTK_BUTTON(FindNamed(window, "configureSheet_save")));
            return G_SOURCE_REMOVE;
        },
        window_);
    EXPECT_TRUE(RunSettingsDialog(dialog_));
    EXPECT_EQ(fields_.record.WATERSPEED, 221);
    EXPECT_EQ(platform::StoreInteger(store_, "WaterSpeed"), 221);
}

TEST_F(SettingsDialogTest, IsDrawnOnTheScreen) {
    Build();
    gtk_widget_show(window_);
    // A drawn dialog: a light background with darker text and frames (the
    // preview's water takes much of the rest), once it is mapped and drawn.
    GdkPixbuf* shot = nullptr;
    int w = 0, h = 0, light = 0, dark = 0;
    EXPECT_TRUE(Eventually([&] {
        Pump(50);
        GdkWindow* gdk = gtk_widget_get_window(window_);
        if (gdk == nullptr || !gdk_window_is_viewable(gdk)) return false;
        w = gtk_widget_get_allocated_width(window_);
        h = gtk_widget_get_allocated_height(window_);
        if (shot) g_object_unref(shot);
        shot = gdk_pixbuf_get_from_window(gdk, 0, 0, w, h);
        if (shot == nullptr) return false;
        const guchar* p = gdk_pixbuf_read_pixels(shot);
        const int stride = gdk_pixbuf_get_rowstride(shot);
        const int channels = gdk_pixbuf_get_n_channels(shot);
        light = dark = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const guchar* q = p + y * stride + x * channels;
                const int sum = q[0] + q[1] + q[2];
                light += sum > 600;
                dark += sum < 300;
            }
        }
        return light > w * h * 2 / 5 && dark > 200;
    })) << light
        << " light, " << dark << " dark of " << w << " x " << h;
    EXPECT_GT(w, 200);
    EXPECT_GT(h, 150);
    ASSERT_NE(shot, nullptr);
    if (const char* out = getenv("MEREGLASS_DIALOG_PNG")) {
        EXPECT_TRUE(gdk_pixbuf_save(shot, out, "png", nullptr, nullptr));
    }
    g_object_unref(shot);
}

// What the test saw of the message box before it pressed OK.
struct SeenAlert {
    std::string title;
    bool modal = false;
};

TEST_F(SettingsDialogTest, AlertShowsItsCaptionAndWaitsForTheUser) {
    static SeenAlert seen;
    g_timeout_add(
        300,
        [](gpointer) -> gboolean {
            GList* windows = gtk_window_list_toplevels();
            for (GList* w = windows; w; w = w->next) {
                if (!GTK_IS_MESSAGE_DIALOG(w->data)) continue;
                seen.title = gtk_window_get_title(GTK_WINDOW(w->data));
                seen.modal = gtk_window_get_modal(GTK_WINDOW(w->data));
                gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_OK);
            }
            g_list_free(windows);
            return G_SOURCE_REMOVE;
        },
        nullptr);
    EXPECT_TRUE(platform::ShowAlertDialog("Invalid Image", "The image type is not supported."));
    EXPECT_EQ(seen.title, "Invalid Image");
    EXPECT_TRUE(seen.modal);
}

TEST_F(SettingsDialogTest, PreviewShowsTheDesktopUnderMovingWater) {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    PaintDesktop(display, 800, 600);  // read when the dialog is built
    Build();
    gtk_widget_show(window_);
    const Process child = PreviewWith("--preview");
    EXPECT_TRUE(child.Has("-window-id"));
    EXPECT_TRUE(child.Has("--image"));
    GtkWidget* pane = Widget("previewSaver");
    const Window xid = gdk_x11_window_get_xid(gtk_widget_get_window(pane));
    const int w = gtk_widget_get_allocated_width(pane), h = gtk_widget_get_allocated_height(pane);
    EXPECT_EQ(w * 3, h * 4);  // the 800 × 600 screen's aspect
    // The painted desktop: red on the left, blue on the right.
    Shot first;
    EXPECT_TRUE(Eventually([&] {
        Pump(50);
        first = Screenshot(display, xid, 0, 0, w, h);
        return first.Count(0, 0, w / 4, h, Reddish) > w * h / 16 &&
               first.Count(w * 3 / 4, 0, w, h, Bluish) > w * h / 16;
    }));
    EXPECT_TRUE(Eventually([&] {
        Pump(50);
        return Differing(first, Screenshot(display, xid, 0, 0, w, h)) > w * h / 100;
    }));
}

TEST_F(SettingsDialogTest, PreviewRestartsWithANewValue) {
    Build();
    gtk_widget_show(window_);
    const Process before = PreviewWith("--want-bowl");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oWantBowl")), FALSE);
    const Process after = PreviewWith("--no-want-bowl");
    EXPECT_NE(after.pid, before.pid);
    EXPECT_TRUE(IsGone(before.pid));
    EXPECT_TRUE(fields_.record.WANTBOWL);  // the preview saves nothing
    EXPECT_EQ(platform::StoreBool(store_, "WantBowl"), true);
}

TEST_F(SettingsDialogTest, ClosingTheDialogEndsThePreview) {
    Build();
    // Cancel once the preview runs, then again after reopening with Save.
    for (const char* button : {"configureSheet_cancel", "configureSheet_save"}) {
        static const char* pressed;
        pressed = button;
        g_timeout_add(
            100,
            [](gpointer data) -> gboolean {
                if (MereglassChildren(getpid()).empty()) return G_SOURCE_CONTINUE;
                gtk_button_clicked(GTK_BUTTON(FindNamed(static_cast<GtkWidget*>(data), pressed)));
                return G_SOURCE_REMOVE;
            },
            window_);
        RunSettingsDialog(dialog_);
        EXPECT_TRUE(MereglassChildren(getpid()).empty()) << button;
    }
}

TEST_F(SettingsDialogTest, APreviewThatCannotRunLeavesTheDialogWorking) {
    Build();
    SetSettingsDialogProgram(dialog_, "/nonexistent/mereglass");
    gtk_widget_show(window_);
    EXPECT_TRUE(Eventually([&] {
        Pump(50);
        return Page() == "none";
    }));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Widget("previewNone"))), "No preview");
    // The next change of a value tries again.
    SetSettingsDialogProgram(dialog_, MEREGLASS_PROGRAM);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget("oLighting")), FALSE);
    PreviewWith("--no-lighting");
    EXPECT_EQ(Page(), "saver");
}

TEST_F(SettingsDialogTest, APreviewNeverOutlivesItsDialog) {
    ChildProcess dialog(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--configure"});
    ASSERT_TRUE(dialog.started());
    // Once it runs the program (its own command line, not the dialog's it
    // had when forked), it is past asking for its parent's death signal.
    std::vector<Process> previews;
    ASSERT_TRUE(Eventually([&] {
        previews = MereglassChildren(dialog.pid());
        return previews.size() == 1 && previews[0].Has("--preview");
    })) << dialog.Output();
    // Stopped, the preview cannot notice its window going with the dialog:
    // only the signal its parent's death sends reaches it.
    const pid_t preview = previews[0].pid;
    ASSERT_EQ(kill(preview, SIGSTOP), 0);
    dialog.Signal(SIGKILL);
    EXPECT_TRUE(dialog.Wait(30.0));
    EXPECT_TRUE(Eventually([&] { return IsGone(preview) || Pending(preview, SIGTERM); }));
    kill(preview, SIGKILL);
}

}  // namespace
