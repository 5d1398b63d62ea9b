#!/usr/bin/env bash
# Makes docs/layout.svg: the layout inspector's picture of the simulated touchpad's default pad
# (edges 1000 1000 7000 5800), given as bounds so that neither the device nor the registry of
# the machine changes it.
#   tools/layout-picture.sh [BUILD_DIR]          builds the inspector, writes docs/layout.svg
#   tools/layout-picture.sh --check BUILD_DIR    fails when docs/layout.svg is not what the
#                                                inspector makes now (ctest runs this, with the
#                                                build's Wine prefix up)
set -eu -o pipefail
cd "$(dirname "$0")/.."
root=$PWD
check=false
if [ "${1:-}" = --check ]; then
    check=true
    shift
fi
build=${1:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
bounds=1000,1000,7000,5800
export WINEPREFIX=$build/wineprefix
layout=$build/inspector/tapdeck-layout.exe

if $check; then
    made=$(mktemp --suffix=.svg)
    trap 'rm -f "$made"' EXIT
    tools/wine-run.sh "$layout" --bounds $bounds --svg "Z:$made" > /dev/null
    if ! cmp -s "$made" docs/layout.svg; then
        echo "docs/layout.svg is not what tapdeck-layout.exe makes now;" \
            "make it again with: bash tools/layout-picture.sh" >&2
        diff "$made" docs/layout.svg | head -20 >&2 || true
        exit 1
    fi
    echo "docs/layout.svg is what tapdeck-layout.exe makes now"
    exit 0
fi

bash tools/bootstrap.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset default -B "$build" > /dev/null
fi
cmake --build "$build" --target tapdeck-layout velsim
tools/wine-prefix.sh up "$WINEPREFIX" "$build/sim/velsim.dll"
trap 'tools/wine-prefix.sh down "$WINEPREFIX"' EXIT
tools/wine-run.sh "$layout" --bounds $bounds --svg "Z:$root/docs/layout.svg" > /dev/null
echo "wrote docs/layout.svg"
