#!/usr/bin/env bash
# The panel on a real screen: tapdeck.exe runs a short session on the simulated touchpad with
# VELSIM_OVERLAY=1 under Wine's X11 driver on Xvfb (a prefix of its own, BUILD_DIR/screen-prefix),
# and the screen's pixels are read with ImageMagick's `import` while it runs: the panel must be
# in the work area's bottom-right corner (Xvfb's whole 1280 x 800 screen) with the grid's colour,
# button 5 darker under the finger, and gone once the exit button ends the session.
# Without a compositor the X server shows a layered window's colours multiplied by its opacity
# (85%): the expected colours are so multiplied.
#   tools/overlay-screen-check.sh BUILD_DIR      (ctest runs it where Xvfb and import exist)
set -eu -o pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/overlay-screen-check.sh BUILD_DIR}
. tools/wine-env.sh
export WINEPREFIX=$build/screen-prefix
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    wineserver -k > /dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2> /dev/null || true; fi
    if [ -z "${KEEP_SHOTS:-}" ]; then rm -rf "$work"; else echo "shots in $work" >&2; fi
}
trap cleanup EXIT

tools/wine-prefix.sh up "$WINEPREFIX" "$build/sim/velsim.dll" > /dev/null
wineserver -k > /dev/null 2>&1 || true
wineserver -w
"$TAPDECK_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f > /dev/null 2>&1
wineserver -w

# A display of its own: Xvfb picks a free number and writes it to the pipe.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <&3
export DISPLAY=:$display

# A second of nothing, a finger resting on button 5 for 4 s, then the exit button.
{
    echo "packet a=0 pause=1500"
    for _ in $(seq 1 40); do echo "packet a=0x2000 x=3500 y=3400 pause=100"; done
    echo "packet a=0 pause=1000"
    echo "packet a=0x2000 x=6000 y=5100 pause=100"
    echo "packet a=0x12000 x=6000 y=5100"
    echo "packet a=0x10000"
    echo "packet a=0"
} > "$work/session.scenario"
export VELSIM_OVERLAY=1 VELSIM_SCENARIO="Z:$work/session.scenario"
unset VELSIM_JOURNAL
tools/wine-run.sh "$build/src/tapdeck.exe" > "$work/tapdeck.log" 2>&1 &
tapdeck=$!
# The corner where the panel must be: 28% of 800 high (224), the pad's 6000 by 4800 wide (280),
# 12 pixels in from the right and bottom edges.
crop=280x224+988+564
shot=0
while kill -0 "$tapdeck" 2> /dev/null && [ $shot -lt 60 ]; do
    shot=$((shot + 1))
    import -window root -crop $crop -depth 8 "$work/shot$shot.ppm" 2> /dev/null || true
    sleep 0.25
done
wait "$tapdeck" || { echo "tapdeck.exe failed" >&2; exit 1; }
import -window root -crop $crop -depth 8 "$work/after.ppm"

python3 - "$work" << 'PY'
import glob, os, sys

work = sys.argv[1]
alpha = 85 * 255 // 100  # OverlayOpacity's default, as the panel hands it to the window

def shown(rgb):
    return tuple(round(c * alpha / 255) for c in rgb)

grid = shown((0x9E, 0xCA, 0xE1))
under = shown(tuple(round(c * 0.65) for c in (0x9E, 0xCA, 0xE1)))  # Highlighted: a third darker

def pixels(path):
    data = open(path, "rb").read()
    # P6 header: magic, width, height, maximum, then the bytes.
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    at += 1
    body = data[at:]
    return [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]

def near(a, b):
    return all(abs(x - y) <= 2 for x, y in zip(a, b))

def count(path, colour):
    return sum(1 for p in pixels(path) if near(p, colour))

shots = sorted(glob.glob(os.path.join(work, "shot*.ppm")))
with_grid = [s for s in shots if count(s, grid) > 2000]
with_finger = [s for s in shots if count(s, under) > 300]
after = count(os.path.join(work, "after.ppm"), grid)
print(f"{len(shots)} screenshots; the panel's grid colour in {len(with_grid)}, "
      f"button 5 darker under the finger in {len(with_finger)}; after the session: "
      f"{after} pixels of the grid colour")
ok = with_grid and with_finger and after == 0
sys.exit(0 if ok else 1)
PY
