#!/usr/bin/env bash
# The installed tree and the Debian package: `cmake --install` into a
# temporary prefix and `cpack -G DEB` unpacked with dpkg-deb -x. Each must
# hold kestrel, libkestrel.so, Kestrel.h and the man page, find its library
# through a relative run path (no trace of the build folder), and run
# `kestrel --version` and a scan of the bundled NTFS sample.
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --build "$build" --target kestrel_cli kestrel_man >/dev/null
gzip -dc "$src/samples/sample_ntfs.img.gz" > "$work/sample.img"
expected=$("$build/bin/kestrel" scan "$work/sample.img")
[ -n "$expected" ] || fail "the build-tree kestrel found nothing"

check_tree() {  # $1: the prefix (holds bin/, lib/, include/, share/)
  local prefix=$1 what=$2
  for f in bin/kestrel lib/libkestrel.so include/Kestrel.h share/man/man1/kestrel.1; do
    [ -f "$prefix/$f" ] || fail "$what: $f missing"
  done
  local dynamic
  dynamic=$(readelf -d "$prefix/bin/kestrel")
  grep -q 'RUNPATH.*\[\$ORIGIN/\.\./lib:\$ORIGIN\]' <<<"$dynamic" || fail "$what: run path: $dynamic"
  ! grep -qF "$build" <<<"$dynamic" || fail "$what: the build folder is recorded"
  grep -q '^\.TH KESTREL' "$prefix/share/man/man1/kestrel.1" || fail "$what: man page"
  grep -q 'Exit status' "$prefix/share/man/man1/kestrel.1" || fail "$what: man page lacks the help text"
  # Nothing from the build folder or the environment may help it start.
  local version
  version=$(env -i "$prefix/bin/kestrel" --version) || fail "$what: --version failed"
  [[ "$version" == "kestrel "* ]] || fail "$what: --version printed: $version"
  [ "$(env -i "$prefix/bin/kestrel" scan "$work/sample.img")" = "$expected" ] || fail "$what: scan differs"
}

cmake --install "$build" --prefix "$work/installed" >/dev/null
check_tree "$work/installed" "cmake --install"
# Moved elsewhere, it still finds its library.
mv "$work/installed" "$work/moved"
check_tree "$work/moved" "moved install"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = kestrel ] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "no dependencies recorded: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr" ".deb"
echo "install and package: ok"
