#!/usr/bin/env bash
# The README's main command (scripts/run_sample.sh) on a fresh build folder:
# it must build the tool, recover every file the bundled NTFS sample lost
# into ./RecoveryData, intact, and list each of them with its size.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KESTREL_BUILD_DIR=$work/build
cd "$work"
bash "$root/scripts/run_sample.sh" > "$work/log"

fail() { echo "FAIL: $*" >&2; cat "$work/log" >&2; exit 1; }
expected=0
while IFS=$'\t' read -r image path size modified sum; do
  [ "$image" = sample_ntfs.img.gz ] || continue
  expected=$((expected + 1))
  file="RecoveryData/Deleted/$path"
  [ -f "$file" ] || fail "not recovered: $path"
  [ "$(sha256sum "$file" | cut -d' ' -f1)" = "$sum" ] || fail "content differs: $path"
  grep -qxF "$size"$'\t'"Deleted/$path" "$work/log" || fail "not listed: $path"
done < "$root/samples/DELETED.txt"
[ "$expected" -gt 0 ] || fail "DELETED.txt lists nothing for the NTFS sample"
grep -qxF "recovered $expected, failed 0" "$work/log" || fail "summary line"
written=$(find RecoveryData -type f | wc -l)
[ "$written" -eq "$expected" ] || fail "$written files written, $expected expected"
echo "run_sample: $expected files recovered and listed"
