#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks. Safe to run again: it installs only what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libncurses-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  tmux python3 procps ser2net
  clang-format-14 ccache
  file man-db
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 googletest
  gnuplot-nox
  wine wine64 xvfb xdotool x11-apps netpbm
)
case "${1:-}" in
  --runtime) PACKAGES=(build-essential cmake ninja-build pkg-config libncurses-dev libcli11-dev libgtest-dev) ;;
  # tools/package: the program and the simulator, and CPack's use of file
  # and dpkg-shlibdeps (dpkg-dev, part of build-essential).
  --package) PACKAGES=(build-essential cmake ninja-build pkg-config libncurses-dev libcli11-dev file) ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
