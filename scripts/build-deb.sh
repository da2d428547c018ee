#!/usr/bin/env bash
# Builds the Debian binary package from a clean copy of the source tree and
# leaves it in dist/.
#   build-deb.sh             (make deb)
# The copy holds what `git status` would show (committed, changed and new
# files, nothing ignored), so uncommitted work is packaged too and no build
# folder ever is. It is built in build-deb/, never in build/.
# DEB_BUILD_OPTIONS is passed through: "nocheck" skips the package's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
work=$root/build-deb
tree=$work/huelens-$upstream

rm -rf "$work"
mkdir -p "$tree" dist
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    # Tracked files deleted in the working tree are listed too; skip them.
    git ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' f; do if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi; done \
        | tar --null --files-from=- -cf - | tar -xf - -C "$tree"
else
    tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$tree"
fi

# ccache, when the machine has it, through Debian's compiler links; the copy
# always sits at the same path, so a second build hits.
if [ -d /usr/lib/ccache ] && command -v ccache > /dev/null; then
    export PATH=/usr/lib/ccache:$PATH
    CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CCACHE_DIR
fi

(cd "$tree" && dpkg-buildpackage -b -us -uc -J"${JOBS:-auto}")

deb=$work/huelens_${version}_${arch}.deb
echo "lintian $deb"
lintian --fail-on error --display-info "$deb"

rm -f dist/huelens_*.deb dist/huelens-dbgsym_*.*deb
cp "$deb" dist/
cp "$work"/huelens-dbgsym_"${version}"_"${arch}".*deb dist/ 2>/dev/null || true
echo "dist/$(basename "$deb")"
