#!/usr/bin/env bash
# Loads both forms of the GNOME Shell extension outside a shell on a private
# session bus (check-extension.js says what is checked).
#   check-extension.sh FORMS_FOLDER UUID      (the build's gnome-shell-extension folder)
set -u
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The shell's own libraries and their typelibs (Meta, Shell), where this
# machine's GNOME Shell keeps them: the extension imports them.
mutter=$(ls -d /usr/lib/*/mutter-* 2>/dev/null | sort -V | tail -n 1)
if [ ! -d /usr/lib/gnome-shell ] || [ -z "$mutter" ]; then
    echo "GNOME Shell is not installed: run scripts/install-deps.sh"
    exit 1
fi
export GI_TYPELIB_PATH=/usr/lib/gnome-shell:$mutter${GI_TYPELIB_PATH:+:$GI_TYPELIB_PATH}
export LD_LIBRARY_PATH=/usr/lib/gnome-shell:$mutter${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
exec timeout 60 dbus-run-session -- gjs -m "$here/check-extension.js" "$1" "$2" "$scratch"
