#!/usr/bin/env bash
# Runs a Windows program under Wine (the CMAKE_CROSSCOMPILING_EMULATOR of
# the Windows tests). Wine now and then ends a program with a page fault of
# its own after the program has done its work; such a run is repeated once,
# and says so. Never more than once.
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
status=$?
cat "$out"
if [ "$status" -ne 0 ] && grep -q "Unhandled page fault" "$out"; then
  echo "wine-run.sh: Wine page fault (exit $status); running once more"
  wine "$@" >"$out" 2>&1
  status=$?
  cat "$out"
fi
exit "$status"
