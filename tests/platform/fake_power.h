// FakePower: a private bus standing in for the system bus, with the fake
// UPower (fake_upower.cpp) on it, for the tests of the power source and of
// the program on battery. Skip the test when ok() is false.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"
#include "private_bus.h"

class FakePower {
public:
    // Starts dbus-daemon with its socket in `dir` and the fake on it,
    // saying `onBattery` from the start; waits (at most 30 s) for both.
    FakePower(const std::string& dir, bool onBattery);
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // "DBUS_SYSTEM_BUS_ADDRESS=..." for a child's environment.
    std::string Environment() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + address_; }
    const std::string& address() const { return address_; }

    // What the fake says from now on; each sends PropertiesChanged.
    void SetOnBattery(bool onBattery);
    void SendNonsense();
    // The fake leaves the bus (it ends), as a UPower that stops.
    void Vanish();
    // A fake comes (back) on the bus. False when it does not start.
    bool Appear(bool onBattery);

private:
    PrivateBus bus_;
    std::unique_ptr<ChildProcess> fake_;
    std::string address_;
    std::string error_;
    bool ok_ = false;
};
