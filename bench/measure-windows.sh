#!/usr/bin/env bash
# The refresh cycle of the Windows build under Wine, beside the same cycle on
# Linux (make bench-windows):
#   measure-windows.sh WINDOWS_BUILD LINUX_BENCH_BUILD [CYCLES]
# huelens-cycle-timer on the in-memory desktop times the program's own part
# of a cycle (the scripted screen's copy, the change test, the scope, the
# hand-over to the labels) on Linux and on Windows under Wine, on every
# vector path; huelens-cycle-timer-win32 times the cycle on Wine's desktop,
# and the capture alone, step by step. Wine's screen is 2000 x 900 on a
# private Xvfb, split into the 1600 x 900 monitor that is captured and a
# strip beside it where the window sits.
set -u
windows=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
cycles=${3:-200}
tmp=$(mktemp -d)
xvfb=""
cleanup() {
  timeout 20 wineserver -k 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
for program in "$windows/huelens-cycle-timer.exe" "$windows/huelens-cycle-timer-win32.exe" "$linux/bench/huelens-cycle-timer"; do
  [ -x "$program" ] || [ -f "$program" ] || { echo "measure-windows: $program is missing (make bench-windows builds it)"; exit 1; }
done

mkfifo "$tmp/fd"
Xvfb -displayfd 3 -screen 0 2000x900x24 -noreset -nolisten tcp +extension RANDR 3>"$tmp/fd" 2>"$tmp/xvfb.log" &
xvfb=$!
read -r -t 20 display <"$tmp/fd" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"
xrandr --setmonitor bench-editor 1600/423x900/238+0+0 screen >/dev/null
xrandr --setmonitor bench-side 400/106x900/238+1600+0 none >/dev/null
export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || { echo "measure-windows: no Wine prefix in $windows (make test-windows makes it)"; exit 1; }
wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
wineserver -p

paths="plain"
grep -q avx2 /proc/cpuinfo && paths="$paths avx2"
grep -q avx512f /proc/cpuinfo && paths="$paths avx512"
echo "== $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2), $(nproc) cores; $(wine --version)"
for path in $paths; do
  echo "== the program's own part, $path path: Linux"
  HUELENS_SCOPE_PATH=$path "$linux/bench/huelens-cycle-timer" "$cycles" | sed 's/^/   /'
  echo "== the program's own part, $path path: Windows build under Wine"
  HUELENS_SCOPE_PATH=$path "$windows/wine-test.sh" "$windows/huelens-cycle-timer.exe" "$cycles" 2>&1 | grep -v '^$' | sed 's/^/   /'
done
echo "== the whole cycle on Wine's desktop, and what GDI costs under Wine"
"$windows/wine-test.sh" "$windows/huelens-cycle-timer-win32.exe" "$cycles" 2>&1 | grep -v '^$' | sed 's/^/   /'
