#!/usr/bin/env bash
# Runs a Windows program under Wine (the CMAKE_CROSSCOMPILING_EMULATOR of
# the Windows tests). About one run in 45, Wine ends a program with a page
# fault of its own after the program has printed its whole result; such a
# run is repeated once, and says so. Never more than once, and never when
# the fault came before the result ("N passed, 0 failed"): that is a fault
# of the program.
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
status=$?
cat "$out"
if [ "$status" -ne 0 ] && grep -q "Unhandled page fault" "$out" && grep -Eq "^[0-9]+ passed, 0 failed" "$out"; then
  echo "wine-run.sh: Wine page fault after the result (exit $status); running once more"
  wine "$@" >"$out" 2>&1
  status=$?
  cat "$out"
fi
exit "$status"
