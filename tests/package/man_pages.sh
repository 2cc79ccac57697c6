#!/usr/bin/env bash
# The man pages render without a warning from man or groff; modemsim(1) names every --help option.
#
#   man_pages.sh MAN-DIR MODEMSIM
set -uo pipefail
DIR=$1 MODEMSIM=$2
command -v man >/dev/null || { echo "man is missing: install the Debian package man-db"; exit 1; }
failed=0
for page in "$DIR"/tavrix.1.gz "$DIR"/modemsim.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { printf 'FAIL %s renders with warnings:\n%s\n' "$(basename "$page")" "$warnings"; failed=1; }
done
text=$(MANWIDTH=80 man -l "$DIR/modemsim.1.gz" 2>/dev/null)
for opt in $("$MODEMSIM" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  grep -qF -- "$opt" <<<"$text" || { echo "FAIL modemsim(1) lacks $opt"; failed=1; }
done
exit $failed
