// The mereglass program: parses the command line and runs what the options
// name: the host on the session the mode draws in (a window, the root, a
// foreign window or full screen on the X display; --fullscreen on a
// Wayland session on the compositor itself; --render headless), the idle
// watcher, or the settings dialog. Messages go through Tell
// (support/diagnostics.h); --help, the listing's and the autostart entry's
// changes and the render's rate are the program's output, on standard
// output.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "command/command_line.h"
#include "command/stop_signal.h"
#include "dialog/settings_dialog.h"
#include "host/host.h"
#include "host/render.h"
#include "host/session_choice.h"
#include "listing/xscreensaver_listing.h"
#include "platform/platform.h"
#include "settings/settings_table.h"
#include "support/diagnostics.h"
#include "watcher/autostart.h"
#include "watcher/idle_watch.h"

namespace {

int RunConfigure(platform::SettingsStore* store) {
    UserSettings settings = ReadSettings(store);
    std::string error;
    SettingsDialog* dialog = CreateSettingsDialog(&settings, store, &error);
    if (dialog == nullptr) {
        Tell(error);
        return 1;
    }
    RunSettingsDialog(dialog);
    DestroySettingsDialog(dialog);
    return 0;
}

// The settings store, opened once for the process by the modes that read
// the settings, and closed when main returns.
struct ProcessSettings {
    platform::SettingsStore* store = nullptr;
    platform::SettingsStore* Open() {
        if (store == nullptr) store = platform::OpenSettingsStore(kSettingsModule);
        return store;
    }
    ~ProcessSettings() { platform::CloseSettingsStore(store); }
};

// --add-to-xscreensaver and --remove-from-xscreensaver.
int RunListing(bool add) {
    ListingFiles files;
    std::string error;
    if (!DefaultListingFiles(&files, &error)) {
        Tell(error);
        return 1;
    }
    std::string message;
    const int status = ChangeListing(add, files, &message);
    // What changed is the command's output; why nothing could is a message.
    if (status == 0) {
        std::printf("mereglass: %s\n", message.c_str());
    } else {
        Tell(message);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // The software renderer allocates and frees buffers of several megabytes
    // every frame. With glibc's sliding mmap threshold those soon come from
    // the heap and stay resident after they are freed (about 25 MB more at
    // 1920 x 1080); a fixed threshold hands them back to the system.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    platform::UseUserLanguage();

    CommandLine cl;
    std::string error;
    const bool parsed = ParseCommandLine(argc, argv, &cl, &error);
    // The idle watcher may hold its saver up at any moment from its start.
    if (parsed && cl.mode == HostMode::FullScreen) BlockHoldSignals();
    if (!parsed) {
        // The usage that follows is help, not a message: it goes to
        // standard error as it is.
        Tell(error);
        std::fprintf(stderr, "\n%s", UsageText().c_str());
        return 1;
    }
    ProcessSettings settings;
    switch (cl.mode) {
        case HostMode::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case HostMode::Configure:
            return RunConfigure(settings.Open());
        case HostMode::AddToXScreenSaver:
        case HostMode::RemoveFromXScreenSaver:
            return RunListing(cl.mode == HostMode::AddToXScreenSaver);
        case HostMode::AddToAutostart:
        case HostMode::RemoveFromAutostart:
            return RunAutostart(cl.mode == HostMode::AddToAutostart);
        case HostMode::IdleStatus:
            return RunIdleStatus(cl, settings.Open());
        default:
            break;
    }
    int stopSignal = 0;
    if (cl.mode == HostMode::IdleWatch) {
        const int status = RunIdleWatch(cl, settings.Open(), &stopSignal);
        if (IsStopSignal(stopSignal)) EndBySignal(stopSignal);
        return status;
    }
    int status = 1;
    if (cl.mode == HostMode::Render) {
        status = RunRender(cl, settings.Open(), &stopSignal);
    } else if (auto session = OpenScreenSession(cl, &error)) {
        status = RunHost(cl, settings.Open(), std::move(session), nullptr, &stopSignal);
    } else {
        Tell(error);
    }
    if (IsStopSignal(stopSignal)) EndBySignal(stopSignal);
    return status;
}
