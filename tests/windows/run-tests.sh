#!/usr/bin/env bash
# make test-windows, after scripts/build-windows.sh --tests:
#   run-tests.sh WINDOWS_BUILD LINUX_BUILD
# Runs under Wine 8, each part on a private Xvfb, with one wineserver per
# part and a Wine prefix made once in the build folder:
#   1. ctest in WINDOWS_BUILD: the unit tests (Qt's offscreen platform) and
#      the back-end's own test, on one 960x480 X screen split into two
#      monitors, 640x480 at the origin and 320x240 beside it, so part of the
#      screen lies on no monitor (Wine reads such a layout through Xinerama
#      only, hence UseXRandR=N in the prefix);
#   2. the installer, the installed program driven as a user would, and the
#      uninstaller, on Wine's own desktop of 1280x800 (test-installed.sh);
#   3. the renderer's pictures against the Linux renderer's (compare-render.sh).
# Says how long each part took. HUELENS_WINDOWS_TESTS="unit installed pictures"
# (the default) names the parts to run.
set -u
build=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$(sed -n 's/^project(Huelens VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup="$root/dist/huelens-$version-setup.exe"
zip="$root/dist/huelens-$version-windows-x64.zip"

tmp=$(mktemp -d)
xvfb=""
stop_display() {
  [ -n "${WINEPREFIX:-}" ] && timeout 20 wineserver -k 2>/dev/null
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  xvfb=""
}
trap 'stop_display; rm -rf "$tmp"' EXIT

# start_display WIDTHxHEIGHT: a private Xvfb, DISPLAY pointing at it.
start_display() {
  rm -f "$tmp/fd"
  mkfifo "$tmp/fd"
  Xvfb -displayfd 3 -screen 0 "$1x24" -noreset -nolisten tcp +extension RANDR 3>"$tmp/fd" 2>"$tmp/xvfb.log" &
  xvfb=$!
  local display
  read -r -t 20 display <"$tmp/fd" || { echo "Xvfb did not start:"; cat "$tmp/xvfb.log"; exit 1; }
  export DISPLAY=":$display"
}
unset WAYLAND_DISPLAY

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no offer to download Mono or Gecko
wine_desktop() { # on|off: Wine's own desktop for every program, or none
  if [ "$1" = on ]; then
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1280x800 /f >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
  fi
}

started=$SECONDS
start_display 960x480
xrandr --setmonitor first 640/640x480/480+0+0 screen >/dev/null
xrandr --setmonitor second 320/320x240/240+640+0 none >/dev/null
if [ ! -f "$WINEPREFIX/.huelens-ready-3" ]; then
  echo "Making a Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  timeout 180 wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f >/dev/null 2>&1
  # A crash prints its backtrace and ends; no dialog waits for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  timeout 60 wineserver -w
  touch "$WINEPREFIX/.huelens-ready-3"
fi
wine_desktop off
wineserver -p
echo "run-tests: Wine ready in $((SECONDS - started)) s"

parts=" ${HUELENS_WINDOWS_TESTS:-unit installed pictures} "
results=()
if [[ $parts == *" unit "* ]]; then
  part=$SECONDS
  (cd "$build" && ctest --output-on-failure -j"${JOBS:-$(nproc)}")
  results+=("unit and back-end tests: status $? in $((SECONDS - part)) s")
fi

if [[ $parts == *" installed "* ]]; then
  part=$SECONDS
  stop_display
  start_display 1280x800
  wine_desktop on
  wineserver -p
  bash "$here/test-installed.sh" "$build" "$linux" "$setup" "$zip"
  results+=("installed program: status $? in $((SECONDS - part)) s")
  wine_desktop off
fi

if [[ $parts == *" pictures "* ]]; then
  part=$SECONDS
  bash "$here/compare-render.sh" "$build" "$linux"
  results+=("pictures against Linux: status $? in $((SECONDS - part)) s")
fi

echo "run-tests: in $((SECONDS - started)) s:"
status=0
for r in "${results[@]}"; do
  echo "  $r"
  case "$r" in *"status 0 "*) ;; *) status=1 ;; esac
done
exit "$status"
