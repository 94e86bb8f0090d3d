#!/bin/sh
# Usage: bench/dark_outputs.sh [-w WARMUP] [-t WINDOW] PROGRAM
#
# Measures what `PROGRAM --fullscreen` costs while the monitors are powered
# down, on a private headless Mutter with one 1920 x 1080 monitor (headless
# sway cannot power its outputs down; Mutter's PowerSaveMode works there):
# WARMUP seconds (5) drawing, a window of 10 s drawing for comparison, then
# the monitors powered down (DisplayConfig's PowerSaveMode 3, as GNOME's
# power management sets it), 2 s to settle, and a window of WINDOW seconds
# (60) dark; last, powered up, it must draw again within 5 s. Over each
# window it counts
#   - the program's CPU (all threads) and Mutter's, from /proc/PID/stat;
#   - the program's wake-ups: the context switches of all its threads,
#     from /proc/PID/task/*/status;
#   - others: the busy time of all CPUs (/proc/stat) less the program and
#     Mutter, which must stay under a tenth of a core for a fair figure.
# One line per window: drawing|dark cores(program) cores(Mutter) wake-ups/s
# others. Needs mutter, dbus-daemon (dbus-run-session) and gdbus.
set -eu

warmup=5 window=60
while getopts w:t: opt; do
    case $opt in
    w) warmup=$OPTARG ;;
    t) window=$OPTARG ;;
    *) echo "usage: $0 [-w WARMUP] [-t WINDOW] PROGRAM" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "usage: $0 [-w WARMUP] [-t WINDOW] PROGRAM" >&2; exit 2; }
program=$(realpath "$1")

tmp=$(mktemp -d /tmp/mereglass-darkbench-XXXXXX)
mkdir -m 700 "$tmp/run" "$tmp/config"
bus_pid= mutter_pid= pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$mutter_pid" ] && kill "$mutter_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

export HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/config"
dbus-daemon --session --nofork --address="unix:path=$tmp/run/bus" >"$tmp/bus.log" 2>&1 &
bus_pid=$!
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/run/bus"
for _ in $(seq 50); do [ -S "$tmp/run/bus" ] && break; sleep 0.1; done
mutter --headless --wayland --no-x11 --wayland-display wayland-dark \
    --virtual-monitor 1920x1080 >"$tmp/mutter.log" 2>&1 &
mutter_pid=$!
for _ in $(seq 100); do [ -S "$tmp/run/wayland-dark" ] && break; sleep 0.1; done
[ -S "$tmp/run/wayland-dark" ] || { echo "dark_outputs.sh: mutter did not start" >&2; exit 1; }
sleep 1

power_save() {
    gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
        --object-path /org/gnome/Mutter/DisplayConfig \
        --method org.freedesktop.DBus.Properties.Set org.gnome.Mutter.DisplayConfig \
        PowerSaveMode "<$1>" >/dev/null
}
ticks() { awk '{ sub(/.*\) /, ""); split($0, a, " "); print a[12] + a[13] }' "/proc/$1/stat"; }
busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
wakeups() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
hz=$(getconf CLK_TCK)

# measure NAME SECONDS: one line for a window of SECONDS.
measure() {
    p0=$(ticks "$pid") m0=$(ticks "$mutter_pid") w0=$(wakeups "$pid") b0=$(busy)
    sleep "$2"
    p1=$(ticks "$pid") m1=$(ticks "$mutter_pid") w1=$(wakeups "$pid") b1=$(busy)
    awk -v n="$1" -v t="$2" -v hz="$hz" -v p="$((p1 - p0))" -v m="$((m1 - m0))" \
        -v w="$((w1 - w0))" -v b="$((b1 - b0))" 'BEGIN {
        printf "%-8s %5.3f + %5.3f cores  %7.2f wake-ups/s (%d in %d s)  others %4.2f\n",
            n, p / hz / t, m / hz / t, w / t, w, t, (b - p - m) / hz / t }'
}

WAYLAND_DISPLAY=wayland-dark "$program" --fullscreen >"$tmp/program.log" 2>&1 &
pid=$!
sleep "$warmup"
kill -0 "$pid" 2>/dev/null || { echo "dark_outputs.sh: the program ended" >&2; cat "$tmp/program.log" >&2; exit 1; }
measure drawing 10
power_save 3
sleep 2
measure dark "$window"
power_save 0
w0=$(wakeups "$pid")
sleep 5
w1=$(wakeups "$pid")
[ "$((w1 - w0))" -gt 20 ] || { echo "dark_outputs.sh: it did not draw again (only $((w1 - w0)) wake-ups in 5 s)" >&2; exit 1; }
echo "powered up: $((w1 - w0)) wake-ups in 5 s"
