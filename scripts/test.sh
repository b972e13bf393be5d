#!/usr/bin/env bash
# Runs every test on a fresh Debian machine: installs what is missing, builds
# the native tree and the Windows tree, makes the test images with the real
# tools, runs the native tests, then the Windows tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}

packages=(cmake g++ make googletest libgtest-dev python3 g++-mingw-w64-x86-64-posix
          wine wine64 xvfb xauth dosfstools mtools ntfs-3g fdisk sleuthkit
          fonts-wqy-microhei imagemagick python3-pil libcli11-dev
          nlohmann-json3-dev exfatprogs exfat-fuse fuse3 e2fsprogs help2man
          testdisk ffmpeg python3-xlwt zlib1g-dev libz-mingw-w64-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
fixtures="$root/build/fixtures"

echo "== native tests"
(cd build && ctest --output-on-failure --timeout 1500)

echo "== native tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON \
      -DKESTREL_FIXTURE_DIR="$fixtures" >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure --timeout 1500)

echo "== Windows build"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DKESTREL_FIXTURE_DIR="$fixtures" >/dev/null
cmake --build build-win -j"$jobs"

echo "== Windows tests under Wine"
. scripts/wine-env.sh
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# A persistent wineserver keeps each test program's start quick.
(wineserver -p >/dev/null 2>&1 </dev/null &)
wine cmd /c exit 0 >/dev/null 2>&1 || true
cleanup() {
  bash "$root/scripts/wine-drives.sh" down || true
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
export KESTREL_WINE_DRIVES
KESTREL_WINE_DRIVES=$(bash scripts/wine-drives.sh up "$fixtures")
(cd build-win && ctest --output-on-failure --timeout 1500)
echo "== all tests passed"
