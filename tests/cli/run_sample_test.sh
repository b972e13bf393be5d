#!/usr/bin/env bash
# The README's main command (scripts/run_sample.sh) on a fresh build folder:
# it must build the tool, list every file the bundled NTFS sample lost with
# its path inside the volume, recover each into ./RecoveryData, intact, and
# list each of them with its size.
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
  awk -F'\t' -v s="$size" -v p="$path" -v m="${modified/ /T}Z" \
    'NF == 5 && $1 ~ /^[0-9]+$/ && $2 == s && $3 == "intact" && $4 == m && $5 == p { found = 1 }
     END { exit !found }' "$work/log" || fail "not in the scan (id, size, state, time, path): $path"
done < "$root/samples/DELETED.txt"
[ "$expected" -gt 0 ] || fail "DELETED.txt lists nothing for the NTFS sample"
grep -qxF "recovered $expected ($expected intact, 0 partly overwritten, 0 overwritten), failed 0" "$work/log" ||
  fail "summary line"
written=$(find RecoveryData -type f | wc -l)
[ "$written" -eq "$expected" ] || fail "$written files written, $expected expected"
echo "run_sample: $expected files recovered and listed"
