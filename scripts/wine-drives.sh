#!/usr/bin/env bash
# Gives the Wine prefix real drive letters backed by read-only loop devices,
# the way a Windows machine sees a volume: "up FIXTUREDIR" links M: to the
# FAT16 test image and N: to the NTFS one and prints the
# KESTREL_WINE_DRIVES value for the tests; "down" removes them.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
dos="$WINEPREFIX/dosdevices"
state="$WINEPREFIX/kestrel-loops"

down() {
  if [ -f "$state" ]; then
    while read -r dev; do losetup -d "$dev" 2>/dev/null || true; done < "$state"
    rm -f "$state"
  fi
  rm -f "$dos/m:" "$dos/m::" "$dos/n:" "$dos/n::"
}

up() {
  local fixtures=$1
  down
  mkdir -p "$dos" "$WINEPREFIX/kestrel-empty"
  local spec=""
  for pair in m:fat16 n:ntfs; do
    local letter=${pair%%:*} image=${pair#*:}
    local dev
    dev=$(losetup -f --show -r "$fixtures/$image.img")
    echo "$dev" >> "$state"
    ln -sfn "$dev" "$dos/$letter::"
    ln -sfn "$WINEPREFIX/kestrel-empty" "$dos/$letter:"
    spec="$spec${spec:+;}${letter^^}=$image"
  done
  echo "$spec"
}

case ${1:-} in
  up) up "${2:?fixture folder}" ;;
  down) down ;;
  *) echo "usage: wine-drives.sh up FIXTUREDIR | down" >&2; exit 2 ;;
esac
