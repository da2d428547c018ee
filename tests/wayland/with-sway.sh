#!/usr/bin/env bash
# Runs a command on a private headless Wayland desktop (stack.sh beside this
# file): sway, PipeWire, WirePlumber and the ScreenCast portal on their own
# session bus, in a folder of their own, stopped again however the command ends.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
STACK_DIR=$(mktemp -d /tmp/huelens-sway.XXXXXX)
chmod 755 "$STACK_DIR" # sway runs as nobody and must reach its sockets in here
export STACK_DIR
cleanup() { bash "$here/stack.sh" stop >/dev/null 2>&1; rm -rf "$STACK_DIR"; }
trap cleanup EXIT
if ! bash "$here/stack.sh" start >"$STACK_DIR/start.log" 2>&1; then
    cat "$STACK_DIR/start.log" >&2
    echo "the headless Wayland desktop did not start" >&2
    exit 1
fi
. "$STACK_DIR/run/env"
"$@"
