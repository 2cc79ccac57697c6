#!/usr/bin/env bash
# Checks a built tavrix .deb as a user receives it:
#   - its control fields: the version, and the libraries' packages among the
#     dependencies;
#   - its files: everything under /usr, nothing that dpkg would keep as a
#     configuration file (the settings live in the user's folders, so an
#     upgrade cannot touch them);
#   - dpkg unpacks it, and unpacks it again over itself (an upgrade), in a
#     private dpkg root (its only script, CPack's ldconfig call, is not run);
#   - the programs unpacked with dpkg -x run from there: modemsim --help,
#     modemsim --shim-path finding the installed shim, tavrix --version.
# Nothing touches the system's dpkg database or the user's files.
#
#   tests/package/check_deb.sh dist/tavrix_<version>_<arch>.deb
set -euo pipefail
DEB=${1:?usage: $0 PACKAGE.deb}
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/tavrix-deb.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
fail() {
  echo "package check: $*" >&2
  exit 1
}

VERSION=$(dpkg-deb -f "$DEB" Version)
case "$(basename "$DEB")" in
  "tavrix_${VERSION}_$(dpkg-deb -f "$DEB" Architecture).deb") ;;
  *) fail "the file name $(basename "$DEB") does not match version $VERSION" ;;
esac
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for dep in libc6 libncursesw6 libstdc++6 libgcc-s1; do
  [[ ", $DEPENDS," == *", $dep "* || ", $DEPENDS," == *", $dep,"* ]] ||
    fail "Depends has no $dep: $DEPENDS"
done

ROOT=$SCRATCH/root
dpkg-deb -x "$DEB" "$ROOT"
for f in usr/bin/tavrix usr/bin/modemsim usr/lib/tavrix/libmodemlines.so \
         usr/share/man/man1/tavrix.1.gz usr/share/man/man1/modemsim.1.gz \
         usr/share/doc/tavrix/README.md usr/share/doc/tavrix/LICENSE usr/share/doc/tavrix/copyright; do
  [ -f "$ROOT/$f" ] || fail "the package has no /$f"
done
OUTSIDE=$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$OUTSIDE" ] || fail "files outside /usr: $OUTSIDE"
dpkg-deb --ctrl-tarfile "$DEB" | tar -t | grep -q conffiles && fail "the package has conffiles"

# dpkg's own checks, and an upgrade over the installed package.
ADMIN=$SCRATCH/inst/var/lib/dpkg
mkdir -p "$ADMIN/updates" "$ADMIN/info"
: >"$ADMIN/status"
for pass in install upgrade; do
  dpkg --root="$SCRATCH/inst" --force-not-root --force-script-chrootless --force-depends \
    --log=/dev/null --unpack "$DEB" >/dev/null 2>"$SCRATCH/dpkg.err" ||
    fail "dpkg $pass: $(cat "$SCRATCH/dpkg.err")"
done
[ -x "$SCRATCH/inst/usr/bin/tavrix" ] || fail "dpkg left no /usr/bin/tavrix"

# The programs from the unpacked root, in private folders.
export XDG_CONFIG_HOME=$SCRATCH/home XDG_STATE_HOME=$SCRATCH/home XDG_RUNTIME_DIR=$SCRATCH/home
mkdir -m 700 "$SCRATCH/home"
for n in 1 2 3 4; do export "TAVRIX_COM$n=$SCRATCH/no-line"; done

HELP=$("$ROOT/usr/bin/modemsim" --help) || fail "modemsim --help failed"
[[ "$HELP" == *"Control socket:"* ]] || fail "modemsim --help lacks its control commands"
SHIM=$("$ROOT/usr/bin/modemsim" --shim-path) || fail "modemsim --shim-path found no shim"
[ "$SHIM" = "$(realpath "$ROOT/usr/lib/tavrix/libmodemlines.so")" ] ||
  fail "modemsim --shim-path names $SHIM, not the installed shim"

# The installed program names the package's version, and touches nothing
# else to do so.
SAID=$("$ROOT/usr/bin/tavrix" --version </dev/null) || fail "tavrix --version failed"
[[ "$SAID" == *"$VERSION"* ]] || fail "tavrix --version says \"$SAID\", the package $VERSION"
echo "tavrix --version: $SAID"
echo "package check passed: $(basename "$DEB") (Depends: $DEPENDS)"
