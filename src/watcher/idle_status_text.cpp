// The idle watcher's status in the user's language (support/translation.h)
// and local time.
#include "watcher/idle_status_text.h"

#include <ctime>

#include "support/translation.h"
#include "watcher/desktop_delay_text.h"

namespace {

// "14:02" today, "2026-12-09 14:02" another day.
std::string TimeText(double when, double now) {
    const time_t at = static_cast<time_t>(when), today = static_cast<time_t>(now);
    tm a{}, t{};
    localtime_r(&at, &a);
    localtime_r(&today, &t);
    const bool sameDay = a.tm_year == t.tm_year && a.tm_yday == t.tm_yday;
    char text[32];
    std::strftime(text, sizeof text, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &a);
    return text;
}

}  // namespace

std::string IdleHoldText(const platform::IdleHold& h, double now) {
    std::string who = h.who;
    if (who.empty() && h.pid == 0) who = _("a program");
    if (h.pid > 0) {
        who = who.empty() ? Format(_("process %ld"), h.pid)
                          : Format(_("%s (process %ld)"), who.c_str(), h.pid);
    }
    std::string line =
        Format(_("%s, through %s, since %s"), who.c_str(), platform::IdleHoldWayName(h.way).c_str(),
               TimeText(h.since, now).c_str());
    if (!h.reason.empty()) line += Format(_(": \u201c%s\u201d"), h.reason.c_str());
    return line;
}

std::vector<std::string> IdleStatusLines(const platform::WatcherStatus& s, bool running,
                                         double now) {
    std::vector<std::string> lines;
    const std::string duration = DurationText(static_cast<int>(s.idleSeconds + 0.5));
    const std::string source = _(s.source.c_str());
    if (running) {
        lines.push_back(Format(_("The idle watcher runs (process %ld): the saver starts after %s "
                                 "without input (%s)."),
                               s.pid, duration.c_str(), source.c_str()));
        if (s.saverShows) lines.push_back(_("The saver shows now."));
    } else {
        lines.push_back(Format(_("No idle watcher runs in this session: it would start the saver "
                                 "after %s without input (%s)."),
                               duration.c_str(), source.c_str()));
    }
    if (s.holds.empty()) {
        lines.push_back(_("Nothing holds the saver off."));
        return lines;
    }
    lines.push_back(_("Holding the saver off:"));
    for (const platform::IdleHold& h : s.holds) lines.push_back("  " + IdleHoldText(h, now));
    return lines;
}

std::string IdleHoldsNote(const std::vector<platform::IdleHold>& holds, double now) {
    if (holds.empty()) return {};
    std::string note = _("Holding the saver off now:");
    for (const platform::IdleHold& h : holds) note += "\n" + IdleHoldText(h, now);
    return note;
}
