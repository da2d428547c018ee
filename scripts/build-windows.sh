#!/usr/bin/env bash
# make windows: builds huelens.exe and huelens-render.exe for 64-bit Windows
# with mingw-w64 and puts into dist/
#   huelens-1.0-windows-x64.zip   the portable folder "Huelens"
#   huelens-1.0-setup.exe         its installer (NSIS)
#
#   scripts/build-windows.sh [--tests] [--benchmarks]   (the Windows tests, the cycle timers too)
#
# The libraries come from scripts/build-windows-deps.sh (built once, then
# reused). BUILD_WINDOWS names the build folder (default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_WINDOWS:-build-windows}
testing=OFF
benchmarks=OFF
for option in "$@"; do
  case "$option" in
    --tests) testing=ON ;;
    --benchmarks) benchmarks=ON ;;
    *) echo "usage: build-windows.sh [--tests] [--benchmarks]" >&2; exit 2 ;;
  esac
done
version=$(sed -n 's/^project(Huelens VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "build-windows: no version in CMakeLists.txt" >&2; exit 1; }

say() { echo "build-windows: $*" >&2; }

started=$SECONDS
prefix=$(bash scripts/build-windows-deps.sh | tail -1)
say "libraries ready ($((SECONDS - started)) s): $prefix"

step=$SECONDS
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" -DCMAKE_FIND_ROOT_PATH="$prefix" \
  -DBUILD_TESTING=$testing -DHUELENS_BENCHMARKS=$benchmarks >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
if [ "$testing" = ON ] || [ "$benchmarks" = ON ]; then
  cmake --build "$build" -j"${JOBS:-$(nproc)}"
else
  cmake --build "$build" -j"${JOBS:-$(nproc)}" --target huelens huelens-render
fi
say "compiled ($((SECONDS - step)) s)"

# The portable folder, stripped of debugging information.
build=$(cd "$build" && pwd)
stage="$build/dist/Huelens"
rm -rf "$build/dist"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
# The compiler's runtime DLLs come with their debugging information (the C++
# library's is 24 MB of it).
find "$stage" -iname '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
bash scripts/check-windows-imports.sh "$stage"

mkdir -p dist
zip="dist/huelens-$version-windows-x64.zip"
rm -f "$zip"
(cd "$build/dist" && zip -qr -X -9 "$root/$zip" Huelens)
say "$zip: $(du -k "$zip" | cut -f1) kB"

# The installer installs exactly the portable folder's files, and its
# uninstaller removes exactly those.
files="$build/dist/files.nsh"
unfiles="$build/dist/unfiles.nsh"
: >"$files"
: >"$unfiles"
(cd "$stage" && find . -type d | sort) | while read -r dir; do
  dir=${dir#./}
  windir=${dir//\//\\}
  if [ "$dir" = . ]; then echo "SetOutPath \"\$INSTDIR\""; else echo "SetOutPath \"\$INSTDIR\\$windir\""; fi >>"$files"
  (cd "$stage/$dir" && find . -maxdepth 1 -type f | sort) | while read -r file; do
    file=${file#./}
    echo "File \"$stage/${dir#.}/$file\"" | sed 's|//|/|g' >>"$files"
    if [ "$dir" = . ]; then
      echo "Delete \"\$INSTDIR\\$file\"" >>"$unfiles"
    else
      echo "Delete \"\$INSTDIR\\$windir\\$file\"" >>"$unfiles"
    fi
  done
done
setup="dist/huelens-$version-setup.exe"
rm -f "$setup"
makensis -V2 -NOCD -DVERSION="$version" -DSTAGE_ICON="$root/resources/windows/huelens.ico" \
  -DFILES="$files" -DUNFILES="$unfiles" -DOUTFILE="$root/$setup" \
  -DSIZE_KB="$(du -sk "$stage" | cut -f1)" resources/windows/installer.nsi >&2
say "$setup: $(du -k "$setup" | cut -f1) kB (in all $((SECONDS - started)) s)"
