#!/usr/bin/env bash
# Runs a command on a private headless GNOME desktop (stack.sh beside this
# file) in a folder of its own, and ends every process of it however the
# command ends. GNOME_STACK_EXTENSION: see stack.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
STACK_DIR=$(mktemp -d /tmp/huelens-gnome.XXXXXX)
export STACK_DIR HUELENS_STACK=$STACK_DIR
cleanup() { bash "$here/stack.sh" stop; rm -rf "$STACK_DIR"; }
trap cleanup EXIT
if ! timeout 120 bash "$here/stack.sh" start >"$STACK_DIR/start.log" 2>&1; then
    cat "$STACK_DIR/start.log" >&2
    for log in "$STACK_DIR"/logs/*.log; do echo "--- $log" >&2; tail -n 15 "$log" >&2; done
    echo "the headless GNOME desktop did not start" >&2
    exit 1
fi
. "$STACK_DIR/run/env"
# Within ctest's limit (300 s), so that the stack is still stopped here when
# a test hangs.
timeout -k 10 240 "$@"
