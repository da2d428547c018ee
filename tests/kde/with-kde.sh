#!/usr/bin/env bash
# Runs a command on a private headless KWin (stack.sh beside this file) in a
# folder of its own, and ends every process of it however the command ends.
#   HUELENS_BUILD_DIR, CMAKE: the build is installed into $STACK_DIR/prefix
#     first (as `make install` would), with its menu entry where KWin looks.
#   KDE_TEST_KEYS: a program given KWin's fake input, as a menu entry asks.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
STACK_DIR=$(mktemp -d /tmp/huelens-kde.XXXXXX)
export STACK_DIR HUELENS_STACK=$STACK_DIR
cleanup() { bash "$here/stack.sh" stop; rm -rf "$STACK_DIR"; }
trap cleanup EXIT
data=""
if [ -n "${HUELENS_BUILD_DIR:-}" ]; then
    if ! "${CMAKE:-cmake}" --install "$HUELENS_BUILD_DIR" --prefix "$STACK_DIR/prefix" >"$STACK_DIR/install.log" 2>&1; then
        cat "$STACK_DIR/install.log" >&2
        exit 1
    fi
    data=$STACK_DIR/prefix/share
fi
if [ -n "${KDE_TEST_KEYS:-}" ]; then
    mkdir -p "$STACK_DIR/share/applications"
    cat >"$STACK_DIR/share/applications/huelens-test-keys.desktop" <<-EOT
	[Desktop Entry]
	Type=Application
	Name=Huelens test keyboard
	Exec=$KDE_TEST_KEYS
	NoDisplay=true
	X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
	EOT
    data=${data:+$data:}$STACK_DIR/share
fi
export KDE_STACK_DATA_DIRS=$data
if ! timeout 120 bash "$here/stack.sh" start >"$STACK_DIR/start.log" 2>&1; then
    cat "$STACK_DIR/start.log" >&2
    for log in "$STACK_DIR"/logs/*.log; do echo "--- $log" >&2; tail -n 15 "$log" >&2; done
    echo "the headless KWin did not start" >&2
    exit 1
fi
. "$STACK_DIR/run/env"
# Within ctest's limit (300 s), so that the stack is still stopped here when
# a test hangs.
timeout -k 10 240 "$@"
