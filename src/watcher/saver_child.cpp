// The idle watcher's saver as a child process. Relies on the platform's
// tied child, pidfd_open and waitpid.
#include "watcher/saver_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "platform/tied_child.h"
#include "support/diagnostics.h"
#include "support/translation.h"

std::vector<std::string> SaverCommand(const std::string& program, const CommandLine& watcher,
                                      bool wayland) {
    std::vector<std::string> command = {program, "--fullscreen", wayland ? "--wayland" : "--x11"};
    if (!watcher.display.empty()) command.insert(command.end(), {"-display", watcher.display});
    if (watcher.showFps) command.push_back("-fps");
    if (watcher.scale > 0)
        command.insert(command.end(), {"--scale", std::to_string(watcher.scale)});
    if (!watcher.imageFile.empty()) command.insert(command.end(), {"--image", watcher.imageFile});
    if (!watcher.imageDir.empty()) command.insert(command.end(), {"--image-dir", watcher.imageDir});
    for (const SettingOverride& o : watcher.settings) {
        const std::string name = SettingOptionName(*o.entry);
        if (o.entry->kind == SettingKind::Bool) {
            command.push_back((o.value == 1 ? "--" : "--no-") + name);
        } else {
            command.insert(command.end(), {"--" + name, std::to_string(o.value)});
        }
    }
    return command;
}

bool StartSaverChild(const std::vector<std::string>& command, SaverChild* child,
                     std::string* error) {
    std::string reason;
    const int pid = platform::StartTiedChild(command, -1, &reason);
    if (pid < 0) {
        *error = Format(_("cannot start the saver %s: %s"),
                        DisplayName(command.empty() ? "" : command[0]).c_str(), reason.c_str());
        return false;
    }
    child->pid = pid;
    child->pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    child->stopping = false;
    child->killAt = 0.0;
    return true;
}

void HoldSaverChild(SaverChild* child, bool held) {
    if (child->pid > 0 && !child->stopping) kill(child->pid, held ? SIGUSR1 : SIGUSR2);
}

void StopSaverChild(SaverChild* child, double now, double graceSeconds) {
    if (child->pid <= 0 || child->stopping) return;
    kill(child->pid, SIGTERM);
    child->stopping = true;
    child->killAt = now + graceSeconds;
}

void KillLateSaverChild(SaverChild* child, double now) {
    if (child->pid > 0 && child->stopping && now >= child->killAt) kill(child->pid, SIGKILL);
}

bool ReapSaverChild(SaverChild* child, int* status) {
    if (child->pid <= 0) return false;
    int s = 0;
    if (waitpid(child->pid, &s, WNOHANG) != child->pid) return false;
    *status = s;
    if (child->pidFd >= 0) close(child->pidFd);
    *child = SaverChild{};
    return true;
}

void EndSaverChild(SaverChild* child, double graceSeconds) {
    if (child->pid <= 0) return;
    StopSaverChild(child, platform::ClockSeconds(), graceSeconds);
    int status = 0;
    while (!ReapSaverChild(child, &status)) {
        const double left = child->killAt - platform::ClockSeconds();
        if (left <= 0.0) {
            kill(child->pid, SIGKILL);
            waitpid(child->pid, &status, 0);
            if (child->pidFd >= 0) close(child->pidFd);
            *child = SaverChild{};
            return;
        }
        pollfd fd{child->pidFd, POLLIN, 0};
        if (child->pidFd < 0 || poll(&fd, 1, static_cast<int>(std::ceil(left * 1000.0))) < 0) {
            usleep(10 * 1000);
        }
    }
}

std::string DescribeEnding(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return Format(_("ended by signal %d (%s)"), signal, strsignal(signal));
    }
    return Format(_("ended with status %d"), WEXITSTATUS(status));
}
