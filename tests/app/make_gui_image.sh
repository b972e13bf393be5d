#!/usr/bin/env bash
# A small (16 MiB) FAT16 volume for the desktop program's GUI test: a few folders,
# some files deleted with mdel (their 0xE5 entries stay for the scan); and
# beside it an empty 8 MiB NTFS volume, restorix_gui_ntfs.img, for the
# partition list, a second FAT volume, restorix_gui_search.img, and the
# whole-disk image disk_gpt.img.
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
# restorix_gui_search.img (S:), for the search and preview pages: a
# two-line text, a 200 x 100 PNG (red over blue), 100 bytes 00..63, 20000
# bytes, a Chinese name, a name with two dots and one without a dot. Long
# names (mixed case, CJK), so that the deleted entries keep them whole; all
# copied before any delete, so that no new entry takes a deleted one's slot.
search="$out/restorix_gui_search.img"
rm -f "$search"
mkfs.fat -C -F 16 -n GUISEARCH "$search" 16384 >/dev/null
printf 'abc\r\ndef\n' > "$tmp/Lines.txt"
printf 'quarterly\r\n' > "$tmp/Report.TXT"
printf '年度报告\r\n' > "$tmp/报告.txt"
base64 -d > "$tmp/Picture.PNG" <<'PNG'
iVBORw0KGgoAAAANSUhEUgAAAMgAAABkCAIAAABM5OhcAAAAz0lEQVR42u3SMQ0AAAgEMeS8HPwHMVhgYGxSBZerSeBdSYCxMBbGAmNhLIwFxsJYGAuMhbEwFhgLY2EsMBbGwlhgLIyFscBYGAtjgbEwFsYCY2EsjAXGwlgYC4yFsTAWGAtjYSwwFsbCWGAsjIWxwFgYC2PBaaz0wDtjYSyMhbFUwFgYC2OBsTAWxgJjYSyMBcbCWBgLjIWxMBYYC2NhLDAWxsJYYCyMhbHAWBgLY4GxMBbGAmNhLIwFxsJYGAuMhbEwFhgLY2EsMBbGwlhwsryIrbD4J0N2AAAAAElFTkSuQmCC
PNG
printf "$(printf '\\x%02x' $(seq 0 99))" > "$tmp/Bytes100.bin"
head -c 20000 /dev/zero | tr '\0' 'z' > "$tmp/Big20000.bin"
printf 'not really gzip\n' > "$tmp/archive.tar.gz"
printf 'read me\n' > "$tmp/ReadMe"
export LC_ALL=C.UTF-8
mmd -i "$search" ::/Docs ::/Pictures ::/Data
mcopy -i "$search" "$tmp/Lines.txt" "$tmp/Report.TXT" "$tmp/报告.txt" ::/Docs/
mcopy -i "$search" "$tmp/Picture.PNG" ::/Pictures/
mcopy -i "$search" "$tmp/Bytes100.bin" "$tmp/Big20000.bin" ::/Data/
mcopy -i "$search" "$tmp/archive.tar.gz" "$tmp/ReadMe" ::/
mdel -i "$search" ::/Docs/Lines.txt ::/Docs/Report.TXT ::/Docs/报告.txt ::/Pictures/Picture.PNG \
  ::/Data/Bytes100.bin ::/Data/Big20000.bin ::/archive.tar.gz ::/ReadMe
ntfs="$out/restorix_gui_ntfs.img"
rm -f "$ntfs"
truncate -s 8M "$ntfs"
mkntfs -F -Q -q -s 512 -p 0 -H 0 -S 0 -L RESTORIXNTFS "$ntfs" >/dev/null 2>&1
# disk_gpt.img (a GPT disk with a FAT32 and an NTFS partition) and its
# manifests, for opening a disk image from the device page.
bash "$(dirname "$0")/../fixtures/make_disks.sh" "$out" >/dev/null
echo "$img"
