#!/bin/sh
# Usage: bench/compare_peers.sh [-w WARMUP] [-t WINDOW] [-r RETRIES] [-s WxH] [PROGRAM [mereglass options...]]
#
# Measures `mereglass -window` beside gflux in grab mode, a packaged
# XScreenSaver hack that draws a lit GL sheet textured with the grabbed
# desktop, under the same conditions: each run goes through compare_window.sh
# (1920 x 1080, or -s WxH, under a private Xvfb, steady state after a
# warm-up, measured again while other processes keep the machine busy; the
# options -w, -t, -r and -s go to it). The two alternate, four runs each, so
# that a slow spell of the machine falls on both; then the medians and the
# ratios mereglass/gflux are printed. Options after PROGRAM (e.g. --water-res 8) go to mereglass.
#
# ripples, the other packaged hack that ripples the desktop, is left out: it
# draws with XPutImage, so no frames are counted at a buffer swap, and under
# Xvfb it cannot grab the desktop, so it would ripple a picture of its own.
#
# gflux comes from Debian's xscreensaver-gl, installed here when missing. Its
# image grabber needs /usr/libexec/xscreensaver on PATH and grabDesktopImages
# in ~/.xscreensaver, so it runs with a HOME of its own.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
hacks=/usr/libexec/xscreensaver
runs=4

window_opts=""
usage="usage: $0 [-w WARMUP] [-t WINDOW] [-r RETRIES] [-s WxH] [PROGRAM [mereglass options...]]"
while getopts w:t:r:s: opt; do
    case $opt in
    w | t | r | s) window_opts="$window_opts -$opt $OPTARG" ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
program=${1:-build/src/app/mereglass}
[ $# -gt 0 ] && shift
if [ ! -x "$program" ]; then
    echo "compare_peers.sh: $program is not a program" >&2
    exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ ! -x "$hacks/gflux" ] || [ ! -x "$hacks/xscreensaver-getimage" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    install_hacks() {
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
            xscreensaver xscreensaver-gl xscreensaver-data >>"$tmp/apt.log" 2>&1
    }
    if ! install_hacks && ! { $SUDO apt-get update -q >>"$tmp/apt.log" 2>&1 && install_hacks; }; then
        echo "compare_peers.sh: could not install gflux (xscreensaver-gl):" >&2
        tail -n 5 "$tmp/apt.log" >&2
        exit 1
    fi
fi

mkdir "$tmp/home"
printf 'grabDesktopImages:\tTrue\nchooseRandomImages:\tFalse\n' >"$tmp/home/.xscreensaver"
records=$tmp/records

# Each run prints its line (and any busy-machine notes) and leaves a record.
run=0
while [ $run -lt $runs ]; do
    run=$((run + 1))
    echo "-- run $run of $runs: mereglass${*:+ $*}"
    # shellcheck disable=SC2086
    BENCH_RECORD=$records "$here/compare_window.sh" $window_opts "$program" "$@"
    echo "-- run $run of $runs: gflux -mode grab"
    # shellcheck disable=SC2086
    BENCH_RECORD=$records HOME=$tmp/home PATH="$hacks:$PATH" \
        "$here/compare_window.sh" $window_opts "$hacks/gflux" -mode grab
done

# Medians per program over its runs, of each figure and of the sums program
# + X server; then the ratios of those sums.
echo
echo "medians ($runs runs each; program + X server):"
awk -v mine="$(basename "$program")" -v peer=gflux '
function median(key,   n, i, j, v, t) {
    n = count[key]
    for (i = 1; i <= n; i++) v[i] = val[key, i]
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
function add(key, x) { val[key, ++count[key]] = x }
{
    name = $1; busy[name] += $9; names[name] = 1
    add(name SUBSEP "cores", $5 + $6)
    add(name SUBSEP "pcores", $5); add(name SUBSEP "xcores", $6)
    add(name SUBSEP "rss", $7); add(name SUBSEP "others", $8)
    if ($2 == "-") nofps[name] = 1
    else {
        add(name SUBSEP "fps", $2); add(name SUBSEP "pms", $3); add(name SUBSEP "xms", $4)
        add(name SUBSEP "ms", $3 + $4)
    }
}
function show(name) {
    if (!(name in names)) return
    if (name in nofps) line = sprintf("%-10s     - fps                       ", name)
    else
        line = sprintf("%-10s %5.1f fps  %6.1f + %5.1f ms/frame", name, median(name SUBSEP "fps"),
            median(name SUBSEP "pms"), median(name SUBSEP "xms"))
    printf "%s  %4.2f + %4.2f cores  %6.1f MB peak  others %4.2f%s\n", line,
        median(name SUBSEP "pcores"), median(name SUBSEP "xcores"), median(name SUBSEP "rss"),
        median(name SUBSEP "others"), busy[name] ? sprintf("  (%d runs on a busy machine)", busy[name]) : ""
}
END {
    show(mine); show(peer)
    if (!(mine in names) || !(peer in names)) exit
    if (median(peer SUBSEP "cores") <= 0) exit
    if (!(mine in nofps) && !(peer in nofps) && median(peer SUBSEP "ms") > 0)
        printf "%s / %s: CPU per frame %.2f, cores %.2f\n", mine, peer,
            median(mine SUBSEP "ms") / median(peer SUBSEP "ms"),
            median(mine SUBSEP "cores") / median(peer SUBSEP "cores")
    else
        printf "%s / %s: cores %.2f (frames not counted)\n", mine, peer,
            median(mine SUBSEP "cores") / median(peer SUBSEP "cores")
}' "$records"
