#!/usr/bin/env bash
# The Windows renderer's pictures against the Linux renderer's, byte for
# byte: every mode, several window sizes, the vectorscope's scales, a few
# photographs of Debian's opencv-doc, a stream of frames of which some change
# in only a few rows, and a monitor profile undone; the Windows one on every
# vector path this processor runs (HUELENS_SCOPE_PATH). A difference means
# the program assumes something of the compiler or the C library that is not
# true on Windows.
#   compare-render.sh WINDOWS_BUILD LINUX_BUILD
# Runs Windows programs through tests/windows/wine-test.sh, with run-tests.sh's
# WINEPREFIX and display.
set -u
build=$1 linux=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
emulator="$build/wine-test.sh" # made by cmake/windows.cmake
[ -x "$emulator" ] || { echo "FAIL $emulator is missing: configure $build with the tests"; exit 1; }
# Wine takes Unix paths as paths on drive C: every absolute one is turned
# into its Z: form first.
windows_render() {
  local arg converted=()
  for arg in "$@"; do
    if [ "${arg#/}" != "$arg" ]; then converted+=("$(winepath -w "$arg")"); else converted+=("$arg"); fi
  done
  $emulator "$build/tools/huelens-render.exe" "${converted[@]}"
}
# The pictures as pixels: two PNG files of the same pixels may be compressed
# differently.
pixels() { ffmpeg -loglevel error -i "$1" -f rawvideo -pix_fmt rgb24 - 2>/dev/null | sha256sum; }
linux_render() { "$linux/tools/huelens-render" "$@"; }

# The inputs, the same files for both: photographs as PNG (decoded once, here,
# so that both read the same pixels), one photograph as the JPEG it is, a
# stream of raw frames, and a wide-gamut monitor profile.
photos=/usr/share/doc/opencv-doc/examples/data
inputs=()
for photo in baboon.jpg fruits.jpg HappyFish.jpg; do
  [ -f "$photos/$photo" ] || { echo "FAIL $photos/$photo is missing (opencv-doc)"; exit 1; }
  ffmpeg -loglevel error -y -i "$photos/$photo" -pix_fmt rgb24 "$work/${photo%.jpg}.png" || exit 1
  inputs+=("$work/${photo%.jpg}.png")
done
cp /usr/share/doc/opencv-doc/opencv4/html/face_swapped.jpg "$work/face.jpg" || exit 1
# Three frames of 400 x 225 pixels: noise, the same with rows 100-103 changed,
# and the same with rows 0-2 changed (the plot follows such frames by what changed).
perl -e 'srand(7); my $f = join "", map { pack "C4", rand 256, rand 256, rand 256, 255 } 1 .. 400 * 225;
  print $f; my $g = $f; substr($g, 400 * 4 * 100, 400 * 4 * 4) = pack("C", 200) x (400 * 16); print $g;
  substr($g, 0, 400 * 4 * 3) = pack("C", 20) x (400 * 12); print $g' >"$work/frames.raw"
profile=/usr/share/color/icc/colord/AdobeRGB1998.icc
[ -f "$profile" ] || profile=$(find /usr/share/color/icc -name '*.icc' | head -1)

paths=$(grep -o 'avx512f\|avx2' /proc/cpuinfo | sort -u | tr '\n' ' ')
scope_paths="plain"
case "$paths" in *avx2*) scope_paths="$scope_paths avx2" ;; esac
case "$paths" in *avx512f*) scope_paths="$scope_paths avx512" ;; esac

cases=()
for input in "${inputs[@]}"; do
  for mode in vectorscope waveform parade; do
    for size in 150 333 600; do cases+=("$mode $size $input"); done
  done
  cases+=("--zoom 2 vectorscope 400 $input" "--zoom 4 vectorscope 400 $input")
done
cases+=("vectorscope 400 $work/face.jpg" "waveform 400 $work/face.jpg")
cases+=("--raw 225 vectorscope 400 $work/frames.raw" "--raw 225 waveform 400 $work/frames.raw")
[ -n "$profile" ] && cases+=("--profile $profile vectorscope 400 ${inputs[0]}" "--profile $profile parade 400 ${inputs[0]}")

compared=0 differing=0 failed=0 n=0
started=$SECONDS
for c in "${cases[@]}"; do
  n=$((n + 1))
  read -r -a args <<<"$c"
  if ! linux_render "${args[@]}" "$work/linux-$n.png" 2>"$work/linux.err"; then
    echo "FAIL Linux renderer on '$c': $(cat "$work/linux.err")"
    failed=$((failed + 1))
    continue
  fi
  for path in $scope_paths; do
    if ! HUELENS_SCOPE_PATH=$path windows_render "${args[@]}" "$work/windows-$n-$path.png" >"$work/windows.err" 2>&1; then
      echo "FAIL Windows renderer ($path) on '$c': $(tr '\n' ' ' <"$work/windows.err")"
      failed=$((failed + 1))
      continue
    fi
    compared=$((compared + 1))
    if ! cmp -s "$work/linux-$n.png" "$work/windows-$n-$path.png" \
      && [ "$(pixels "$work/linux-$n.png")" != "$(pixels "$work/windows-$n-$path.png")" ]; then
      echo "FAIL '$c' on the $path path: the Windows picture differs from the Linux one"
      cp "$work/linux-$n.png" "$build/differs-$n-linux.png"
      cp "$work/windows-$n-$path.png" "$build/differs-$n-windows-$path.png"
      differing=$((differing + 1))
    fi
  done
done
echo "compare-render: ${#cases[@]} inputs on the paths: $scope_paths; $compared pictures compared," \
  "$differing differ, $failed runs failed ($((SECONDS - started)) s)"
[ "$differing" -eq 0 ] && [ "$failed" -eq 0 ]
