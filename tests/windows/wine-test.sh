#!/usr/bin/env bash
# ctest's emulator for the Windows tests: runs a test program under Wine
# with the cross-built Qt's DLLs and plugins and the compiler's runtime DLLs
# on its path.
#   wine-test.sh QT_PREFIX RUNTIME_DIR PTHREAD_DIR PROGRAM.exe [ARGS...]
# WINEPREFIX and the display come from run-tests.sh.
#
# Wine 8 hands no QT_* variable of the Unix environment to a Windows program;
# it hands WINEQT_x on as QT_x, so every QT_ variable is passed that way.
# QtTest writes to OutputDebugString unless QT_FORCE_STDERR_LOGGING is set.
#
# About one run in 45, Wine ends a program with a page fault of its own after
# the program has printed its whole result; such a run is repeated once, and
# says so. Never more than once, and never when the fault came before a
# result with no failure: that is a fault of the program.
set -u
qt=$1 runtime=$2 pthread=$3
shift 3

windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
export WINEPATH="$(windows_path "$qt/bin");$(windows_path "$runtime");$(windows_path "$pthread")"
export QT_PLUGIN_PATH="$(windows_path "$qt/plugins")"
export QT_FORCE_STDERR_LOGGING=1
# Qt's offscreen platform draws text with FreeType from a folder of fonts:
# Wine's own.
export QT_QPA_FONTDIR="$(windows_path /usr/share/wine/fonts)"
for variable in $(compgen -e | grep '^QT_'); do
  export "WINE$variable=${!variable}"
done

out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
status=$?
cat "$out"
if [ "$status" -ne 0 ] && grep -q "Unhandled page fault" "$out" \
  && grep -Eq "^(Totals: )?[0-9]+ passed, 0 failed" "$out"; then
  echo "wine-test.sh: Wine page fault after the result (exit $status); running once more"
  wine "$@" >"$out" 2>&1
  status=$?
  cat "$out"
fi
exit "$status"
