#!/bin/sh
# The Debian package: built by scripts/package, clean under lintian, holding
# exactly the expected files, with a valid menu entry and metainfo, and a
# program that runs out of the unpacked package and finds its archive and its
# catalogues there.
# Usage: tests/package_test.sh (from anywhere in the repository)
set -eu
cd "$(dirname "$0")/.."

deb=$(./scripts/package | tail -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "lintian $deb"
lintian --fail-on error,warning "$deb" || { echo "lintian reports errors or warnings"; exit 1; }

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
sort >"$work/expected" <<'EOF'
./usr/bin/mereglass
./usr/libexec/xscreensaver/mereglass
./usr/share/applications/org.example.Mereglass.desktop
./usr/share/applications/screensavers/mereglass.desktop
./usr/share/doc/mereglass/README.md
./usr/share/doc/mereglass/changelog.Debian.gz
./usr/share/doc/mereglass/configure-dialog.png
./usr/share/doc/mereglass/copyright
./usr/share/doc/mereglass/docs/caustics.png
./usr/share/doc/mereglass/docs/configure-dialog.png
./usr/share/doc/mereglass/docs/desktop-blurred.png
./usr/share/doc/mereglass/docs/screenshot-window.png
./usr/share/doc/mereglass/docs/xscreensaver-preview.png
./usr/share/doc/mereglass/index.html
./usr/share/doc/mereglass/scene-banner.png
./usr/share/icons/hicolor/128x128/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/16x16/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/24x24/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/256x256/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/32x32/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/48x48/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/64x64/apps/org.example.Mereglass.png
./usr/share/icons/hicolor/scalable/apps/org.example.Mereglass.svg
./usr/share/lintian/overrides/mereglass
./usr/share/locale/de/LC_MESSAGES/mereglass.mo
./usr/share/locale/fr/LC_MESSAGES/mereglass.mo
./usr/share/metainfo/org.example.Mereglass.metainfo.xml
./usr/share/man/man6/mereglass.6.gz
./usr/share/mereglass/murkle.respak
./usr/share/xscreensaver/config/mereglass.xml
EOF
diff -u "$work/expected" "$work/files" || { echo "the package's files differ from the expected list"; exit 1; }

root=$work/root
dpkg-deb -x "$deb" "$root"
grep -qx 'Exec=/usr/libexec/xscreensaver/mereglass --root' \
    "$root/usr/share/applications/screensavers/mereglass.desktop" ||
    { echo "the desktop entry does not run /usr/libexec/xscreensaver/mereglass"; exit 1; }
grep -qx 'Exec=/usr/bin/mereglass --configure' "$root/usr/share/applications/org.example.Mereglass.desktop" ||
    { echo "the menu entry does not run /usr/bin/mereglass --configure"; exit 1; }
desktop-file-validate "$root/usr/share/applications/org.example.Mereglass.desktop" ||
    { echo "desktop-file-validate rejects the menu entry"; exit 1; }
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.Mereglass.metainfo.xml" ||
    { echo "appstreamcli rejects the metainfo"; exit 1; }
line=$(env LC_ALL=C.UTF-8 LANGUAGE=fr "$root/usr/libexec/xscreensaver/mereglass" --bogus 2>&1 | head -n 1)
[ "$line" = "mereglass: option inconnue : --bogus" ] ||
    { echo "the packaged program does not find its French catalogue: $line"; exit 1; }
warnings=$(zcat "$root/usr/share/man/man6/mereglass.6.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || { echo "the manual page has warnings:"; echo "$warnings"; exit 1; }

mkdir "$work/frames"
env -u DISPLAY LIBGL_ALWAYS_SOFTWARE=1 "$root/usr/libexec/xscreensaver/mereglass" \
    --render "$work/frames" --size 64x48 --seconds 1 --fps 10 --every 5 2>"$work/stderr"
cat "$work/stderr"
if grep -q "cannot find" "$work/stderr"; then
    echo "the packaged program did not find its archive"
    exit 1
fi
count=$(ls "$work/frames" | wc -l)
[ "$count" -eq 2 ] || { echo "expected 2 frames, found $count"; exit 1; }
echo "package test passed"
