#!/bin/bash
# A headless GNOME 43 desktop of its own for the tests, in $STACK_DIR:
# gnome-shell (--headless, one virtual monitor), PipeWire, WirePlumber,
# xdg-desktop-portal and xdg-desktop-portal-gnome, on private session and
# system buses (gnome-shell needs a system bus of its own: without one it
# ends at start where /run/systemd/seats exists). No GPU, no display.
#
#   stack.sh start     started in 3-8 s; $STACK_DIR/run/env for clients
#   stack.sh stop      every process of the stack ended (support/private-session.sh)
#
# GNOME_STACK_EXTENSION=FOLDER: that extension folder installed for the user
# and enabled before the shell starts (the user's own step: gnome-extensions
# enable, then log in).
#
# Why the odd bits:
#  * --no-x11: no Xwayland. Mutter refuses to start when /tmp/.X11-unix is not
#    a world-writable folder, and other tests on this machine leave it owned
#    by nobody; GNOME's own windows and the tests' are native Wayland windows.
#  * --unsafe-mode: lets the test itself drive the shell through
#    org.gnome.Shell.Eval and org.gnome.Shell.Screenshot (windows, focus,
#    keys, screenshots). Huelens uses neither, nor org.gnome.Shell.Introspect.
#  * The portal back-end is also D-Bus-activatable, as in a real session:
#    after it ends (xdg-desktop-portal-gnome 43 crashes when a client leaves
#    while its dialog is open) the next request starts it again.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/private-session.sh"
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome

start() {
	prepare_session
	session_services org.freedesktop.impl.portal.PermissionStore ca.desrt.dconf \
		org.freedesktop.impl.portal.desktop.gnome
	start_buses || return 1
	if [ -n "${GNOME_STACK_EXTENSION:-}" ]; then
		mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
		cp -r "$GNOME_STACK_EXTENSION" "$XDG_DATA_HOME/gnome-shell/extensions/"
		gsettings set org.gnome.shell enabled-extensions "['$(basename "$GNOME_STACK_EXTENSION")']" || return 1
	fi
	bg shell gnome-shell --headless --wayland --no-x11 --unsafe-mode --virtual-monitor 1280x720
	wait_until 60 "gnome-shell" gdbus introspect --session --dest org.gnome.Shell --object-path /org/gnome/Shell || return 1
	wait_until 30 "Mutter's screen cast" gdbus introspect --session --dest org.gnome.Mutter.ScreenCast \
		--object-path /org/gnome/Mutter/ScreenCast || return 1
	WAYLAND_DISPLAY=$(basename "$(ls "$R"/wayland-[0-9] | head -n 1)")
	export WAYLAND_DISPLAY
	start_pipewire || return 1
	bg portal-gnome /usr/libexec/xdg-desktop-portal-gnome
	# Its ScreenCast interface comes a moment after its name, once it found Mutter's.
	wait_until 30 "xdg-desktop-portal-gnome" sh -c "gdbus introspect --session --dest \
		org.freedesktop.impl.portal.desktop.gnome --object-path /org/freedesktop/portal/desktop \
		| grep -q org.freedesktop.impl.portal.ScreenCast" || return 1
	bg portal /usr/libexec/xdg-desktop-portal -v
	wait_until 30 "xdg-desktop-portal" gdbus introspect --session --dest org.freedesktop.portal.Desktop \
		--object-path /org/freedesktop/portal/desktop || return 1
	cat >"$R/env" <<-EOF
		export HUELENS_STACK=$B XDG_RUNTIME_DIR=$R HOME=$HOME XDG_CONFIG_HOME=$XDG_CONFIG_HOME
		export XDG_DATA_HOME=$XDG_DATA_HOME XDG_CACHE_HOME=$XDG_CACHE_HOME XDG_STATE_HOME=$XDG_STATE_HOME
		export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
		export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=$WAYLAND_DISPLAY
		export NO_AT_BRIDGE=1 GTK_A11Y=none
		unset DISPLAY
	EOF
}

case "${1:-}" in
start) start ;;
stop) stop_stack ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
