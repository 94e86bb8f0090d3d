#!/bin/sh
# Measures `mereglass -window` beside two packaged XScreenSaver hacks under
# the same conditions (1920 x 1080 under a private Xvfb, SECONDS each, one
# after the other in the same run): gflux in grab mode, a lit GL sheet
# textured with the grabbed desktop, and ripples, a CPU ripple effect over
# the grabbed desktop. Each runs through compare_window.sh.
#
# Under Xvfb ripples cannot grab the desktop (see below), so it ripples its
# own picture; the cost per second is what is compared there.
#
# The hacks come from Debian's xscreensaver-gl and xscreensaver-data-extra;
# this script installs them when they are missing. Their image grabber needs
# /usr/libexec/xscreensaver on PATH and grabDesktopImages in ~/.xscreensaver,
# so they run with a HOME of their own.
#
# Usage: bench/compare_peers.sh [PROGRAM [SECONDS]]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-build/src/host/mereglass}
seconds=${2:-20}
hacks=/usr/libexec/xscreensaver

if [ ! -x "$hacks/gflux" ] || [ ! -x "$hacks/ripples" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
        xscreensaver xscreensaver-gl xscreensaver-data xscreensaver-data-extra >/dev/null
fi

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
printf 'grabDesktopImages:\tTrue\nchooseRandomImages:\tFalse\n' >"$home/.xscreensaver"

echo "== mereglass =="
"$here/compare_window.sh" "$program" "$seconds"
echo
echo "== gflux (grab mode) =="
HOME=$home PATH="$hacks:$PATH" "$here/compare_window.sh" "$hacks/gflux" "$seconds" -mode grab
echo
echo "== ripples (frames are not counted: it draws with XPutImage, not GL) =="
# Under Xvfb its default visual fails with BadMatch on its first image read,
# and so does its grabber on the desktop; it runs on the best visual over its
# own picture instead.
PATH="$hacks:$PATH" "$here/compare_window.sh" "$hacks/ripples" "$seconds" -visual best
