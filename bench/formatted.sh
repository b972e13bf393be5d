#!/usr/bin/env bash
# Format recovery, run by hand: an NTFS and a FAT32 image filled with files
# in folders, quick-formatted, then
#   the kernel's format-recovery scan (bench/formatted_bench.cpp) against
#   dd of the whole image (the floor: the scan reads the volume once),
#   and what The Sleuth Kit (fls -r over the new file system) and PhotoRec
#   (carving, whole image) get back from the same image, as counts.
#
#   bash bench/formatted.sh          # needs build/kernel/libkestrel_core.a
#   SIZE_MIB=256 FILES=2000 bash bench/formatted.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${BENCH_CACHE:-$root/bench/cache}
size=${SIZE_MIB:-1024}
files=${FILES:-10000}
mkdir -p "$cache"
for tool in mkntfs ntfs-3g mkfs.fat mcopy fls photorec python3 g++; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
lib=$root/build/kernel/libkestrel_core.a
[ -f "$lib" ] || { echo "build kestrel_core first" >&2; exit 2; }
g++ -O2 -std=c++20 -I"$root" -DKESTREL_BUILDING bench/formatted_bench.cpp "$lib" -lpthread -lz \
  -o "$cache/formatted_bench"

make_tree() {  # DIR COUNT
  python3 - "$1" "$2" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(root, "folder %03d" % (i // 100), "sub")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %06d.txt" % i), "wb") as f:
        f.write((b"%08d " % i) * (1 + (i * 37) % 3000))
PY
}

tree=$cache/fmt_tree
[ -d "$tree" ] || make_tree "$tree" "$files"
ntfs=$cache/fmt_ntfs_${size}.img
if [ ! -f "$ntfs" ]; then
  mnt=$(mktemp -d)
  truncate -s ${size}M "$ntfs"
  mkntfs -F -Q -q -c 4096 "$ntfs" >/dev/null
  ntfs-3g -o no_detach "$ntfs" "$mnt" & sleep 1
  cp -r "$tree/." "$mnt/"
  umount "$mnt"; wait || true; rmdir "$mnt"
  mkntfs -F -f -q -c 4096 "$ntfs" >/dev/null
fi
fat=$cache/fmt_fat32_${size}.img
if [ ! -f "$fat" ]; then
  mkfs.fat -C -F 32 -s 8 "$fat" $((size * 1024)) >/dev/null
  MTOOLS_SKIP_CHECK=1 mcopy -s -i "$fat" "$tree"/* ::
  mkfs.fat -F 32 -s 8 "$fat" >/dev/null
fi

for img in "$ntfs" "$fat"; do
  echo "== $(basename "$img") ($files files before the format)"
  cat "$img" > /dev/null  # warm cache, as for the dd floor
  echo -n "kestrel formatted scan: "; "$cache/formatted_bench" "$img"
  echo -n "dd whole image:         "
  dd if="$img" of=/dev/null bs=4M 2>&1 | tail -1
  echo "fls -r (new file system): $(fls -r -p "$img" 2>/dev/null | grep -c '^r/r' || true) files"
  if [ -n "${PHOTOREC:-}" ]; then
    out=$(mktemp -d)
    photorec /log /d "$out/r" /cmd "$img" partition_none,fileopt,everything,enable,search >/dev/null 2>&1 || true
    echo "photorec: $(find "$out" -type f ! -name '*.xml' | wc -l) files (no names, no folders)"
    rm -rf "$out"
  fi
done
