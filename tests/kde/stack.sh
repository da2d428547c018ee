#!/bin/bash
# KDE Plasma's compositor for the tests, headless, in $STACK_DIR: KWin 5.27
# (kwin_wayland --virtual, one 1280 x 720 output), PipeWire, WirePlumber,
# xdg-desktop-portal and xdg-desktop-portal-kde, on private session and
# system buses. No GPU, no display, no Plasma shell.
#
#   stack.sh start     started in 1-3 s; $STACK_DIR/run/env for clients
#   stack.sh stop      every process of the stack ended (support/private-session.sh)
#
# KDE_STACK_DATA_DIRS: folders put before the system's in XDG_DATA_DIRS, where
# KWin finds the menu entries that ask for its restricted interfaces (the
# window list, fake input): it reads them when it starts.
#
# Why the odd bits:
#  * /usr/bin/kwin_wayland carries the file capability cap_sys_resource, which
#    a container's bounding set may lack (exec then fails with EPERM even for
#    root), so a copy without it runs.
#  * --no-lockscreen: the lock screen would start otherwise.
#  * The portal's dialog cannot load without Plasma's QML modules; a grant
#    seeded in the permission store starts sharing without one.
#  * Monitor casts send no frame on the virtual back-end: KWin 5.27 waits for a
#    signal only its DRM and nested back-ends send.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/private-session.sh"
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
export XDG_DATA_DIRS=${KDE_STACK_DATA_DIRS:+$KDE_STACK_DATA_DIRS:}/usr/local/share:/usr/share
# What KWin's scripts print(), in its log: the tests read the windows so.
export QT_LOGGING_RULES="kwin_scripting.debug=true"

start() {
	prepare_session
	session_services org.freedesktop.impl.portal.PermissionStore
	mkdir -p "$B/bin"
	[ -x "$B/bin/kwin_wayland" ] || cp /usr/bin/kwin_wayland "$B/bin/"
	start_buses || return 1
	bg kwin "$B/bin/kwin_wayland" --virtual --width 1280 --height 720 --no-lockscreen --socket wayland-0
	wait_until 30 "KWin" gdbus introspect --session --dest org.kde.KWin --object-path /KWin || return 1
	export WAYLAND_DISPLAY=wayland-0
	start_pipewire || return 1
	QT_QPA_PLATFORM=wayland bg portal-kde /usr/lib/*/libexec/xdg-desktop-portal-kde
	wait_until 30 "xdg-desktop-portal-kde" gdbus introspect --session --dest org.freedesktop.impl.portal.desktop.kde \
		--object-path /org/freedesktop/portal/desktop || return 1
	bg portal /usr/libexec/xdg-desktop-portal -v
	wait_until 30 "xdg-desktop-portal" gdbus introspect --session --dest org.freedesktop.portal.Desktop \
		--object-path /org/freedesktop/portal/desktop || return 1
	cat >"$R/env" <<-EOF
		export HUELENS_STACK=$B XDG_RUNTIME_DIR=$R HOME=$HOME XDG_CONFIG_HOME=$XDG_CONFIG_HOME
		export XDG_DATA_HOME=$XDG_DATA_HOME XDG_CACHE_HOME=$XDG_CACHE_HOME XDG_STATE_HOME=$XDG_STATE_HOME
		export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
		export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-0
		export KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 XDG_DATA_DIRS=$XDG_DATA_DIRS
		export NO_AT_BRIDGE=1 GTK_A11Y=none
		unset DISPLAY QT_LOGGING_RULES
	EOF
}

case "${1:-}" in
start) start ;;
stop) stop_stack ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
