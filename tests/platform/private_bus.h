// PrivateBus: a dbus-daemon of a test's own, standing in for the session
// or the system bus (a session-type bus, on which anybody may own any
// name), and the stand-ins of bus services the tests start on it
// (bus_standin.cpp and the fake UPower). Skip the test when ok() is false.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

class PrivateBus {
public:
    // Starts dbus-daemon with its socket in `dir`; waits (at most 30 s)
    // for it.
    explicit PrivateBus(const std::string& dir);
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }

    // Starts `program` with `args` on this bus as `variable`
    // ("DBUS_SESSION_BUS_ADDRESS" or "DBUS_SYSTEM_BUS_ADDRESS") and waits
    // (at most 30 s) for it to print "ready". Null, with a reason in
    // error(), when it does not.
    std::unique_ptr<ChildProcess> Start(const std::string& program,
                                        const std::vector<std::string>& args,
                                        const std::string& variable);
    // The bus stand-ins' program (bus_standin.cpp), with `args` after it.
    std::unique_ptr<ChildProcess> StartStandIn(const std::vector<std::string>& args,
                                               const std::string& variable);

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
    std::string error_;
    bool ok_ = false;
};

// Waits at most 30 s for `child` to have printed `text`; true when it has.
bool WaitForOutput(const ChildProcess& child, const std::string& text);
