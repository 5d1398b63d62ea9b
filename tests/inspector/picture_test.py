#!/usr/bin/env python3
"""tapdeck-layout.exe's JSON and picture, checked from the host side.

Runs the Windows program under Wine (through tools/wine-run.sh, in the build's prefix), reads its
JSON, renders its SVG with a real SVG renderer (rsvg-convert) and reads the PNG's pixels at the
zones' centres and the touches. ctest runs it; it needs WINEPREFIX (the build's prefix, up).

  picture_test.py --exe TAPDECK_LAYOUT_EXE --wine-run tools/wine-run.sh
                  --demo-scenario demo/demo.scenario --workdir DIR
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

# The picture's fill colours (inspector/picture.h).
GRID = (0x9E, 0xCA, 0xE1)
EXIT = (0xFD, 0xAE, 0x6B)
STRIP = (0xA1, 0xD9, 0x9B)
STRIP_OVERLAP = (0xBC, 0x80, 0xBD)
GRID_OVER_GRID = (0x42, 0x92, 0xC6)
EXIT_OVER_GRID = (0xE6, 0x55, 0x0D)
PAD = (0xEE, 0xEE, 0xEE)
TOUCH = (0x20, 0x20, 0x20)

# The worked bounds rows: bounds and the sizes derived from them.
BOUNDS_ROWS = [
    ((1612, 2072, 5300, 3748), (614, 424, -41, 1117)),
    ((1632, 1568, 5312, 4288), (613, 422, 306, 1814)),
    ((1000, 1000, 3000, 3000), (333, 1431655721, 66, 1334)),
]

# The eleven-zone worked example, for the pad (1000, 1000, 7000, 5800).
WORKED_ZONES = {
    "strip": [6300, 2600, 7000, 5800],
    "exit": [5700, 1000, 7000, 2450],
    "button1": [1300, 1300, 2366, 2300],
    "button2": [2966, 1300, 4032, 2300],
    "button3": [4632, 1300, 5698, 2300],
    "button4": [1300, 2900, 2366, 3900],
    "button5": [2966, 2900, 4032, 3900],
    "button6": [4632, 2900, 5698, 3900],
    "button7": [1300, 4500, 2366, 5500],
    "button8": [2966, 4500, 4032, 5500],
    "button9": [4632, 4500, 5698, 5500],
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


class Layout:
    """One run of tapdeck-layout.exe with --json and --svg."""

    def __init__(self, args, name, extra=()):
        self.svg_path = os.path.join(args.workdir, name + ".svg")
        self.png_path = os.path.join(args.workdir, name + ".png")
        out_path = os.path.join(args.workdir, name + ".json")
        if os.path.exists(self.svg_path):
            os.remove(self.svg_path)
        command = [args.wine_run, args.exe, "--json", "--svg", "Z:" + self.svg_path, *extra]
        # Output into files, never a pipe: Wine's services may inherit what they are given.
        with open(out_path, "wb") as out, open(out_path + ".err", "wb") as err:
            self.exit_code = subprocess.run(command, stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL, timeout=120).returncode
        with open(out_path, "rb") as f:
            self.json = json.loads(f.read().decode("utf-8"))
        with open(self.svg_path, "rb") as f:
            self.svg = f.read().decode("utf-8")
        subprocess.run(["rsvg-convert", "-o", self.png_path, self.svg_path], check=True,
                       stdin=subprocess.DEVNULL, timeout=120)
        self.width, self.height, self.pixels = read_png(self.png_path)
        # Where the picture put the pad, and how many pixels a unit is.
        pad = re.search(r'<rect id="pad" x="([\d.]+)" y="([\d.]+)" width="([\d.]+)" '
                        r'height="([\d.]+)"', self.svg)
        self.pad_x, self.pad_y = float(pad.group(1)), float(pad.group(2))
        b = self.json["bounds"]
        self.min_x, self.max_x = min(b["left"], b["right"]), max(b["left"], b["right"])
        self.min_y = min(b["top"], b["bottom"])
        self.scale = float(pad.group(3)) / max(1, self.max_x - self.min_x)
        self.turn = self.json["up"]["turnSum"]

    def zone(self, key):
        return next(z for z in self.json["zones"] if z["key"] == key)

    def at_view(self, across, down):
        """The pixel showing the point `across` and `down` from the pad's top-left corner."""
        x = int(self.pad_x + (across + 0.5) * self.scale)
        y = int(self.pad_y + (down + 0.5) * self.scale)
        return self.pixel(x, y)

    def device_to_pixel(self, x, y):
        """Where a device point is drawn (up is the high device Y)."""
        return (self.pad_x + (x - self.min_x) * self.scale,
                self.pad_y + (self.turn - y - self.min_y) * self.scale)

    def pixel(self, x, y):
        return self.pixels[y][x]


def read_png(path):
    """Width, height and rows of (r, g, b) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG format"
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for r in range(height):
        start = r * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def close(colour, expected):
    return all(abs(a - b) <= 3 for a, b in zip(colour, expected))


def expected_colour(layout, key, across, down):
    """The colour the picture must show at a point of a zone that can be hit."""
    x, device_y = across + layout.min_x, layout.turn - (down + layout.min_y)
    for finding in layout.json["findings"]:
        if finding["kind"] != "overlap" or key not in finding["zones"]:
            continue
        area = finding["device"]
        if area["x"][0] <= x <= area["x"][1] and area["y"][0] <= device_y <= area["y"][1]:
            if finding["slideStepsVolume"]:
                return STRIP_OVERLAP
            return EXIT_OVER_GRID if finding["tapGoesTo"] == "exit" else GRID_OVER_GRID
    return {"strip": STRIP, "exit": EXIT}.get(key, GRID)


def check_zone_pixels(layout, case):
    """At the centre of every zone (of its part on the pad), the zone's colour or its shade;
    dead zones named in the caption."""
    width = layout.max_x - layout.min_x
    height = max(layout.json["bounds"]["top"], layout.json["bounds"]["bottom"]) - layout.min_y
    for zone in layout.json["zones"]:
        if not zone["canBeHit"]:
            check(zone["name"] in layout.svg and "Never hit" in layout.svg,
                  "%s: %s not named in the caption" % (case, zone["key"]))
            continue
        across = [max(0, zone["view"]["across"][0]), min(width, zone["view"]["across"][1])]
        down = [max(0, zone["view"]["down"][0]), min(height, zone["view"]["down"][1])]
        cx, cy = (across[0] + across[1]) // 2, (down[0] + down[1]) // 2
        got = layout.at_view(cx, cy)
        want = expected_colour(layout, zone["key"], cx, cy)
        check(close(got, want), "%s: %s at its centre (%d, %d from the top left) shows %s, not %s"
              % (case, zone["key"], cx, cy, got, want))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--demo-scenario", required=True)
    parser.add_argument("--workdir", required=True)
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    if not shutil.which("rsvg-convert"):
        print("rsvg-convert is missing: install librsvg2-bin (tools/bootstrap.sh does)")
        return 1

    # The worked bounds rows through --bounds and --json, each picture rendered.
    for (bounds, sizes), exit_code in zip(BOUNDS_ROWS, (1, 0, 1)):
        case = "bounds %s" % (bounds,)
        layout = Layout(args, "row%d" % bounds[1], ["--bounds", ",".join(map(str, bounds))])
        check(layout.exit_code == exit_code, "%s: exit code %d" % (case, layout.exit_code))
        got = layout.json["sizes"]
        check((got["colWidth"], got["btnWidth"], got["btnHeight"], got["stripHeight"]) == sizes,
              "%s: sizes %s" % (case, got))
        check(layout.json["source"]["kind"] == "given", case + ": source")
        check_zone_pixels(layout, case)

    # No bounds: the JSON still parses, and says why; no picture.
    out_path = os.path.join(args.workdir, "zero.json")
    with open(out_path, "wb") as out, open(out_path + ".err", "wb") as err:
        code = subprocess.run([args.wine_run, args.exe, "--json", "--bounds", "1000,0,7000,5800"],
                              stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                              timeout=120).returncode
    with open(out_path, "rb") as f:
        zero = json.loads(f.read().decode("utf-8"))
    check(code == 2 and zero["exitCode"] == 2, "zero bound: exit code %d" % code)
    check(zero["error"]["reason"] == "zero-bound", "zero bound: %s" % zero["error"])

    # The dead grid: nine buttons never hit, none of them drawn.
    dead = Layout(args, "dead-grid", ["--bounds", "1612,2072,5300,3748"])
    never = [z["key"] for z in dead.json["zones"] if not z["canBeHit"]]
    check(never == ["button%d" % i for i in range(1, 10)], "dead grid: never hit %s" % never)
    check("Never hit (9 of 11)" in dead.svg, "dead grid: caption")
    centre = dead.at_view(2124 - dead.min_x, 2351 - dead.min_y)  # where button 1 would be
    check(not close(centre, GRID), "dead grid: button 1 drawn")

    # The worked example.
    worked = Layout(args, "worked", ["--bounds", "1000,1000,7000,5800"])
    check(worked.exit_code == 0, "worked: exit code %d" % worked.exit_code)
    for key, rect in WORKED_ZONES.items():
        check(worked.zone(key)["rect"] == rect, "worked: %s is %s" % (key, worked.zone(key)["rect"]))
    check([f["zones"] for f in worked.json["findings"]] == [["exit", "strip"]],
          "worked: findings %s" % worked.json["findings"])
    check_zone_pixels(worked, "worked")
    # Between the buttons, the bare pad; outside it, the page.
    check(close(worked.at_view(1633, 1600), PAD), "worked: between buttons 1 and 2")
    check(close(worked.pixel(5, 300), (255, 255, 255)), "worked: outside the pad")

    # The demo's touches on it. They land on the buttons' centres, so this picture is another.
    demo = Layout(args, "demo", ["--bounds", "1000,1000,7000,5800",
                                 "--touches", "Z:" + os.path.abspath(args.demo_scenario)])
    touches = demo.json["touches"]
    check([t["kind"] for t in touches] == ["tap", "tap", "slide", "slide", "tap", "tap", "tap",
                                           "tap"], "demo touches: %s" % [t["kind"] for t in touches])
    check([t.get("button") for t in touches if t["kind"] == "tap"] ==
          ["button8", "button9", "button5", "button5", "button6", "exit"], "demo taps' buttons")
    dots = [tuple(float(v) for v in m) for m in re.findall(
        r'<rect class="tap" x="([\d.]+)" y="([\d.]+)" width="([\d.]+)" height="([\d.]+)"',
        demo.svg)]
    # The two taps on button 5 share a dot.
    check(len(dots) == 5, "demo: %d tap dots" % len(dots))
    for touch in touches:
        if touch["kind"] == "tap":
            x, y = demo.device_to_pixel(*touch["points"][-1])
            dot = next((d for d in dots if abs(d[0] + d[2] / 2 - x) < 0.2 and
                        abs(d[1] + d[3] / 2 - y) < 0.2), None)
            if check(dot is not None, "demo: no dot at tap %d" % touch["number"]):
                # Inside the dot, left of its number.
                got = demo.pixel(int(dot[0] + 4), int(y))
                check(close(got, TOUCH), "demo: tap %d's dot shows %s" % (touch["number"], got))
        else:
            middle = touch["points"][len(touch["points"]) // 2]
            x, y = demo.device_to_pixel(*middle)
            got = demo.pixel(int(x), int(y))
            check(close(got, TOUCH), "demo: slide %d shows %s at its middle" % (touch["number"], got))

    if failures:
        print("%d failures" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
