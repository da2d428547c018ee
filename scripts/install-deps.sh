#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Huelens needs.
# Idempotent: packages already present are not touched, and apt is not called at all
# when nothing is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5x11extras5-dev
  libopencv-dev
  libx11-dev libxext-dev libxrandr-dev libxrender-dev libxinerama-dev libxres-dev
  libxdamage-dev libxi-dev
  # Wayland: the ScreenCast portal's PipeWire streams, the compositor's window lists,
  # Qt's Wayland platform plugin
  libpipewire-0.3-dev libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols qtwayland5
  # tests: a real X server, a window manager, tools that drive foreign windows
  xvfb xauth openbox xdotool x11-xserver-utils x11-utils xterm xclip
  # tests: a headless Wayland desktop (sway, PipeWire, WirePlumber, the portal and its
  # wlroots back-end on a private session bus) and the tools that drive it
  sway xdg-desktop-portal xdg-desktop-portal-wlr pipewire pipewire-bin wireplumber
  dbus-daemon dbus-bin libglib2.0-bin bc foot wtype grim wl-clipboard
  # tests: the tool window on XWayland inside that desktop
  xwayland
  # tests: headless GNOME 43 (gnome-shell, its screen-sharing portal) and KDE Plasma's
  # KWin with its portal, each on private buses; windows of one colour under them
  # (GTK 3 through PyGObject); gjs to load both forms of the GNOME Shell extension,
  # glib-compile-resources for the stand-in of the shell's own module they import
  gnome-shell xdg-desktop-portal-gnome kwin-wayland xdg-desktop-portal-kde
  gir1.2-gtk-3.0 python3-gi gjs libglib2.0-dev-bin
  # tests: the validators of the install tree, and a real Linux editor to recognise
  # (darktable: the smallest download of the editors Huelens knows)
  desktop-file-utils appstream darktable
  # sanitizer builds, fuzzing (clang with libFuzzer) and the leak check
  clang libclang-rt-14-dev valgrind
  # benchmarks, and ffmpeg's scope filters they compare with
  libbenchmark-dev ffmpeg
  # photographs the scope tests and benchmarks run on (examples/data)
  opencv-doc
  # the Debian package (make deb) and its test: packaging tools, and a window
  # dump (xwd) read through netpbm
  debhelper dpkg-dev lintian x11-apps netpbm
  # readings with the monitor's profile undone (LittleCMS 2), and the
  # profiles its tests undo
  liblcms2-dev icc-profiles-free colord-data
  # make measure: where the program's time goes (perf record and report)
  linux-perf strace
)

# make test-windows asks for its own list: the cross compiler and Wine come
# to about 220 MB of downloads and 1.2 GB installed, which nothing else needs.
if [ "${1:-}" = "--windows" ]; then
  packages=(
    cmake make ninja-build
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    # the libraries' source packages (scripts/build-windows-deps.sh): apt-get
    # source unpacks with dpkg-source; zlib is Debian's own mingw-w64 build
    dpkg-dev libz-mingw-w64-dev
    # the portable zip and the installer
    zip unzip nsis
    wine wine64
    xvfb xauth x11-xserver-utils
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
