#!/usr/bin/env bash
# Builds the libraries of the Windows program -- Qt, OpenCV, LittleCMS, libpng
# and libjpeg -- from Debian's own source packages with the posix-thread
# mingw-w64 toolchain, once, into a cache outside the repository, and prints
# the prefix on its last line of standard output:
#
#   scripts/build-windows-deps.sh            build when missing, print the prefix
#   scripts/build-windows-deps.sh --key      print only the prefix's name
#
# The prefix is $HUELENS_WINDOWS_CACHE (default /var/cache/huelens-windows, or
# ~/.cache/huelens-windows when that cannot be written) / a key made of the
# source packages' versions, the toolchain's and the build recipes below, so
# a new version or a changed option builds a new prefix and never mixes with
# an old one. A prefix is built under a temporary name and renamed when it is
# complete: an interrupted build is never used; the next build of the same
# key goes on from the last library it finished.
#
# Everything comes from the Debian archive this machine already uses: a
# deb-src entry is added beside its own sources, and `apt-get source` fetches
# each package; zlib is Debian's mingw-w64 build (libz-mingw-w64-dev).
set -euo pipefail

triplet=x86_64-w64-mingw32
jobs=${JOBS:-$(nproc)}

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

say() { echo "build-windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }

# The source packages, in build order. libpng and libjpeg serve OpenCV's image
# files (the renderer reads PNG and JPEG); Qt carries its own zlib, libpng and
# FreeType.
sources=(libpng1.6 libjpeg-turbo lcms2 opencv qtbase-opensource-src)

# --- The archive's source entries --------------------------------------------

ensure_source_entries() {
  local list=/etc/apt/sources.list.d/huelens-deb-src.sources
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local own=/etc/apt/sources.list.d/debian.sources
  [ -f "$own" ] || die "no $own to copy a deb-src entry from: add one for this machine's Debian archive"
  say "adding deb-src entries ($list, the same archive as $own)"
  sed 's/^Types:.*$/Types: deb-src/' "$own" | $sudo tee "$list" >/dev/null
  $sudo apt-get update -qq
}

# The newest version of a source package that the archive really serves: an
# index may name a version whose files are gone, so each is tried by fetching
# its small .dsc, newest first.
resolved_version() {
  local package=$1 probe version
  probe=$(mktemp -d)
  for version in $(apt-cache showsrc "$package" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -urV); do
    if (cd "$probe" && apt-get source -qq --download-only --dsc-only "$package=$version" >/dev/null 2>&1); then
      rm -rf "$probe"
      echo "$version"
      return 0
    fi
  done
  rm -rf "$probe"
  return 1
}

# --- The key -------------------------------------------------------------------

declare -A version
resolve_versions() {
  local p
  for p in "${sources[@]}"; do
    version[$p]=$(resolved_version "$p") || die "source package $p: no version of it can be downloaded from the archive (apt-cache showsrc $p)"
  done
}

toolchain_versions() {
  dpkg-query -W -f='${Package}=${Version}\n' g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 libz-mingw-w64-dev 2>/dev/null
}

prefix_key() {
  local upstream p digest
  upstream() { local v=${version[$1]#*:}; echo "${v%%[+-]*}"; }
  digest=$({
    for p in "${sources[@]}"; do echo "$p=${version[$p]}"; done
    toolchain_versions
    # the recipes as bash reads them: a changed option is a new prefix, a
    # changed comment is not
    echo "$vector_flags"
    declare -f write_deps_toolchain build_libpng build_libjpeg build_lcms2 build_opencv build_qt
  } | sha256sum | cut -c1-12)
  echo "qt$(upstream qtbase-opensource-src)-opencv$(upstream opencv)-lcms$(upstream lcms2)-$digest"
}

cache_root() {
  if [ -n "${HUELENS_WINDOWS_CACHE:-}" ]; then
    echo "$HUELENS_WINDOWS_CACHE"
  elif mkdir -p /var/cache/huelens-windows 2>/dev/null && [ -w /var/cache/huelens-windows ]; then
    echo /var/cache/huelens-windows
  else
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/huelens-windows"
  fi
}

# --- Building --------------------------------------------------------------------

# The compilers as the posix-thread variants under the names Qt's mkspec and
# autoconf expect, whichever variant the system's alternatives point at.
make_toolchain_bin() {
  local bin=$1 tool
  mkdir -p "$bin"
  for tool in gcc g++ c++ cpp; do
    ln -sf "$(command -v $triplet-$tool-posix)" "$bin/$triplet-$tool"
  done
  for tool in ar as ld nm objcopy objdump ranlib strip windres dlltool; do
    ln -sf "$(command -v $triplet-$tool)" "$bin/$triplet-$tool"
  done
}

fetch_sources() {
  local work=$1 p
  mkdir -p "$work/src"
  for p in "${sources[@]}"; do
    say "fetching the source package $p ${version[$p]}"
    (cd "$work/src" && apt-get source -qq "$p=${version[$p]}" >"$work/logs/fetch-$p.log" 2>&1) \
      || { tail -5 "$work/logs/fetch-$p.log" >&2; die "source package $p ${version[$p]}: the download failed (log above)"; }
  done
}

source_dir() {
  local work=$1 name=$2 dir
  dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$name" | head -1)
  [ -n "$dir" ] || die "the unpacked source of $name is missing in $work/src"
  echo "$dir"
}

# Runs one step with its output in a log; on failure the log's end is shown.
# A step that finished is marked done in the work folder, so that a build of
# the same key that was interrupted goes on after it.
step() {
  local name=$1 log=$2 done="$2.done"; shift 2
  if [ -f "$done" ]; then
    say "$name: built before"
    return
  fi
  local started=$SECONDS
  say "$name ..."
  if ! "$@" >"$log" 2>&1; then
    tail -30 "$log" >&2
    die "$name failed (whole log: $log)"
  fi
  touch "$done"
  say "$name: $((SECONDS - started)) s"
}

# The toolchain of the CMake-built libraries: the posix-thread compilers,
# with the prefix being built as a further root.
write_deps_toolchain() {
  local file=$1 prefix=$2
  cat >"$file" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH $prefix /usr/$triplet)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

# Unaligned vector moves: GCC on Windows does not align the stack for spilled
# 256-bit registers (OpenCV's AVX2 kernels spill them).
vector_flags="-Wa,-muse-unaligned-vector-move"

build_libpng() {
  local work=$1 prefix=$2 src
  src=$(source_dir "$work" 'libpng1.6-*')
  cmake -S "$src" -B "$work/build/libpng" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/deps.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
    -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triplet/include
  cmake --build "$work/build/libpng" -j"$jobs"
  cmake --install "$work/build/libpng"
}

build_libjpeg() {
  local work=$1 prefix=$2 src
  src=$(source_dir "$work" 'libjpeg-turbo-*')
  # No SIMD: it needs nasm, and the renderer decodes a photograph once.
  cmake -S "$src" -B "$work/build/libjpeg" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/deps.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
  cmake --build "$work/build/libjpeg" -j"$jobs"
  cmake --install "$work/build/libjpeg"
}

build_lcms2() {
  local work=$1 prefix=$2 src
  src=$(source_dir "$work" 'lcms2-*')
  mkdir -p "$work/build/lcms2"
  (cd "$work/build/lcms2" &&
    PATH="$work/bin:$PATH" "$src/configure" --host=$triplet --prefix="$prefix" \
      --enable-static --disable-shared --without-jpeg --without-tiff --without-zlib &&
    make -j"$jobs" && make install)
}

# core, imgproc and imgcodecs (PNG and JPEG), static, single-threaded: the
# program runs everything on its one GUI thread and wants no thread pool.
build_opencv() {
  local work=$1 prefix=$2 src
  src=$(source_dir "$work" 'opencv-*')
  cmake -S "$src" -B "$work/build/opencv" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/deps.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_C_FLAGS="$vector_flags" -DCMAKE_CXX_FLAGS="$vector_flags" \
    -DBUILD_LIST=core,imgproc,imgcodecs -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_opencv_apps=OFF \
    -DBUILD_JAVA=OFF -DBUILD_opencv_python2=OFF -DBUILD_opencv_python3=OFF -DBUILD_DOCS=OFF \
    -DBUILD_ZLIB=OFF -DBUILD_PNG=OFF -DBUILD_JPEG=OFF -DBUILD_TIFF=OFF -DBUILD_WEBP=OFF \
    -DBUILD_OPENJPEG=OFF -DBUILD_OPENEXR=OFF -DBUILD_PROTOBUF=OFF -DBUILD_ITT=OFF -DBUILD_IPP_IW=OFF \
    -DBUILD_JASPER=OFF \
    -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triplet/include \
    -DPNG_LIBRARY="$prefix/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
    -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include" \
    -DWITH_PNG=ON -DWITH_JPEG=ON -DWITH_TIFF=OFF -DWITH_WEBP=OFF -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF \
    -DWITH_OPENEXR=OFF -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_FFMPEG=OFF \
    -DWITH_DSHOW=OFF -DWITH_MSMF=OFF -DWITH_DIRECTX=OFF -DWITH_PROTOBUF=OFF -DWITH_QUIRC=OFF \
    -DWITH_ADE=OFF -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_TBB=OFF -DWITH_OPENMP=OFF \
    -DWITH_PTHREADS_PF=OFF -DWITH_VTK=OFF -DWITH_GTK=OFF -DWITH_QT=OFF -DWITH_WIN32UI=OFF \
    -DWITH_1394=OFF -DWITH_GSTREAMER=OFF -DWITH_CUDA=OFF -DWITH_OPENVX=OFF -DWITH_CAROTENE=OFF \
    -DWITH_VA=OFF -DWITH_VA_INTEL=OFF -DWITH_OBSENSOR=OFF -DWITH_GDAL=OFF -DWITH_GDCM=OFF \
    -DWITH_IMGCODEC_HDR=OFF -DWITH_IMGCODEC_SUNRASTER=OFF -DWITH_IMGCODEC_PXM=OFF \
    -DWITH_IMGCODEC_PFM=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF
  cmake --build "$work/build/opencv" -j"$jobs"
  cmake --install "$work/build/opencv"
}

# Qt: Core, Gui, Widgets, Test and the plugins the program ships, nothing
# else. Each option, and why:
#   -xplatform win32-g++, CROSS_COMPILE   MinGW, through the posix-thread compilers
#   -release -shared                      DLLs beside the program, as Qt's licence prefers
#   -no-opengl -no-direct2d -no-feature-vulkan
#                                         the program paints with QPainter only
#   -feature-style-windowsvista           the native look (styles/qwindowsvistastyle.dll)
#   -feature-highdpiscaling               scaling on monitors above 100 %
#   -qt-zlib -qt-libpng -qt-pcre          Qt's own copies: nothing else to cross-build
#   -qt-freetype                          the offscreen platform the unit tests run on needs it
#   -no-icu -no-dbus -no-libjpeg -no-gif  text, desktop bus and image formats the program never uses
#   -no-feature-sql, -network, -xml, -concurrent, -printer, -tabletevent, -testlib-selfcover
#                                         modules and features nothing links
build_qt() {
  local work=$1 prefix=$2 src
  src=$(source_dir "$work" 'qtbase-opensource-src-*')
  mkdir -p "$work/build/qt"
  # A configured build that stopped goes on where it stopped.
  [ -f "$work/build/qt/configured" ] || (cd "$work/build/qt" &&
    "$src/configure" -xplatform win32-g++ -device-option CROSS_COMPILE="$work/bin/$triplet-" \
      -opensource -confirm-license -release -shared -prefix "$prefix" \
      -nomake examples -nomake tests \
      -no-opengl -no-direct2d -no-feature-vulkan \
      -feature-style-windowsvista -feature-highdpiscaling \
      -qt-zlib -qt-libpng -qt-pcre -qt-freetype \
      -no-icu -no-dbus -no-libjpeg -no-gif \
      -no-feature-sql -no-sql-sqlite -no-sql-odbc -no-feature-network -no-feature-xml \
      -no-feature-concurrent -no-feature-printer -no-feature-tabletevent &&
    touch configured)
  (cd "$work/build/qt" && make -j"$jobs" && make install)
}

# A prefix built under a temporary name names that name in its text files
# (CMake configurations, .prl and .pri files); they are pointed at the final
# name when it is renamed.
rename_prefix() {
  local from=$1 to=$2
  mv "$from" "$to"
  grep -rlI --null -F "$from" "$to" | xargs -0 -r sed -i "s|$from|$to|g"
}

# What the program's build takes from a prefix; the first one missing, if any.
missing_files() {
  local prefix=$1 need
  for need in bin/Qt5Core.dll bin/Qt5Gui.dll bin/Qt5Widgets.dll bin/Qt5Test.dll \
    plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll plugins/styles/qwindowsvistastyle.dll \
    lib/cmake/Qt5/Qt5Config.cmake lib/cmake/opencv4/OpenCVConfig.cmake lib/liblcms2.a include/lcms2.h \
    lib/libpng16.a lib/libjpeg.a; do
    [ -e "$prefix/$need" ] || { echo "$need"; return; }
  done
}

complete() {
  [ -f "$1/VERSIONS" ] && [ -z "$(missing_files "$1")" ]
}

build_everything() {
  local final=$1
  local partial="$final.partial"
  local work="$final.work"
  if [ ! -f "$work/sources.done" ]; then
    rm -rf "$partial" "$work"
    mkdir -p "$partial" "$work/logs" "$work/build"
    fetch_sources "$work"
    touch "$work/sources.done"
  fi
  make_toolchain_bin "$work/bin"
  write_deps_toolchain "$work/deps.cmake" "$partial"
  local started=$SECONDS
  step "libpng" "$work/logs/libpng.log" build_libpng "$work" "$partial"
  step "libjpeg" "$work/logs/libjpeg.log" build_libjpeg "$work" "$partial"
  step "LittleCMS" "$work/logs/lcms2.log" build_lcms2 "$work" "$partial"
  step "OpenCV" "$work/logs/opencv.log" build_opencv "$work" "$partial"
  step "Qt (the longest, about 25 minutes on 2 cores)" "$work/logs/qt.log" build_qt "$work" "$partial"
  local missing
  missing=$(missing_files "$partial")
  [ -z "$missing" ] || die "the build finished without $missing"
  { for p in "${sources[@]}"; do echo "$p ${version[$p]}"; done; toolchain_versions; } >"$partial/VERSIONS"
  rename_prefix "$partial" "$final"
  rm -rf "$work"
  say "built in $((SECONDS - started)) s: $final"
}

main() {
  ensure_source_entries
  resolve_versions
  local key cache prefix
  key=$(prefix_key)
  if [ "${1:-}" = "--key" ]; then
    echo "$key"
    return
  fi
  cache=$(cache_root)
  mkdir -p "$cache"
  prefix="$cache/$key"
  if complete "$prefix"; then
    say "using $prefix"
  else
    for tool in $triplet-g++-posix ninja make apt-get dpkg-source; do
      command -v "$tool" >/dev/null || die "$tool is missing: run scripts/install-deps.sh --windows"
    done
    exec 9>"$cache/.lock"
    flock 9 # another build of the same cache finishes first
    if ! complete "$prefix"; then
      if [ -d "$prefix" ]; then
        say "$prefix is incomplete: building it again"
        rm -rf "$prefix"
      fi
      build_everything "$prefix"
    fi
  fi
  echo "$prefix"
}

main "$@"
exit
