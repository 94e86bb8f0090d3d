// The mereglass program: parses the command line and hands over to the host
// that the options name (window, root, foreign window, full screen,
// headless render, or the settings dialog).
#include <cstdio>
#include <string>

#include "host/command_line.h"
#include "host/headless_host.h"
#include "host/platform/platform.h"
#include "host/settings.h"
#include "host/window_host.h"

namespace {

int RunConfigure() {
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings settings = ReadSettings(store);
    std::string error;
    platform::ConfigureDialog* dialog = platform::CreateConfigureDialog(&settings, store, &error);
    if (dialog == nullptr) {
        std::fprintf(stderr, "mereglass: %s\n", error.c_str());
        platform::CloseSettingsStore(store);
        return 1;
    }
    platform::RunConfigureDialog(dialog);
    platform::DestroyConfigureDialog(dialog);
    platform::CloseSettingsStore(store);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine cl;
    std::string error;
    if (!ParseCommandLine(argc, argv, &cl, &error)) {
        std::fprintf(stderr, "mereglass: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 1;
    }
    switch (cl.mode) {
        case HostMode::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case HostMode::Configure:
            return RunConfigure();
        case HostMode::Render:
            return RunHeadless(cl);
        default:
            return RunWindowHost(cl);
    }
}
