#!/usr/bin/env bash
# Checks a built tavrix .deb as a user receives it: name, version, library dependencies; all under
# /usr, no conffiles (settings live in the user's folders); dpkg unpacks it, also over itself (an
# upgrade), in a private root; the unpacked programs run. Touches no system or user files.
#
#   tests/package/check_deb.sh dist/tavrix_<version>_<arch>.deb
set -euo pipefail
DEB=${1:?usage: $0 PACKAGE.deb}
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/tavrix-deb.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

VERSION=$(dpkg-deb -f "$DEB" Version) NAME=$(basename "$DEB")
[ "$NAME" = "tavrix_${VERSION}_$(dpkg-deb -f "$DEB" Architecture).deb" ] || fail "$NAME does not match version $VERSION"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for dep in libc6 libtinfo6 libstdc++6 libgcc-s1; do
  [[ ", $DEPENDS," =~ ", $dep"[\ ,] ]] || fail "Depends has no $dep: $DEPENDS"
done

ROOT=$SCRATCH/root
dpkg-deb -x "$DEB" "$ROOT"
for f in bin/tavrix bin/modemsim lib/tavrix/libmodemlines.so share/man/man1/tavrix.1.gz \
         share/man/man1/modemsim.1.gz share/doc/tavrix/{README.md,LICENSE,copyright}; do
  [ -f "$ROOT/usr/$f" ] || fail "the package has no /usr/$f"
done
OUTSIDE=$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$OUTSIDE" ] || fail "files outside /usr: $OUTSIDE"
dpkg-deb --ctrl-tarfile "$DEB" | tar -t | grep -q conffiles && fail "the package has conffiles"

mkdir -p "$SCRATCH"/inst/var/lib/dpkg/{updates,info} && : >"$SCRATCH/inst/var/lib/dpkg/status"
for pass in install upgrade; do
  dpkg --root="$SCRATCH/inst" --force-not-root --force-script-chrootless --force-depends \
    --log=/dev/null --unpack "$DEB" >/dev/null 2>"$SCRATCH/dpkg.err" || fail "dpkg $pass: $(cat "$SCRATCH/dpkg.err")"
done
[ -x "$SCRATCH/inst/usr/bin/tavrix" ] || fail "dpkg left no /usr/bin/tavrix"

# The programs from the unpacked root, in private folders.
export XDG_CONFIG_HOME=$SCRATCH/home XDG_STATE_HOME=$SCRATCH/home XDG_RUNTIME_DIR=$SCRATCH/home
mkdir -m 700 "$SCRATCH/home" && for n in 1 2 3 4; do export "TAVRIX_COM$n=$SCRATCH/no-line"; done
[[ "$("$ROOT/usr/bin/modemsim" --help)" == *"Control socket:"* ]] || fail "modemsim --help lacks its control commands"
SHIM=$("$ROOT/usr/bin/modemsim" --shim-path) || fail "modemsim --shim-path found no shim"
[ "$SHIM" = "$(realpath "$ROOT/usr/lib/tavrix/libmodemlines.so")" ] || fail "modemsim --shim-path names $SHIM"
SAID=$("$ROOT/usr/bin/tavrix" --version </dev/null) || fail "tavrix --version failed"
[[ "$SAID" == *"$VERSION"* ]] || fail "tavrix --version says \"$SAID\", the package $VERSION"
echo "package check passed: $NAME ($SAID; Depends: $DEPENDS)"
