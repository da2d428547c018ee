#!/usr/bin/env bash
# The program's processor share on the headless Wayland desktop while a
# terminal filling the output changes colour 25 times a second and the
# program captures the whole output (window 400 wide, vectorscope). With
# STACK_XWAYLAND=1 the window runs on XWayland, as it does by default where
# XWayland is there:
#   bench/measure-wayland.sh BUILD_DIR [WIDTHxHEIGHT] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build folder}" && pwd)
size=${2:-1280x720}
seconds=${3:-20}
STACK_OUTPUT=$size exec "$here/../tests/wayland/with-sway.sh" bash -c '
set -euo pipefail
build=$1 seconds=$2
work=$(mktemp -d)
trap "kill \$program \$keyboard \$painter 2>/dev/null; rm -rf $work" EXIT
program= keyboard= painter=
cd /
setpriv --reuid=65534 --regid=65534 --clear-groups foot --app-id=painter sh -c \
  "i=0; while :; do printf \"\\033]11;#%06x\\007\" \$(( (i * 40503) % 16777216 )); i=\$((i+1)); sleep 0.04; done" \
  >/dev/null 2>&1 &
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
ticks() { awk "{print \$14 + \$15}" /proc/$program/stat; }
t0=$(ticks); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); s1=$(date +%s.%N)
hz=$(getconf CLK_TCK)
echo "processor share of one core: $(echo "scale=2; 100 * ($t1 - $t0) / $hz / ($s1 - $s0)" | bc) %"
' measure "$build" "$seconds"
