#!/usr/bin/env bash
# Tests the Debian package the way a user gets it: builds it from a build folder (default
# build-release, configured with -DCMAKE_INSTALL_PREFIX=/usr and built), checks it with
# lintian, installs it with apt-get, runs the installed program under Xvfb
# (tests/package/InstalledProgramTest: the demo comes up with its bridge, a page's script sees
# window.tavi), removes it and checks that nothing of it is left. Prints how long each step
# took.
#
# Refuses to run when a norv-view package is installed already: it would be replaced and
# then removed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

if dpkg-query -W -f='${Status}' norv-view 2>/dev/null | grep -q "ok installed"; then
    echo "test-package: a norv-view package is installed already; remove it first" >&2
    exit 1
fi

started=$SECONDS
last=$SECONDS
took() {
    echo "   $1: $((SECONDS - last)) s"
    last=$SECONDS
}

rm -f "$build"/package/norv-view_*.deb
cmake --build "$build" --target deb installed_program_test >/dev/null
debs=("$build"/package/norv-view_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "test-package: no package in $build/package" >&2
    exit 1
fi
deb=$(realpath "${debs[0]}")
took "package $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"

# Errors fail; warnings and infos are shown.
lintian --fail-on error --display-info "$deb" 2>/dev/null || {
    echo "test-package: lintian found errors in $deb" >&2
    exit 1
}
took "lintian"

installed=0
remove() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove --purge -y -qq norv-view >/dev/null
}
trap '[ $installed -eq 0 ] || remove' EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$deb" \
    >/dev/null
installed=1
list=$(mktemp)
trap 'rm -f "$list"; [ $installed -eq 0 ] || remove' EXIT
dpkg -L norv-view >"$list"
took "install ($(grep -c . "$list") paths)"

"$build"/tests/package/installed_program_test
took "installed program"

remove
installed=0
if dpkg-query -W -f='${Status}' norv-view 2>/dev/null | grep -q "installed"; then
    echo "test-package: norv-view is still installed after its removal" >&2
    exit 1
fi
# Every file of the package is gone; a folder may stay only while another package has it.
left=0
folders=()
while read -r path; do
    if [ -L "$path" ] || [ -f "$path" ]; then
        echo "test-package: left behind: $path" >&2
        left=1
    elif [ -d "$path" ] && [ "$path" != "/." ]; then
        folders+=("$path")
    fi
done <"$list"
if [ ${#folders[@]} -gt 0 ]; then
    owned=$(dpkg-query -S "${folders[@]}" 2>/dev/null | sed 's/.*: //' || true)
    for folder in "${folders[@]}"; do
        if ! grep -Fxq "$folder" <<<"$owned"; then
            echo "test-package: left behind: $folder/" >&2
            left=1
        fi
    done
fi
[ $left -eq 0 ]
took "removal"
echo "   package test: $((SECONDS - started)) s in all"
