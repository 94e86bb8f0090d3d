// FakePower: a private bus and the fake UPower as child processes.
#include "fake_power.h"

#include <signal.h>

#include <vector>

FakePower::FakePower(const std::string& dir, bool onBattery) : bus_(dir) {
    if (!bus_.ok()) {
        error_ = bus_.error();
        return;
    }
    address_ = bus_.address();
    ok_ = Appear(onBattery);
}

bool FakePower::Appear(bool onBattery) {
    fake_ = bus_.Start(MEREGLASS_FAKE_UPOWER,
                       {"mereglass_fake_upower", onBattery ? "battery" : "mains"},
                       "DBUS_SYSTEM_BUS_ADDRESS");
    if (fake_ == nullptr) error_ = bus_.error();
    return fake_ != nullptr;
}

void FakePower::SetOnBattery(bool onBattery) { fake_->Signal(onBattery ? SIGUSR1 : SIGUSR2); }

void FakePower::SendNonsense() { fake_->Signal(SIGHUP); }

void FakePower::Vanish() {
    fake_->Signal(SIGTERM);
    fake_->Wait(30.0);
}
