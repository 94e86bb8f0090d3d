// PrivateBus: dbus-daemon and the stand-ins as child processes.
#include "private_bus.h"

#include <unistd.h>

bool WaitForOutput(const ChildProcess& child, const std::string& text) {
    for (int i = 0; i < 1200; ++i) {
        if (child.Output().find(text) != std::string::npos) return true;
        usleep(25 * 1000);
    }
    return false;
}

PrivateBus::PrivateBus(const std::string& dir) {
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
        error_ = "no dbus-daemon";
        return;
    }
    daemon_ = std::make_unique<ChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1",
                                 "--address=unix:dir=" + dir});
    if (!WaitForOutput(*daemon_, "\n")) {
        error_ = "dbus-daemon did not start: " + daemon_->Output();
        return;
    }
    const std::string out = daemon_->Output();
    address_ = out.substr(0, out.find('\n'));
    ok_ = true;
}

std::unique_ptr<ChildProcess> PrivateBus::Start(const std::string& program,
                                                const std::vector<std::string>& args,
                                                const std::string& variable) {
    auto child = std::make_unique<ChildProcess>(
        program, args, std::vector<std::string>{variable + "=" + address_});
    if (!WaitForOutput(*child, "ready")) {
        error_ = program + " did not start: " + child->Output();
        return nullptr;
    }
    return child;
}

std::unique_ptr<ChildProcess> PrivateBus::StartStandIn(const std::vector<std::string>& args,
                                                       const std::string& variable) {
    std::vector<std::string> all = {"mereglass_bus_standin"};
    all.insert(all.end(), args.begin(), args.end());
    return Start(MEREGLASS_BUS_STANDIN, all, variable);
}
