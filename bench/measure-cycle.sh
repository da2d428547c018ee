#!/usr/bin/env bash
# make measure: what the real program costs while it captures, on a private
# X server (Xvfb, 2000 x 900, split into a 1600 x 900 monitor that is
# captured, like an editor's, and a strip beside it where the window sits).
#
#   bench/measure-cycle.sh BUILD_DIR
#
# 1. The screen changes 25 times a second (huelens-bench-painter moves a
#    small square over a photograph) for SECONDS seconds (default 20): the
#    program's processor share, from utime + stime in /proc/PID/stat, as a
#    percentage of one core.
# 2. The same with a screen that does not change.
# 3. Resident memory (VmRSS) after the warm-up and after both runs, then
#    bench_cycle_x11's residentGrowth: 10,000 cycles of the same window.
#
# The program runs as a user starts it, with a fresh settings folder, the
# vectorscope shown (the default) and capturing started with a click on the
# toolbar's start button; the pointer rests over the captured monitor.
set -euo pipefail

build=$(cd "${1:-build}" && pwd) # the program is started from another folder
here=$(cd "$(dirname "$0")" && pwd)
seconds=${HUELENS_MEASURE_SECONDS:-20}
photo=${HUELENS_BENCH_PHOTO:-/usr/share/doc/opencv-doc/examples/data/baboon.jpg}

if [ "${2:-}" != --inside ]; then
  exec "$here/../tests/with-xvfb.sh" -s 2000x900 "$0" "$build" --inside
fi

program=$build/huelens
painter=$build/bench/huelens-bench-painter
for tool in "$program" "$painter" xdotool xrandr; do
  command -v "$tool" >/dev/null || { echo "measure-cycle: $tool is missing" >&2; exit 1; }
done

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

xrandr --setmonitor measure-editor 1600/423x900/238+0+0 none >/dev/null
xrandr --setmonitor measure-side 400/106x900/238+1600+0 screen >/dev/null

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# Processor share of process $1 over $2 seconds, in percent of one core.
share() {
  local before after
  before=$(cpu_ticks "$1")
  sleep "$2"
  after=$(cpu_ticks "$1")
  awk -v d=$((after - before)) -v t="$ticks" -v s="$2" 'BEGIN { printf "%.2f", d / t / s * 100 }'
}

mkdir -p "$tmp/data" "$tmp/work"
"$painter" "$photo" 25 $((3 * seconds + 30)) &
pids+=($!)
painting=$!
(cd "$tmp/work" && XDG_DATA_HOME="$tmp/data" QT_QPA_PLATFORM=xcb exec "$program") &
pids+=($!)
huelens=$!

window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Korvant Huelens 1\.0: ' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "measure-cycle: the program's window did not appear" >&2; exit 1; }
xdotool windowmove "$window" 1600 0
sleep 0.5
# The start button is the toolbar's first, at the window's top left corner.
xdotool mousemove --window "$window" 10 10 click 1
sleep 0.3
xdotool mousemove 800 450
sleep 2

idle=$(share "$huelens" 1)
if awk -v s="$idle" 'BEGIN { exit !(s < 0.5) }'; then
  echo "measure-cycle: the program hardly runs ($idle %); did the click start capturing?" >&2
fi
rss_start=$(rss_kb "$huelens")

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Xvfb 2000 x 900; captured monitor 1600 x 900; window 400 wide, vectorscope; ${seconds} s each"
changing=$(share "$huelens" "$seconds")
echo "screen changing 25 times a second: ${changing} % of one core"

kill "$painting" 2>/dev/null || true
wait "$painting" 2>/dev/null || true
sleep 1
unchanged=$(share "$huelens" "$seconds")
echo "screen unchanged:                  ${unchanged} % of one core"

rss_end=$(rss_kb "$huelens")
echo "resident memory: ${rss_start} kB after warm-up, ${rss_end} kB after $((2 * seconds)) s ($(( (rss_end - rss_start) )) kB)"

if [ -x "$build/bench/bench_cycle_x11" ]; then
  echo
  echo "== Resident memory over 10,000 cycles (bench_cycle_x11, same window and X server)"
  kill "$huelens" 2>/dev/null || true
  wait "$huelens" 2>/dev/null || true
  "$build/bench/bench_cycle_x11" --benchmark_filter=residentGrowth 2>/dev/null | grep -E '^residentGrowth|Benchmark'
fi
