#!/usr/bin/env bash
# The deep scan against PhotoRec on the same image, run by hand (never by
# CI). Builds a cached NTFS image once: sample files of many formats
# (tests/fixtures/make_carve.sh's encoders) copied many times between
# blocks of noise, then the volume quick-formatted. Then, with a warm page
# cache, times the kernel's deep scan (bench/carve_scan.cpp through the
# exports; the median of three runs) and PhotoRec's unattended search,
# with dd's plain read as the floor, and counts how many of the
# written sample files each gives back byte-exact (by sha256).
#
#   bash bench/carve.sh                 # 1 GiB image in bench/cache
#   CARVE_MIB=256 bash bench/carve.sh   # a quick look
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${BENCH_CACHE:-$root/bench/cache}
mib=${CARVE_MIB:-1024}
build=${BUILD:-$root/build}
mkdir -p "$cache"
for tool in photorec mkntfs ntfs-3g convert python3 ffmpeg g++; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install testdisk ntfs-3g imagemagick ffmpeg)" >&2; exit 2; }
done
[ -f "$build/kernel/libkestrel_core.a" ] || { echo "build first: cmake --build build --target kestrel_core" >&2; exit 2; }

img="$cache/carve_${mib}.img"
samples="$cache/carve_samples"
if [ ! -f "$img" ]; then
  rm -rf "$samples"; mkdir -p "$samples"
  convert -seed 11 -size 1600x1200 plasma:fractal -quality 90 "$samples/photo.jpg"
  convert -seed 12 -size 80x60 plasma:fractal "$samples/thumb.jpg"
  convert -seed 14 -size 400x300 plasma:fractal "$samples/pic.png"
  convert -seed 15 -size 240x180 plasma:fractal -colors 64 "$samples/anim.gif"
  convert -seed 16 -size 300x200 plasma:fractal -type truecolor "$samples/img.bmp"
  convert -seed 17 -size 320x240 plasma:fractal -compress none "$samples/img.tif"
  python3 tests/fixtures/carve_samples.py "$samples"
  mnt=$(mktemp -d)
  truncate -s "${mib}M" "$img.tmp"
  mkntfs -F -Q -q -c 4096 "$img.tmp" >/dev/null 2>&1
  ntfs-3g -o no_detach "$img.tmp" "$mnt" >/dev/null 2>&1 &
  for _ in $(seq 1 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
  # Copies of the samples, each made unique by a byte changed where the
  # format does not check it, between 256 KiB blocks of noise.
  python3 - "$samples" "$mnt" "$((mib * 7 / 10))" <<'PY'
import hashlib, os, sys
src, dst, budget = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20
files = sorted(f for f in os.listdir(src) if os.path.isfile(os.path.join(src, f)))
bodies = {f: open(os.path.join(src, f), "rb").read() for f in files}
written, n, seed = 0, 0, b"bench"
while written < budget:
    for f, body in bodies.items():
        d = os.path.join(dst, "d%04d" % (n // 100))
        os.makedirs(d, exist_ok=True)
        open(os.path.join(d, "%06d_%s" % (n, f)), "wb").write(body)
        written += len(body)
        n += 1
    noise = bytearray()
    while len(noise) < 262144:
        seed = hashlib.sha256(seed).digest()
        noise += seed * 64
    open(os.path.join(dst, "noise%06d.bin" % n), "wb").write(bytes(noise[:262144]))
    written += 262144
print("wrote", n, "sample copies")
PY
  umount "$mnt"; wait || true
  mkntfs -F -Q -q -c 4096 "$img.tmp" >/dev/null 2>&1
  rmdir "$mnt"
  mv "$img.tmp" "$img"
fi

driver="$cache/carve_scan"
g++ -std=c++20 -O2 -I"$root" bench/carve_scan.cpp "$build/kernel/libkestrel_core.a" -lpthread -lz -o "$driver"
cat "$img" > /dev/null  # warm the page cache
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sha256sum "$samples"/* | cut -d' ' -f1 | sort -u > "$work/wanted"

# Byte-exact sample files among those a tool wrote (each counted once per copy found).
exact() { find "$1" -type f -print0 | xargs -0 sha256sum | cut -d' ' -f1 | grep -cFf "$work/wanted" || true; }

# Three timed runs (the machine is shared: the median is reported), then
# one that recovers every find for the count.
for _ in 1 2 3; do "$driver" "$img" >> "$work/k.txt"; done
"$driver" "$img" "$work/kestrel" > /dev/null
k_seconds=$(awk '/^seconds/ {print $2}' "$work/k.txt" | sort -n | sed -n 2p)
k_cpu=$(awk '/^seconds/ {print $12}' "$work/k.txt" | sort -n | sed -n 2p)
d_start=$(date +%s.%N)
dd if="$img" of=/dev/null bs=8M 2>/dev/null
d_seconds=$(echo "$(date +%s.%N) - $d_start" | bc)
k_finds=$(awk '/^seconds/ {print $6; exit}' "$work/k.txt")
k_intact=$(awk '/^seconds/ {print $8; exit}' "$work/k.txt")
k_exact=$(exact "$work/kestrel")

mkdir -p "$work/photorec"
p_start=$(date +%s.%N)
(cd "$work" && /usr/bin/time -f "%U %S" -o "$work/p.cpu" photorec /log /d "$work/photorec/out" /cmd "$img" \
  partition_none,options,paranoid,fileopt,everything,enable,search > /dev/null 2>&1) || true
p_end=$(date +%s.%N)
p_seconds=$(echo "$p_end - $p_start" | bc)
p_cpu=$(awk '{print $1 + $2}' "$work/p.cpu" 2>/dev/null || echo "?")
p_finds=$(find "$work/photorec" -type f -path '*out*' ! -name report.xml | wc -l)
p_exact=$(exact "$work/photorec")

rate() { echo "scale=2; $mib / 1024 / $1" | bc; }
{
  echo "## Deep scan vs PhotoRec ($(date -u +%F), ${mib} MiB NTFS image, quick-formatted, warm cache)"
  echo
  echo "| tool | seconds | GB/s of volume | CPU seconds | GB/s of CPU | files listed | byte-exact samples |"
  echo "|---|---|---|---|---|---|---|"
  echo "| kestrel deep scan | $k_seconds | $(rate "$k_seconds") | $k_cpu | $(rate "$k_cpu") | $k_finds ($k_intact intact) | $k_exact |"
  echo "| photorec (paranoid, everything) | $p_seconds | $(rate "$p_seconds") | $p_cpu | $(rate "$p_cpu") | $p_finds | $p_exact |"
  echo "| dd bs=8M (reading alone) | $d_seconds | $(rate "$d_seconds") | | | | |"
} | tee "$work/table.md"
echo
echo "append to bench/RESULTS.md by hand if wanted: $work/table.md is removed on exit"
