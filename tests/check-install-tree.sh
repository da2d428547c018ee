#!/usr/bin/env bash
# Installs the built program into a temporary prefix, as `cmake --install`
# (and `make install PREFIX=...`) does, and checks what a Linux desktop needs
# of it: the files in their places, the menu entry and the AppStream data
# accepted by the desktop's own validators, and the installed program, started
# from another folder, opening its installed help page with F1.
#   check-install-tree.sh BUILD_DIR [CMAKE]    (on an X server: run it through with-xvfb.sh)
set -u
build=$1
cmake=${2:-cmake}
id=org.korvant.huelens

work=$(mktemp -d)
program=""
cleanup() {
    if [ -n "$program" ]; then kill "$program" 2>/dev/null; wait "$program" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

prefix=$work/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

# --- the files -----------------------------------------------------------
[ -x "$prefix/bin/huelens" ] || fail "bin/huelens is missing or not executable"
[ -s "$prefix/share/huelens/help.html" ] || fail "share/huelens/help.html is missing"
[ -e "$prefix/bin/help.html" ] && fail "help.html is installed beside the program instead of in share/huelens"
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
[ -s "$desktop" ] || fail "share/applications/$id.desktop is missing"
[ -s "$metainfo" ] || fail "share/metainfo/$id.metainfo.xml is missing"

# PNG width and height are the big-endian words at bytes 16 and 20.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
for size in 16 22 24 32 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    if [ ! -s "$icon" ]; then
        fail "icon ${size}x${size} is missing"
    elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
        fail "icon ${size}x${size} is $(png_size "$icon")"
    fi
done

# The GNOME Shell extension: in the shell's folder, named by its uuid, for
# the GNOME Shell of this machine if it has one.
uuid=window-in-front@huelens.korvant.org
extension=$prefix/share/gnome-shell/extensions/$uuid
[ -s "$extension/extension.js" ] || fail "share/gnome-shell/extensions/$uuid/extension.js is missing"
if ! out=$(/usr/bin/python3 - "$extension/metadata.json" "$uuid" "$(gnome-shell --version 2>/dev/null)" 2>&1 <<'EOF'
import json, re, sys
meta = json.load(open(sys.argv[1]))
if meta.get("uuid") != sys.argv[2]:
    sys.exit("uuid %r is not the folder's name" % meta.get("uuid"))
shell = re.search(r"GNOME Shell (\d+)", sys.argv[3])
if shell and shell.group(1) not in meta.get("shell-version", []):
    sys.exit("made for GNOME Shell %s, not for this machine's %s" % (meta.get("shell-version"), shell.group(1)))
EOF
); then
    fail "share/gnome-shell/extensions/$uuid/metadata.json: $out"
fi

# --- the validators --------------------------------------------------------
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate: $out"
fi
if ! out=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1); then
    fail "appstreamcli validate: $out"
fi
# The whole tree: the metainfo's launchable must name an installed menu entry.
if ! out=$(appstreamcli validate-tree --no-net "$prefix" 2>&1); then
    fail "appstreamcli validate-tree: $out"
fi

entry() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
# KDE Plasma gives its window list only to a program whose menu entry names
# its executable by the absolute path (and asks for the list).
[ "$(entry Exec)" = "$prefix/bin/huelens" ] || fail "the menu entry runs '$(entry Exec)', not $prefix/bin/huelens"
[ "$(entry X-KDE-Wayland-Interfaces)" = org_kde_plasma_window_management ] ||
    fail "the menu entry does not ask KDE Plasma for its window list"
[ "$(entry Icon)" = "$id" ] || fail "the menu entry's icon is '$(entry Icon)'"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo does not launch $id.desktop"

# --- the installed program, started from elsewhere -------------------------
# The menu starts it from the home folder with its bin folder on PATH. A
# stand-in for xdg-open, first on PATH, records what the program opens.
mkdir -p "$work/home" "$work/data" "$work/fakebin"
cat > "$work/fakebin/xdg-open" <<EOF
#!/bin/sh
echo "\$@" >> "$work/opened"
EOF
chmod +x "$work/fakebin/xdg-open"
(
    cd "$work/home" || exit 1
    # Outside a known desktop Qt hands pages to xdg-open.
    unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
    PATH="$work/fakebin:$prefix/bin:$PATH" HOME="$work/home" XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=xcb \
        exec "$(entry Exec)"
) > "$work/program.log" 2>&1 &
program=$!

window=""
for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --name '^Korvant Huelens 1\.0: ' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    fail "the installed program showed no window"
    cat "$work/program.log"
else
    # The menu entry finds the running program's windows by their class.
    class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*= "\([^"]*\)", "\([^"]*\)"/\2/p')
    [ "$class" = "$(entry StartupWMClass)" ] || fail "window class '$class' is not StartupWMClass '$(entry StartupWMClass)'"

    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key F1
    for _ in $(seq 1 100); do
        [ -s "$work/opened" ] && break
        sleep 0.1
    done
    expected="file://$prefix/share/huelens/help.html"
    opened=$(head -n 1 "$work/opened" 2>/dev/null)
    [ "$opened" = "$expected" ] || fail "F1 opened '$opened', expected '$expected'"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures problem(s) in the install tree"
    exit 1
fi
echo "install tree: files, desktop-file-validate, appstreamcli and the installed program's help page all right"
