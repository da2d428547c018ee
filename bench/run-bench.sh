#!/usr/bin/env bash
# make bench: the scopes against ffmpeg's scope filters on the same frames,
# then every stage of the refresh cycle (Google Benchmark).
#
#   bench/run-bench.sh BUILD_DIR
#
# Frames: 500 frames of B, G, R, A bytes at 400 x 225 and at 600 x 338, made
# from a colour photograph with a small square that moves and changes colour
# in every frame, and from a second photograph that turns and shifts its hues
# from frame to frame, so that no two frames share their colours
# (bench/make_frames.cpp), kept in BUILD_DIR/bench-frames.
#
# The comparison: ffmpeg (-filter_threads 1) and `huelens-render --raw` each
# read the same frame file and analyse every frame as new, one process per
# run. A run's cost is its processor time (user + system, all threads) minus
# that of the same program reading the same frames without analysing them
# (ffmpeg -vf null, huelens-render mode none), divided by the frame count.
# So start-up and reading are left out on both sides, and ffmpeg's conversion
# from B, G, R, A into the planes its filters need is counted, as Huelens'
# own conversion is. Runs alternate between the two programs; the median of
# HUELENS_BENCH_RUNS runs (default 5) is reported.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
photo=${HUELENS_BENCH_PHOTO:-/usr/share/doc/opencv-doc/examples/data/baboon.jpg}
turning_photo=${HUELENS_BENCH_TURNING_PHOTO:-/usr/share/doc/opencv-doc/examples/data/fruits.jpg}
runs=${HUELENS_BENCH_RUNS:-5}
count=500
frames_dir=$build/bench-frames
render=$build/tools/huelens-render
make_frames=$build/bench/huelens-bench-frames

for tool in ffmpeg "$render" "$make_frames"; do
  command -v "$tool" >/dev/null || { echo "run-bench: $tool is missing (make bench builds it; ffmpeg comes with make deps)" >&2; exit 1; }
done

# Huelens' Waveform and Parade trace all three colour channels, so ffmpeg's
# waveform filter is asked for all three components of the picture in
# R, G, B planes (its default traces luma alone, a third of the work; that
# figure is printed too, for reference).
declare -A ffmpeg_chain=(
  [vectorscope]="format=yuv444p,vectorscope=mode=color3"
  [waveform]="format=gbrp,waveform=components=7"
  [parade]="format=gbrp,waveform=components=7:display=parade"
  [luma]="format=yuv444p,waveform"
  [none]="null"
)

# Processor seconds (user + system) of one command, its output discarded.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S' times
  times=$( { time "$@" >/dev/null 2>&1; } 2>&1 ) || { echo "run-bench: failed: $*" >&2; exit 1; }
  awk '{ printf "%.3f\n", $1 + $2 }' <<<"$times"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

mkdir -p "$frames_dir"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Photographs: $photo (a moving square), $turning_photo (turning, hues shifting); $count frames per size; median of $runs runs"
echo "ffmpeg: $(ffmpeg -hide_banner -version | head -1 | cut -d' ' -f1-3)"
echo

printf '%-9s %-9s %-12s %12s %12s %9s\n' frames size scope 'ffmpeg ms' 'huelens ms' ratio
for source in square turning; do
for size in 400x225 600x338; do
  width=${size%x*} height=${size#*x}
  if [ "$source" = square ]; then
    frames=$frames_dir/$(basename "${photo%.*}")-${size}-${count}.raw
    [ -s "$frames" ] || "$make_frames" "$photo" "$width" "$height" "$count" "$frames"
  else
    frames=$frames_dir/$(basename "${turning_photo%.*}")-turning-${size}-${count}.raw
    [ -s "$frames" ] || "$make_frames" --turning "$turning_photo" "$width" "$height" "$count" "$frames"
  fi
  rm -f "$tmp"/*-"$size"-*
  for run in $(seq "$runs"); do
    for mode in none vectorscope waveform parade luma; do
      cpu_seconds ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt bgra -s "$size" -i "$frames" \
        -filter_threads 1 -vf "${ffmpeg_chain[$mode]}" -f null - >>"$tmp/ffmpeg-$size-$mode"
      [ "$mode" = luma ] && continue
      cpu_seconds "$render" --raw "$height" "$mode" "$width" "$frames" >>"$tmp/huelens-$size-$mode"
    done
  done
  ffmpeg_base=$(median <"$tmp/ffmpeg-$size-none")
  huelens_base=$(median <"$tmp/huelens-$size-none")
  for mode in vectorscope waveform parade luma; do
    f=$(median <"$tmp/ffmpeg-$size-$mode")
    h=$(median <"$tmp/huelens-$size-${mode/luma/waveform}")
    awk -v src="$source" -v s="$size" -v m="$mode" -v f="$f" -v fb="$ffmpeg_base" -v h="$h" -v hb="$huelens_base" -v n="$count" '
      BEGIN { fm = (f - fb) * 1000 / n; hm = (h - hb) * 1000 / n;
              if (m == "luma") m = "(luma only)";
              printf "%-9s %-9s %-12s %12.3f %12.3f %9.2f\n", src, s, m, fm, hm, (fm > 0 ? hm / fm : 0) }'
  done
done
done
echo
echo "ffmpeg chains: vectorscope '${ffmpeg_chain[vectorscope]}', waveform '${ffmpeg_chain[waveform]}',"
echo "  parade '${ffmpeg_chain[parade]}', (luma only) '${ffmpeg_chain[luma]}' against Huelens' Waveform"
echo

if [ -z "${HUELENS_BENCH_SKIP_STAGES:-}" ]; then
  echo "== Stages (bench_scopes)"
  "$build/bench/bench_scopes" --benchmark_min_time=0.5
  echo
  echo "== Undoing the monitor's profile on a new 400 x 225 frame (bench_profile)"
  "$build/bench/bench_profile" --benchmark_min_time=0.5
  echo
  echo "== Whole cycle on the in-memory desktop (bench_cycle)"
  "$build/bench/bench_cycle" --benchmark_min_time=1 --benchmark_filter='^cycle' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
  echo
  echo "== Capture paths on Xvfb, 1600 x 900 (bench_capture)"
  "$here/../tests/with-xvfb.sh" "$build/bench/bench_capture" --benchmark_min_time=0.5
  echo
  echo "== Whole cycle on X11 under Xvfb, 1600 x 900 captured to 400 columns (bench_cycle_x11)"
  "$here/../tests/with-xvfb.sh" -s 2000x900 "$build/bench/bench_cycle_x11" --benchmark_min_time=1 --benchmark_filter='^cycle' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
