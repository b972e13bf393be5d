#!/usr/bin/env bash
# Benchmarks Kestrel against the tools people use today, run by hand (never
# by CI): builds cached images with the real tools, then times, side by
# side in one run with a warm page cache,
#   kestrel scan / kestrel recover --all,
#   fls -r -d -p and tsk_recover (The Sleuth Kit),
#   ntfsundelete -s and -u (ntfs-3g, NTFS only),
#   dd of the MFT-sized / image-sized data as the floor for reading,
#   cp -r of recovered files and dd into a file as the floor for writing,
# and writes the medians and ratios to bench/RESULTS.md.
#
#   bash bench/run.sh            # uses build/bin/kestrel, images in bench/cache
#   NTFS_FILES=20000 bash bench/run.sh   # smaller images for a quick look
#   (FAT_FILES and EXFAT_FILES likewise; the exFAT image needs root for
#   its loop device, which exfat-fuse mounts)
#   BENCH_IMAGES_ONLY=1 bash bench/run.sh  # build the cached images and stop
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${BENCH_CACHE:-$root/bench/cache}
ntfs_files=${NTFS_FILES:-100000}
fat_files=${FAT_FILES:-50000}
exfat_files=${EXFAT_FILES:-50000}
kestrel=${KESTREL:-$root/build/bin/kestrel}
runs=${RUNS:-5}
mkdir -p "$cache"

for tool in hyperfine fls tsk_recover ntfsundelete mkntfs ntfs-3g mkfs.fat mcopy mkfs.exfat mount.exfat-fuse losetup python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install hyperfine sleuthkit ntfs-3g dosfstools mtools exfatprogs exfat-fuse)" >&2; exit 2; }
done
[ -x "$kestrel" ] || { echo "build first: cmake -S . -B build && cmake --build build -j2" >&2; exit 2; }

# A tree of files in folders of about 100, a fifth of them deleted afterwards.
make_tree() {  # make_tree DIR COUNT
  python3 - "$1" "$2" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    d = os.path.join(root, "d%04d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%06d.txt" % i), "wb") as f:
        f.write((b"%08d " % i) * (1 + (i * 37) % 600))
PY
}

ntfs_img="$cache/ntfs_${ntfs_files}.img"
if [ ! -f "$ntfs_img" ]; then
  echo "building $ntfs_img (slow: ntfs-3g)"
  truncate -s 2G "$ntfs_img.tmp"
  mkntfs -F -Q -q "$ntfs_img.tmp" 2>/dev/null
  mnt=$(mktemp -d); src=$(mktemp -d)
  make_tree "$src" "$ntfs_files"
  ntfs-3g -o no_detach "$ntfs_img.tmp" "$mnt" & pid=$!
  for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
  cp -r "$src"/. "$mnt"/
  find "$mnt" -name 'f*[05].txt' -delete   # every fifth file
  umount "$mnt"; wait $pid || true
  rm -rf "$mnt" "$src"
  mv "$ntfs_img.tmp" "$ntfs_img"
fi

fat_img="$cache/fat32_${fat_files}.img"
if [ ! -f "$fat_img" ]; then
  echo "building $fat_img (mtools)"
  truncate -s 1G "$fat_img.tmp"
  mkfs.fat -F 32 "$fat_img.tmp" >/dev/null
  src=$(mktemp -d)
  make_tree "$src" "$fat_files"
  export MTOOLS_SKIP_CHECK=1
  mcopy -s -i "$fat_img.tmp" "$src"/* ::/
  for d in "$src"/*; do
    base=$(basename "$d")
    (cd "$d" && ls f*[05].txt 2>/dev/null) | sed "s|^|::/$base/|" | xargs -r mdel -i "$fat_img.tmp"
  done
  rm -rf "$src"
  mv "$fat_img.tmp" "$fat_img"
fi

exfat_img="$cache/exfat_${exfat_files}.img"
if [ ! -f "$exfat_img" ]; then
  echo "building $exfat_img (slow: exfat-fuse)"
  truncate -s 1G "$exfat_img.tmp"
  # mkfs.exfat takes its sector size from a device, and exfat-fuse run as
  # root mounts block devices only.
  loop=$(losetup -f --show "$exfat_img.tmp")
  mkfs.exfat -c 4096 "$loop" >/dev/null   # small files: small clusters
  mnt=$(mktemp -d); src=$(mktemp -d)
  make_tree "$src" "$exfat_files"
  mount.exfat-fuse -o no_detach "$loop" "$mnt" >/dev/null 2>&1 & pid=$!
  for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
  cp -r "$src"/. "$mnt"/
  find "$mnt" -name 'f*[05].txt' -delete   # every fifth file
  umount "$mnt"; wait $pid || true
  losetup -d "$loop"
  rm -rf "$mnt" "$src"
  mv "$exfat_img.tmp" "$exfat_img"
fi

# One large contiguous deleted file, for the copy speed against dd.
large_mib=${LARGE_MIB:-512}
large_img="$cache/ntfs_large_${large_mib}.img"
if [ ! -f "$large_img" ]; then
  echo "building $large_img"
  truncate -s $((large_mib * 2))M "$large_img.tmp"
  mkntfs -F -Q -q "$large_img.tmp" 2>/dev/null
  mnt=$(mktemp -d)
  ntfs-3g -o no_detach "$large_img.tmp" "$mnt" & pid=$!
  for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
  head -c $((large_mib * 1048576)) /dev/urandom > "$mnt/large.bin"
  rm "$mnt/large.bin"
  umount "$mnt"; wait $pid || true
  rmdir "$mnt"
  mv "$large_img.tmp" "$large_img"
fi
[ -z "${BENCH_IMAGES_ONLY:-}" ] || exit 0

# Output on a memory file system where there is one: every tool creates
# the same files, and on a disk the file system's cost of creating tens of
# thousands of files would swamp what the tools themselves do.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d -p /dev/shm); else out=$(mktemp -d); fi
trap 'rm -rf "$out"' EXIT
# The size of the $MFT's data, the floor for reading it.
mft_bytes=$(istat "$ntfs_img" 0 | awk '/\$DATA/ && /size:/ && !found {for (i = 1; i <= NF; i++) if ($i == "size:") {print $(i + 1); found = 1; break}}')
[ -n "$mft_bytes" ] || mft_bytes=$((ntfs_files * 1024 * 2))

bench() {  # bench NAME IMAGE KIND
  local name=$1 img=$2
  cat "$img" > /dev/null   # warm the page cache
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$out/$name.json" \
    -n "kestrel scan" "$kestrel scan $img" \
    "${@:3}"
}

echo "== NTFS ($ntfs_files files)"
bench ntfs "$ntfs_img" \
  -n "ntfsundelete -s" "ntfsundelete -f -s $ntfs_img" \
  -n "fls -r -d -p" "fls -r -d -p $ntfs_img" \
  -n "dd MFT-sized" "dd if=$ntfs_img of=/dev/null bs=1M count=$(( (mft_bytes + 1048575) / 1048576 ))"
# The floor for writing the same files: copying an already recovered tree
# creates every file and folder and writes every byte, and reads nothing
# from an image.
"$kestrel" recover "$ntfs_img" --to "$out/tree" --all >/dev/null
hyperfine -N --runs "$runs" --export-json "$out/ntfs_recover.json" \
  --prepare "sh -c 'rm -rf $out/r1 $out/r2 $out/r3 $out/r5 && mkdir -p $out/r2'" \
  -n "kestrel recover --all" "$kestrel recover $ntfs_img --to $out/r1 --all" \
  -n "ntfsundelete -u -m '*'" "ntfsundelete -f -u -m '*' -d $out/r2 $ntfs_img" \
  -n "tsk_recover" "tsk_recover $ntfs_img $out/r3" \
  -n "cp -r of the recovered files (write floor)" "cp -r $out/tree $out/r5"
rm -rf "$out/tree"

echo "== one large file ($large_mib MiB)"
cat "$large_img" > /dev/null
hyperfine -N --runs "$runs" --export-json "$out/large.json" \
  --prepare "rm -rf $out/r4 $out/large.copy" \
  -n "kestrel recover --all" "$kestrel recover $large_img --to $out/r4 --all" \
  -n "dd same bytes" "dd if=$large_img of=/dev/null bs=1M count=$large_mib" \
  -n "dd same bytes to a file (write floor)" "dd if=$large_img of=$out/large.copy bs=1M count=$large_mib"

echo "== FAT32 ($fat_files files)"
bench fat "$fat_img" \
  -n "fls -r -d -p" "fls -r -d -p $fat_img" \
  -n "dd image" "dd if=$fat_img of=/dev/null bs=1M"
hyperfine -N --runs "$runs" --export-json "$out/fat_recover.json" \
  --prepare "rm -rf $out/r1 $out/r3" \
  -n "kestrel recover --all" "$kestrel recover $fat_img --to $out/r1 --all" \
  -n "tsk_recover" "tsk_recover $fat_img $out/r3"

echo "== exFAT ($exfat_files files)"
bench exfat "$exfat_img" \
  -n "fls -r -d -p" "fls -r -d -p $exfat_img" \
  -n "dd image" "dd if=$exfat_img of=/dev/null bs=1M"
hyperfine -N --runs "$runs" --export-json "$out/exfat_recover.json" \
  --prepare "rm -rf $out/r1 $out/r3" \
  -n "kestrel recover --all" "$kestrel recover $exfat_img --to $out/r1 --all" \
  -n "tsk_recover" "tsk_recover $exfat_img $out/r3"

python3 - "$out" "$root/bench/RESULTS.md" "$ntfs_files" "$fat_files" "$exfat_files" <<'PY'
import json, os, platform, subprocess, sys, datetime
out, dest, nf, ff, ef = sys.argv[1:6]
def table(name, title):
    rows = json.load(open(os.path.join(out, name + ".json")))["results"]
    ours = next(r["median"] for r in rows if r["command"].startswith("kestrel"))
    lines = ["### " + title, "", "| command | median (s) | ratio to kestrel |", "|---|---:|---:|"]
    for r in rows:
        lines.append("| %s | %.4f | %.1fx |" % (r["command"], r["median"], r["median"] / ours))
    return "\n".join(lines) + "\n"
cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                     capture_output=True, text=True).stdout.strip()
text = ["# Benchmark results", "",
        "Run by hand with `bash bench/run.sh` on %s, %s (%d cores), %s." % (
            datetime.date.today(), cpu, os.cpu_count(), platform.platform()),
        "Warm page cache; medians of hyperfine runs; ratio > 1 means slower than kestrel.", "",
        table("ntfs", "NTFS scan, %s files, 20%% deleted" % nf),
        table("ntfs_recover", "NTFS recover every deleted file"),
        table("large", "One large contiguous file (%s MiB): recover against dd of the same bytes" % os.environ.get("LARGE_MIB", "512")),
        table("fat", "FAT32 scan, %s files, 20%% deleted" % ff),
        table("fat_recover", "FAT32 recover every deleted file"),
        table("exfat", "exFAT scan, %s files, 20%% deleted" % ef),
        table("exfat_recover", "exFAT recover every deleted file")]
open(dest, "w").write("\n".join(text))
print("\n".join(text))
PY
