#!/usr/bin/env bash
# Rebuilds the bundled sample images and DELETED.txt from the fixture
# scripts. Run as root (the NTFS sample is filled through ntfs-3g/FUSE).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures=$here/../tests/fixtures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bash "$fixtures/make_sample_ntfs.sh" "$work"
bash "$fixtures/make_sample_fat32.sh" "$work"

{
  printf '# Files deleted on the bundled sample images, with their sha256.\n'
  printf '# Made by tests/fixtures/make_sample_ntfs.sh and make_sample_fat32.sh;\n'
  printf '# samples/make_samples.sh rebuilds the images and this list.\n'
  printf '# "kestrel recover IMAGE --to DIR --all" writes each file to DIR/Deleted/PATH.\n'
  printf '# image\tpath\tsize\tmodified (UTC)\tsha256\n'
  for name in sample_ntfs sample_fat32; do
    gzip -9 -n -c "$work/$name.img" > "$here/$name.img.gz"
    while IFS=$'\t' read -r path size mtime sum; do
      case $path in '#'*|'') continue ;; esac
      printf '%s\t%s\t%s\t%s\t%s\n' "$name.img.gz" "$path" "$size" \
        "$(date -u -d "@$mtime" '+%Y-%m-%d %H:%M:%S')" "$sum"
    done < "$work/$name.manifest"
  done
} > "$here/DELETED.txt"
ls -l "$here"/*.img.gz
