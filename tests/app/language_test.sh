#!/bin/sh
# The program in the user's language, from the build tree's catalogues: a
# bad flag's line in German and French, in English for a language without a
# catalogue; under a German locale (made with localedef into a temporary
# folder) numbers on the command line and in messages keep their '.'.
# Usage: language_test.sh PROGRAM
set -eu
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first line the program says, in the environment given.
said() {
    env -u LC_MESSAGES -u LANG "$@" "$program" --bogus 2>&1 | head -n 1
}
expect() {
    [ "$1" = "$2" ] || { echo "expected \"$2\", got \"$1\"$3"; exit 1; }
}
expect "$(said LC_ALL=C.UTF-8 LANGUAGE=de)" "mereglass: unbekannte Option: --bogus" " (LANGUAGE=de)"
expect "$(said LC_ALL=C.UTF-8 LANGUAGE=fr)" "mereglass: option inconnue : --bogus" " (LANGUAGE=fr)"
expect "$(said LC_ALL=C.UTF-8 LANGUAGE=pt)" "mereglass: unknown option: --bogus" " (LANGUAGE=pt)"

# A locale whose decimal point is a comma.
localedef -i de_DE -f UTF-8 "$work/de_DE.UTF-8" ||
    { echo "localedef cannot make de_DE.UTF-8 (the locales package, scripts/setup)"; exit 1; }
line=$(env -u LANGUAGE LOCPATH="$work" LC_ALL=de_DE.UTF-8 "$program" --render "$work/frames" \
    --seconds 0.001 2>&1 | head -n 1)
expect "$line" "mereglass: --seconds 0.001 ist weniger als ein Bild bei 30 Bildern pro Sekunde" \
    " (LC_ALL=de_DE.UTF-8)"
echo "language test passed"
