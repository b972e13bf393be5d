#!/usr/bin/env bash
# Decompression speed of a large compressible NTFS file, run by hand: makes
# (once, cached) an image holding a 256 MiB text file written compressed by
# ntfs-3g, builds bench_compressed_read and runs it (see its source for the
# two figures). The target is at least 300 MB/s.
#
#   bash bench/compressed.sh        # uses build/, images in bench/cache
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${BENCH_CACHE:-$root/bench/cache}
build=${BUILD:-$root/build}
mkdir -p "$cache"
img="$cache/compressed_c4k.img"
rec="$cache/compressed_c4k.record"

if [ ! -f "$img" ] || [ ! -f "$rec" ]; then
  for tool in mkntfs ntfs-3g python3 mountpoint; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
  done
  echo "building $img (ntfs-3g)"
  rm -f "$img.tmp"
  truncate -s 512M "$img.tmp"
  mkntfs -F -Q -q -c 4096 "$img.tmp" >/dev/null 2>&1
  mnt=$(mktemp -d)
  ntfs-3g -o no_detach,compression "$img.tmp" "$mnt" & pid=$!
  for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
  mkdir "$mnt/packed"
  python3 - "$mnt/packed" <<'PY'
import os, random, sys
folder = sys.argv[1]
os.setxattr(folder, "system.ntfs_attrib_be", (0x800).to_bytes(4, "big"))
rng = random.Random(7)
words = [b"kestrel", b"cluster", b"restore", b"deleted", b"record", b"volume",
         b"unit", b"chunk", b"sparse", b"extent", b"folder", b"name", b"%d"]
lines = []
for i in range(60000):
    lines.append(b" ".join(rng.choice(words) for _ in range(10)).replace(b"%d", b"%d" % i) + b"\n")
text = b"".join(lines)
with open(os.path.join(folder, "big.txt"), "wb") as f:
    written = 0
    while written < 256 << 20:
        piece = text[: (256 << 20) - written]
        f.write(piece)
        written += len(piece)
PY
  stat -c %i "$mnt/packed/big.txt" > "$rec.tmp"
  umount "$mnt"; wait $pid || true
  rmdir "$mnt"
  mv "$img.tmp" "$img"
  mv "$rec.tmp" "$rec"
fi

cmake --build "$build" --target bench_compressed_read -j2 >/dev/null
cat "$img" > /dev/null   # warm the page cache
"$build/bin/bench_compressed_read" "$img" "$(cat "$rec")" "${RUNS:-5}"
