#!/usr/bin/env bash
# Extracts every marked text of the program into locale/default.pot and merges it into each
# catalogue. Window texts are marked N_("..."), messages _("..."), texts with a count
# TranslatePlural("singular", "plural", n).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
find src -name '*.cpp' -o -name '*.h' | sort > /tmp/vyr-sources.txt
xgettext --from-code=UTF-8 --language=C++ --keyword=_ --keyword=N_ --keyword=TranslatePlural:1,2 --no-wrap \
  --package-name="VYR Standalone" --files-from=/tmp/vyr-sources.txt -o locale/default.pot
for po in locale/*.po; do
  msgmerge --quiet --update --no-wrap --backup=none "$po" locale/default.pot
done
