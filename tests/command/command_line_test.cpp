// Tests of the mereglass command line.
#include "command/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Parsed {
    bool ok = false;
    CommandLine cl;
    std::string error;
};

Parsed Parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"mereglass"};
    argv.insert(argv.end(), args.begin(), args.end());
    Parsed p;
    p.ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.cl, &p.error);
    return p;
}

}  // namespace

TEST(CommandLineModes, DefaultIsAWindowOf1280By720) {
    const Parsed p = Parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cl.mode, HostMode::Window);
    EXPECT_EQ(p.cl.windowWidth, 1280);
    EXPECT_EQ(p.cl.windowHeight, 720);
    EXPECT_FALSE(p.cl.showFps);
    EXPECT_FALSE(p.cl.preview);
}

TEST(CommandLineModes, OneOrTwoDashes) {
    for (const char* arg : {"-root", "--root"}) {
        const Parsed p = Parse({arg});
        ASSERT_TRUE(p.ok) << arg;
        EXPECT_EQ(p.cl.mode, HostMode::Root);
    }
    for (const char* arg : {"-fullscreen", "--fullscreen"}) {
        EXPECT_EQ(Parse({arg}).cl.mode, HostMode::FullScreen);
    }
    EXPECT_EQ(Parse({"--configure"}).cl.mode, HostMode::Configure);
    EXPECT_EQ(Parse({"-window"}).cl.mode, HostMode::Window);
    EXPECT_EQ(Parse({"-root", "--help"}).cl.mode, HostMode::Help);
    EXPECT_EQ(Parse({"-h"}).cl.mode, HostMode::Help);
    EXPECT_EQ(Parse({"--add-to-xscreensaver"}).cl.mode, HostMode::AddToXScreenSaver);
    EXPECT_EQ(Parse({"-remove-from-xscreensaver"}).cl.mode, HostMode::RemoveFromXScreenSaver);
    EXPECT_EQ(Parse({"--add-to-autostart"}).cl.mode, HostMode::AddToAutostart);
    EXPECT_EQ(Parse({"-remove-from-autostart"}).cl.mode, HostMode::RemoveFromAutostart);
}

TEST(CommandLineModes, ConflictingModesAreRefused) {
    const Parsed p = Parse({"-root", "--fullscreen"});
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find("--fullscreen"), std::string::npos);
    EXPECT_TRUE(Parse({"-root", "--root"}).ok);
    EXPECT_FALSE(Parse({"--add-to-xscreensaver", "--remove-from-xscreensaver"}).ok);
    EXPECT_FALSE(Parse({"--add-to-autostart", "--remove-from-autostart"}).ok);
}

// The idle time for one run is in seconds, from 1 to the setting's 720
// minutes, and only for the watcher.
TEST(CommandLineModes, IdleSecondsGoWithTheIdleWatchInRange) {
    const Parsed p = Parse({"--idle-watch", "--idle-seconds", "43200"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.cl.mode, HostMode::IdleWatch);
    EXPECT_EQ(p.cl.idleSeconds, 43200);
    for (const char* bad : {"0", "43201", "1.5", "-3"}) {
        const Parsed q = Parse({"--idle-watch", "--idle-seconds", bad});
        EXPECT_FALSE(q.ok) << bad;
        EXPECT_EQ(q.error, "--idle-seconds needs a whole number of seconds from 1 to 43200");
    }
    EXPECT_EQ(Parse({"--fullscreen", "--idle-seconds", "5"}).error,
              "--idle-seconds goes with --idle-watch");
    EXPECT_FALSE(Parse({"--idle-watch", "--idle-minutes", "0"}).ok);
}

TEST(CommandLineModes, SessionFlagsPickTheFullScreenPathAndExcludeEachOther) {
    EXPECT_EQ(Parse({"--fullscreen"}).cl.session, CommandLine::Session::Automatic);
    EXPECT_EQ(Parse({"--fullscreen", "--wayland"}).cl.session, CommandLine::Session::Native);
    EXPECT_EQ(Parse({"-x11", "--fullscreen"}).cl.session, CommandLine::Session::X11);
    EXPECT_TRUE(Parse({"--x11", "--x11"}).ok);
    EXPECT_FALSE(Parse({"--wayland", "--x11"}).ok);
}

TEST(CommandLineModes, UnknownOptionsAndStrayWordsAreRefused) {
    Parsed p = Parse({"--bogus"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "unknown option: --bogus");
    EXPECT_FALSE(Parse({"root"}).ok);
    EXPECT_FALSE(Parse({"-"}).ok);
    EXPECT_FALSE(Parse({"--"}).ok);
}

TEST(CommandLineWindowId, HexAndDecimal) {
    Parsed p = Parse({"-window-id", "0x2a00007"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cl.mode, HostMode::WindowId);
    EXPECT_EQ(p.cl.windowId, 0x2a00007ul);
    p = Parse({"--window-id", "44040199"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cl.windowId, 44040199ul);
    // Decimal with a leading zero, as the help says: not octal.
    p = Parse({"--window-id", "010"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cl.windowId, 10ul);
}

// Settings programs preview a hack as "hack --root --window-id ID".
TEST(CommandLineWindowId, WinsOverRootInEitherOrder) {
    for (const auto& args : {std::vector<const char*>{"--root", "--window-id", "0x1C00006"},
                             std::vector<const char*>{"-window-id", "0x1C00006", "-root"},
                             std::vector<const char*>{"-root", "-window-id", "29360134"}}) {
        std::vector<const char*> argv{"mereglass"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandLine cl;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &cl, &error))
            << error;
        EXPECT_EQ(cl.mode, HostMode::WindowId);
        EXPECT_EQ(cl.windowId, 29360134ul);
        EXPECT_TRUE(cl.preview);
    }
    EXPECT_FALSE(Parse({"-window-id", "7"}).cl.preview);
    Parsed p = Parse({"--fullscreen", "--window-id", "0x1C00006"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "--window-id cannot be combined with --fullscreen");
    EXPECT_FALSE(Parse({"--root", "--window-id", "0x1C00006", "--configure"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--root", "--window-id", "7"}).ok);
}

TEST(CommandLineWindowId, MalformedIdsAreRefused) {
    for (const char* bad : {"0", "12abc", "-5", "", "0x", "99999999999999999999999", " 5", "5 ",
                            " -1", "+5", "0x0x5", "0x-5", "08x", "1e3"}) {
        EXPECT_FALSE(Parse({"-window-id", bad}).ok) << bad;
    }
    EXPECT_FALSE(Parse({"-window-id"}).ok);
    unsigned long id = 0;
    EXPECT_TRUE(ParseWindowId("0X1F", &id));
    EXPECT_EQ(id, 0x1Ful);
}

TEST(CommandLineGeometry, SizeAndPosition) {
    Parsed p = Parse({"-geometry", "640x480+10+20"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cl.windowWidth, 640);
    EXPECT_EQ(p.cl.windowHeight, 480);
    EXPECT_TRUE(p.cl.hasPosition);
    EXPECT_EQ(p.cl.windowX, 10);
    EXPECT_EQ(p.cl.windowY, 20);
    EXPECT_FALSE(p.cl.windowXFromRight);
    p = Parse({"-geometry", "640x480-0+20"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.cl.windowXFromRight);
    EXPECT_FALSE(p.cl.windowYFromBottom);
    EXPECT_EQ(p.cl.windowX, 0);
    p = Parse({"--geometry", "300x200"});
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.cl.hasPosition);
    EXPECT_EQ(p.cl.windowWidth, 300);
    for (const char* bad :
         {"300", "x200", "0x200", "300x0", "300x200+5", "300x200+a+b", "300x200junk", "99999x10"}) {
        EXPECT_FALSE(Parse({"-geometry", bad}).ok) << bad;
    }
}

TEST(CommandLineFps, FlagAloneShowsTheRateANumberSetsTheRenderRate) {
    Parsed p = Parse({"-fps"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.cl.showFps);
    p = Parse({"-fps", "-root"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.cl.showFps);
    EXPECT_EQ(p.cl.mode, HostMode::Root);

    p = Parse({"--render", "out", "--fps", "12"});
    ASSERT_TRUE(p.ok);
    EXPECT_FALSE(p.cl.showFps);
    EXPECT_EQ(p.cl.renderFps, 12);
    EXPECT_FALSE(Parse({"--render", "out", "--fps", "0"}).ok);
    EXPECT_FALSE(Parse({"--render", "out", "--fps", "2.5"}).ok);
    // A word that is neither an option nor a number was meant as the rate.
    p = Parse({"--render", "out", "--fps", "abc"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "--fps needs a whole number of frames per second (1 to 1000)");
}

TEST(CommandLineRender, AllValues) {
    const Parsed p = Parse({"--render", "/tmp/frames", "--size", "320x200", "--seconds", "2.5",
                            "--fps", "10", "--every", "5", "--image", "pic.png", "--scale", "2"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.cl.mode, HostMode::Render);
    EXPECT_EQ(p.cl.renderDir, "/tmp/frames");
    EXPECT_EQ(p.cl.renderWidth, 320);
    EXPECT_EQ(p.cl.renderHeight, 200);
    EXPECT_EQ(p.cl.renderSeconds, 2.5);
    EXPECT_EQ(p.cl.renderFps, 10);
    EXPECT_EQ(p.cl.renderEvery, 5);
    EXPECT_EQ(p.cl.imageFile, "pic.png");
    EXPECT_EQ(p.cl.scale, 2);
}

TEST(CommandLineRender, BadValuesAndOrphanOptionsAreRefused) {
    EXPECT_FALSE(Parse({"--render"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--size", "320"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--size", "320x200+1+1"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--seconds", "-1"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--seconds", "nan"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--seconds", "inf"}).ok);
    EXPECT_FALSE(Parse({"--render", "d", "--every", "0"}).ok);
    // Blanks around a number are refused on either side.
    for (const char* bad : {" 2", "2 ", "\t2"}) {
        EXPECT_FALSE(Parse({"--render", "d", "--seconds", bad}).ok) << bad;
        EXPECT_FALSE(Parse({"--render", "d", "--fps", bad}).ok) << bad;
        EXPECT_FALSE(Parse({"--water-res", bad}).ok) << bad;
    }
    EXPECT_FALSE(Parse({"--render", "d", "--size", " 320x200"}).ok);
    // A run too short for one frame at its rate is refused; half a frame
    // rounds up to one.
    Parsed shortRun = Parse({"--render", "d", "--seconds", "1e-300"});
    EXPECT_FALSE(shortRun.ok);
    EXPECT_EQ(shortRun.error, "--seconds 1e-300 is less than one frame at 30 frames per second");
    shortRun = Parse({"--render", "d", "--fps", "10", "--seconds", "0.049"});
    EXPECT_EQ(shortRun.error, "--seconds 0.049 is less than one frame at 10 frames per second");
    shortRun = Parse({"--render", "d", "--seconds", "0.05", "--fps", "10"});
    ASSERT_TRUE(shortRun.ok) << shortRun.error;
    EXPECT_EQ(RenderTicks(shortRun.cl), 1);
    for (const char* bad : {"0", "9", "1.5", "x"}) EXPECT_FALSE(Parse({"--scale", bad}).ok) << bad;
    const Parsed p = Parse({"--size", "320x200"});
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find("--render"), std::string::npos);
}

TEST(CommandLineUsage, ListsEveryOption) {
    const std::string usage = UsageText();
    for (const char* option :
         {"-window", "-geometry", "-root", "-window-id", "--fullscreen", "--preview", "-fps",
          "--image", "--image-dir", "--scale", "--render", "--size", "--seconds", "--fps",
          "--every", "--configure", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

// The help texts of the options before the settings line up in one column;
// a name too long for it has its text on the next line.
TEST(CommandLineUsage, HelpTextsLineUp) {
    std::istringstream in(UsageText().substr(0, UsageText().find("Settings for this run")));
    const size_t column = 24;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("  -", 0) != 0) continue;
        if (line.find(' ', 2) == std::string::npos) {
            ASSERT_TRUE(std::getline(in, line));
        }
        ASSERT_GT(line.size(), column) << line;
        EXPECT_EQ(line[column - 1], ' ') << line;
        EXPECT_NE(line[column], ' ') << line;
    }
}

// Every option that takes a value says what it needs when the value is
// missing (an option whose name another one shares then falls back to it).
TEST(CommandLineUsage, EveryMissingValueIsNamed) {
    for (const OptionEntry& entry : kOptions) {
        if (entry.argument == nullptr || std::string(entry.shown) == "--fps") continue;
        const Parsed p = Parse({entry.shown});
        EXPECT_FALSE(p.ok) << entry.shown;
        EXPECT_EQ(p.error, std::string(entry.shown) + " needs " + entry.needs);
    }
    EXPECT_TRUE(Parse({"--fps"}).cl.showFps);
}

TEST(CommandLineSettings, EverySettingHasAnOption) {
    EXPECT_EQ(SettingOptionName(*FindSetting("WaterSpeed")), "water-speed");
    EXPECT_EQ(SettingOptionName(*FindSetting("MainMonitorOnly")), "main-monitor-only");
    const std::string usage = UsageText();
    for (const SettingEntry& entry : kSettings) {
        EXPECT_NE(usage.find("--" + std::string(entry.kind == SettingKind::Bool ? "[no-]" : "") +
                             SettingOptionName(entry)),
                  std::string::npos)
            << entry.key;
    }
}

TEST(CommandLineSettings, OverridesApplyOverStoredValues) {
    const Parsed p =
        Parse({"--no-lighting", "-water-res", "8", "--drip-speed", "40", "--main-monitor-only",
               "--no-want-bowl", "--water-speed", "250", "--desktop-privacy", "2", "--caustics"});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.cl.settings.size(), 8u);
    UserSettings s = FactorySettings();
    ApplySettingOverrides(p.cl, &s);
    EXPECT_FALSE(s.record.LIGHTING);
    EXPECT_FALSE(s.record.WANTBOWL);
    EXPECT_TRUE(s.record.CAUSTICS);
    EXPECT_TRUE(s.MainMonitorOnly);
    EXPECT_EQ(s.record.WATERSHIFT, 8);
    EXPECT_EQ(s.record.DRIPSPEED, 40);
    EXPECT_EQ(s.record.WATERSPEED, 250);
    EXPECT_EQ(s.Privacy, DesktopPrivacy::Pixelated);

    // The last of repeated options wins.
    const Parsed q = Parse({"--lighting", "--no-lighting", "--lighting"});
    UserSettings t = FactorySettings();
    t.record.LIGHTING = false;
    ApplySettingOverrides(q.cl, &t);
    EXPECT_TRUE(t.record.LIGHTING);
}

TEST(CommandLineSettings, SheetFlagsRunWhatTheControlsShow) {
    // The settings dialog's preview runs the saver with the controls'
    // values as flags: parsed back, they must give what Save would store.
    SheetControls controls{};
    controls.oMainMonitorOnly = 1;
    controls.oLighting = 0;
    controls.oWantBowl = 0;
    controls.oCaustics = 1;
    controls.oWaterSpeed = 275;
    controls.oWaterRes = 7;
    controls.oDripSpeed = 999999;  // above the range: its end
    controls.oFullDetail = 1;
    controls.oSaveBattery = 0;
    controls.oPicture = 0;
    controls.oDesktopPrivacy = 1;
    controls.oPictureFolder = "/srv/pictures";
    std::vector<std::string> words{"mereglass"};
    for (const std::string& flag : SheetFlags(controls)) words.push_back(flag);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    CommandLine cl;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &cl, &error)) << error;
    // --image-dir's own choice of the folder, then every setting's flag.
    EXPECT_EQ(cl.settings.size(), kSettingCount + 1);
    EXPECT_EQ(cl.imageDir, "/srv/pictures");
    UserSettings s = FactorySettings();
    ApplySettingOverrides(cl, &s);
    EXPECT_TRUE(s.MainMonitorOnly);
    EXPECT_FALSE(s.record.LIGHTING);
    EXPECT_FALSE(s.record.WANTBOWL);
    EXPECT_TRUE(s.record.CAUSTICS);
    EXPECT_EQ(s.record.WATERSPEED, 275);
    EXPECT_EQ(s.record.WATERSHIFT, 7);
    EXPECT_EQ(s.record.DRIPSPEED, 360000);
    EXPECT_TRUE(s.FullDetail);
    EXPECT_FALSE(s.SaveBattery);
    EXPECT_EQ(s.Picture, ShownPicture::Desktop);
    EXPECT_EQ(s.Privacy, DesktopPrivacy::Blurred);
    EXPECT_EQ(s.PictureFolder, "/srv/pictures");
}

TEST(CommandLineSettings, ImageDirShowsThatFolderForThisRun) {
    // The folder and its picture instead of the desktop, unless a later
    // option says otherwise.
    Parsed p = Parse({"--image-dir", "/srv/pictures"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.cl.imageDir, "/srv/pictures");
    UserSettings s = FactorySettings();
    s.PictureFolder = "/home/u/Pictures";
    ApplySettingOverrides(p.cl, &s);
    EXPECT_EQ(s.Picture, ShownPicture::Folder);
    EXPECT_EQ(s.PictureFolder, "/srv/pictures");

    p = Parse({"-image-dir", "/srv/pictures", "--picture", "0"});
    ASSERT_TRUE(p.ok) << p.error;
    s = FactorySettings();
    ApplySettingOverrides(p.cl, &s);
    EXPECT_EQ(s.Picture, ShownPicture::Desktop);
    EXPECT_EQ(s.PictureFolder, "/srv/pictures");

    p = Parse({"--image-dir"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "--image-dir needs a folder");
    EXPECT_FALSE(Parse({"--image-dir", ""}).ok);
    EXPECT_FALSE(Parse({"--picture", "2"}).ok);
}

TEST(CommandLineSettings, ValuesOutsideTheSheetsRangeAreRefused) {
    EXPECT_FALSE(Parse({"--water-res", "9"}).ok);
    EXPECT_FALSE(Parse({"--water-res", "3"}).ok);
    EXPECT_FALSE(Parse({"--drip-speed", "0"}).ok);
    EXPECT_FALSE(Parse({"--desktop-privacy", "3"}).ok);
    EXPECT_FALSE(Parse({"--water-speed"}).ok);
    EXPECT_FALSE(Parse({"--no-water-speed"}).ok);
    EXPECT_TRUE(Parse({"--water-res", "4"}).ok);
}
