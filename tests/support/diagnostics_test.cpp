// Diagnostics: the message sink (alerts and the lines every layer tells the
// user), the debug log writers, the frame-rate counter and the clock.
#include "support/diagnostics.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_table.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets (or, given null, unsets) an environment variable for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        Set(value);
    }
    ~ScopedVariable() { Set(had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const char* value) {
        if (value) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
    }

    const char* name_;
    bool had_;
    std::string old_;
};

// Points the debug log into a fresh temporary folder for one test.
class DebugLog : public testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() /
            ("mereglass-diag-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "debug.txt").string();
        SetDebugLogPath(path_);
    }
    void TearDown() override {
        SetDebugLogPath("");  // the default
        std::filesystem::remove_all(dir_);
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST(Alerts, SinkReceivesCaptionAndText) {
    std::vector<std::string> seen;
    AlertSink previous = SetAlertSink([&seen](const char* caption, const char* text) {
        seen.push_back(std::string(caption) + "|" + text);
    });
    MessageBox(nullptr, "Could not read image data", "ERROR", 0);
    MessageBox(reinterpret_cast<void*>(1), "TGA file be type 2 or type 10 ", "Invalid Image", 7);
    MessageBox(nullptr, nullptr, nullptr, 0);
    SetAlertSink(previous);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"ERROR|Could not read image data",
                                        "Invalid Image|TGA file be type 2 or type 10 ", "|"}));
}

TEST(Alerts, DefaultSinkWritesOneLineToStandardError) {
    AlertSink previous = SetAlertSink(nullptr);  // the default
    testing::internal::CaptureStderr();
    MessageBox(nullptr, "Could not read image data", "ERROR", 0);
    const std::string written = testing::internal::GetCapturedStderr();
    SetAlertSink(previous);
    EXPECT_EQ(written, "mereglass: ERROR: Could not read image data\n");
}

TEST(Alerts, OneSinkCatchesEveryLineAndTheDefaultWritesThemAsBefore) {
    // A line of a higher layer: the view's settings name a stored value out
    // of range while they read it.
    char pattern[] = "/tmp/mereglass-diag-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string home = pattern;
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    std::filesystem::create_directories(home + "/mereglass");
    const std::string file = home + "/mereglass/tkMereglass.conf";
    std::ofstream(file) << "[tkMereglass]\nversion=1.0.1\nWaterSpeed=1500\n";
    auto readSettings = [] {
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        ReadSettings(store);
        platform::CloseSettingsStore(store);
    };
    const std::string line =
        "settings file " + file + ": WaterSpeed=1500 is not from 10 to 400; 400 used";

    std::vector<std::string> seen;
    AlertSink previous = SetAlertSink([&seen](const char* caption, const char* text) {
        seen.push_back(std::string(caption) + "|" + text);
    });
    testing::internal::CaptureStderr();
    readSettings();
    Tell("a plain line");
    MessageBox(nullptr, "Could not read image data", "ERROR", 0);
    const std::string caught = testing::internal::GetCapturedStderr();

    SetAlertSink(nullptr);
    testing::internal::CaptureStderr();
    readSettings();
    Tell("a plain line");
    const std::string written = testing::internal::GetCapturedStderr();
    SetAlertSink(previous);
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(home);

    EXPECT_EQ(seen, (std::vector<std::string>{"|" + line, "|a plain line",
                                              "ERROR|Could not read image data"}));
    EXPECT_EQ(caught, "");
    EXPECT_EQ(written, "mereglass: " + line + "\nmereglass: a plain line\n");
}

// A name from outside reaches the terminal with its control characters,
// its line breaks and reordering marks and its bytes that are no UTF-8
// escaped; letters of any script, blanks and marks stay as they are.
TEST(Alerts, NamesShowControlAndInvalidBytesEscaped) {
    EXPECT_EQ(DisplayName("/home/ann/Été 2024/лето.png"), "/home/ann/Été 2024/лето.png");
    EXPECT_EQ(DisplayName("a\x1b[2Jb\tc\nd\x7f"), "a\\x1b[2Jb\\x09c\\x0ad\\x7f");
    EXPECT_EQ(DisplayName(std::string("nul\0end", 7)), "nul\\x00end");
    // C1 controls (U+009B is a one-character escape sequence), a line
    // separator and a right-to-left override, as their UTF-8 bytes.
    EXPECT_EQ(DisplayName("x\xc2\x9b"
                          "2Jy"),
              "x\\xc2\\x9b2Jy");
    EXPECT_EQ(DisplayName("a\xe2\x80\xa8"
                          "b\xe2\x80\xaegnp.exe"),
              "a\\xe2\\x80\\xa8b\\xe2\\x80\\xaegnp.exe");
    // Invalid: Latin-1, a lone continuation byte, an overlong slash, a
    // surrogate, a cut sequence at the end.
    EXPECT_EQ(DisplayName("caf\xe9.png"), "caf\\xe9.png");
    EXPECT_EQ(DisplayName("\x80\xc0\xaf\xed\xa0\x80\xe2\x82"),
              "\\x80\\xc0\\xaf\\xed\\xa0\\x80\\xe2\\x82");
    EXPECT_EQ(DisplayName("\xf0\x9f\x8c\x8a \xe2\x82\xac"), "\xf0\x9f\x8c\x8a \xe2\x82\xac");
}

TEST(Alerts, ErrorBoxesDoNothing) {
    int calls = 0;
    AlertSink previous = SetAlertSink([&calls](const char*, const char*) { ++calls; });
    ERRORBOX("x");
    ERRORCLOSE("y");
    SetAlertSink(previous);
    EXPECT_EQ(calls, 0);
}

TEST_F(DebugLog, DefaultIsUnderTheStateFolderMadeForTheOwnerOnly) {
    const std::filesystem::path state = dir_ / "state" / "deep";
    const std::filesystem::path log = state / "mereglass" / "debug.txt";
    {
        ScopedVariable variable("XDG_STATE_HOME", state.c_str());
        SetDebugLogPath("");
        EXPECT_EQ(DebugLogPath(), log.string());
        EXPECT_FALSE(std::filesystem::exists(dir_ / "state"));  // made at the first write
        DEBUG(2.0);
        EXPECT_EQ(Contents(log), "2.000000\n");
        using std::filesystem::perms;
        for (const auto& folder : {dir_ / "state", state, state / "mereglass"}) {
            EXPECT_EQ(std::filesystem::status(folder).permissions() & perms::all, perms::owner_all)
                << folder;
        }
    }
    // A folder that cannot be made (a file is in its way): nothing happens.
    std::ofstream(dir_ / "file") << "";
    ScopedVariable blocked("XDG_STATE_HOME", (dir_ / "file" / "state").c_str());
    DEBUGstr("x");
    EXPECT_EQ(Contents((dir_ / "file").string()), "");
}

TEST_F(DebugLog, DefaultFallsBackToTheHomeFolder) {
    ScopedVariable home("HOME", dir_.c_str());
    SetDebugLogPath("");
    const std::string log = (dir_ / ".local" / "state" / "mereglass" / "debug.txt").string();
    for (const char* state : {static_cast<const char*>(nullptr), "", "relative/state"}) {
        ScopedVariable variable("XDG_STATE_HOME", state);
        EXPECT_EQ(DebugLogPath(), log);
        DEBUGstr(state ? state : "unset");
        EXPECT_EQ(Contents(log), std::string(state ? state : "unset") + "\n");
    }
    ScopedVariable unset("XDG_STATE_HOME", nullptr);
    ScopedVariable relative("HOME", "relative");
    EXPECT_EQ(DebugLogPath(), "");
    DEBUG(1.0);  // no log at all: nothing happens
    EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST_F(DebugLog, NumbersAppendAndTextReplaces) {
    DEBUG(1.5);
    DEBUG(1.5);
    EXPECT_EQ(Contents(path_), "1.500000\n1.500000\n");
    DEBUGstr("x");
    EXPECT_EQ(Contents(path_), "x\n");
    DEBUG(-0.25);
    EXPECT_EQ(Contents(path_), "x\n-0.250000\n");
    DEBUGp3d(VECTOR3D{1, 2, 3});
    EXPECT_EQ(Contents(path_), "1.000000,2.000000,3.000000\n");
    DEBUGp3d(VECTOR3D{-0.5f, 0, 1e6f});
    EXPECT_EQ(Contents(path_), "-0.500000,0.000000,1000000.000000\n");
}

TEST_F(DebugLog, UnwritableLogIsIgnored) {
    const std::string missing = (dir_ / "no" / "such" / "debug.txt").string();
    SetDebugLogPath(missing);
    DEBUG(1.0);
    DEBUGstr("x");
    DEBUGp3d(VECTOR3D{1, 2, 3});
    EXPECT_FALSE(std::filesystem::exists(missing));
}

class FrameRate : public testing::Test {
protected:
    void SetUp() override { fCount = lastcountFrame = 0, frameRate = lastcountTime = 0.0; }
    void TearDown() override { SetUp(); }
};

TEST_F(FrameRate, UpdatesAtMostFourTimesASecond) {
    fCount = 30;
    CalcFrameRate(0.2);
    EXPECT_EQ(frameRate, 0.0);
    EXPECT_EQ(lastcountTime, 0.0);
    CalcFrameRate(1.0);
    EXPECT_EQ(frameRate, 30.0);
    EXPECT_EQ(lastcountFrame, 30);
    EXPECT_EQ(lastcountTime, 1.0);
    fCount = 45;
    CalcFrameRate(1.2);  // within a quarter second
    EXPECT_EQ(frameRate, 30.0);
    CalcFrameRate(1.25);  // exactly a quarter second: still not
    EXPECT_EQ(frameRate, 30.0);
    CalcFrameRate(1.5);
    EXPECT_EQ(frameRate, 30.0);  // 15 frames in 0.5 s
    fCount = 45 + 60;
    CalcFrameRate(2.5);
    EXPECT_EQ(frameRate, 60.0);
}

TEST_F(FrameRate, CounterWrapsAroundLikeA32BitNumber) {
    lastcountFrame = INT32_MAX - 4;
    fCount = INT32_MIN + 5;  // ten frames later
    CalcFrameRate(2.0);
    EXPECT_EQ(frameRate, 5.0);
}

TEST(WallClock, MatchesTheLocalTime) {
    const std::time_t before = std::time(nullptr);
    int hour = -1, minute = -1, second = -1;
    Clock(&hour, &minute, &second);
    const std::time_t after = std::time(nullptr);
    ASSERT_GE(hour, 0);
    EXPECT_LE(hour, 23);
    ASSERT_GE(minute, 0);
    EXPECT_LE(minute, 59);
    ASSERT_GE(second, 0);
    EXPECT_LE(second, 60);
    // Within the two readings around the call.
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        matched |= local.tm_hour == hour && local.tm_min == minute && local.tm_sec == second;
    }
    EXPECT_TRUE(matched) << hour << ":" << minute << ":" << second;
}

}  // namespace
