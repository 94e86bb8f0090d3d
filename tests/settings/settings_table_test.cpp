// The settings store on key files, the version rule and the sheet's actions,
// each against a fresh $XDG_CONFIG_HOME in a temporary folder; and what the
// user reads when the desktop's own idle delay comes before IdleMinutes.
#include "settings/settings_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

const char* const kFactoryText =
    "[tkMereglass]\n"
    "version=1.0.1\n"
    "MainMonitorOnly=false\n"
    "WaterSpeed=100\n"
    "WaterRes=6\n"
    "DripSpeed=250\n"
    "Lighting=true\n"
    "WantBowl=true\n"
    "Caustics=false\n"
    "FullDetail=false\n"
    "SaveBattery=true\n"
    "Picture=0\n"
    "DesktopPrivacy=0\n"
    "IdleMinutes=10\n"
    "LockMinutes=0\n"
    "PictureFolder=\n";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mereglass-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
        file_ = home_ + "/mereglass/tkMereglass.conf";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(home_, fs::perms::owner_all, ec);
        fs::remove_all(home_, ec);
        unsetenv("XDG_CONFIG_HOME");
    }

    void WriteFile(const std::string& text) {
        fs::create_directories(home_ + "/mereglass");
        std::ofstream(file_) << text;
    }
    static std::string ReadText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    UserSettings ReadFresh() {
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        const UserSettings s = ReadSettings(store);
        platform::CloseSettingsStore(store);
        return s;
    }

    std::string home_;
    std::string file_;
};

void ExpectFactory(const UserSettings& s) {
    EXPECT_FALSE(s.MainMonitorOnly);
    EXPECT_TRUE(s.record.LIGHTING);
    EXPECT_TRUE(s.record.WANTBOWL);
    EXPECT_FALSE(s.record.CAUSTICS);
    EXPECT_EQ(s.record.WATERSPEED, 100);
    EXPECT_EQ(s.record.WATERSHIFT, 6);
    EXPECT_EQ(s.record.DRIPSPEED, 250);
    EXPECT_EQ(s.Picture, ShownPicture::Desktop);
    EXPECT_EQ(s.PictureFolder, "");
    EXPECT_EQ(s.IdleMinutes, 10);
    EXPECT_EQ(s.Privacy, DesktopPrivacy::AsItIs);
}

UserSettings Custom() {
    UserSettings s{};
    s.MainMonitorOnly = true;
    s.record = {false, true, 250, 7, 33, true};
    s.Picture = ShownPicture::Folder;
    s.PictureFolder = "/home/u/Pictures";
    return s;
}

TEST(SettingsTable, DeclaresEachSettingOnceWithItsFactoryValueAndRange) {
    ASSERT_EQ(kSettingCount, 13u);
    const char* const order[] = {"MainMonitorOnly", "WaterSpeed", "WaterRes",       "DripSpeed",
                                 "Lighting",        "WantBowl",   "Caustics",       "FullDetail",
                                 "SaveBattery",     "Picture",    "DesktopPrivacy", "IdleMinutes",
                                 "LockMinutes"};
    for (size_t i = 0; i < kSettingCount; ++i) {
        EXPECT_STREQ(kSettings[i].key, order[i]);
        EXPECT_EQ(FindSetting(order[i]), &kSettings[i]);
        EXPECT_LE(kSettings[i].minimum, kSettings[i].factory);
        EXPECT_GE(kSettings[i].maximum, kSettings[i].factory);
    }
    EXPECT_EQ(FindSetting("waterres"), nullptr);  // keys are case-sensitive
    EXPECT_EQ(FindSetting("DripSpeed")->minimum, 1);
    EXPECT_EQ(FindSetting("WaterRes")->minimum, 4);
    EXPECT_EQ(FindSetting("WaterRes")->maximum, 8);
    EXPECT_EQ(FindSetting("WaterSpeed")->minimum, 10);
    EXPECT_EQ(FindSetting("WaterSpeed")->maximum, 400);
    // A choice names each of its values.
    for (const SettingEntry& entry : kSettings) {
        EXPECT_EQ(entry.style == SettingControl::Choice, entry.choices != nullptr) << entry.key;
    }
    ExpectFactory(FactorySettings());
}

TEST_F(SettingsTest, FreshStoreRunsWithFactoryValuesAndHoldsEveryKey) {
    ExpectFactory(ReadFresh());
    // The reset writes the version first, then the settings in order and
    // the picture folder.
    EXPECT_EQ(ReadText(file_), kFactoryText);
}

TEST_F(SettingsTest, ForeignOrMissingVersionResetsEvenValidValues) {
    // The old file is kept beside the new one, named after its version,
    // and no copy replaces another.
    const char* const keptAs[] = {".v1.0.0", ".old", ".old.1"};
    int n = 0;
    for (const char* header : {"version=1.0.0\n", "Version=1.0.1\n", ""}) {
        const std::string old = std::string("[tkMereglass]\n") + header +
                                "MainMonitorOnly=true\nWaterSpeed=300\nWaterRes=8\nDripSpeed=20\n"
                                "Lighting=false\nWantBowl=false\n";
        WriteFile(old);
        SCOPED_TRACE(header);
        testing::internal::CaptureStderr();
        ExpectFactory(ReadFresh());
        const std::string message = testing::internal::GetCapturedStderr();
        const std::string kept = file_ + keptAs[n++];
        EXPECT_EQ(ReadText(kept), old);
        EXPECT_NE(message.find("kept as " + kept + ", factory settings used\n"), std::string::npos)
            << message;
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        std::string version;
        EXPECT_TRUE(platform::StoreString(store, "version", &version));
        EXPECT_EQ(version, "1.0.1");
        EXPECT_EQ(platform::StoreInteger(store, "WaterRes"), 6);
        EXPECT_FALSE(platform::StoreBool(store, "MainMonitorOnly"));
        platform::CloseSettingsStore(store);
    }
}

TEST_F(SettingsTest, MatchingVersionKeepsStoredValuesAndAbsentKeysRunAsZeroWould) {
    // Blanks after the version, as after a number, change nothing.
    const std::string text =
        "[tkMereglass]\nversion=1.0.1 \t\nWaterRes=8\nLighting=true\nwantbowl=true\n";
    WriteFile(text);
    const UserSettings s = ReadFresh();
    EXPECT_EQ(s.record.WATERSHIFT, 8);
    EXPECT_TRUE(s.record.LIGHTING);
    EXPECT_FALSE(s.record.WANTBOWL);  // "wantbowl" is another key
    EXPECT_FALSE(s.MainMonitorOnly);
    // An absent integer reads as 0, which runs at the normal wave speed
    // and the shortest drip interval.
    EXPECT_EQ(s.record.WATERSPEED, 100);
    EXPECT_EQ(s.record.DRIPSPEED, 1);
    // Nothing is written when the version matches.
    EXPECT_EQ(ReadText(file_), text);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeReadAsFalseAndZero) {
    WriteFile(
        "[tkMereglass]\nversion=1.0.1\nMainMonitorOnly=yes\nWaterSpeed=fast\n"
        "WaterRes=99999999999\nDripSpeed=-5\nLighting=on\nWantBowl=1\n");
    testing::internal::CaptureStderr();
    const UserSettings s = ReadFresh();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(s.MainMonitorOnly);
    // Zero (and -5) are out of range: they run as the scene runs them.
    EXPECT_EQ(s.record.WATERSPEED, 100);
    EXPECT_EQ(s.record.WATERSHIFT, 6);  // beyond 32 bits
    EXPECT_EQ(s.record.DRIPSPEED, 1);
    EXPECT_NE(message.find("WaterSpeed=fast is not from 10 to 400; 100 used"), std::string::npos)
        << message;
    EXPECT_FALSE(s.record.LIGHTING);
    EXPECT_TRUE(s.record.WANTBOWL);  // key files spell true as "true" or "1"
}

// Blanks around a number are passed over after it as before it (and as
// around true and false); a value out of range is named without them.
TEST_F(SettingsTest, BlanksAroundANumberAreIgnoredOnEitherSide) {
    WriteFile(
        "[tkMereglass]\nversion=1.0.1\nWaterRes= 7 \nWaterSpeed=\t150\t\nDripSpeed=  0  \n"
        "Lighting= false \n");
    testing::internal::CaptureStderr();
    const UserSettings s = ReadFresh();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.record.WATERSHIFT, 7);
    EXPECT_EQ(s.record.WATERSPEED, 150);
    EXPECT_FALSE(s.record.LIGHTING);
    EXPECT_EQ(message.find("WaterRes"), std::string::npos) << message;
    EXPECT_EQ(message.find("WaterSpeed"), std::string::npos) << message;
    EXPECT_NE(message.find(": DripSpeed=0 is not from "), std::string::npos) << message;
}

TEST_F(SettingsTest, OutOfRangeValuesRunAsTheSceneRunsThemAndAreNamedOnce) {
    // A large wave speed blackens the water; below 10 % the scene runs the
    // normal speed; a water resolution outside 4 to 8 runs at 6.
    const std::string text =
        "[tkMereglass]\nversion=1.0.1\nWaterSpeed=1500\nWaterRes=9\nDripSpeed=400000\n"
        "IdleMinutes=0\nDesktopPrivacy=7\n";
    WriteFile(text);
    testing::internal::CaptureStderr();
    UserSettings s = ReadFresh();
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.record.WATERSPEED, 400);
    EXPECT_EQ(s.record.WATERSHIFT, 6);
    EXPECT_EQ(s.record.DRIPSPEED, 360000);
    EXPECT_EQ(s.IdleMinutes, 10);
    EXPECT_EQ(s.Privacy, DesktopPrivacy::Pixelated);  // the nearest choice
    EXPECT_NE(message.find(file_ + ": WaterSpeed=1500 is not from 10 to 400; 400 used\n"),
              std::string::npos)
        << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 5) << message;
    EXPECT_EQ(ReadText(file_), text);  // the file is not rewritten for that

    // A file from before the idle time and the battery's saving existed
    // runs the factory idle time and saves the battery.
    WriteFile("[tkMereglass]\nversion=1.0.1\nWaterSpeed=9\n");
    testing::internal::CaptureStderr();
    s = ReadFresh();
    message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.record.WATERSPEED, 100);
    EXPECT_EQ(s.IdleMinutes, 10);
    EXPECT_TRUE(s.SaveBattery);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    // The sheet shows what runs, so Save keeps it.
    UserSettings fields = FactorySettings();
    fields.record.WATERSPEED = 5;
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    EXPECT_EQ(c.oWaterSpeed, 100);
}

TEST_F(SettingsTest, CorruptFileIsKeptAsBadAndReplaced) {
    const std::string garbage = "\x89PNG this is not [a key file\n=====\n";
    WriteFile(garbage);
    testing::internal::CaptureStderr();
    ExpectFactory(ReadFresh());
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("tkMereglass.conf.bad"), std::string::npos) << message;
    EXPECT_EQ(ReadText(file_ + ".bad"), garbage);
    EXPECT_EQ(ReadText(file_), kFactoryText);

    // Later ones are numbered; no copy is replaced. With five kept, the
    // next bad file stays where it is and nothing writes over it.
    for (const char* suffix : {".bad.1", ".bad.2", ".bad.3", ".bad.4"}) {
        WriteFile(garbage + suffix);
        ExpectFactory(ReadFresh());
        EXPECT_EQ(ReadText(file_ + suffix), garbage + suffix);
    }
    WriteFile(garbage + "sixth");
    testing::internal::CaptureStderr();
    ExpectFactory(ReadFresh());
    const std::string full = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadText(file_), garbage + "sixth");
    EXPECT_EQ(ReadText(file_ + ".bad"), garbage);
    EXPECT_FALSE(fs::exists(file_ + ".bad.5"));
    EXPECT_NE(full.find("left as it is (5 unreadable copies are kept already)"), std::string::npos)
        << full;
    EXPECT_EQ(std::count(full.begin(), full.end(), '\n'), 1) << full;
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings fields = FactorySettings();
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConfigureSheetSave(c, &fields, store));
    testing::internal::GetCapturedStderr();
    platform::CloseSettingsStore(store);
    EXPECT_EQ(ReadText(file_), garbage + "sixth");
}

TEST_F(SettingsTest, SymlinkedStoreIsWrittenThroughTheLink) {
    fs::create_directories(home_ + "/dotfiles");
    fs::create_directories(home_ + "/mereglass");
    const std::string real = home_ + "/dotfiles/mereglass.conf";
    const std::string old = "[tkMereglass]\nversion=1.0.0\nWaterSpeed=300\n";
    std::ofstream(real) << old;
    fs::create_symlink("../dotfiles/mereglass.conf", file_);
    testing::internal::CaptureStderr();
    ExpectFactory(ReadFresh());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_NE(ReadText(real).find("version=1.0.1\n"), std::string::npos) << ReadText(real);
    EXPECT_EQ(ReadText(file_ + ".v1.0.0"), old);

    // A file there that cannot be read is left as it is, and the link too.
    const std::string garbage = "not [a key file\n";
    std::ofstream(real) << garbage;
    testing::internal::CaptureStderr();
    ExpectFactory(ReadFresh());
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("; left as it is (it is a link to ../dotfiles/mereglass.conf), factory "
                           "settings used\n"),
              std::string::npos)
        << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(ReadText(real), garbage);
    EXPECT_FALSE(fs::exists(file_ + ".bad"));
    EXPECT_FALSE(fs::exists(real + ".bad"));
}

TEST_F(SettingsTest, AReadOnlyFileIsNeverWrittenOver) {
    // Read-only by its mode, so that root is held to it too; in place and
    // behind a link into a dotfiles folder.
    const std::string old = "[tkMereglass]\nversion=1.0.0\nWaterSpeed=300\n";
    const std::string real = home_ + "/dotfiles/mereglass.conf";
    fs::create_directories(home_ + "/dotfiles");
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked);
        WriteFile(old);
        if (linked) {
            fs::rename(file_, real);
            fs::create_symlink(real, file_);
        }
        fs::permissions(file_,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        testing::internal::CaptureStderr();
        ExpectFactory(ReadFresh());
        std::string message = testing::internal::GetCapturedStderr();
        EXPECT_EQ(message, "mereglass: settings file " + file_ +
                               " is of version \"1.0.0\"; left as it is (it is read-only), "
                               "factory settings used\n");
        EXPECT_EQ(ReadText(file_), old);
        EXPECT_EQ(fs::is_symlink(file_), linked);
        EXPECT_FALSE(fs::exists(file_ + ".v1.0.0"));

        // Nor does Save write it.
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        UserSettings fields = FactorySettings();
        SheetControls c{};
        ConfigureSheetOpen(fields, &c);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ConfigureSheetSave(c, &fields, store));
        message = testing::internal::GetCapturedStderr();
        platform::CloseSettingsStore(store);
        EXPECT_EQ(message, "mereglass: cannot save settings to " + file_ +
                               ": the file is left as it is (it is read-only)\n");
        EXPECT_EQ(ReadText(file_), old);
        fs::remove(file_);
    }
}

TEST_F(SettingsTest, UnwritableFolderIsReportedWithoutACrash) {
    // A plain file where the settings folder should be: nothing can be
    // created under it (this holds for root too).
    std::ofstream(home_ + "/mereglass") << "in the way";
    testing::internal::CaptureStderr();
    const UserSettings s = ReadFresh();
    const std::string message = testing::internal::GetCapturedStderr();
    ExpectFactory(s);
    EXPECT_NE(message.find("cannot save settings"), std::string::npos) << message;

    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings fields = FactorySettings();
    SheetControls controls{};
    ConfigureSheetOpen(fields, &controls);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConfigureSheetSave(controls, &fields, store));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot save settings"),
              std::string::npos);
    platform::CloseSettingsStore(store);
}

TEST_F(SettingsTest, SyncReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
    ReadFresh();
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);  // a private file
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    platform::StoreSetInteger(store, "WaterSpeed", 222);
    EXPECT_TRUE(platform::StoreSynchronize(store));
    platform::CloseSettingsStore(store);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(home_ + "/mereglass")) {
        ++files;
        EXPECT_EQ(entry.path().filename(), "tkMereglass.conf");
    }
    EXPECT_EQ(files, 1);
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFresh().record.WATERSPEED, 222);
}

TEST_F(SettingsTest, SheetOpensWithTheFieldsNotTheStore) {
    ReadFresh();
    const UserSettings fields = Custom();
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    EXPECT_EQ(c.oMainMonitorOnly, 1);
    EXPECT_EQ(c.oLighting, 0);
    EXPECT_EQ(c.oWantBowl, 1);
    EXPECT_EQ(c.oCaustics, 1);
    EXPECT_EQ(c.oWaterSpeed, 250);
    EXPECT_EQ(c.oWaterRes, 7);
    EXPECT_EQ(c.oDripSpeed, 33);
    EXPECT_EQ(c.oPicture, 1);
    EXPECT_EQ(c.oPictureFolder, "/home/u/Pictures");
}

TEST_F(SettingsTest, CancelAfterEditsChangesNothing) {
    UserSettings fields = ReadFresh();
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    c.oWaterSpeed = 400;
    c.oLighting = 0;
    // Cancel: the edits are dropped; the next opening shows the fields.
    ConfigureSheetOpen(fields, &c);
    EXPECT_EQ(c.oWaterSpeed, 100);
    EXPECT_EQ(c.oLighting, 1);
    ExpectFactory(fields);
    EXPECT_EQ(ReadText(file_), kFactoryText);
}

TEST_F(SettingsTest, DefaultsThenCancelLeavesFieldsAndStore) {
    ReadFresh();
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings fields = Custom();
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    ASSERT_TRUE(ConfigureSheetSave(c, &fields, store));
    const std::string saved = ReadText(file_);

    ConfigureSheetDefaults(&c);
    EXPECT_EQ(c.oMainMonitorOnly, 0);
    EXPECT_EQ(c.oWaterSpeed, 100);
    EXPECT_EQ(c.oWaterRes, 6);
    EXPECT_EQ(c.oDripSpeed, 250);
    EXPECT_EQ(c.oLighting, 1);
    EXPECT_EQ(c.oWantBowl, 1);
    EXPECT_EQ(c.oCaustics, 0);
    EXPECT_EQ(c.oPicture, 0);
    EXPECT_EQ(c.oPictureFolder, "");
    // Cancel.
    EXPECT_TRUE(fields.MainMonitorOnly);
    EXPECT_EQ(fields.record.DRIPSPEED, 33);
    EXPECT_EQ(ReadText(file_), saved);
    platform::CloseSettingsStore(store);
}

TEST_F(SettingsTest, DefaultsThenSaveStoresFactoryValuesButNotTheVersion) {
    ReadFresh();
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    platform::StoreSetString(store, "version", "left alone");
    UserSettings fields = Custom();
    SheetControls c{};
    ConfigureSheetDefaults(&c);
    ASSERT_TRUE(ConfigureSheetSave(c, &fields, store));
    platform::CloseSettingsStore(store);
    ExpectFactory(fields);
    std::string expected = kFactoryText;
    expected.replace(expected.find("1.0.1"), 5, "left alone");
    EXPECT_EQ(ReadText(file_), expected);
}

TEST_F(SettingsTest, SaveWritesTheControlsAndUpdatesTheFields) {
    ReadFresh();
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings fields = FactorySettings();
    SheetControls c{};
    ConfigureSheetOpen(fields, &c);
    c.oMainMonitorOnly = 1;
    c.oLighting = 2;  // a mixed state counts as off
    c.oWantBowl = 0;
    c.oCaustics = 1;
    c.oWaterSpeed = 150;
    c.oWaterRes = 8;
    c.oDripSpeed = 1;
    c.oPicture = 1;
    c.oIdleMinutes = 25;
    c.oDesktopPrivacy = 1;
    c.oPictureFolder = "/home/u/Pictures";
    ASSERT_TRUE(ConfigureSheetSave(c, &fields, store));
    platform::CloseSettingsStore(store);
    EXPECT_TRUE(fields.MainMonitorOnly);
    EXPECT_FALSE(fields.record.LIGHTING);
    EXPECT_FALSE(fields.record.WANTBOWL);
    EXPECT_TRUE(fields.record.CAUSTICS);
    EXPECT_EQ(fields.record.WATERSPEED, 150);
    EXPECT_EQ(fields.record.WATERSHIFT, 8);
    EXPECT_EQ(fields.record.DRIPSPEED, 1);
    EXPECT_EQ(fields.Picture, ShownPicture::Folder);
    EXPECT_EQ(fields.PictureFolder, "/home/u/Pictures");
    EXPECT_EQ(ReadText(file_),
              "[tkMereglass]\n"
              "version=1.0.1\n"
              "MainMonitorOnly=true\n"
              "WaterSpeed=150\n"
              "WaterRes=8\n"
              "DripSpeed=1\n"
              "Lighting=false\n"
              "WantBowl=false\n"
              "Caustics=true\n"
              "FullDetail=false\n"
              "SaveBattery=true\n"
              "Picture=1\n"
              "DesktopPrivacy=1\n"
              "IdleMinutes=25\n"
              "LockMinutes=0\n"
              "PictureFolder=/home/u/Pictures\n");
    // The next view reads what was saved.
    const UserSettings next = ReadFresh();
    EXPECT_TRUE(next.MainMonitorOnly);
    EXPECT_EQ(next.record.WATERSHIFT, 8);
    EXPECT_EQ(next.record.DRIPSPEED, 1);
    EXPECT_EQ(next.Picture, ShownPicture::Folder);
    EXPECT_EQ(next.Privacy, DesktopPrivacy::Blurred);
    EXPECT_EQ(next.PictureFolder, "/home/u/Pictures");
}

TEST_F(SettingsTest, APictureFolderOfAnyNameIsSavedAndReadBack) {
    // Latin-1 bytes, not UTF-8; a UTF-8 name stays as it is in the file.
    ReadFresh();
    for (const std::string& folder : {std::string("/home/u/Bilder \xe9t\xe9"),
                                      std::string("/home/u/Bilder \xc3\xa9t\xc3\xa9")}) {
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        UserSettings fields = FactorySettings();
        SheetControls c{};
        ConfigureSheetOpen(fields, &c);
        c.oPictureFolder = folder;
        ASSERT_TRUE(ConfigureSheetSave(c, &fields, store));
        platform::CloseSettingsStore(store);
        EXPECT_EQ(ReadFresh().PictureFolder, folder);
    }
    EXPECT_NE(ReadText(file_).find("PictureFolder=/home/u/Bilder \xc3\xa9t\xc3\xa9\n"),
              std::string::npos);
    // The raw bytes an older build wrote read back too.
    WriteFile("[tkMereglass]\nversion=1.0.1\nPictureFolder=\\s/srv/caf\xe9\n");
    EXPECT_EQ(ReadFresh().PictureFolder, " /srv/caf\xe9");
}

TEST_F(SettingsTest, PeekingReadsAsTheViewsWillButNeverWritesOrSpeaks) {
    // An unknown choice runs as the desktop; a folder is any text.
    const std::string text =
        "[tkMereglass]\nversion=1.0.1\nWaterSpeed=1500\nPicture=7\nPictureFolder=/srv/p q\n";
    WriteFile(text);
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    testing::internal::CaptureStderr();
    UserSettings s = PeekSettings(store);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s.record.WATERSPEED, 400);
    EXPECT_EQ(s.Picture, ShownPicture::Desktop);
    EXPECT_EQ(s.PictureFolder, "/srv/p q");
    platform::CloseSettingsStore(store);

    // A store of another version is not trusted, and is left for the views
    // to keep and reset.
    const std::string old = "[tkMereglass]\nversion=0.9\nPicture=1\nPictureFolder=/srv/p\n";
    WriteFile(old);
    store = platform::OpenSettingsStore(kSettingsModule);
    testing::internal::CaptureStderr();
    s = PeekSettings(store);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    platform::CloseSettingsStore(store);
    EXPECT_EQ(s.Picture, ShownPicture::Desktop);
    EXPECT_EQ(s.PictureFolder, "");
    EXPECT_EQ(ReadText(file_), old);
}

TEST_F(SettingsTest, StorePathFollowsXdgConfigHomeOrHome) {
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    EXPECT_EQ(platform::SettingsStorePath(store), file_);
    platform::CloseSettingsStore(store);

    unsetenv("XDG_CONFIG_HOME");
    const char* oldHome = getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", home_.c_str(), 1);
    store = platform::OpenSettingsStore(kSettingsModule);
    EXPECT_EQ(platform::SettingsStorePath(store), home_ + "/.config/mereglass/tkMereglass.conf");
    platform::CloseSettingsStore(store);
    if (oldHome) setenv("HOME", saved.c_str(), 1);
}

}  // namespace
