#!/usr/bin/env bash
# Builds Tapdeck and shows it at work: tapdeck.exe runs under Wine on the simulated touchpad,
# a scripted finger taps and slides, and the demo tells what the system received.
set -eu
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh

echo "== build"
cmake --preset default > /dev/null
cmake --build --preset default

export WINEPREFIX=$PWD/build/wineprefix
# The simulated pad stands for one with the panel printed on it; the demo asks for the panel on
# the screen all the same, so that where a display is present the finger is seen to move on it.
export VELSIM_OVERLAY=1
echo "== Wine prefix (created on first use; this can take a minute)"
tools/wine-prefix.sh up "$WINEPREFIX" build/sim/velsim.dll
# The wineserver that `up` started is stopped however the demo ends.
trap 'tools/wine-prefix.sh down "$WINEPREFIX"' EXIT

echo "== demo"
tools/wine-run.sh build/demo/tapdeck_demo.exe
