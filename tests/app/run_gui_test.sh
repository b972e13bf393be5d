#!/usr/bin/env bash
# Runs the GUI test program under Wine.
#   run_gui_test.sh PATH/restorix_gui_test.exe
#
# With DISPLAY set, the caller's Wine session is used as it is (its
# wineserver must have been started with that display). Without one (CI),
# the test gets a virtual display and a Wine prefix of its own,
# "$WINEPREFIX-gui": Wine shows windows only on the display its session
# started with, and a shared persistent session may have started with none.
set -euo pipefail
exe=${1:?usage: run_gui_test.sh restorix_gui_test.exe}
if [ -z "${DISPLAY:-}" ]; then
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-gui"
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$exe"
fi
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$exe"
