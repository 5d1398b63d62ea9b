#!/usr/bin/env bash
# Builds Tapdeck and shows it at work: tapdeck.exe runs under Wine on the simulated touchpad,
# a scripted finger taps and slides, and the demo tells what the system received.
#
#   bash tools/demo.sh                 on the simulated touchpad
#   bash tools/demo.sh --virtual-pad   on velptp.dll, the library for any laptop's touchpad,
#                                      which finds a virtual touchpad through raw input (a test
#                                      driver of the build, installed in the demo's Wine prefix
#                                      for the demo only, docs/virtual-touchpad.md)
set -eu
cd "$(dirname "$0")/.."
virtual=no
case "${1:-}" in
--virtual-pad) virtual=yes ;;
"") ;;
*)
    echo "usage: $0 [--virtual-pad]" >&2
    exit 2
    ;;
esac
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

if [ "$virtual" = no ]; then
    echo "== demo"
    tools/wine-run.sh build/demo/tapdeck_demo.exe
    exit
fi

. tools/wine-env.sh
win() { "$TAPDECK_WINE" winepath -w "$1" 2> /dev/null; }
vtpctl=build/virtual_touchpad/vtpctl.exe
# Afterwards the prefix is as the tests expect it: no virtual pad, the simulated touchpad's
# library registered.
trap 'tools/wine-run.sh "$vtpctl" clear || true
      tools/wine-run.sh regsvr32 /s "$(win build/sim/velsim.dll)" || true
      tools/wine-prefix.sh down "$WINEPREFIX"' EXIT
echo "== a virtual touchpad, and velptp.dll as the touchpad library"
tools/wine-run.sh "$vtpctl" clear
tools/wine-run.sh "$vtpctl" install demo tests/virtual_touchpad/pads/hybrid-one-finger.hid \
    --product "Demo touchpad"
tools/wine-run.sh regsvr32 /s "$(win build/ptp/velptp.dll)"
echo "== demo"
tools/wine-run.sh build/demo/tapdeck_demo.exe --feed \
    "\"$(win "$vtpctl")\" play \"$(win build/demo/virtual-pad.script)\""
