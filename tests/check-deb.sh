#!/usr/bin/env bash
# Checks the Debian package that `make deb` left in dist/ as a user meets it:
# lintian, then `apt-get install` on this machine, the installed files and the
# desktop's validators, the installed program started from the menu's command
# in a user's home (its window, its toolbar images, the user's config.ini, its
# help page), and `apt-get remove --purge`, after which nothing of the package
# is left but the user's config.ini.
#   check-deb.sh     (make test-deb: as root or with sudo, on an X server: run it through with-xvfb.sh)
# It refuses to run where huelens is installed already: it would purge it.
set -u
cd "$(dirname "$0")/.."
id=org.korvant.huelens
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

debs=(dist/huelens_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one dist/huelens_*.deb (make deb), found: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
status() { dpkg-query -W -f='${db:Status-Status}' huelens 2>/dev/null; }
if [ -n "$(status)" ] && [ "$(status)" != not-installed ]; then
    echo "FAIL: huelens is on this machine already ($(status)); this test installs and purges its own."
    echo "Remove it first: apt-get remove --purge huelens"
    exit 1
fi

work=$(mktemp -d)
chmod 755 "$work"
program=""
installed=0
cleanup() {
    if [ -n "$program" ]; then kill "$program" 2>/dev/null; wait "$program" 2>/dev/null; fi
    if [ "$installed" = 1 ]; then $sudo apt-get remove --purge -y -q huelens > /dev/null 2>&1; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# --- lintian: no error; every warning explained in the README -------------
lintian "$deb" 2>&1 | grep -v '^running with root privileges' > "$work/lintian"
cat "$work/lintian"
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
for tag in $(awk '$1 == "W:" { print $3 }' "$work/lintian" | sort -u); do
    grep -qF "\`$tag\`" README.md || fail "lintian warning $tag is neither fixed nor explained in README.md"
done

# --- install ---------------------------------------------------------------
# Without Recommends: the program must start on its Depends alone.
if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "./$deb" > "$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: apt-get install ./$deb"
    exit 1
fi
installed=1
dpkg-query -L huelens | while read -r f; do [ -d "$f" ] || echo "$f"; done > "$work/files"

extension=/usr/share/gnome-shell/extensions/window-in-front@huelens.korvant.org
for f in /usr/bin/huelens /usr/share/huelens/help.html /usr/share/applications/$id.desktop \
    /usr/share/metainfo/$id.metainfo.xml /usr/share/man/man1/huelens.1.gz /usr/share/doc/huelens/copyright \
    /usr/share/doc/huelens/README.Debian "$extension/extension.js" "$extension/metadata.json"; do
    grep -qx "$f" "$work/files" || fail "the package does not install $f"
done
# The GNOME Shell extension is of the form this machine's GNOME Shell loads.
shell=$(gnome-shell --version 2>/dev/null | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
if [ -n "$shell" ] && ! grep -q "\"$shell\"" "$extension/metadata.json"; then
    fail "the GNOME Shell extension is not made for this machine's GNOME Shell $shell"
fi
# KDE Plasma gives its window list only to the program its menu entry names.
[ "$(sed -n 's/^Exec=//p' /usr/share/applications/$id.desktop)" = /usr/bin/huelens ] ||
    fail "the menu entry does not run /usr/bin/huelens by its absolute path"
for size in 16 22 24 32 48 64 128 256; do
    grep -qx "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" "$work/files" || fail "no ${size}x${size} icon"
done

# Every library the program links comes from a package it depends on, so
# it starts on a machine that has none of the build's packages.
depends=" $(dpkg-query -W -f='${Depends}' huelens | sed 's/([^)]*)//g; s/[,|]/ /g') "
for lib in $(objdump -p /usr/bin/huelens | awk '$1 == "NEEDED" { print $2 }'); do
    owners=$(dpkg-query -S "*/$lib" 2>/dev/null | cut -d: -f1 | tr ', ' '\n\n' | sort -u)
    found=0
    for p in $owners; do case "$depends" in *" $p "*) found=1 ;; esac; done
    [ "$found" = 1 ] || fail "links $lib (from ${owners:-no package}) but does not depend on its package"
done

desktop=/usr/share/applications/$id.desktop
if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate: $out"
fi
if ! out=$(appstreamcli validate --no-net --strict /usr/share/metainfo/$id.metainfo.xml 2>&1); then
    fail "appstreamcli validate: $out"
fi

# --- the installed program, as the menu starts it in a user's home ---------
# A user's settings, written before the first start: the window must take
# their size. A stand-in for xdg-open records what the program opens.
home=$work/home
config=$home/.local/share/huelens/config.ini
mkdir -p "$(dirname "$config")" "$work/fakebin"
printf '[General]\nwindow_size=300\n' > "$config"
cat > "$work/fakebin/xdg-open" <<EOF
#!/bin/sh
echo "\$@" >> "$work/opened"
EOF
chmod +x "$work/fakebin/xdg-open"
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | head -n 1)
(
    cd "$home" || exit 1
    # Outside a known desktop Qt hands pages to xdg-open.
    unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID XDG_DATA_HOME XDG_CONFIG_HOME
    PATH="$work/fakebin:/usr/bin:/bin" HOME="$home" QT_QPA_PLATFORM=xcb exec $exec_line
) > "$work/program.log" 2>&1 &
program=$!

window=""
for _ in $(seq 1 300); do # a first start on a busy machine reads every library from disk
    window=$(xdotool search --onlyvisible --name '^Korvant Huelens 1\.0: ' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    fail "the installed program showed no window"
    cat "$work/program.log"
else
    width=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    [ "$width" = 300 ] || fail "the window is $width wide, not the 300 of the user's config.ini"

    # The toolbar images are compiled in: from the user's home, where no
    # images/ folder is, the first button still shows the green start image
    # and the last the red exit cross. Without them the buttons show text.
    # The toolbar is the light band under the window's black border, above
    # the black scope; the toolbar's spacer is light in the middle column.
    toolbar_colours() {
        xwd -silent -id "$window" | xwdtopnm 2>/dev/null | pnmtoplainpnm | tr -s ' \n' '\n\n' | awk '
            NR == 2 { w = $1 } NR == 3 { h = $1 } NR <= 4 { next }
            { v[n++] = $1 }
            END {
                middle = int(w / 2)
                for (y = 1; y < h; y++) { i = 3 * (y * w + middle); if (v[i] < 128) break }
                for (row = 1; row < y; row++)
                    for (x = 0; x < w; x++) {
                        i = 3 * (row * w + x); r = v[i]; g = v[i + 1]; b = v[i + 2]
                        if (x < w / 8 && g > r + 60 && g > b + 60) green++
                        if (x > w * 5 / 6 && r > g + 80 && r > b + 80) red++
                    }
                printf "%d %d %d\n", y - 1, green, red
            }'
    }
    for _ in $(seq 1 50); do
        read -r rows green red < <(toolbar_colours)
        [ "${green:-0}" -gt 20 ] && [ "${red:-0}" -gt 20 ] && break
        sleep 0.1
    done
    [ "${rows:-0}" -gt 10 ] || fail "no toolbar under the window's top edge (${rows:-0} light rows)"
    [ "${green:-0}" -gt 20 ] || fail "the toolbar's first button shows no start image (${green:-0} green pixels)"
    [ "${red:-0}" -gt 20 ] || fail "the toolbar's last button shows no exit image (${red:-0} red pixels)"

    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key F1
    for _ in $(seq 1 100); do
        [ -s "$work/opened" ] && break
        sleep 0.1
    done
    opened=$(head -n 1 "$work/opened" 2>/dev/null)
    [ "$opened" = file:///usr/share/huelens/help.html ] || fail "F1 opened '$opened', not the installed help page"
fi
kill "$program" 2>/dev/null
wait "$program" 2>/dev/null
program=""
config_before=$(md5sum < "$config")

# --- purge: nothing of the package left, the user's config.ini kept ---------
if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q \
    -o DPkg::Lock::Timeout=600 huelens > "$work/remove.log" 2>&1; then
    cat "$work/remove.log"
    fail "apt-get remove --purge huelens"
fi
installed=0
[ -z "$(status)" ] || [ "$(status)" = not-installed ] || fail "after purging, dpkg still knows huelens as $(status)"
while read -r f; do
    if [ -e "$f" ] || [ -L "$f" ]; then fail "left behind: $f"; fi
done < "$work/files"
for d in /usr/share/huelens /usr/share/doc/huelens; do
    [ -e "$d" ] && fail "left behind: $d"
done
if [ ! -f "$config" ]; then
    fail "purging removed the user's config.ini"
elif [ "$(md5sum < "$config")" != "$config_before" ]; then
    fail "purging changed the user's config.ini"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures problem(s) with the package"
    exit 1
fi
echo "package: lintian, install, files, libraries, validators, the installed program and a clean purge all right"
