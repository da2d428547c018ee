#!/usr/bin/env bash
# Runs the Windows tests of a cross build (make test-windows) under Wine on a
# private Xvfb:  run-tests.sh BUILD_DIR
# The desktop: one 960x480 X screen split into two monitors, 640x480 at the
# origin and 320x240 beside it, so part of the screen lies on no monitor.
# Wine reads such a layout through Xinerama only (its XRandR path sees one
# monitor), hence UseXRandR=N in the prefix. One wineserver stays up for the
# whole run; the prefix lives in the build folder and is made once.
set -u
build=$(cd "$1" && pwd)

tmp=$(mktemp -d)
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
mkfifo "$tmp/fd"
Xvfb -displayfd 3 -screen 0 960x480x24 -noreset -nolisten tcp +extension RANDR 3>"$tmp/fd" 2>"$tmp/xvfb.log" &
xvfb=$!
read -r -t 20 display < "$tmp/fd" || { echo "Xvfb did not start:"; cat "$tmp/xvfb.log"; exit 1; }
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
xrandr --setmonitor first 640/640x480/480+0+0 screen >/dev/null
xrandr --setmonitor second 320/320x240/240+640+0 none >/dev/null

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no offer to download Mono or Gecko
if [ ! -f "$WINEPREFIX/.huelens-ready-2" ]; then
  echo "Making a Wine prefix in $WINEPREFIX (takes a few seconds)"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f >/dev/null 2>&1
  # A crash prints its backtrace and ends; no dialog waits for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.huelens-ready-2"
fi
wineserver -p
cd "$build" && ctest --output-on-failure "${@:2}"
