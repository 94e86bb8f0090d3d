#!/bin/sh
# mereglass under MATE's own screen saver daemon (mate-screensaver), installed
# the way a package installs it: chosen as the saver, activated, drawing a
# changing picture, and gone after the daemon is told to stop.
#
# MATE runs a hack only from its own folders (/usr/libexec/xscreensaver and a
# few more), so the installed tree is laid over /usr with an overlay mount in
# a private mount namespace: nothing outside this test sees it. That needs
# root; otherwise the test is skipped (exit 77). Everything else is private
# too: an Xvfb, a session bus, a home folder and a key-file settings store.
# Usage: mate_screensaver_test.sh BUILD_DIR
set -eu

skip() { echo "skipped: $1"; exit 77; }
fail() {
    echo "FAILED: $1"
    [ -f "$work/daemon.log" ] && grep -v 'gs-grab\|gs-window\|gs-fade\|DBUS service' "$work/daemon.log" | tail -40
    exit 1
}

if [ "${1:-}" != --inside ]; then
    build=$1
    [ "$(id -u)" -eq 0 ] || skip "needs root for a private mount namespace"
    for tool in mate-screensaver mate-screensaver-command dbus-daemon gsettings Xvfb xwd unshare; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup installs it)"
    done
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
    unshare --mount --propagation private true 2>/dev/null || skip "no private mount namespaces here"
    status=0
    unshare --mount --propagation private sh "$0" --inside "$work" || status=$?
    exit $status
fi

# Inside the namespace from here on.
work=$2
mount -t overlay overlay -o "lowerdir=$work/stage/usr:/usr" /usr || skip "cannot lay an overlay over /usr"

pids=""
hack=""
stop_all() {
    # The daemon's children first (the hack, when the daemon left it behind),
    # then the daemon, the bus and the X server.
    [ -n "${daemon:-}" ] && hack="$hack $(pgrep -P "$daemon" || true)"
    for pid in $hack $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $hack $pids; do
        n=0
        while kill -0 "$pid" 2>/dev/null && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    done
}
trap stop_all EXIT

# Runs `$@` every 0.1 s until it succeeds, for at most $deadline seconds.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
poll() {
    end=$(($(now_ms) + deadline * 1000))
    until "$@"; do
        [ "$(now_ms)" -lt "$end" ] || return 1
        sleep 0.1
    done
}

mkdir -m 700 "$work/home" "$work/run"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" GSETTINGS_BACKEND=keyfile
export XDG_DATA_DIRS=/usr/local/share:/usr/share XDG_CONFIG_DIRS=/etc/xdg
unset SESSION_MANAGER XAUTHORITY

width=640
height=480
: >"$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${width}x${height}x24" \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids="$! $pids"
# Generous deadlines: a loaded machine and a sanitized build start slowly.
deadline=30
poll grep -q . "$work/display" || fail "Xvfb reported no display"
export DISPLAY=":$(cat "$work/display")"

: >"$work/bus"
dbus-daemon --session --nofork --address="unix:dir=$work" --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids="$! $pids"
poll grep -q . "$work/bus" || fail "the session bus did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS

gsettings set org.mate.screensaver mode single
gsettings set org.mate.screensaver themes "['screensavers-mereglass']"
gsettings set org.mate.screensaver lock-enabled false

# Line-buffered, so that its log (with the hack's messages) is whole when
# it is stopped.
stdbuf -oL mate-screensaver --no-daemon --debug >"$work/daemon.log" 2>&1 &
daemon=$!
pids="$daemon $pids"
poll mate-screensaver-command --query >/dev/null 2>&1 || fail "mate-screensaver did not answer"

mate-screensaver-command --activate >/dev/null
# The daemon forks the hack itself: its child running our installed program.
# It says so at once when it finds no entry it may run (MATE skips an entry
# whose TryExec is missing and runs hacks only from its own folders).
find_hack() {
    if grep -q 'Could not find information for theme' "$work/daemon.log"; then
        fail "mate-screensaver found no entry it may run; the installed one says: $(grep Exec= \
            /usr/share/applications/screensavers/mereglass.desktop | tr '\n' ' ')"
    fi
    for pid in $(pgrep -P "$daemon"); do
        if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/libexec/xscreensaver/mereglass ]; then
            hack=$pid
            return 0
        fi
    done
    return 1
}
deadline=30
poll find_hack || fail "mate-screensaver did not run /usr/libexec/xscreensaver/mereglass"
echo "mate-screensaver ran: $(tr '\0' ' ' <"/proc/$hack/cmdline")"
echo "with $(tr '\0' '\n' <"/proc/$hack/environ" | grep '^XSCREENSAVER_WINDOW=')"

# The screen: the last width * height * 4 bytes of an xwd dump are its
# pixels. Drawn when at least three fifths of those bytes are not zero (a
# black screen has none); changing when two drawn dumps in a row differ.
drawn=0
screen_changes() {
    xwd -root -silent | tail -c $((width * height * 4)) >"$work/shot"
    lit=$(tr -d '\000' <"$work/shot" | wc -c)
    if [ "$lit" -le $((width * height * 4 * 3 / 5)) ]; then
        drawn=0
        return 1
    fi
    drawn=$((drawn + 1))
    mv "$work/shot" "$work/shot$((drawn % 2))"
    [ $drawn -gt 1 ] && ! cmp -s "$work/shot0" "$work/shot1"
}
deadline=30
lit=0
poll screen_changes || fail "the screen stayed black or still (last shot: $lit of $((width * height * 4)) bytes lit)"
echo "the screen shows a changing picture ($lit of $((width * height * 4)) bytes lit)"

asked=$(now_ms)
mate-screensaver-command --deactivate >/dev/null
hack_gone() {
    state=$(ps -o stat= -p "$hack" || true)
    [ -z "$state" ] || [ "${state#Z}" != "$state" ]
}
# Gone by the daemon's signal; how soon goes to the log (a fraction of a
# second on a quiet machine).
deadline=30
poll hack_gone || fail "mereglass still runs 30 s after --deactivate"
hack=""
if grep -q 'Sanitizer\|runtime error' "$work/daemon.log"; then
    fail "mereglass reported a fault"
fi
echo "mereglass ended $(($(now_ms) - asked)) ms after --deactivate was asked for"
