#!/usr/bin/env bash
# Builds the kestrel command-line tool, lists the deleted files of the bundled
# NTFS sample, recovers every one of them into ./RecoveryData, then lists
# what it wrote.
# Works from a clean clone on Debian; run as root so missing build tools
# (cmake, g++, make, the CLI11, nlohmann-json and zlib headers) can be installed with apt-get. The build folder is
# build/ in the clone unless KESTREL_BUILD_DIR names another.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTREL_BUILD_DIR:-$root/build}

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v gzip >/dev/null 2>&1 || missing+=(gzip)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/zlib.h ] || missing+=(zlib1g-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests need googletest's sources; the tool itself does not.
options=()
[ -d /usr/src/googletest/googletest ] || options+=(-DKESTREL_TESTS=OFF)
image=$(mktemp --suffix=.img)
log=$(mktemp)
trap 'rm -f "$image" "$log"' EXIT

echo "building kestrel in $build"
if ! { cmake -S "$root" -B "$build" "${options[@]}" &&
       cmake --build "$build" --target kestrel_cli -j"$(nproc)"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "build failed" >&2
  exit 1
fi
gzip -dc "$root/samples/sample_ntfs.img.gz" > "$image"

echo "kestrel scan samples/sample_ntfs.img.gz (unpacked): id, size, state, modified (UTC), path"
"$build/bin/kestrel" scan "$image"

echo "kestrel recover samples/sample_ntfs.img.gz (unpacked) --to ./RecoveryData --all"
status=0
"$build/bin/kestrel" recover "$image" --to ./RecoveryData --all || status=$?

echo "files in $(pwd)/RecoveryData (bytes, path):"
if [ -d ./RecoveryData ]; then
  find ./RecoveryData -type f -printf '%s\t%P\n' | LC_ALL=C sort -t$'\t' -k2
fi
exit $status
