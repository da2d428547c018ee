# Sourced by the desktop stacks (tests/gnome/stack.sh, tests/kde/stack.sh):
# a private session of their own in $STACK_DIR, with its own D-Bus session
# and system buses, and no process left behind.
#
# Every process of a stack carries HUELENS_STACK=$STACK_DIR in its
# environment (the wrapper exports it, D-Bus-activated services get it from
# their bus, and the test's own windows and programs inherit it), so
# stop_stack ends them all whoever started them, even after a test crashed.
#
# The session runs as the user the tests run as (root in CI): xdg-desktop-portal
# must be able to open /proc/PID/root of its callers, which a portal of
# another user cannot, and gnome-shell and KWin run as root when given a
# private system bus and a runtime folder of root's own.

B=$STACK_DIR
R=$B/run
export HUELENS_STACK=$B
export XDG_RUNTIME_DIR=$R HOME=$B/home XDG_CONFIG_HOME=$B/home/.config
export XDG_DATA_HOME=$B/home/.local/share XDG_CACHE_HOME=$B/home/.cache XDG_STATE_HOME=$B/home/.local/state
export DBUS_SESSION_BUS_ADDRESS=unix:path=$R/bus DBUS_SYSTEM_BUS_ADDRESS=unix:path=$R/system_bus
export XDG_SESSION_TYPE=wayland NO_AT_BRIDGE=1 GTK_A11Y=none
unset DISPLAY WAYLAND_SOCKET WAYLAND_DISPLAY SESSION_MANAGER

# wait_until SECONDS WHAT COMMAND...: the command polled until it succeeds.
wait_until() {
	local t=$1 what=$2
	shift 2
	for _ in $(seq $((t * 20))); do
		"$@" >/dev/null 2>&1 && return 0
		sleep 0.05
	done
	echo "timeout after $t s waiting for $what" >&2
	return 1
}

# A zombie (PID 1 here may not reap) counts as ended. Builtins only, so that
# stop_stack starts no process of its own while it looks.
alive() {
	local line st
	read -r line <"/proc/$1/stat" 2>/dev/null || return 1
	st=${line##*) }
	st=${st%% *}
	[ -n "$st" ] && [ "$st" != Z ]
}

# bg NAME COMMAND...: started in the background, its output in logs/NAME.log.
bg() {
	local name=$1
	shift
	"$@" >"$B/logs/$name.log" 2>&1 &
	echo $! >"$R/pids/$name"
}

# A bus of its own (TYPE session or system) with only the services in SERVICEDIR.
start_bus() {
	local type=$1 address=$2 services=$3
	mkdir -p "$services"
	cat >"$B/$type.conf" <<-EOF
		<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
		 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
		<busconfig>
		  <type>$type</type>
		  <keep_umask/>
		  <listen>$address</listen>
		  <auth>EXTERNAL</auth>
		  <servicedir>$services</servicedir>
		  <policy context="default">
		    <allow send_destination="*" eavesdrop="true"/>
		    <allow eavesdrop="true"/>
		    <allow own="*"/>
		  </policy>
		</busconfig>
	EOF
	dbus-daemon --config-file="$B/$type.conf" --fork --print-pid=3 3>"$R/pids/$type-bus"
}

# Only these of the machine's D-Bus services can be activated on the session
# bus (so nothing else starts, such as the document portal, which mounts FUSE).
session_services() {
	local s
	mkdir -p "$B/services"
	for s in "$@"; do cp "/usr/share/dbus-1/services/$s.service" "$B/services/"; done
}

prepare_session() {
	rm -rf "$R" "$B/home" "$B/logs"
	mkdir -p "$R/pids" "$B/home/.config" "$B/logs"
	chmod 700 "$R"
}

start_buses() {
	start_bus system "$DBUS_SYSTEM_BUS_ADDRESS" "$B/system-services"
	start_bus session "$DBUS_SESSION_BUS_ADDRESS" "$B/services"
	wait_until 10 "the buses" sh -c "test -S $R/bus && test -S $R/system_bus"
}

start_pipewire() {
	bg pipewire pipewire
	wait_until 20 "PipeWire" test -S "$R/pipewire-0"
	bg wireplumber wireplumber
	wait_until 20 "WirePlumber" sh -c "pw-cli ls Client | grep -q WirePlumber"
}

# STACK_PIDS: every live process of this stack but this shell and its parent
# (the wrapper that asked).
find_stack_processes() {
	local p vars v
	STACK_PIDS=()
	for p in /proc/[0-9]*; do
		p=${p#/proc/}
		[[ "$p" == "$$" || "$p" == "$PPID" ]] && continue
		mapfile -d "" -t vars 2>/dev/null <"/proc/$p/environ" || continue
		for v in "${vars[@]}"; do
			if [[ "$v" == "HUELENS_STACK=$B" ]]; then
				alive "$p" && STACK_PIDS+=("$p")
				break
			fi
		done
	done
}

# Everything asked to end, the buses last (the others may still say goodbye
# on them), then what is left killed.
stop_stack() {
	local p v buses=" " others
	for p in "$R"/pids/*-bus; do [ -f "$p" ] && read -r v <"$p" && buses+="$v "; done
	for _ in $(seq 30); do
		find_stack_processes
		others=()
		for p in "${STACK_PIDS[@]}"; do [[ "$buses" == *" $p "* ]] || others+=("$p"); done
		[ ${#others[@]} -eq 0 ] && break
		kill "${others[@]}" 2>/dev/null
		sleep 0.1
	done
	for p in $buses; do kill "$p" 2>/dev/null; done
	sleep 0.2
	find_stack_processes
	for p in "${STACK_PIDS[@]}"; do
		echo "still running: $p $(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | cut -c1-80), killed" >&2
		kill -9 "$p" 2>/dev/null
	done
	return 0
}
