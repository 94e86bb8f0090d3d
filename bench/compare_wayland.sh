#!/bin/sh
# Usage: bench/compare_wayland.sh [-w WARMUP] [-t WINDOW] [-s WxH] [-o OUTPUTS]
#                                  NAME=PROGRAM...
#
# Measures `PROGRAM --fullscreen` natively on a private headless sway with
# OUTPUTS (1) outputs of W x H (1920 x 1080) side by side (software
# rendering: sway's pixman renderer, Mesa's llvmpipe in the program), each
# program in turn, in its steady state: a
# warm-up of WARMUP seconds (16: past mereglass's intro, which plays over the
# first 14 seconds of a run), then a window of WINDOW seconds (10) over
# which it counts
#   - frames, as eglSwapBuffers calls seen by a perf uprobe;
#   - CPU of the program (all threads) and of sway, from /proc/PID/stat;
#   - others: the busy time of all CPUs (/proc/stat) less the program, sway
#     and perf, which must stay under a tenth of a core for a fair figure.
# One line per program: NAME fps (of each output) program_ms_per_frame
# sway_ms_per_frame (the CPU of one frame on every output) program_cores
# sway_cores others_cores.
# Needs root (sway runs as uid 65534; perf's uprobes), sway, swaybg, perf.
set -eu

warmup=16 window=10 size=1920x1080 outputs=1
usage="usage: $0 [-w WARMUP] [-t WINDOW] [-s WxH] [-o OUTPUTS] NAME=PROGRAM..."
while getopts w:t:s:o: opt; do
    case $opt in
    w) warmup=$OPTARG ;;
    t) window=$OPTARG ;;
    s) size=$OPTARG ;;
    o) outputs=$OPTARG ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "$usage" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "compare_wayland.sh: needs root" >&2; exit 2; }

user=65534
tmp=$(mktemp -d /tmp/mereglass-wlbench-XXXXXX)
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run" && chown "$user:$user" "$tmp/run"
egl=$(ldconfig -p | awk '/libEGL.so.1 .*x86-64/ { print $NF; exit }')
perf probe -q -d 'probe_libEGL:*' 2>/dev/null || true
perf probe -q -x "$egl" eglSwapBuffers
sway_pid=
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null
    perf probe -q -d 'probe_libEGL:*' 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

printf 'output * bg #336699 solid_color\n' >"$tmp/sway.conf"
for i in $(seq "$outputs"); do
    printf 'output HEADLESS-%d resolution %s position %d,0\n' "$i" "$size" \
        "$(( (i - 1) * ${size%x*} ))" >>"$tmp/sway.conf"
done
env -i XDG_RUNTIME_DIR="$tmp/run" HOME="$tmp" PATH=/usr/bin:/bin \
    WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS="$outputs" WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 \
    setpriv --reuid=$user --regid=$user --clear-groups sway -c "$tmp/sway.conf" \
    >"$tmp/sway.log" 2>&1 &
sway_pid=$!
for _ in $(seq 50); do [ -S "$tmp/run/wayland-1" ] && break; sleep 0.1; done
[ -S "$tmp/run/wayland-1" ] || { echo "compare_wayland.sh: sway did not start" >&2; exit 1; }
sleep 1

ticks() { awk '{ sub(/.*\) /, ""); split($0, a, " "); print a[12] + a[13] }' "/proc/$1/stat"; }
busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
hz=$(getconf CLK_TCK)

for entry in "$@"; do
    name=${entry%%=*} program=${entry#*=}
    mkdir -p "$tmp/$name"
    cp "$program" "$tmp/$name/mereglass"
    cp "$(dirname "$program")/murkle.respak" "$tmp/$name/" 2>/dev/null || true
    chmod -R a+rX "$tmp/$name"
    env -i XDG_RUNTIME_DIR="$tmp/run" HOME="$tmp" XDG_CONFIG_HOME="$tmp/$name" PATH=/usr/bin:/bin \
        WAYLAND_DISPLAY=wayland-1 setpriv --reuid=$user --regid=$user --clear-groups \
        "$tmp/$name/mereglass" --fullscreen >"$tmp/$name/log" 2>&1 &
    pid=$!
    sleep "$warmup"
    kill -0 "$pid" 2>/dev/null || { echo "compare_wayland.sh: $name ended" >&2; cat "$tmp/$name/log" >&2; exit 1; }
    p0=$(ticks "$pid") s0=$(ticks "$sway_pid") b0=$(busy)
    /usr/bin/time -o "$tmp/perf.time" -f "%U %S" \
        perf stat -x, -e 'probe_libEGL:eglSwapBuffers' -p "$pid" -o "$tmp/frames" -- sleep "$window"
    p1=$(ticks "$pid") s1=$(ticks "$sway_pid") b1=$(busy)
    frames=$(awk -F, '/eglSwapBuffers/ { print $1 + 0 }' "$tmp/frames")
    kill "$pid"; wait "$pid" 2>/dev/null || true
    read -r pu ps <"$tmp/perf.time"
    awk -v n="$name" -v f="$((frames / outputs))" -v w="$window" -v hz="$hz" -v p="$((p1 - p0))" -v s="$((s1 - s0))" \
        -v b="$((b1 - b0))" -v perf="$pu $ps" 'BEGIN {
        split(perf, q, " ")
        others = (b - p - s) / hz - q[1] - q[2]
        printf "%-10s %5.1f fps %6.1f ms/frame program %5.1f ms/frame sway  %4.2f + %4.2f cores  others %4.2f\n",
            n, f / w, p / hz * 1000 / f, s / hz * 1000 / f, p / hz / w, s / hz / w, others / w }'
done
