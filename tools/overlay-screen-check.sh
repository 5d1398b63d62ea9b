#!/usr/bin/env bash
# The panel on a real screen: tapdeck.exe runs a short session on the simulated touchpad with
# VELSIM_OVERLAY=1 under Wine's X11 driver on Xvfb (a prefix of its own, BUILD_DIR/screen-prefix),
# and the screen's pixels are read with ImageMagick's `import` while it runs: the panel must be
# in the work area's bottom-right corner (Xvfb's whole 1280 x 800 screen) with its tiles' colour,
# button 5 in the colour of a tile under the finger, the small idle form after a while without
# a touch, and nothing of it once the exit button has ended the session.
# Without a compositor the X server shows a layered window's premultiplied pixels as they are:
# the opaque body in its own colours, the idle form's colours multiplied by its opacity (45%),
# the shadow as a dark rim, and the pixels of no alpha cut away (Wine shapes the window).
#   tools/overlay-screen-check.sh BUILD_DIR      (ctest runs it where Xvfb and import exist)
# To look at the panel as a person would: TAPDECK_SCREEN_DPI=144 (or 192) and
# TAPDECK_SCREEN_THEME=dark set the display's scale and the app theme, and KEEP_SHOTS=1 keeps
# the whole screen's shots (PNG) and says where.
set -eu -o pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: tools/overlay-screen-check.sh BUILD_DIR}
# Wine takes only an absolute WINEPREFIX.
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
dpi=${TAPDECK_SCREEN_DPI:-96}
theme=${TAPDECK_SCREEN_THEME:-light}
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
reg() { "$TAPDECK_WINE" reg add "$@" /f > /dev/null 2>&1; }
reg 'HKCU\Software\Wine\Drivers' /v Graphics /d x11
reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
light=1
if [ "$theme" = dark ]; then light=0; fi
reg 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' /v AppsUseLightTheme \
    /t REG_DWORD /d $light
# The small form after 1 s without a touch (and the caption's second), not 5.
reg 'HKCU\Software\Velmora\Tapdeck\PrecisionTouchpad' /v OverlayIdle /t REG_DWORD /d 1
wineserver -w

# A display of its own: Xvfb picks a free number and writes it to the pipe.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <&3
export DISPLAY=:$display

# Each packet's pause comes before it. A second and a half of nothing; a finger resting on
# button 5 for 2 s; a tap on "Next"; a slide up the strip; 5 s without a touch (the panel
# shrinks after the caption's second and 1 s more); a finger on button 5 again (it comes back);
# the exit button.
{
    echo "packet a=0 pause=1500"
    for _ in $(seq 1 20); do echo "packet a=0x2000 x=3500 y=3400 pause=100"; done
    echo "packet a=0 pause=100"
    echo "packet a=0x2000 x=5100 y=1800 pause=300"
    echo "packet a=0x12000 x=5100 y=1800 pause=50"
    echo "packet a=0x10000 pause=8"
    echo "packet a=0 pause=8"
    echo "packet a=0x2000 x=6600 y=2800 pause=1200"
    for i in $(seq 1 30); do echo "packet a=0x2000 x=6600 y=$((2800 + 40 * i)) motion=4 pause=30"; done
    echo "packet a=0 pause=30"
    echo "packet a=0x2000 x=3500 y=3400 pause=5000"
    for _ in $(seq 1 9); do echo "packet a=0x2000 x=3500 y=3400 pause=100"; done
    echo "packet a=0 pause=100"
    echo "packet a=0x2000 x=6000 y=5100 pause=300"
    echo "packet a=0x12000 x=6000 y=5100 pause=100"
    echo "packet a=0x10000"
    echo "packet a=0"
} > "$work/session.scenario"
export VELSIM_OVERLAY=1 VELSIM_SCENARIO="Z:$work/session.scenario"
unset VELSIM_JOURNAL
tools/wine-run.sh "$build/src/tapdeck.exe" > "$work/tapdeck.log" 2>&1 &
tapdeck=$!
# The window in the corner: a body 280 effective pixels high with the pad's proportions (6000
# by 4800), a margin of 12 around it, at the display's scale.
read -r crop idle_crop < <(python3 -c "
s = $dpi / 96
m = round(12 * s); h = round(280 * s); w = h * 6000 // 4800
W, H = w + 2 * m, h + 2 * m
i = round(40 * s) + 2 * m
print(f'{W}x{H}+{1280 - W}+{800 - H} {i}x{i}+{1280 - i}+{800 - i}')")
shot=0
while kill -0 "$tapdeck" 2> /dev/null && [ $shot -lt 120 ]; do
    shot=$((shot + 1))
    name=$(printf 'shot%03d' $shot)
    if [ -n "${KEEP_SHOTS:-}" ]; then
        import -window root -depth 8 "$work/$name-screen.ppm" 2> /dev/null || true
    else
        import -window root -crop "$crop" -depth 8 "$work/$name.ppm" 2> /dev/null || true
        import -window root -crop "$idle_crop" -depth 8 "$work/$name-idle.ppm" 2> /dev/null || true
    fi
    sleep 0.2
done
if ! wait "$tapdeck"; then
    status=$?
    echo "tapdeck.exe failed (exit status $status); what it wrote:" >&2
    cat "$work/tapdeck.log" >&2
    exit 1
fi
import -window root -crop "$crop" -depth 8 "$work/after.ppm"
for screen in "$work"/shot*-screen.ppm; do
    [ -e "$screen" ] || break
    name=${screen%-screen.ppm}
    convert "$screen" -crop "$crop" "$name.ppm"
    convert "$screen" -crop "$idle_crop" "$name-idle.ppm"
    convert "$screen" "$name.png"
    rm "$screen"
done

python3 - "$work" "$theme" << 'PY'
import glob, os, sys

work, theme = sys.argv[1], sys.argv[2]
# overlay/theme.cpp's colours: a tile, a tile under the finger, the body.
if theme == "dark":
    tile, under, body = (0x38, 0x38, 0x38), (0x40, 0x56, 0x60), (0x2c, 0x2c, 0x2c)
else:
    tile, under, body = (0xfd, 0xfd, 0xfd), (0xd5, 0xe4, 0xf2), (0xf3, 0xf3, 0xf3)
idle_alpha = 45 * 255 // 100
faint = tuple(round(c * idle_alpha / 255) for c in body)

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
    return all(abs(x - y) <= 3 for x, y in zip(a, b))

def count(path, colour):
    return sum(1 for p in pixels(path) if near(p, colour))

shots = sorted(p for p in glob.glob(os.path.join(work, "shot*.ppm")) if "-" not in os.path.basename(p))
with_tiles = [s for s in shots if count(s, tile) > 2000]
with_finger = [s for s in shots if count(s, under) > 500]
idle = [s for s in shots if count(s, tile) < 200 and count(s[:-4] + "-idle.ppm", faint) > 400]
after = count(os.path.join(work, "after.ppm"), tile)
print(f"{len(shots)} screenshots; the tiles in {len(with_tiles)}, button 5 under the finger in "
      f"{len(with_finger)}, the small idle form in {len(idle)}; after the session: {after} "
      f"pixels of the tiles' colour")
ok = with_tiles and with_finger and idle and after == 0
sys.exit(0 if ok else 1)
PY
