#!/bin/sh
# Every language of po/LINGUAS translates every text of the template, none
# of them fuzzy, with the same placeholders (msgfmt --check).
# Usage: translations_test.sh SOURCE_DIR
set -eu
po=$1/po
for language in $(grep -v '^#' "$po/LINGUAS"); do
    msgcmp "$po/$language.po" "$po/mereglass.pot" ||
        { echo "$language.po lacks translations of the template's texts"; exit 1; }
    msgfmt --check --statistics -o /dev/null "$po/$language.po" ||
        { echo "$language.po does not compile cleanly"; exit 1; }
done
echo "translations test passed"
