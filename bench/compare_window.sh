#!/bin/sh
# Usage: bench/compare_window.sh [-w WARMUP] [-t WINDOW] [-r RETRIES] [-s WxH] [-m MONITORS]
#                               [PROGRAM [options...]]
#
# Measures one hack in its steady state, at WxH (1920x1080) under a private
# Xvfb: the program starts with `-window -geometry WxH options...`; with
# MONITORS above 1, on a screen of that many monitors of WxH side by side
# (held by build/bench/x_monitors beside PROGRAM's build), with
# `--fullscreen --x11 options...` (mereglass only; the frame rate is then
# each monitor's). It runs a
# warm-up of WARMUP seconds (16: mereglass captures and scales the desktop,
# then plays its intro over the first 14 seconds of a run) and is measured
# over the next WINDOW seconds (12):
#   - frames, counted where they are presented (the buffer swap) with perf
#     uprobes on the running program; that needs root, without it the frame
#     rate is not reported (a probe's trap is the program's system time);
#   - CPU of the program (all its threads) and of the X server, from their
#     /proc/PID/stat ticks at the start and end of the window;
#   - the program's peak resident memory (VmHWM) at the end.
# CPU per frame is the CPU rate over the rate of frames, as perf counts over
# a span a little shorter than the one between the /proc readings.
# The machine must be otherwise idle: the busy time of all CPUs (/proc/stat)
# less the program, the X server and perf itself is what other processes used.
# When that reaches a tenth of a core the window is measured again, up to
# RETRIES more times (3); then the quietest window is reported and marked as
# taken on a busy machine. The program keeps running between windows.
#
# PROGRAM defaults to build/src/app/mereglass; the options after it go to it.
# With BENCH_RECORD=FILE one line is appended to FILE for compare_peers.sh:
#   name fps program_ms_per_frame x_ms_per_frame program_cores x_cores
#   peak_rss_mb others_cores busy(0|1)
# (fps and the per-frame figures are "-" when frames are not counted).
set -eu
here=$(cd "$(dirname "$0")" && pwd)

warmup=16 window=12 retries=3 size=1920x1080 monitors=1
usage="usage: $0 [-w WARMUP] [-t WINDOW] [-r RETRIES] [-s WxH] [-m MONITORS] [PROGRAM [options...]]"
while getopts w:t:r:s:m: opt; do
    case $opt in
    w) warmup=$OPTARG ;;
    t) window=$OPTARG ;;
    r) retries=$OPTARG ;;
    s) size=$OPTARG ;;
    m) monitors=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
width=${size%x*} height=${size#*x}
for n in "$warmup" "$window" "$retries" "$width" "$height" "$monitors"; do
    case $n in
    '' | *[!0-9]*) echo "compare_window.sh: $n is not a whole number of seconds or retries" >&2; exit 2 ;;
    esac
done
if [ "$window" -eq 0 ]; then
    echo "compare_window.sh: the window must last at least 1 s" >&2
    exit 2
fi
program=${1:-build/src/app/mereglass}
[ $# -gt 0 ] && shift
if [ ! -x "$program" ]; then
    echo "compare_window.sh: $program is not a program" >&2
    exit 1
fi
name=$(basename "$program")
busy_limit=0.10 # cores used by others that make a window not count

tmp=$(mktemp -d)
xvfb_pid=""
monitors_pid=""
pid=""
probe=""
cleanup() {
    if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
    for p in $probe; do perf probe -q -d "$p" 2>/dev/null || true; done
    if [ -n "$monitors_pid" ]; then kill "$monitors_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A private X server; it reports its display number on descriptor 3.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$((width * monitors))x${height}x24" \
    3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$tmp/display" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
if [ ! -s "$tmp/display" ]; then
    echo "compare_window.sh: Xvfb did not start:" >&2
    tail -n 5 "$tmp/xvfb.log" >&2
    exit 1
fi
display=":$(head -n1 "$tmp/display")"

# Frames are counted where they are presented (present_probes.sh).
events=""
# shellcheck source=bench/present_probes.sh
. "$here/present_probes.sh"
add_present_probes "bench_frames_$$"

mode="-window -geometry $size"
if [ "$monitors" -gt 1 ]; then
    holder=$(dirname "$program")/../../bench/x_monitors
    DISPLAY="$display" "$holder" "$width" "$height" "$monitors" >"$tmp/monitors" &
    monitors_pid=$!
    i=0
    while ! grep -q ready "$tmp/monitors" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    grep -q ready "$tmp/monitors" || { echo "compare_window.sh: no monitors ($holder)" >&2; exit 1; }
    mode="--fullscreen --x11"
fi
# shellcheck disable=SC2086
XDG_CONFIG_HOME="$tmp/config" DISPLAY="$display" \
    "$program" $mode "$@" 2>"$tmp/program.log" &
pid=$!

# One reading, taken at once by one process: seconds since boot, busy ticks
# of all CPUs, then the state and the ticks (user + system, all threads) of
# the program and of the X server.
snapshot() {
    awk -v prog="/proc/$pid/stat" -v xs="/proc/$xvfb_pid/stat" '
    function stat(f,   line, a) {
        if ((getline line < f) <= 0) return "X 0"
        close(f)
        sub(/.*\) /, "", line) # the name before may hold spaces
        split(line, a, " ")
        return a[1] " " a[12] + a[13]
    }
    FILENAME == "/proc/uptime" { up = $1 }
    FILENAME == "/proc/stat" && $1 == "cpu" { busy = $2 + $3 + $4 + $7 + $8 + $9 }
    END { print up, busy, stat(prog), stat(xs) }' /proc/uptime /proc/stat
}
running() {
    case $(snapshot | awk '{ print $3 }') in
    X | Z) return 1 ;;
    esac
}
ended() {
    echo "compare_window.sh: $name ended $1" >&2
    tail -n 5 "$tmp/program.log" >&2
    exit 1
}

sleep "$warmup"
running || ended "during the warm-up"

# Each window leaves one line in $tmp/windows: elapsed s, frames, program,
# X server and others' CPU in s.
hz=$(getconf CLK_TCK)
attempt=0
while :; do
    attempt=$((attempt + 1))
    before=$(snapshot)
    if [ -n "$events" ]; then
        # shellcheck disable=SC2086
        /usr/bin/time -o "$tmp/perf.time" -f "%U %S" \
            perf stat -x, -p "$pid" $events -o "$tmp/frames" -- sleep "$window"
        frames=$(awk -F, -v m="$monitors" '/:swap_/ { if ($1 + 0 > n) n = $1 + 0 } END { print int(n / m) }' "$tmp/frames")
        [ -n "${BENCH_DEBUG:-}" ] && cat "$tmp/frames" >&2
    else
        /usr/bin/time -o "$tmp/perf.time" -f "%U %S" sleep "$window"
        frames=-
    fi
    after=$(snapshot)
    running || ended "during the measurement"
    others=$(echo "$before $after $(tail -n1 "$tmp/perf.time")" | awk -v hz="$hz" -v frames="$frames" \
        -v out="$tmp/windows" '{
        elapsed = $7 - $1
        program = ($10 - $4) / hz; server = ($12 - $6) / hz
        others = ($8 - $2) / hz - program - server - ($13 + $14)
        if (others < 0) others = 0 # ticks are read at slightly different instants
        print elapsed, frames, program, server, others >>out
        printf "%.2f\n", others / elapsed
    }')
    if awk -v o="$others" -v l="$busy_limit" 'BEGIN { exit !(o < l) }'; then
        busy=0
        break
    fi
    if [ "$attempt" -gt "$retries" ]; then
        if [ "$attempt" -eq 1 ]; then
            echo "busy machine: others used $others cores; no retries allowed"
        else
            echo "busy machine: others used $others cores; keeping the quietest of $attempt windows"
        fi
        busy=1
        break
    fi
    echo "busy machine: others used $others cores; measuring again"
done

rss_kb=$(awk '$1 == "VmHWM:" { print $2 }' "/proc/$pid/status")
kill -TERM "$pid" 2>/dev/null || true
i=0
while running && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
kill -KILL "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=""

# The quietest window (the only one when the machine was idle) is reported.
sort -g -k5,5 "$tmp/windows" | head -n1 | awk -v window="$window" -v rss="$rss_kb" -v busy="$busy" \
    -v name="$name" -v record="${BENCH_RECORD:-}" '{
    elapsed = $1; frames = $2
    pc = $3 / elapsed; xc = $4 / elapsed; oc = $5 / elapsed; mb = rss / 1024
    if (frames != "-" && frames > 0) {
        fps = frames / window # perf counts over the sleep; the CPU rates over the readings
        line = sprintf("%-10s %5.1f fps  %6.1f + %5.1f ms/frame", name, fps, pc / fps * 1000, xc / fps * 1000)
        rec = sprintf("%.3f %.3f %.3f", fps, pc / fps * 1000, xc / fps * 1000)
    } else {
        line = sprintf("%-10s     - fps  (frames not counted: no swap seen, or perf uprobes need root)", name)
        rec = "- - -"
    }
    printf "%s  %4.2f + %4.2f cores  %6.1f MB peak  others %4.2f%s\n", line, pc, xc, mb, oc, \
        busy ? "  (busy machine)" : ""
    if (record != "")
        printf "%s %s %.4f %.4f %.1f %.4f %d\n", name, rec, pc, xc, mb, oc, busy >>record
}'
