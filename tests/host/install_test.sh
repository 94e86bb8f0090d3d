#!/bin/sh
# The installed tree: every file in its place, and a program that still finds
# its archive after the whole tree has moved elsewhere.
# Usage: install_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/mereglass-test >/dev/null
mv "$work/stage/opt/mereglass-test" "$work/moved"
root=$work/moved

for f in libexec/xscreensaver/mereglass bin/mereglass share/mereglass/murkle.respak \
         share/xscreensaver/config/mereglass.xml share/applications/screensavers/mereglass.desktop \
         share/doc/mereglass/index.html share/doc/mereglass/README.md; do
    [ -e "$root/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q 'gl="yes"' "$root/share/xscreensaver/config/mereglass.xml" || { echo "xml lacks gl=yes"; exit 1; }

mkdir "$work/frames"
env -u DISPLAY "$root/bin/mereglass" --render "$work/frames" --size 64x48 --seconds 1 --fps 10 --every 5 \
    2>"$work/stderr"
cat "$work/stderr"
if grep -q "cannot find" "$work/stderr"; then
    echo "the moved program lost its archive"
    exit 1
fi
count=$(ls "$work/frames" | wc -l)
[ "$count" -eq 2 ] || { echo "expected 2 frames, found $count"; exit 1; }
echo "install test passed"
