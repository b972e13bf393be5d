#!/usr/bin/env bash
# A small (16 MiB) FAT16 volume for the desktop program's GUI test: a few folders,
# some files deleted with mdel (their 0xE5 entries stay for the scan); and
# beside it an empty 8 MiB NTFS volume, restorix_gui_ntfs.img, for the
# partition list.
# Usage: make_gui_image.sh OUTDIR  ->  OUTDIR/restorix_gui.img (printed)
set -euo pipefail
out=${1:?usage: make_gui_image.sh OUTDIR}
export MTOOLS_SKIP_CHECK=1
mkdir -p "$out"
img="$out/restorix_gui.img"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -f "$img"
mkfs.fat -C -F 16 -n RESTORIXGUI "$img" 16384 >/dev/null
printf 'quarterly report\r\n' > "$tmp/report.txt"
head -c 3000 /dev/zero | tr '\0' 'a' > "$tmp/old.txt"
head -c 70000 /dev/zero | tr '\0' 'p' > "$tmp/cat.jpg"
printf 'top level\n' > "$tmp/top.txt"
mmd -i "$img" ::/Docs ::/Photos ::/Photos/2011
mcopy -i "$img" "$tmp/report.txt" "$tmp/old.txt" ::/Docs/
mcopy -i "$img" "$tmp/cat.jpg" ::/Photos/2011/
mcopy -i "$img" "$tmp/top.txt" ::/
mdel -i "$img" ::/Docs/old.txt ::/Photos/2011/cat.jpg ::/top.txt
ntfs="$out/restorix_gui_ntfs.img"
rm -f "$ntfs"
truncate -s 8M "$ntfs"
mkntfs -F -Q -q -s 512 -p 0 -H 0 -S 0 -L RESTORIXNTFS "$ntfs" >/dev/null 2>&1
echo "$img"
