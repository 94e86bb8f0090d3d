#!/bin/sh
# Usage: bench/battery.sh [-t WINDOW] [-r ROUNDS] [-g WxH] [BUILD [options...]]
#
# What saving the battery saves. The program (BUILD/src/app/mereglass;
# BUILD defaults to build) runs once, with `-window -geometry WxH options...`
# (1920x1080) under a private Xvfb, beside a fake UPower (the tests' own,
# BUILD/tests/platform/mereglass_fake_upower) on a private bus that stands
# in for the system bus. The fake says mains, then battery, ROUNDS times
# (3), alternating in the same run; after each turn and a settling second,
# WINDOW seconds (10) are measured:
#   - the cores used by the program (all its threads) and by the X server,
#     from their /proc/PID/stat ticks at the start and end of the window;
#   - the cores used by everything else (the busy time of all CPUs in
#     /proc/stat less those two): on a shared machine the figures are
#     only as good as that is small;
#   - the frames a second, counted where they are presented (the buffer
#     swap, or the image put of a program that presents its own pixels)
#     with perf uprobes, as compare_window.sh counts them; that needs root
#     and perf, and is left out ("-") without them. A program that is short
#     of processor time uses as much in both states, and only the frame
#     rate and the detail tell them apart.
# One line per window, then each state's mean.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

window=10 rounds=3 geometry=1920x1080
usage="usage: $0 [-t WINDOW] [-r ROUNDS] [-g WxH] [BUILD [options...]]"
while getopts t:r:g: opt; do
    case $opt in
    t) window=$OPTARG ;;
    r) rounds=$OPTARG ;;
    g) geometry=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
for n in "$window" "$rounds"; do
    case $n in
    '' | *[!0-9]* | 0) echo "battery.sh: $n is not a whole number from 1" >&2; exit 2 ;;
    esac
done
case $geometry in
[0-9]*x[0-9]*) ;;
*) echo "battery.sh: $geometry is not WxH" >&2; exit 2 ;;
esac
build=${1:-build}
[ $# -gt 0 ] && shift
program=$build/src/app/mereglass
fake=$build/tests/platform/mereglass_fake_upower
for p in "$program" "$fake"; do
    if [ ! -x "$p" ]; then
        echo "battery.sh: $p is not a program (build mereglass and mereglass_fake_upower)" >&2
        exit 1
    fi
done

tmp=$(mktemp -d)
xvfb_pid="" bus_pid="" fake_pid="" pid="" probe=""
cleanup() {
    for p in $pid $fake_pid $bus_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
    for p in $probe; do perf probe -q -d "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Waits (at most 20 s) until FILE holds a line.
wait_for_line() {
    i=0
    while ! grep -q . "$1" 2>/dev/null && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
    grep -q . "$1" 2>/dev/null
}

# A private X server; it reports its display number on descriptor 3.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${geometry}x24" 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
wait_for_line "$tmp/display" || { echo "battery.sh: Xvfb did not start" >&2; exit 1; }
display=":$(head -n1 "$tmp/display")"

# The private bus, and the fake on it.
dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$tmp" >"$tmp/bus" 2>&1 &
bus_pid=$!
wait_for_line "$tmp/bus" || { echo "battery.sh: dbus-daemon did not start" >&2; exit 1; }
bus=$(head -n1 "$tmp/bus")
DBUS_SYSTEM_BUS_ADDRESS=$bus "$fake" mains >"$tmp/fake" 2>&1 &
fake_pid=$!
wait_for_line "$tmp/fake" || { echo "battery.sh: the fake UPower did not start" >&2; exit 1; }

# Presents (present_probes.sh).
events=""
# shellcheck source=bench/present_probes.sh
. "$here/present_probes.sh"
add_present_probes "bench_battery_$$"

mkdir "$tmp/config"
DBUS_SYSTEM_BUS_ADDRESS=$bus XDG_CONFIG_HOME="$tmp/config" DISPLAY="$display" \
    "$program" -window -geometry "$geometry" "$@" >"$tmp/program.log" 2>&1 &
pid=$!
sleep 16 # the desktop's capture, the first frames and the intro (14 s)

# Ticks (user + system, all threads) of a process.
ticks() { awk '{ sub(/.*\) /, ""); split($0, a, " "); print a[12] + a[13] }' "/proc/$1/stat"; }
busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
hz=$(getconf CLK_TCK)

echo "battery.sh: $(basename "$program") -window -geometry $geometry $*; $window s windows, $rounds rounds"
for _ in $(seq "$rounds"); do
    for state in mains battery; do
        if [ "$state" = battery ]; then kill -USR1 "$fake_pid"; else kill -USR2 "$fake_pid"; fi
        sleep 1
        kill -0 "$pid" 2>/dev/null || { echo "battery.sh: the program ended" >&2; tail -n 5 "$tmp/program.log" >&2; exit 1; }
        p0=$(ticks "$pid") x0=$(ticks "$xvfb_pid") b0=$(busy)
        if [ -n "$events" ]; then
            # shellcheck disable=SC2086
            perf stat -x, -p "$pid" $events -o "$tmp/frames" -- sleep "$window"
            frames=$(awk -F, '/:swap_/ { if ($1 + 0 > n) n = $1 + 0 } END { print n + 0 }' "$tmp/frames")
        else
            sleep "$window"
            frames=-
        fi
        p1=$(ticks "$pid") x1=$(ticks "$xvfb_pid") b1=$(busy)
        echo "$state $p0 $p1 $x0 $x1 $b0 $b1 $frames" | awk -v hz="$hz" -v w="$window" '{
            p = ($3 - $2) / hz / w; x = ($5 - $4) / hz / w
            o = ($7 - $6) / hz / w - p - x
            if (o < 0) o = 0
            fps = $8 == "-" ? "-" : sprintf("%.1f", $8 / w)
            printf "%-8s program %.3f cores  X server %.3f cores  others %.2f cores  %s fps\n", $1, p, x, o, fps
        }' | tee -a "$tmp/windows"
    done
done
echo "mean:"
for state in mains battery; do
    awk -v s="$state" '$1 == s { p += $3; x += $7; o += $10; f += $12; n++ }
        END { fps = $12 == "-" ? "-" : sprintf("%.1f", f / n)
              printf "%-8s program %.3f cores  X server %.3f cores  others %.2f cores  %s fps  (%d windows)\n",
              s, p / n, x / n, o / n, fps, n }' "$tmp/windows"
done
if [ -s "$tmp/program.log" ]; then
    echo "the program said:"
    cat "$tmp/program.log"
fi
