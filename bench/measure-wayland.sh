#!/usr/bin/env bash
# The program's processor share on the headless Wayland desktop while a
# terminal filling the output changes colour 25 times a second and the
# program captures the whole output (window 400 wide, vectorscope). With
# STACK_XWAYLAND=1 the window runs on XWayland, as it does by default where
# XWayland is there. With HUELENS_MEASURE_SCREEN=still the terminal stays as
# it is and the desktop sends frames only where something was drawn, as real
# desktops do:
#   bench/measure-wayland.sh BUILD_DIR [WIDTHxHEIGHT] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build folder}" && pwd)
size=${2:-1280x720}
seconds=${3:-20}
painting='i=0; while :; do printf "\033]11;#%06x\007" $(( (i * 40503) % 16777216 )); i=$((i+1)); sleep 0.04; done'
damage=0
if [ "${HUELENS_MEASURE_SCREEN:-changing}" = still ]; then
  painting='sleep 3600'
  damage=1
fi
XDPW_SHIM_NO_DAMAGE=$((1 - damage)) STACK_OUTPUT=$size exec "$here/../tests/wayland/with-sway.sh" bash -c '
set -euo pipefail
build=$1 seconds=$2 painting=$3
work=$(mktemp -d)
trap "kill \$program \$keyboard \$painter 2>/dev/null; rm -rf $work" EXIT
program= keyboard= painter=
cd /
setpriv --reuid=65534 --regid=65534 --clear-groups foot --app-id=painter sh -c "$painting" >/dev/null 2>&1 &
painter=$!
wtype -s 3600000 & keyboard=$!
sleep 1
XDG_DATA_HOME=$work "$build/huelens" >/dev/null 2>&1 &
program=$!
sleep 2
for _ in 1 2 3 4 5; do
  swaymsg "[title=\"^Korvant Huelens\"] focus" >/dev/null || true; sleep 0.2; wtype -k space; sleep 2
  grep -q screencast_token "$work"/huelens/config.ini 2>/dev/null && break
done
sleep 3 # warm up
# Nanoseconds on a processor, summed over every thread of the program (the ticks
# of /proc/PID/stat are 10 ms, too coarse for a still screen).
ran() { cat /proc/$program/task/*/schedstat | awk "{n += \$1} END {printf \"%d\", n}"; }
t0=$(ran); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ran); s1=$(date +%s.%N)
echo "processor share of one core: $(echo "scale=2; 100 * ($t1 - $t0) / 1000000000 / ($s1 - $s0)" | bc) %"
' measure "$build" "$seconds" "$painting"
