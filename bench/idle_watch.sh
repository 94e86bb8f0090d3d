#!/bin/sh
# Usage: bench/idle_watch.sh [-t WINDOW] [-r ROUNDS] [-c CYCLES] PROGRAM [STANDIN]
#
# Measures `PROGRAM --idle-watch` on a private headless sway with one
# 1920 x 1080 output (sway's pixman renderer, Mesa's llvmpipe in the saver)
# and a private session bus, on which nobody but the watcher offers
# org.freedesktop.ScreenSaver:
#   1. waiting: with an idle time of an hour and no input, over WINDOW
#      seconds (60) after a 2 s settling: the watcher's CPU (all threads,
#      /proc/PID/stat), its wake-ups (context switches of all its threads,
#      /proc/PID/task/*/status) and its peak resident size (VmHWM), and
#      whether it serves org.freedesktop.ScreenSaver meanwhile; the same for
#      swayidle (the idle daemon of sway's own, when installed) waiting with
#      `timeout 3600 true`, the two alternating ROUNDS (4) times;
#   2. starting: with an idle time of 2 s, from the idle moment (the end of
#      a key typed through wtype, plus 2 s) to the first screenshot of a
#      square in the middle (grim, taken every 20 ms) that no longer shows
#      the flat desktop, five times (median);
#   3. others: the busy time of all CPUs (/proc/stat) less the watcher's
#      during the waiting window, which must stay under a tenth of a core
#      for a fair figure;
#   4. cycles (with STANDIN, the tests' bus stand-ins,
#      build/tests/platform/mereglass_bus_standin): CYCLES (300) rounds of
#      an idle time of 1 s, the saver, and a key that ends it, every other
#      one with a program that holds the saver off over the bus for half a
#      second and then dies without letting go; every 50 rounds the
#      watcher's resident size, descriptors and zombie children.
# Needs root (sway runs as uid 65534), sway, swaybg, grim, wtype,
# dbus-daemon, gdbus; swayidle for its figures.
set -eu

window=60 rounds=4 cycles=300
usage="usage: $0 [-t WINDOW] [-r ROUNDS] [-c CYCLES] PROGRAM [STANDIN]"
while getopts t:r:c: opt; do
    case $opt in
    t) window=$OPTARG ;;
    r) rounds=$OPTARG ;;
    c) cycles=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "$usage" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "idle_watch.sh: needs root" >&2; exit 2; }
program=$1 standin=${2:-}

user=65534
tmp=$(mktemp -d /tmp/mereglass-idlebench-XXXXXX)
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run" && chown "$user:$user" "$tmp/run"
mkdir -m 755 "$tmp/bin"
cp "$program" "$tmp/bin/mereglass"
[ -n "$standin" ] && cp "$standin" "$tmp/bin/standin"
archive=$(dirname "$program")/murkle.respak
[ -f "$archive" ] && cp "$archive" "$tmp/bin/"
chmod -R a+rX "$tmp/bin"
sway_pid= watcher= bus_pid=
cleanup() {
    [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    sleep 0.5
    rm -rf "$tmp"
}
trap cleanup EXIT

as_user() {
    env -i XDG_RUNTIME_DIR="$tmp/run" HOME="$tmp/run" PATH=/usr/bin:/bin \
        WAYLAND_DISPLAY=wayland-1 DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/run/bus" \
        XDG_CONFIG_HOME="$tmp/run/config" LIBGL_ALWAYS_SOFTWARE=1 \
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        setpriv --reuid=$user --regid=$user --clear-groups "$@"
}

as_user dbus-daemon --session --nofork --address="unix:path=$tmp/run/bus" >/dev/null 2>&1 &
bus_pid=$!
printf 'output * bg #336699 solid_color\noutput HEADLESS-1 resolution 1920x1080\n' >"$tmp/sway.conf"
as_user sway -c "$tmp/sway.conf" >"$tmp/sway.log" 2>&1 &
sway_pid=$!
for _ in $(seq 50); do [ -S "$tmp/run/wayland-1" ] && break; sleep 0.1; done
[ -S "$tmp/run/wayland-1" ] || { echo "idle_watch.sh: sway did not start" >&2; exit 1; }
sleep 1

ticks() { awk '{ sub(/.*\) /, ""); split($0, a, " "); print a[12] + a[13] }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
hz=$(getconf CLK_TCK)
now() { date +%s.%N; }

# 1. Waiting: NAME, then the command line; one line of figures.
wait_for() {
    name=$1
    shift
    as_user "$@" >"$tmp/watch.log" 2>&1 &
    sleep 2
    watcher=$(pgrep -f -n "$1") || { echo "idle_watch.sh: $name did not start" >&2; exit 1; }
    t0=$(ticks "$watcher") s0=$(switches "$watcher") b0=$(busy)
    sleep "$window"
    t1=$(ticks "$watcher") s1=$(switches "$watcher") b1=$(busy)
    serves=$(as_user gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetNameOwner org.freedesktop.ScreenSaver >/dev/null 2>&1 && echo yes || echo no)
    rss=$(awk '/VmHWM/ { print $2 }' "/proc/$watcher/status")
    kill "$watcher"
    watcher=
    sleep 1
    echo "waiting $window s: $name $(echo "($t1 - $t0) / $hz / $window" | bc -l | xargs printf '%.3f') cores," \
        "$((s1 - s0)) wake-ups, peak RSS $((rss / 1024)) MB, org.freedesktop.ScreenSaver served: $serves;" \
        "others $(echo "(($b1 - $b0) - ($t1 - $t0)) / $hz / $window" | bc -l | xargs printf '%.2f') cores"
}
for _ in $(seq "$rounds"); do
    wait_for mereglass "$tmp/bin/mereglass" --idle-watch --idle-seconds 3600
    if command -v swayidle >/dev/null; then
        wait_for swayidle /usr/bin/swayidle -w timeout 3600 true
    fi
done

# 2. Starting.
sleep 1
as_user "$tmp/bin/mereglass" --idle-watch --idle-seconds 2 >"$tmp/watch.log" 2>&1 &
sleep 1
watcher=$(pgrep -f -n "$tmp/bin/mereglass --idle-watch")
# A 32 x 32 square of the output (its header is 13 bytes) holds only the
# desktop's colour.
flat() {
    as_user grim -t ppm -g "944,524 32x32" "$tmp/run/shot.ppm" 2>/dev/null &&
        [ "$(tail -c +14 "$tmp/run/shot.ppm" | od -An -tx1 -v | tr -s ' ' '\n' | sort -u | tr -d '\n')" = "336699" ]
}
delays=""
for _ in 1 2 3 4 5; do
    for _ in $(seq 500); do flat && break; sleep 0.02; done
    as_user wtype -s 100 a
    idle_at=$(echo "$(now) + 2" | bc -l)
    while flat; do sleep 0.02; done
    delays="$delays $(echo "$(now) - $idle_at" | bc -l)"
    as_user wtype -s 100 a
done
echo "starting: from the idle moment to a covered output:$(printf ' %.2f' $delays) s;" \
    "median $(printf '%s\n' $delays | sort -n | sed -n 3p | xargs printf '%.2f') s"

# 4. Cycles.
[ -n "$standin" ] || exit 0
kill "$watcher"
sleep 1
as_user "$tmp/bin/mereglass" --idle-watch --idle-seconds 1 >"$tmp/watch.log" 2>&1 &
sleep 1
watcher=$(pgrep -f -n "$tmp/bin/mereglass --idle-watch")
state() {
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$watcher/status")
    fds=$(ls "/proc/$watcher/fd" | wc -l)
    zombies=$(ps -o stat= --ppid "$watcher" | grep -c Z || true)
    echo "after $1 cycles: RSS $((rss / 1024)).$(((rss % 1024) * 10 / 1024)) MB, $fds descriptors, $zombies zombies"
}
state 0
for i in $(seq "$cycles"); do
    if [ $((i % 2)) -eq 0 ]; then
        as_user "$tmp/bin/standin" inhibit 1 20 >/dev/null 2>&1 &
        holder=$!
        sleep 0.5
        # It dies holding: the hold ends with its connection.
        pkill -9 -f "$tmp/bin/standin" || true
        wait "$holder" 2>/dev/null || true
    fi
    for _ in $(seq 500); do flat || break; sleep 0.02; done
    as_user wtype -s 50 a
    for _ in $(seq 500); do flat && break; sleep 0.02; done
    [ $((i % 50)) -eq 0 ] && state "$i"
done
grep -c "watching goes on" "$tmp/watch.log" | xargs printf 'savers that ended badly: %s\n'
