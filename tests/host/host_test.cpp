// The host's frame loop against a scripted session whose views are real
// headless ones: outputs that come and go, a key in full screen, a view
// resized to 4K, a view the compositor is not ready for, outputs powered
// off, a server that goes and a stop signal. The whole-program tests run
// the same loop on Xvfb and the compositors.
#include "host/host.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/session.h"
#include "platform/view_port.h"

namespace {

// A headless view that counts its presents.
class CountingView final : public platform::View {
public:
    CountingView(platform::View* inner, int* alive) : inner_(inner), alive_(alive) { ++*alive_; }
    ~CountingView() override {
        platform::DestroyView(inner_);
        --*alive_;
    }
    bool MakeCurrent() override { return inner_->MakeCurrent(); }
    void Show() override {}
    bool Resize(int width, int height) override { return inner_->Resize(width, height); }
    void Size(int* width, int* height) override { inner_->Size(width, height); }
    void Present() override {
        ++presents;
        glGetIntegerv(GL_VIEWPORT, viewport);
        inner_->Present();
    }

    int presents = 0;
    GLint viewport[4] = {};  // the frame's, drawn at the reduced size

private:
    platform::View* inner_;
    int* alive_;
};

// A compositor-like session of 160 × 100 outputs. At each turn of the loop
// (each Dispatch) `script` may add events, change the outputs or end the
// connection (false).
class ScriptedSession final : public platform::Session {
public:
    using Script = std::function<bool(int turn, ScriptedSession* s,
                                      std::vector<platform::SessionEvent>* events)>;

    ScriptedSession(std::vector<int> numbers, Script script) : script_(std::move(script)) {
        for (int n : numbers) AddOutput(n);
    }

    void AddOutput(int number) {
        platform::Output o;
        o.screen = {.x = 160 * number, .y = 0, .width = 160, .height = 100, .number = number};
        o.name = "OUT-" + std::to_string(number);
        o.scale = 1;
        outputs_.push_back(o);
    }
    void RemoveOutput(int number) {
        std::erase_if(outputs_,
                      [number](const platform::Output& o) { return o.screen.number == number; });
    }

    int Fd() const override { return fd; }
    bool Dispatch(std::vector<platform::SessionEvent>* events, std::string* error) override {
        if (script_(turn++, this, events)) return true;
        *error = "the scripted server has gone";
        return false;
    }
    bool Flush(std::string*) override { return true; }
    std::vector<platform::Output> Outputs() override { return outputs_; }
    platform::View* CreateView(const platform::ViewRequest& request, std::string* error) override {
        const int width = request.kind == platform::ViewKind::FullScreen ? 160 : request.width;
        const int height = request.kind == platform::ViewKind::FullScreen ? 100 : request.height;
        platform::View* inner = platform::CreateHeadlessView(width, height, error);
        if (inner == nullptr) return nullptr;
        auto* view = new CountingView(inner, &alive);
        ++made;
        byNumber[request.screen.number] = view;
        return view;
    }
    platform::ScreenInfo ScreenOfView(platform::View*) override { return outputs_.front().screen; }
    bool CoversOutputs() const override { return true; }
    bool ViewReady(const platform::View* view) const override { return view != notReady && !held; }
    bool OutputDark(int) const override { return dark; }
    platform::DesktopRead ReadDesktop(const platform::ViewRequest& request,
                                      platform::RgbaImage* image, std::string* missing) override {
        if (read) return read(request, image, missing);
        *missing = "a scripted session has no desktop";
        return platform::DesktopRead::Missing;
    }

    // Reads the desktop's picture instead of having none.
    std::function<platform::DesktopRead(const platform::ViewRequest&, platform::RgbaImage*,
                                        std::string*)>
        read;

    int turn = 0;
    int made = 0;
    int alive = 0;
    std::map<int, CountingView*> byNumber;  // the latest view made for each output
    const platform::View* notReady = nullptr;
    // Set from another thread: every output powered off; every view
    // waiting for the compositor. Told through `fd`, the session's
    // descriptor (-1: none).
    std::atomic<bool> dark = false;
    std::atomic<bool> held = false;
    int fd = -1;

private:
    Script script_;
    std::vector<platform::Output> outputs_;
};

platform::SessionEvent EventOf(platform::SessionEventKind kind, int output = 0) {
    platform::SessionEvent e;
    e.kind = kind;
    e.output = output;
    return e;
}

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        config_ =
            std::filesystem::temp_directory_path() / ("mereglass-host-" + std::to_string(getpid()));
        std::filesystem::create_directories(config_);
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(config_); }

    // Runs the host as the arguments say on `session`, with what it tells
    // the user in *said.
    int Run(std::vector<const char*> args, ScriptedSession* session, int* stopSignal,
            std::string* said) {
        args.insert(args.begin(), "mereglass");
        CommandLine cl;
        std::string error;
        EXPECT_TRUE(ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()),
                                     &cl, &error))
            << error;
        testing::internal::CaptureStderr();
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        const int status =
            RunHost(cl, store, std::unique_ptr<platform::Session>(session), nullptr, stopSignal);
        platform::CloseSettingsStore(store);
        *said = testing::internal::GetCapturedStderr();
        return status;
    }

    std::filesystem::path config_;
};

TEST_F(Host, FollowsOutputsThatComeAndGoAndEndsOnAKeyInFullScreen) {
    int made = 0, alive = 0, presentsOfNew = 0;
    auto* session = new ScriptedSession({1, 2}, [&](int turn, ScriptedSession* s, auto* events) {
        made = s->made;
        alive = s->alive;
        if (turn == 5) {
            s->RemoveOutput(2);
            events->push_back(EventOf(platform::SessionEventKind::OutputGone, 2));
        } else if (turn == 10) {
            s->AddOutput(3);
            events->push_back(EventOf(platform::SessionEventKind::OutputAdded, 3));
        } else if (turn >= 15 && s->byNumber[3]->presents > 3) {
            presentsOfNew = s->byNumber[3]->presents;
            events->push_back(EventOf(platform::SessionEventKind::KeyPressed));
        }
        return true;
    });
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 0);
    EXPECT_EQ(stopSignal, 0);
    EXPECT_EQ(made, 3);   // both outputs, then the one that came
    EXPECT_EQ(alive, 2);  // 1 and 3: the one that went was torn down
    EXPECT_GT(presentsOfNew, 3);
    EXPECT_NE(said.find("OUT-2 went away; the others stay covered"), std::string::npos) << said;
}

// A view resized to 4K draws a quarter of each side, as one made at 4K.
TEST_F(Host, AViewResizedTo4KDrawsAQuarterOfEachSide) {
    GLint before[4] = {}, after[4] = {};
    bool resized = false;
    auto* session = new ScriptedSession({1}, [&](int turn, ScriptedSession* s, auto* events) {
        CountingView* view = s->byNumber[1];
        std::copy(view->viewport, view->viewport + 4, resized ? after : before);
        if (!resized && view->presents > 3) {
            platform::SessionEvent e = EventOf(platform::SessionEventKind::Resized);
            e.view = view;
            e.width = 3840;
            e.height = 2160;
            events->push_back(e);
            resized = true;
        } else if ((resized && after[2] != before[2]) || turn > 1000) {
            events->push_back(EventOf(platform::SessionEventKind::KeyPressed));
        }
        return true;
    });
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 0);
    EXPECT_EQ(before[2] * 100 + before[3], 80 * 100 + 50);  // half of 160 x 100
    EXPECT_EQ(after[2] * 10000 + after[3], 960 * 10000 + 540);
}

TEST_F(Host, AViewTheSessionIsNotReadyForSkipsItsTicks) {
    int presentsReady = 0, presentsWaiting = 0;
    auto* session = new ScriptedSession({1, 2}, [&](int turn, ScriptedSession* s, auto* events) {
        if (turn == 0) s->notReady = s->byNumber[2];
        presentsReady = s->byNumber[1]->presents;
        presentsWaiting = s->byNumber[2]->presents;
        if (presentsReady > 10)
            events->push_back(EventOf(platform::SessionEventKind::ButtonPressed));
        return true;
    });
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 0);
    EXPECT_GT(presentsReady, 10);
    // The view waiting for the compositor presented at start-up only.
    EXPECT_LE(presentsWaiting, 1);
}

// While no view can show a frame (every output powered off, then every
// view waiting for the compositor) the loop draws nothing and sleeps: it
// does not turn until news comes on the session's descriptor. When a view
// can draw again, it does.
TEST_F(Host, SleepsWhileNoViewCanShowAFrame) {
    int news[2];
    ASSERT_EQ(pipe2(news, O_CLOEXEC | O_NONBLOCK), 0);
    std::atomic<int> turns = 0, presents = 0;
    std::atomic<bool> heard = false, done = false;
    auto* session = new ScriptedSession({1, 2}, [&](int turn, ScriptedSession* s, auto* events) {
        char byte = 0;
        const bool told = read(news[0], &byte, 1) == 1;
        if (told) events->push_back(EventOf(platform::SessionEventKind::PowerChanged));
        if (done) events->push_back(EventOf(platform::SessionEventKind::KeyPressed));
        presents = s->byNumber[1]->presents + s->byNumber[2]->presents;
        turns = turn;
        heard = heard || told;
        return true;
    });
    session->fd = news[0];
    const auto soon = [](const auto& condition) {
        for (int i = 0; i < 3000 && !condition(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    };
    // Tells the loop of a change, and waits until it has heard.
    const auto tell = [&] {
        heard = false;
        return write(news[1], "x", 1) == 1 && soon([&] { return heard.load(); });
    };
    // The turn that heard the news ends in a wait that nothing ends.
    const auto expectAsleep = [&](const char* why) {
        const int turnsThen = turns, presentsThen = presents;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(turns, turnsThen) << why;
        EXPECT_EQ(presents, presentsThen) << why;
    };
    std::thread driver([&] {
        EXPECT_TRUE(soon([&] { return presents > 6; }));
        session->dark = true;
        EXPECT_TRUE(tell());
        expectAsleep("every output powered off");
        session->dark = false;
        session->held = true;
        EXPECT_TRUE(tell());
        expectAsleep("every view waiting for the compositor");
        session->held = false;
        const int before = presents;
        EXPECT_TRUE(tell());
        EXPECT_TRUE(soon([&] { return presents > before + 6; }));
        done = true;
        EXPECT_TRUE(tell());
    });
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 0);
    driver.join();
    close(news[0]);
    close(news[1]);
}

TEST_F(Host, OutputsShowPicturesOfOneSourceNamedInOneLine) {
    auto* session = new ScriptedSession({1, 2}, [](int, ScriptedSession*, auto* events) {
        events->push_back(EventOf(platform::SessionEventKind::KeyPressed));
        return true;
    });
    // Output 2's copy fails at first: every output then takes the portal's.
    bool copyFailed = false;
    int reads = 0;
    session->read = [&](const platform::ViewRequest& r, platform::RgbaImage* image,
                        std::string* missing) {
        ++reads;
        copyFailed = copyFailed || r.screen.number == 2;
        image->width = 160;
        image->height = 100;
        image->pixels.assign(160 * 100 * 4, 200);
        *missing = "no copy of OUT-2";
        return copyFailed ? platform::DesktopRead::Portal : platform::DesktopRead::Screencopy;
    };
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 0);
    EXPECT_EQ(reads, 4);  // both, then both again
    EXPECT_EQ(said,
              "mereglass: the desktop's picture comes from the screenshot portal "
              "(no copy of OUT-2)\n");
}

TEST_F(Host, AServerThatGoesEndsTheRunWithOneLine) {
    auto* session =
        new ScriptedSession({1}, [](int turn, ScriptedSession*, auto*) { return turn < 3; });
    int stopSignal = -1;
    std::string said;
    EXPECT_EQ(Run({"--fullscreen", "--wayland"}, session, &stopSignal, &said), 1);
    // The last line, and the only one to say so.
    EXPECT_TRUE(said.ends_with("mereglass: the scripted server has gone\n")) << said;
    EXPECT_EQ(said.find("gone"), said.rfind("gone")) << said;
}

TEST_F(Host, AStopSignalEndsAWindowsRunAndIsNamed) {
    int alive = -1;
    ScriptedSession* session = nullptr;
    session = new ScriptedSession({1}, [&](int turn, ScriptedSession* s, auto*) {
        alive = s->alive;
        // The signal waits, blocked, for the loop to read it.
        if (turn == 3) kill(getpid(), SIGTERM);
        return true;
    });
    int stopSignal = 0;
    std::string said;
    EXPECT_EQ(Run({"-window", "-geometry", "200x120"}, session, &stopSignal, &said), 0);
    EXPECT_EQ(stopSignal, SIGTERM);
    EXPECT_EQ(alive, 1);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace
