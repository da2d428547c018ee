#!/usr/bin/env bash
# Runs a command on a private Xvfb and makes sure the server does not outlive it.
#   with-xvfb.sh [-s WIDTHxHEIGHT[xDEPTH]] command args...   (depth 24 unless given)
# -noreset keeps monitors made with `xrandr --setmonitor` after the last client leaves.
set -u
size=1600x900
if [ "${1:-}" = "-s" ]; then size=$2; shift 2; fi
case $size in *x*x*) ;; *) size=${size}x24 ;; esac

tmp=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$tmp"' EXIT
mkfifo "$tmp/fd"
Xvfb -displayfd 3 -screen 0 "$size" -noreset -nolisten tcp +extension RANDR 3>"$tmp/fd" 2>"$tmp/xvfb.log" &
xvfb=$!
read -r -t 20 display < "$tmp/fd" || { echo "Xvfb did not start:"; cat "$tmp/xvfb.log"; exit 1; }
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
"$@"
