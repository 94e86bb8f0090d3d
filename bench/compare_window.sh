#!/bin/sh
# Runs `mereglass -window` at 1920 x 1080 under a private Xvfb for 20 s and
# reports its frames per second, the CPU time per frame of the program and
# of the X server, and the program's peak resident memory.
#
# Frames are counted where they are presented (the buffer swap), with perf
# uprobes; that needs root. Without it the frame rate is not reported.
#
# Usage: bench/compare_window.sh [PROGRAM [SECONDS [extra options...]]]
#   PROGRAM defaults to build/src/host/mereglass, SECONDS to 20.
#   Extra options go to the program (e.g. --water-res 8).
set -eu

program=${1:-build/src/host/mereglass}
seconds=${2:-20}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
if [ ! -x "$program" ]; then
    echo "compare_window.sh: $program is not a program" >&2
    exit 1
fi

tmp=$(mktemp -d)
xvfb_pid=""
probe=""
cleanup() {
    for p in $probe; do perf probe -q -d "$p" 2>/dev/null || true; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

# A private X server; it reports its display number on descriptor 3.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1920x1080x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$tmp/display" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
display=":$(head -n1 "$tmp/display")"

# X server CPU ticks (user + system) from /proc.
server_ticks() { awk '{ print $14 + $15 }' "/proc/$xvfb_pid/stat"; }
hz=$(getconf CLK_TCK)

# Frames are counted where they are presented: glXSwapBuffers in libGLX.so.0
# or in the older libGL.so.1, or eglSwapBuffers in libEGL.so.1, whichever the
# program reaches (one may forward to another, so the largest count is taken).
count_frames=""
events=""
if command -v perf >/dev/null; then
    for entry in libGLX.so.0:glXSwapBuffers libGL.so.1:glXSwapBuffers libEGL.so.1:eglSwapBuffers; do
        lib=${entry%%:*} func=${entry#*:}
        libpath=$(ldconfig -p | awk -v lib="$lib" '$1 == lib { print $NF; exit }')
        event="bench_frames_$$:swap_$(echo "$lib" | tr -c 'a-zA-Z0-9\n' _)"
        if [ -n "$libpath" ] && perf probe -q -x "$libpath" "$event=$func" 2>/dev/null; then
            probe="$probe $event"  # removed at the end
            events="$events -e $event"
        fi
    done
    [ -n "$events" ] && count_frames="perf stat -x, $events -o $tmp/frames --"
fi

ticks0=$(server_ticks)
# shellcheck disable=SC2086
XDG_CONFIG_HOME="$tmp/config" DISPLAY="$display" $count_frames \
    /usr/bin/time -o "$tmp/time" -f "%e %U %S %M" \
    timeout -s TERM "$seconds" "$program" -window -geometry 1920x1080 "$@" 2>"$tmp/program.log" || true
ticks1=$(server_ticks)

set -- $(cat "$tmp/time" | tail -n1)
wall=$1 user=$2 sys=$3 rss_kb=$4
frames=""
if [ -n "$count_frames" ]; then
    frames=$(awk -F, '/:swap_/ { if ($1 + 0 > n) n = $1 + 0 } END { print n + 0 }' "$tmp/frames")
    [ -n "${BENCH_DEBUG:-}" ] && cat "$tmp/frames" >&2
fi

awk -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss_kb" -v frames="$frames" \
    -v sticks=$((ticks1 - ticks0)) -v hz="$hz" -v program="$program" 'BEGIN {
    cpu = user + sys; server = sticks / hz
    printf "run:           %.1f s, 1920x1080, %s\n", wall, program
    if (frames != "" && frames > 0) {
        printf "frames:        %d (%.1f per second)\n", frames, frames / wall
        printf "program CPU:   %.2f s (%.2f cores, %.1f ms per frame)\n", cpu, cpu / wall, cpu * 1000 / frames
        printf "X server CPU:  %.2f s (%.2f cores, %.1f ms per frame)\n", server, server / wall, server * 1000 / frames
    } else {
        printf "frames:        not counted (no buffer swap seen, or perf uprobes unavailable: they need root)\n"
        printf "program CPU:   %.2f s (%.2f cores)\n", cpu, cpu / wall
        printf "X server CPU:  %.2f s (%.2f cores)\n", server, server / wall
    }
    printf "peak RSS:      %.1f MB\n", rss / 1024
}'
