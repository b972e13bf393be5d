#!/usr/bin/env bash
# Opens Restorix's main window under Wine on a virtual display, with
# the GUI test images mapped to R: (FAT) and N: (NTFS), shows every page it
# can reach and the scan dialog over the device page, and saves
# a PNG of each into BUILD/screenshots/ (for people to look at).
#
#   scripts/screenshots.sh [BUILD_DIR]        default: build-win
#
# Needs the Windows build (restorix_gui_test.exe, Kestrel.dll, SKIN\ in
# BUILD/bin), wine, xvfb-run, imagemagick's import, mtools and dosfstools.
# Uses $WINEPREFIX, into which it links the CJK font for Chinese text.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-win}" && pwd)
bin=$build/bin
out=$build/screenshots

if [ -z "${RESTORIX_SCREENSHOT_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" env RESTORIX_SCREENSHOT_DISPLAY=1 "$0" "$build"
fi

[ -f "$bin/restorix_gui_test.exe" ] || { echo "no $bin/restorix_gui_test.exe: build it first" >&2; exit 2; }
mkdir -p "$out"
rm -f "$out"/*.ready "$out"/*.done
image=$(bash "$root/tests/app/make_gui_image.sh" "$build/restorix_gui_image")
windir="Z:$(printf '%s' "$out" | tr '/' '\\')"

export WINEDEBUG=${WINEDEBUG:--all}
# Chinese text needs a CJK font linked behind the dialog fonts
# (fonts-wqy-microhei); the links are harmless when already there.
for face in Tahoma "MS Shell Dlg" "Microsoft Sans Serif" Arial; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
    /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
done
# The list header asks for the face "Arail", which no system has: let it
# fall back to a face with those links, as a Chinese Windows would.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v Arail \
  /t REG_SZ /d Tahoma /f >/dev/null 2>&1 || true
# A Wine virtual desktop draws the frames of the about box and the message
# boxes, which a bare X display without a window manager would leave off.
RESTORIX_GUI_IMAGE=$image wine explorer /desktop=restorix-shots,1280x1024 \
  "$bin/restorix_gui_test.exe" --showcase "$windir" &
app=$!

# The program writes NAME.ready when a page is on screen and waits for
# NAME.done before it moves on.
deadline=$((SECONDS + 180))
while kill -0 "$app" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
  for ready in "$out"/*.ready; do
    [ -e "$ready" ] || continue
    name=$(basename "$ready" .ready)
    [ -e "$out/$name.done" ] && continue
    # NAME.ready holds the window's width, height, left and top.
    read -r w h x y < "$ready" || true
    if [ -n "${y:-}" ]; then
      import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
    else
      import -window root "$out/$name.png"
    fi
    echo "saved $out/$name.png"
    touch "$out/$name.done"
  done
  sleep 0.2
done
wait "$app" || true
rm -f "$out"/*.ready "$out"/*.done
