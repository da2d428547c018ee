#!/usr/bin/env bash
# The installer, the installed program and the uninstaller under Wine, on
# Wine's own desktop (1280 x 800) on the display run-tests.sh set up:
#   test-installed.sh WINDOWS_BUILD LINUX_BUILD SETUP.EXE ZIP
# WINEPREFIX is run-tests.sh's. Every step has a time limit.
set -u
build=$1 linux=$2 setup=$3 zip=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
verify() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }
windows_to_unix() { winepath -u "$1" 2>/dev/null; }

programs=$(windows_to_unix 'C:\Program Files')
installed="$programs/Huelens"
appdata=$(windows_to_unix "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")
config="$appdata/huelens/config.ini"
start_menu=$(windows_to_unix 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs')
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Huelens'
[ -n "$appdata" ] && [ -n "$programs" ] || { fail "Wine's folders (APPDATA, Program Files) are not known"; exit 1; }
rm -rf "$installed" "$appdata/huelens"

# --- The installer -------------------------------------------------------------
timeout 120 wine "$setup" /S
status=$?
verify "the installer ends with status 0 in silent mode ($status)" test "$status" -eq 0
# NSIS ends its silent process before every file may be closed: wait a little.
for _ in $(seq 1 50); do [ -f "$installed/uninstall.exe" ] && break; sleep 0.2; done
unzip -Z1 "$zip" | grep -v '/$' | sed 's|^Huelens/||' | sort >"$work/zip-files"
(cd "$installed" 2>/dev/null && find . -type f | sed 's|^\./||' | sort) >"$work/installed-files"
echo uninstall.exe | sort - "$work/zip-files" >"$work/expected-files"
verify "it installs the portable folder's files and its uninstaller into Program Files\\Huelens" \
  diff -u "$work/expected-files" "$work/installed-files"
verify "a Start-menu entry (Huelens.lnk)" test -f "$start_menu/Huelens.lnk"
wine reg query "$uninstall_key" >"$work/uninstall-key" 2>&1
verify "an entry in Apps & features, with its uninstaller" grep -q 'UninstallString.*uninstall.exe' "$work/uninstall-key"
verify "  ... named and versioned" grep -q 'DisplayName.*Huelens 1.0' "$work/uninstall-key"

# --- The settings it starts with -----------------------------------------------
# A window size other than the default, a user rule for the test editor's
# class, a region inside each stand-in editor (test_installed_program.cpp
# places them), and a key of no meaning to the program, which must survive.
mkdir -p "$(dirname "$config")"
printf '%s\r\n' '[General]' 'window_size=320' 'apps=TestEditor:HuelensTestEditor' \
  'Photoshop=0|60|300|380|500' 'TestEditor=0|860|300|1180|500' 'someone_elses_key=kept' >"$config"

# The scopes the window must show: the Linux renderer's pictures of the frames
# it captures, 320 x 200 pixels of one colour.
solid() { # R G B FILE: a binary PPM of 320 x 200 pixels of one colour
  perl -e 'print "P6\n320 200\n255\n", pack("C3", @ARGV) x 64000' "$1" "$2" "$3" >"$4"
}
solid 220 140 40 "$work/a.ppm"
solid 40 170 90 "$work/b.ppm"
for frame in a b; do
  "$linux/tools/huelens-render" vectorscope 320 "$work/$frame.ppm" "$work/$frame.png" \
    || fail "the Linux renderer draws the expected picture of frame $frame"
done

# --- The installed program, driven ---------------------------------------------
cp "$build/test_installed_program.exe" "$work/"
timeout 300 wine "$work/test_installed_program.exe" "$(winepath -w "$installed/huelens.exe")" "$(winepath -w "$work")" \
  "$(winepath -w "$work/a.png")" "$(winepath -w "$work/b.png")"
status=$?
verify "the installed program passes its checks (status $status)" test "$status" -eq 0
for shot in "$work"/shot-*.png; do [ -f "$shot" ] && cp "$shot" "$build/" && echo "   kept $(basename "$shot") in $build"; done

# --- What it stored --------------------------------------------------------------
tr -d '\r' <"$config" >"$work/config"
verify "config.ini is still in %APPDATA%\\huelens, with the window size" grep -qx 'window_size=320' "$work/config"
verify "  ... the rule" grep -qx 'apps=TestEditor:HuelensTestEditor' "$work/config"
verify "  ... Photoshop's region" grep -qx 'Photoshop=0|60|300|380|500' "$work/config"
verify "  ... and the key it does not know" grep -qx 'someone_elses_key=kept' "$work/config"
# The drag was 201 x 131 screenshot pixels from its corner: 268 x 174 monitor
# pixels (the screenshot is at three quarters), stored right and bottom inclusive.
record=$(sed -n 's/^TestEditor=//p' "$work/config")
IFS='|' read -r monitor left top right bottom <<<"$record"
verify "the dragged region is stored for TestEditor, 268 x 174 on monitor 0 ($record)" \
  test "$monitor" = 0 -a "$((right - left))" = 267 -a "$((bottom - top))" = 173
cp "$config" "$work/config-before-uninstall"

# --- The uninstaller -------------------------------------------------------------
# It copies itself to the temporary folder and ends at once; the copy removes
# the files, so its end is waited for by the folder going.
timeout 120 wine "$installed/uninstall.exe" /S
for _ in $(seq 1 150); do [ -d "$installed" ] || break; sleep 0.2; done
verify "the uninstaller removes Program Files\\Huelens" test ! -e "$installed"
verify "  ... and the Start-menu entry" test ! -e "$start_menu/Huelens.lnk"
wine reg query "$uninstall_key" >/dev/null 2>&1
verify "  ... and its entry in Apps & features" test $? -ne 0
verify "  ... and leaves config.ini as it was" cmp -s "$config" "$work/config-before-uninstall"
verify "  ... and nothing else in %APPDATA%\\huelens" test "$(ls -A "$(dirname "$config")")" = config.ini

echo "test-installed: $failures failed"
[ "$failures" -eq 0 ]
