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
# (ffmpeg -vf null, huelens-render mode none). The cost per frame is how much
# more a run of the 500 frames read four times over costs than a run of the
# first 100, per extra frame; what analysing costs besides its frames (building tables, Huelens'
# checks of its arithmetic against OpenCV when a size is first used) is
# reported apart as set-up, in milliseconds per run. So start-up, reading
# and set-up are left out of the per-frame cost on both sides, and ffmpeg's
# conversion from B, G, R, A into the planes its filters need is counted, as
# Huelens' own conversion is. Runs alternate between the two programs; the
# median of HUELENS_BENCH_RUNS runs (default 5) of each is used.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
photo=${HUELENS_BENCH_PHOTO:-/usr/share/doc/opencv-doc/examples/data/baboon.jpg}
turning_photo=${HUELENS_BENCH_TURNING_PHOTO:-/usr/share/doc/opencv-doc/examples/data/fruits.jpg}
runs=${HUELENS_BENCH_RUNS:-5}
count=500
repeats=4 # the long run reads the frames this many times over
few=100
frames_dir=$build/bench-frames
render=$build/tools/huelens-render
make_frames=$build/bench/huelens-bench-frames

for tool in ffmpeg "$render" "$make_frames"; do
  command -v "$tool" >/dev/null || { echo "run-bench: $tool is missing (make bench builds it; ffmpeg comes with make deps)" >&2; exit 1; }
done

# The magnified vectorscope (huelens-render --zoom 2 and 4) is measured
# beside 1x on the same frames; ffmpeg has no such scale, so its rows hold
# ffmpeg's vectorscope, and the last column says what the scale costs
# against Huelens' own 1x. HUELENS_BENCH_SCOPES chooses the scopes, for
# example "vectorscope vectorscope-2x vectorscope-4x" (default: all).
scopes=${HUELENS_BENCH_SCOPES:-vectorscope vectorscope-2x vectorscope-4x waveform parade luma}

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
echo "Photographs: $photo (a moving square), $turning_photo (turning, hues shifting); $count frames per size, read $repeats times over, and the first $few alone; median of $runs runs"
echo "ffmpeg: $(ffmpeg -hide_banner -version | head -1 | cut -d' ' -f1-3)"
echo

printf '%-9s %-9s %-14s %12s %12s %9s %14s %14s %8s\n' frames size scope 'ffmpeg ms' 'huelens ms' ratio \
  'ffmpeg set-up' 'huelens set-up' 'vs 1x'
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
  # A long run, the frames over and over, and the first few frames alone:
  # what a run costs besides its frames.
  long_frames=${frames%.raw}-x$repeats.raw
  [ -s "$long_frames" ] || for _ in $(seq "$repeats"); do cat "$frames"; done >"$long_frames"
  head -c $((width * height * 4 * few)) "$frames" >"$tmp/few.raw"
  rm -f "$tmp"/*-"$size"-*
  for run in $(seq "$runs"); do
    for mode in none $scopes; do
      for n in $((count * repeats)) "$few"; do
        input=$long_frames
        [ "$n" = "$few" ] && input=$tmp/few.raw
        case $mode in
        vectorscope-*x)
          # Huelens alone, at that scale.
          zoom=${mode#vectorscope-}
          cpu_seconds "$render" --raw "$height" vectorscope "$width" "$input" --zoom "${zoom%x}" \
            >>"$tmp/huelens-$size-$mode-$n"
          continue ;;
        esac
        cpu_seconds ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt bgra -s "$size" -i "$input" \
          -filter_threads 1 -vf "${ffmpeg_chain[$mode]}" -f null - >>"$tmp/ffmpeg-$size-$mode-$n"
        [ "$mode" = luma ] && continue
        cpu_seconds "$render" --raw "$height" "$mode" "$width" "$input" >>"$tmp/huelens-$size-$mode-$n"
      done
    done
  done
  # Per frame: the extra cost of analysing, for the extra frames of the long
  # run; set-up: what analysing costs besides its frames in the short run.
  cost() { # program mode -> "per-frame-ms set-up-ms"
    local long short long_base short_base
    local n=$((count * repeats))
    long=$(median <"$tmp/$1-$size-$2-$n") short=$(median <"$tmp/$1-$size-$2-$few")
    long_base=$(median <"$tmp/$1-$size-none-$n") short_base=$(median <"$tmp/$1-$size-none-$few")
    awk -v l="$long" -v s="$short" -v lb="$long_base" -v sb="$short_base" -v n="$n" -v k="$few" '
      BEGIN { per = ((l - lb) - (s - sb)) * 1000 / (n - k); printf "%.3f %.1f\n", per, (s - sb) * 1000 - per * k }'
  }
  for mode in $scopes; do
    case $mode in
    vectorscope*)
      read -r fm fs < <(cost ffmpeg vectorscope) ;;
    *)
      read -r fm fs < <(cost ffmpeg "$mode") ;;
    esac
    [ "$mode" = luma ] && [[ " $scopes " != *" waveform "* ]] && continue
    read -r hm hs < <(cost huelens "${mode/luma/waveform}")
    one=
    case $mode in
    vectorscope-*x)
      [[ " $scopes " == *" vectorscope "* ]] && read -r one _ < <(cost huelens vectorscope) ;;
    esac
    awk -v src="$source" -v s="$size" -v m="$mode" -v fm="$fm" -v hm="$hm" -v fs="$fs" -v hs="$hs" -v one="$one" '
      BEGIN { if (m == "luma") m = "(luma only)";
              sub(/^vectorscope-/, "vectorscope ", m);
              printf "%-9s %-9s %-14s %12.3f %12.3f %9.2f %14.1f %14.1f %8s\n", src, s, m, fm, hm, (fm > 0 ? hm / fm : 0), fs, hs,
                (one > 0 ? sprintf("%.2f", hm / one) : "") }'
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
