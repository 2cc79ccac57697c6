#!/usr/bin/env bash
# Configures the project as machines without one of its dependencies would (hidden from find_package):
# each missing one must stop it with one line naming its Debian package; without the simulator and
# the tests, the program must configure with ncurses alone.
#
#   configure_deps.sh CMAKE SOURCE-DIR SCRATCH-DIR GENERATOR
set -uo pipefail
CMAKE=$1 SRC=$2 SCRATCH=$3 GENERATOR=$4
rm -rf "$SCRATCH" && mkdir -p "$SCRATCH"
hide() { printf -- '-DCMAKE_DISABLE_FIND_PACKAGE_%s=ON ' "$@"; }

# name | Debian package the error must name ("" = configure must succeed) | options
CASES=("no CLI11|libcli11-dev|$(hide CLI11)" "no GoogleTest|libgtest-dev|$(hide GTest)"
       "no ncurses|libncurses-dev|$(hide Curses)" "program alone|| -DTAVRIX_SIM=OFF $(hide CLI11 GTest)")
failed=0 i=0
for c in "${CASES[@]}"; do
  IFS='|' read -r name package options <<<"$c"
  log=$SCRATCH/$((++i)).log
  # shellcheck disable=SC2086
  "$CMAKE" -S "$SRC" -B "$SCRATCH/$i" -G "$GENERATOR" -DTAVRIX_BENCH=OFF $options >"$log" 2>&1
  rc=$?
  if [ -z "$package" ]; then why="configure stopped (status $rc)" && [ $rc -eq 0 ] && continue
  elif [ $rc -eq 0 ]; then why="configure succeeded"
  else why="the error does not name $package on one line"
    grep -qE "not found: install the Debian package $package " "$log" && continue
  fi
  echo "FAIL $name: $why:" && sed 's/^/  | /' "$log"
  failed=1
done
[ $failed -eq 0 ] && rm -rf "$SCRATCH"
exit $failed
