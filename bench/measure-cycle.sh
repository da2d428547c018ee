#!/usr/bin/env bash
# make measure: what the real program costs while it captures, on a private
# X server (Xvfb, 2000 x 900, split into a 1600 x 900 monitor that is
# captured, like an editor's, and a strip beside it where the window sits)
# under openbox.
#
#   bench/measure-cycle.sh BUILD_DIR
#
# For each window size in HUELENS_MEASURE_SIZES (default "400 600"):
# 1. A video plays over the whole captured monitor: every pixel of it changes
#    25 times a second (huelens-bench-painter's video, a photograph that
#    turns and shifts its hues) for SECONDS seconds (default 20): the
#    program's processor share, from the threads' schedstat, as a percentage
#    of one core.
# 2. Where perf can record the program (linux-perf, and root or a
#    perf_event_paranoid that allows it), where that share goes: perf record
#    for PERF_SECONDS more seconds (default 10; HUELENS_MEASURE_PERF=0 skips
#    it), by library and by function. Not counted in the shares.
# 3. The same with a test pattern (ffmpeg's testsrc2, 1400 x 800) playing
#    at the monitor's top left, the rest of it a photograph; with a screen
#    that changes 25 times a second the way an editor's does while someone
#    paints (a small square moving over a photograph); and with a screen
#    that does not change.
# 4. Where strace can attach, the system calls a cycle of the unchanged
#    screen makes (HUELENS_MEASURE_STRACE=0 skips it).
# 5. Resident memory (VmRSS) after the warm-up and after both runs; at the
#    end, bench_cycle_x11's residentGrowth: 10,000 cycles of the same window.
# 6. What being woken 25 times a second costs here, the least an unchanged
#    screen can cost: the share of huelens-bench-idle, a Qt window of the
#    same width whose only work is a 40 ms timer.
#
# The program runs as a user starts it, with a fresh settings folder holding
# only the window size, the vectorscope shown (the default) and capturing
# started with a click on the toolbar's start button; the pointer rests over
# the captured monitor.
set -euo pipefail

build=$(cd "${1:-build}" && pwd) # the program is started from another folder
here=$(cd "$(dirname "$0")" && pwd)
seconds=${HUELENS_MEASURE_SECONDS:-20}
photo=${HUELENS_BENCH_PHOTO:-/usr/share/doc/opencv-doc/examples/data/baboon.jpg}
video_photo=${HUELENS_BENCH_TURNING_PHOTO:-/usr/share/doc/opencv-doc/examples/data/fruits.jpg}

if [ "${2:-}" != --inside ]; then
  exec "$here/../tests/with-xvfb.sh" -s 2000x900 "$0" "$build" --inside
fi

program=$build/huelens
painter=$build/bench/huelens-bench-painter
waker=$build/bench/huelens-bench-idle
for tool in "$program" "$painter" "$waker" xdotool xrandr ffmpeg; do
  command -v "$tool" >/dev/null || { echo "measure-cycle: $tool is missing" >&2; exit 1; }
done

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# A window manager, as on any desktop: it names the window in front.
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi

xrandr --setmonitor measure-editor 1600/423x900/238+0+0 none >/dev/null
xrandr --setmonitor measure-side 400/106x900/238+1600+0 screen >/dev/null

# Processor time of every thread of process $1, in nanoseconds: schedstat
# counts exactly, where /proc/PID/stat counts in ticks of 10 ms, which is a
# tenth of a percent over 10 s.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%.0f", sum }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# Processor share of process $1 over $2 seconds, in percent of one core.
share() {
  local before after
  before=$(cpu_ns "$1")
  sleep "$2"
  after=$(cpu_ns "$1")
  awk -v b="$before" -v a="$after" -v s="$2" 'BEGIN { printf "%.2f", (a - b) / 1e9 / s * 100 }'
}

perf_seconds=${HUELENS_MEASURE_PERF_SECONDS:-10}
use_perf=${HUELENS_MEASURE_PERF:-1}
if [ "$use_perf" != 0 ] && ! command -v perf >/dev/null; then
  echo "measure-cycle: no perf (Debian: linux-perf), so no breakdown"
  use_perf=0
fi

# Where process $1's time goes over $2 seconds: by library, then the
# functions above half a percent.
breakdown() {
  local data=$tmp/perf.data
  if ! perf record -q -g -F 1999 -o "$data" -p "$1" -- sleep "$2" >"$tmp/perf.log" 2>&1; then
    echo "  (perf cannot record here: $(head -1 "$tmp/perf.log"); no breakdown)"
    return
  fi
  echo "  by library (self time, % of the program's samples):"
  perf report -q -i "$data" --no-children --sort dso --percent-limit 1 -g none 2>/dev/null \
    | awk 'NF { printf "    %7s  %s\n", $1, $2 }'
  echo "  by function (self time, % of the program's samples):"
  perf report -q -i "$data" --no-children --sort dso,sym --percent-limit 0.5 -g none 2>/dev/null \
    | awk 'NF && $1 ~ /%$/ { $3 = ""; printf "    %7s  %s\n", $1, substr($0, index($0, $4)) }' | head -40
  rm -f "$data"
}

# The screen the next scene captures: the painter that paints it (none: the
# screen stays as the last one left it) in place of the last one.
painting=
paint() {
  if [ -n "$painting" ]; then
    kill "$painting" 2>/dev/null || true
    wait "$painting" 2>/dev/null || true
    painting=
  fi
  if [ $# -gt 0 ]; then
    "$painter" "$@" &
    painting=$!
    pids+=("$painting")
  fi
  sleep 2
}

# One scene: the program's share, and where it goes.
scene() { # label, what perf's line calls it
  local used
  used=$(share "$huelens" "$seconds")
  printf '%-48s %s %% of one core\n' "$1:" "$used"
  if [ "$use_perf" != 0 ]; then
    echo "where it goes (perf, ${perf_seconds} s more of $2):"
    breakdown "$huelens" "$perf_seconds"
  fi
}

# A test pattern as a video player shows one: ffmpeg's testsrc2, 50 frames.
pattern=$tmp/pattern.raw
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=1400x800:rate=25 -frames:v 50 \
  -pix_fmt bgra -f rawvideo "$pattern"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Xvfb 2000 x 900; captured monitor 1600 x 900; vectorscope; ${seconds} s each"

for size in ${HUELENS_MEASURE_SIZES:-400 600}; do
  rm -rf "$tmp/data" "$tmp/work"
  mkdir -p "$tmp/data/huelens" "$tmp/work"
  printf '[General]\nwindow_size=%s\n' "$size" >"$tmp/data/huelens/config.ini"
  paint "$video_photo" 25 $((seconds + perf_seconds + 30)) video 1600 900
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
  width=$(xdotool getwindowgeometry "$window" | awk '/Geometry:/ { split($2, g, "x"); print g[1] }')

  echo
  echo "== window_size $size (window $width pixels wide)"
  scene "video, every pixel new 25 times a second" "the video"
  paint "$video_photo" 25 $((seconds + perf_seconds + 10)) video 1400 800 "$pattern"
  scene "test pattern 1400 x 800, new 25 times a second" "the test pattern"
  paint "$photo" 25 $((seconds + perf_seconds + 10))
  scene "screen changing 25 times a second" "the changing screen"
  paint
  scene "screen unchanged" "the unchanged screen"

  if [ "${HUELENS_MEASURE_STRACE:-1}" != 0 ] && command -v strace >/dev/null; then
    echo "system calls per cycle (strace, 4 s more of the unchanged screen, 100 cycles):"
    timeout -s INT 4 strace -c -f -p "$huelens" -o "$tmp/strace" >/dev/null 2>&1 || true
    awk '$NF ~ /^[a-z_0-9]+$/ && $4 ~ /^[0-9]+$/ && $NF != "total" { printf "    %7.2f  %s\n", $4 / 100, $NF }' "$tmp/strace" \
      | sort -rn | head -12
  fi

  rss_end=$(rss_kb "$huelens")
  echo "resident memory: ${rss_start} kB after warm-up, ${rss_end} kB at the end ($(( (rss_end - rss_start) )) kB)"
  kill "$huelens" 2>/dev/null || true
  wait "$huelens" 2>/dev/null || true

  QT_QPA_PLATFORM=xcb "$waker" "$width" &
  pids+=($!)
  woken=$!
  sleep 2
  echo "a window only woken every 40 ms:   $(share "$woken" "$seconds") % of one core"
  kill "$woken" 2>/dev/null || true
  wait "$woken" 2>/dev/null || true
done

if [ -x "$build/bench/bench_cycle_x11" ]; then
  echo
  echo "== Resident memory over 10,000 cycles (bench_cycle_x11, same window and X server)"
  "$build/bench/bench_cycle_x11" --benchmark_filter=residentGrowth 2>/dev/null | grep -E '^residentGrowth|Benchmark'
fi
