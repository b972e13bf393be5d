#!/usr/bin/env bash
# Shared by the FAT image builders (tests/fixtures/make_fat*.sh): writes a
# set of files and folders into a FAT volume with mtools, deletes a chosen
# part of it, and records every file a deleted-entry scan must list in the
# manifest. Sourced after lib.sh.
#
# fat_populate VOLUME MANIFEST WORKDIR
#   VOLUME is an mtools image spec ("img" or "img@@offset").
# Times are written as UTC (TZ=UTC), so the DOS time on disk reads as the
# same calendar time as the manifest's Unix seconds.

export TZ=UTC

# fat_put VOLUME LOCAL DEST MTIME: copy a file in with its modification time.
fat_put() {
  touch -d "@$4" "$2"
  mcopy -m -o -i "$1" "$2" "::$3"
}

fat_populate() {
  local vol=$1 manifest=$2 work=$3
  local t=1600000000  # 2020-09-13 12:26:40 UTC, an even second
  mkdir -p "$work"

  # A live file of several clusters first, so the FAT holds a real chain in
  # its first entries and directory chains are followed through it.
  make_content "$work/keep_big.bin" 20000 keep-big
  fat_put "$vol" "$work/keep_big.bin" "keep_big.bin" $t

  # Root: long names (ASCII, Chinese, accented), a short name only, a name
  # without extension, an empty file, a file of many clusters.
  make_content "$work/root_plain.txt" 1000 root-plain
  fat_put "$vol" "$work/root_plain.txt" "Deleted Root File.txt" $((t + 2))
  make_content "$work/cn.txt" 777 chinese
  fat_put "$vol" "$work/cn.txt" "中文文件名.txt" $((t + 4))
  make_content "$work/acc.txt" 4097 accented
  fat_put "$vol" "$work/acc.txt" "café résumé.txt" $((t + 6))
  make_content "$work/REPORT.TXT" 513 report
  fat_put "$vol" "$work/REPORT.TXT" "REPORT.TXT" $((t + 8))
  make_content "$work/FOO" 64 foo
  fat_put "$vol" "$work/FOO" "FOO" $((t + 10))
  : > "$work/empty.dat"
  fat_put "$vol" "$work/empty.dat" "Empty File.dat" $((t + 12))
  make_content "$work/big.bin" 150000 big
  fat_put "$vol" "$work/big.bin" "Big Data.bin" $((t + 14))
  make_content "$work/keep.txt" 300 keep
  fat_put "$vol" "$work/keep.txt" "keep.txt" $((t + 16))

  # A live folder with a live subfolder.
  mmd -i "$vol" ::docs ::docs/sub
  make_content "$work/a.txt" 2500 docs-a
  fat_put "$vol" "$work/a.txt" "docs/a.txt" $((t + 20))
  make_content "$work/stay.txt" 100 docs-stay
  fat_put "$vol" "$work/stay.txt" "docs/stay.txt" $((t + 22))
  make_content "$work/deep.txt" 1234 docs-deep
  fat_put "$vol" "$work/deep.txt" "docs/sub/deep file.txt" $((t + 24))

  # A folder deleted with its contents.
  mmd -i "$vol" "::Gone Folder" "::Gone Folder/Nested Dir"
  make_content "$work/inner.txt" 3000 gone-inner
  fat_put "$vol" "$work/inner.txt" "Gone Folder/Inner File.txt" $((t + 30))
  make_content "$work/x.txt" 10 gone-x
  fat_put "$vol" "$work/x.txt" "Gone Folder/Nested Dir/x.txt" $((t + 32))

  # A deleted folder whose directory spans several clusters: many empty
  # files first (no data clusters, so the directory's clusters follow one
  # another), then one with data.
  mmd -i "$vol" "::Many Files"
  : > "$work/e.dat"
  local i
  for i in $(seq -w 1 40); do
    fat_put "$vol" "$work/e.dat" "Many Files/empty entry number $i.dat" $((t + 40))
  done
  make_content "$work/last.txt" 700 many-last
  fat_put "$vol" "$work/last.txt" "Many Files/the last one.txt" $((t + 42))

  # A folder whose own entry is marked deleted while its contents stay
  # live: files in its subfolders are listed, its direct files are not.
  mmd -i "$vol" ::GHOST "::GHOST/b sub"
  make_content "$work/direct.txt" 50 ghost-direct
  fat_put "$vol" "$work/direct.txt" "GHOST/direct.txt" $((t + 50))
  make_content "$work/live.txt" 600 ghost-live
  fat_put "$vol" "$work/live.txt" "GHOST/b sub/Live One.txt" $((t + 52))

  # Delete, and record what the scan must find.
  mdel -i "$vol" "::Deleted Root File.txt" "::中文文件名.txt" "::café résumé.txt" \
    ::REPORT.TXT ::FOO "::Empty File.dat" "::Big Data.bin" ::docs/a.txt "::docs/sub/deep file.txt"
  mdeltree -i "$vol" "::Gone Folder" "::Many Files"
  manifest_add "$manifest" "Deleted Root File.txt" "$work/root_plain.txt" $((t + 2))
  manifest_add "$manifest" "中文文件名.txt" "$work/cn.txt" $((t + 4))
  manifest_add "$manifest" "café résumé.txt" "$work/acc.txt" $((t + 6))
  # Short names only (REPORT.TXT, FOO, a.txt and x.txt have no long-name
  # entries): the deleted entry has lost its first character. Names stored
  # in upper case with the lower-case flags (a.txt, docs, sub) are shown in
  # lower case, as Windows shows them. The folder GHOST is listed by its
  # deleted entry.
  manifest_add "$manifest" "_EPORT.TXT" "$work/REPORT.TXT" $((t + 8))
  manifest_add "$manifest" "_OO" "$work/FOO" $((t + 10))
  manifest_add "$manifest" "Empty File.dat" "$work/empty.dat" $((t + 12))
  manifest_add "$manifest" "Big Data.bin" "$work/big.bin" $((t + 14))
  manifest_add "$manifest" "docs/_.txt" "$work/a.txt" $((t + 20))
  manifest_add "$manifest" "docs/sub/deep file.txt" "$work/deep.txt" $((t + 24))
  manifest_add "$manifest" "Gone Folder/Inner File.txt" "$work/inner.txt" $((t + 30))
  manifest_add "$manifest" "Gone Folder/Nested Dir/_.txt" "$work/x.txt" $((t + 32))
  for i in $(seq -w 1 40); do
    manifest_add "$manifest" "Many Files/empty entry number $i.dat" "$work/e.dat" $((t + 40))
  done
  manifest_add "$manifest" "Many Files/the last one.txt" "$work/last.txt" $((t + 42))
  manifest_add "$manifest" "_HOST/b sub/Live One.txt" "$work/live.txt" $((t + 52))
}

# fat_mark_root_entry_deleted IMAGE BYTE-OFFSET NAME11: sets the first byte
# of the root directory's short entry NAME11 to 0xE5 (mtools cannot delete
# a folder entry and leave its contents).
fat_mark_root_entry_deleted() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
path, base, name = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
with open(path, "r+b") as f:
    f.seek(base)
    bs = f.read(512)
    bps, spc, res, nfat, rootent, tot16, spf16 = struct.unpack_from("<HBHBHHxH", bs, 11)
    spf = spf16 or struct.unpack_from("<I", bs, 0x24)[0]
    tot = tot16 or struct.unpack_from("<I", bs, 0x20)[0]
    rootsec = (rootent * 32 + bps - 1) // bps
    first_data = res + nfat * spf + rootsec
    clusters = (tot - first_data) // spc
    runs = []  # (first sector, sector count) of the root directory
    if clusters >= 65525:
        c = struct.unpack_from("<I", bs, 0x2C)[0]
        while 2 <= c < 0x0FFFFFF8 and len(runs) < 4096:
            runs.append((first_data + (c - 2) * spc, spc))
            f.seek(base + res * bps + c * 4)
            c = struct.unpack("<I", f.read(4))[0] & 0x0FFFFFFF
    else:
        runs.append((res + nfat * spf, rootsec))
    for start, length in runs:
        f.seek(base + start * bps)
        data = f.read(length * bps)
        for off in range(0, len(data), 32):
            if data[off:off + 11] == name and data[off + 11] & 0x10:
                f.seek(base + start * bps + off)
                f.write(b"\xe5")
                sys.exit(0)
    sys.exit("entry not found: " + name.decode())
PY
}
