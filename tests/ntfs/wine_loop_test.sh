#!/usr/bin/env bash
# Kestrel.dll under Wine on loop devices: kestrel.exe scans and recovers the
# NTFS fixture images through raw volume reads ("\\.\N:" on a read-only loop
# device, 512- and 4096-byte sectors), and the result must match the
# manifests the image builders wrote.
#
#   wine_loop_test.sh KESTREL_EXE FIXTURE_DIR
#
# Needs root (losetup) and Wine; without them it skips (exit 77), except in
# CI, where that is a failure.
set -euo pipefail
exe=${1:?usage: wine_loop_test.sh KESTREL_EXE FIXTURE_DIR}
fixtures=${2:?usage: wine_loop_test.sh KESTREL_EXE FIXTURE_DIR}

skip() {
  echo "not run: $*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}
[ "$(id -u)" = 0 ] || skip "losetup needs root"
for tool in wine wineboot wineserver winepath losetup sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || skip "missing tool: $tool"
done
for name in ntfs ntfs_s4k; do
  [ -f "$fixtures/$name.img" ] || skip "fixture image missing: $fixtures/$name.img"
done

export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/kestrel-wine.XXXXXX)
export WINEPREFIX
work=$(mktemp -d)
loops=()
cleanup() {
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
wineserver -w
mkdir -p "$work/n"

status=0
for spec in "ntfs 512" "ntfs_s4k 4096"; do
  read -r name sector <<<"$spec"
  loop=$(losetup -f --show -r -b "$sector" "$fixtures/$name.img")
  loops+=("$loop")
  ln -sfn "$loop" "$WINEPREFIX/dosdevices/n::"
  ln -sfn "$work/n" "$WINEPREFIX/dosdevices/n:"

  # (Windows console lines end in CR LF.)
  timeout 300 wine "$exe" scan N: > "$work/$name.raw" || { echo "$name: scan failed" >&2; status=1; continue; }
  tr -d '\r' < "$work/$name.raw" > "$work/$name.scan"
  manifest="$fixtures/$name.manifest"
  expected=$(($(wc -l < "$manifest") - 1))
  listed=$(wc -l < "$work/$name.scan")
  if [ "$listed" -ne "$expected" ]; then
    echo "$name: $listed items listed, $expected deleted" >&2
    status=1
  fi
  # list: N: among the volumes; the physical disks Wine makes up (if any)
  # each a line of path, table kind and size, with no error.
  if ! timeout 120 wine "$exe" list > "$work/list.raw"; then
    echo "$name: list failed" >&2
    status=1
  fi
  tr -d '\r' < "$work/list.raw" > "$work/list"
  grep -qP '^N:\tNTFS\t' "$work/list" || { echo "$name: N: not listed as NTFS" >&2; status=1; }
  if grep -P '^\\\\\.\\PhysicalDrive' "$work/list" | grep -vqP '^\\\\\.\\PhysicalDrive\d+( --partition \d+)?\t[^\t]+\t\d+ sectors'; then
    echo "$name: a disk line out of shape" >&2
    status=1
  fi
  out="$work/out-$name"
  mkdir -p "$out"
  timeout 300 wine "$exe" recover N: --to "$(winepath -w "$out")" --all >/dev/null || status=1
  while IFS=$'\t' read -r path size mtime sum; do
    case "$path" in "#"*) continue ;; esac
    # The path inside the volume, with the Windows separator.
    listed_as="${path//\//\\}"
    # (Through the environment: awk -v would read "\t" in a path as a tab.)
    hits=$(P="$listed_as" S="$size" awk -F'\t' '$5 == ENVIRON["P"] && $2 == ENVIRON["S"]' \
             "$work/$name.scan" | wc -l)
    if [ "$hits" -ne 1 ]; then
      echo "$name: $path listed $hits times with size $size" >&2
      status=1
    fi
    got=$(sha256sum "$out/Deleted/$path" 2>/dev/null | cut -c1-64 || true)
    if [ "$got" != "$sum" ]; then
      echo "$name: $path not recovered byte-exact" >&2
      status=1
    fi
  done < "$manifest"
done
[ "$status" = 0 ] && echo "Kestrel.dll under Wine: NTFS scans and recoveries on loop devices match"
exit "$status"
