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
         share/doc/mereglass/index.html share/doc/mereglass/README.md share/man/man6/mereglass.6 \
         share/applications/org.example.Mereglass.desktop share/metainfo/org.example.Mereglass.metainfo.xml \
         share/locale/de/LC_MESSAGES/mereglass.mo share/locale/fr/LC_MESSAGES/mereglass.mo; do
    [ -e "$root/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q 'gl="yes"' "$root/share/xscreensaver/config/mereglass.xml" || { echo "xml lacks gl=yes"; exit 1; }
# The pictures that the installed README and web page link resolve.
doc=$root/share/doc/mereglass
for page in README.md index.html; do
    for pic in $(grep -o -e '](\([^)]*\.png\))' -e 'src="[^"]*\.png"' "$doc/$page" |
                 sed -e 's/^](//' -e 's/)$//' -e 's/^src="//' -e 's/"$//'); do
        [ -e "$doc/$pic" ] || { echo "$page links a missing picture: $pic"; exit 1; }
    done
done
# The desktop entry names the program under the prefix given at install time.
entry=$root/share/applications/screensavers/mereglass.desktop
grep -qx 'Exec=/opt/mereglass-test/libexec/xscreensaver/mereglass --root' "$entry" &&
    grep -qx 'TryExec=/opt/mereglass-test/libexec/xscreensaver/mereglass' "$entry" ||
    { echo "the desktop entry does not name the installed program:"; cat "$entry"; exit 1; }
# The menu entry opens the settings through the command under that prefix;
# its icon is installed at every size, and the metainfo launches it.
app=$root/share/applications/org.example.Mereglass.desktop
grep -qx 'Exec=/opt/mereglass-test/bin/mereglass --configure' "$app" &&
    grep -qx 'TryExec=/opt/mereglass-test/bin/mereglass' "$app" ||
    { echo "the menu entry does not name the installed command:"; cat "$app"; exit 1; }
icon=$(sed -n 's/^Icon=//p' "$app")
for f in scalable/apps/$icon.svg 16x16/apps/$icon.png 24x24/apps/$icon.png 32x32/apps/$icon.png \
         48x48/apps/$icon.png 64x64/apps/$icon.png 128x128/apps/$icon.png 256x256/apps/$icon.png; do
    [ -e "$root/share/icons/hicolor/$f" ] || { echo "the menu entry's icon is missing: $f"; exit 1; }
done
grep -q '<launchable type="desktop-id">org.example.Mereglass.desktop</launchable>' \
    "$root/share/metainfo/org.example.Mereglass.metainfo.xml" ||
    { echo "the metainfo does not launch the menu entry"; exit 1; }
# The menu entry and the metainfo carry their translations; the moved
# program finds its catalogues in the moved tree.
grep -q '^Comment\[de\]=' "$app" && grep -q 'xml:lang="fr"' \
    "$root/share/metainfo/org.example.Mereglass.metainfo.xml" ||
    { echo "the menu entry or the metainfo lacks its translations"; exit 1; }
line=$(env LC_ALL=C.UTF-8 LANGUAGE=de "$root/bin/mereglass" --bogus 2>&1 | head -n 1)
[ "$line" = "mereglass: unbekannte Option: --bogus" ] ||
    { echo "the moved program does not speak German: $line"; exit 1; }

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
