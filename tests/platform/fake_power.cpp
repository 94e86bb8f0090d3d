// FakePower: dbus-daemon and the fake UPower as child processes.
#include "fake_power.h"

#include <signal.h>
#include <unistd.h>

#include <vector>

namespace {

// Waits at most 30 s for `child` to print a whole line; true when it did.
bool WaitForLine(const ChildProcess& child) {
    for (int i = 0; i < 1200; ++i) {
        if (child.Output().find('\n') != std::string::npos) return true;
        usleep(25 * 1000);
    }
    return false;
}

}  // namespace

FakePower::FakePower(const std::string& dir, bool onBattery) {
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
        error_ = "no dbus-daemon";
        return;
    }
    // A session-type bus: one that lets anybody own any name.
    bus_ = std::make_unique<ChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1",
                                 "--address=unix:dir=" + dir});
    if (!WaitForLine(*bus_)) {
        error_ = "dbus-daemon did not start: " + bus_->Output();
        return;
    }
    const std::string out = bus_->Output();
    address_ = out.substr(0, out.find('\n'));
    ok_ = Appear(onBattery);
}

bool FakePower::Appear(bool onBattery) {
    fake_ = std::make_unique<ChildProcess>(
        MEREGLASS_FAKE_UPOWER,
        std::vector<std::string>{"mereglass_fake_upower", onBattery ? "battery" : "mains"},
        std::vector<std::string>{Environment()});
    if (!WaitForLine(*fake_) || fake_->Output().find("ready") == std::string::npos) {
        error_ = "the fake UPower did not start: " + fake_->Output();
        return false;
    }
    return true;
}

void FakePower::SetOnBattery(bool onBattery) { fake_->Signal(onBattery ? SIGUSR1 : SIGUSR2); }

void FakePower::SendNonsense() { fake_->Signal(SIGHUP); }

void FakePower::Vanish() {
    fake_->Signal(SIGTERM);
    fake_->Wait(30.0);
}
