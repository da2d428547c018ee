#!/usr/bin/env bash
# The README's picture of the exposure view: the window at 400 pixels over
# the portrait face_swapped.jpg of Debian's opencv-doc, with the view off,
# clipping and false colour, drawn on the in-memory desktop.
#
#   docs/make-exposure-picture.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
photo=${HUELENS_PICTURE_PHOTO:-/usr/share/doc/opencv-doc/opencv4/html/face_swapped.jpg}
cmake --build "$build" --target huelens-window-picture
QT_QPA_PLATFORM=offscreen "$build/tools/huelens-window-picture" "$photo" "$here/exposure-view.png" 400
echo "$here/exposure-view.png"
