// OnCompositor<kind>: a GoogleTest fixture whose tests run the mereglass
// program on one compositor shared by the whole suite (see
// SharedCompositor), skipped with the reason when that compositor or a
// tool for it is missing. Each test starts its own program; the fixture
// kills it after the test and checks that every output shows its desktop
// again. Relies on Compositor, and on /proc for the program's wake-ups.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "compositor.h"

template <CompositorKind kKind>
class OnCompositor : public ::testing::Test {
protected:
    static void TearDownTestSuite() { shared_.Stop(); }

    void SetUp() override {
        if (std::string why = Compositor::Unavailable(kKind); !why.empty()) GTEST_SKIP() << why;
        std::string error;
        compositor_ = shared_.Get(&error);
        ASSERT_NE(compositor_, nullptr) << error;
    }

    // The program is killed; nothing of it may stay on the outputs (the
    // next test starts from the bare desktop).
    void TearDown() override {
        if (program_ && program_->running()) {
            program_->Signal(SIGKILL);
            program_->Wait(kCompositorDeadline);
        }
        if (compositor_ != nullptr && !shared_.spoilt() && compositor_->Alive() &&
            !ShowsTheDesktop()) {
            ADD_FAILURE() << "the desktop does not show again once the program is killed\n"
                          << Output();
            Spoil();
        }
        program_.reset();
    }

    // mereglass with `args` (after the program's name) as a client.
    void StartProgram(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
        std::vector<std::string> all = {compositor_->Program()};
        all.insert(all.end(), args.begin(), args.end());
        program_ = compositor_->Spawn(all, env);
    }

    // The next test gets a new compositor (this one changed its outputs or
    // ended it).
    void Spoil() { shared_.Spoil(); }

    std::string Output() const { return program_ ? program_->Output() : ""; }

    void ExpectNoReports() const {
        const std::string out = Output();
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << out;
        EXPECT_EQ(out.find("runtime error"), std::string::npos) << out;
    }

    // Whether every output shows something other than its desktop over
    // most of each quarter, and a picture that changes: polled. Says which
    // output did not, and why.
    ::testing::AssertionResult CoveredWithMovingWater() {
        std::vector<Shot> first, later;
        std::string why;
        const bool covered = Soon([&] {
            if (!compositor_->GrabEach(&first)) return Why(&why, "no picture");
            for (size_t i = 0; i < first.size(); ++i) {
                const Shot& desktop = compositor_->desktop(i);
                if (first[i].width != desktop.width || first[i].height != desktop.height) {
                    return Why(&why, compositor_->outputs()[i] + " changed its size");
                }
                const int w = desktop.width / 2, h = desktop.height / 2;
                for (const auto& [x, y] : {std::pair{0, 0}, {w, 0}, {0, h}, {w, h}}) {
                    if (Differing(Part(first[i], x, y, w, h), Part(desktop, x, y, w, h)) <
                        w * h * 3 / 4) {
                        return Why(&why, compositor_->outputs()[i] + " shows its desktop at " +
                                             std::to_string(x) + "," + std::to_string(y));
                    }
                }
            }
            return true;
        });
        if (!covered) return ::testing::AssertionFailure() << why << "\n" << Output();
        for (size_t i = 0; i < first.size(); ++i) {
            if (!Soon([&] {
                    return compositor_->GrabEach(&later) && later[i].rgb != first[i].rgb;
                })) {
                return ::testing::AssertionFailure()
                       << compositor_->outputs()[i] << " does not move\n"
                       << Output();
            }
        }
        return ::testing::AssertionSuccess();
    }

    // Whether every output shows its desktop again (nothing of ours is
    // left on it): polled.
    bool ShowsTheDesktop() {
        std::vector<Shot> now;
        return Soon([&] {
            if (!compositor_->GrabEach(&now)) return false;
            for (size_t i = 0; i < now.size(); ++i) {
                if (Differing(now[i], compositor_->desktop(i)) > 0) return false;
            }
            return true;
        });
    }

    // Whether every output shows the same picture for `seconds` (nothing
    // comes, nothing moves), read back again and again.
    ::testing::AssertionResult StaysStill(double seconds) {
        std::vector<Shot> first, now;
        if (!compositor_->GrabEach(&first)) return ::testing::AssertionFailure() << "no picture";
        const double end = MonotonicSeconds() + seconds;
        while (MonotonicSeconds() < end) {
            if (!compositor_->GrabEach(&now)) return ::testing::AssertionFailure() << "no picture";
            for (size_t i = 0; i < now.size(); ++i) {
                if (Differing(now[i], first[i]) > 0) {
                    return ::testing::AssertionFailure()
                           << compositor_->outputs()[i] << " changed\n"
                           << Output();
                }
            }
            usleep(200 * 1000);
        }
        return ::testing::AssertionSuccess();
    }

    // Whether the program runs and woke at most twice in `seconds` (the
    // context switches of all its threads): a stray message may wake it, a
    // loop that draws wakes at every frame.
    bool Asleep(double seconds) {
        const long before = WakeUps();
        usleep(static_cast<useconds_t>(seconds * 1e6));
        return program_->running() && before > 0 && WakeUps() - before <= 2;
    }

    long WakeUps() const {
        long n = 0;
        std::error_code failed;
        const std::string tasks = "/proc/" + std::to_string(program_->pid()) + "/task";
        for (const auto& task : std::filesystem::directory_iterator(tasks, failed)) {
            std::ifstream status(task.path() / "status");
            std::string key;
            long value = 0;
            while (status >> key) {
                if (key.ends_with("ctxt_switches:") && status >> value) n += value;
            }
        }
        return n;
    }

    static bool Why(std::string* why, const std::string& reason) {
        *why = reason;
        return false;
    }

    Compositor* compositor_ = nullptr;
    std::unique_ptr<ChildProcess> program_;

private:
    static inline SharedCompositor shared_{kKind};
};
