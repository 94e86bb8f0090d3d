// The autostart options: the running program's entry changed, and the
// outcome printed as the listing options print theirs.
#include "watcher/autostart.h"

#include <cstdio>
#include <string>

#include "platform/autostart_entry.h"
#include "platform/watcher_lock.h"
#include "support/diagnostics.h"

int RunAutostart(bool add) {
    platform::AutostartPlace place;
    std::string message;
    if (!platform::DefaultAutostartPlace(&place, &message)) {
        Tell(message);
        return 1;
    }
    const int status = platform::ChangeAutostartEntry(add, place, &message);
    if (status == 0) {
        message += platform::FollowAutostart(add, place.program);
        std::printf("mereglass: %s\n", message.c_str());
    } else {
        Tell(message);
    }
    return status;
}
