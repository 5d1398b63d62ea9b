#!/usr/bin/env bash
# Makes docs/overlay.png and docs/overlay-dark.png: the on-screen panel as the overlay's own
# renderer draws it (tapdeck-overlay-picture.exe under Wine, with Wine's fonts) in the light and
# the dark theme, the Precision Touchpad library's pad mid-session. The program writes each PNG
# uncompressed; this script recompresses it losslessly (Python's zlib), and the check compares
# pixels, not bytes.
#   tools/overlay-picture.sh [BUILD_DIR]          builds the tool, writes both pictures
#   tools/overlay-picture.sh --check BUILD_DIR    fails when a picture's pixels are not what
#                                                 the renderer draws now (ctest runs this, with
#                                                 the build's Wine prefix up)
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
export WINEPREFIX=$build/wineprefix
tool=$build/overlay/tapdeck-overlay-picture.exe
made=$(mktemp --suffix=.png)
trap 'rm -f "$made"' EXIT

# png_tool compress IN OUT | png_tool same A B: PNG files of 8 bits a channel without interlace.
# The pictures and the theme each is drawn in.
pictures="docs/overlay.png:light docs/overlay-dark.png:dark"

png_tool() {
    python3 - "$@" << 'PY'
import struct, sys, zlib

def read(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path + ": not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + size]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
        at += 12 + size
    return header, zlib.decompress(idat)

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

if sys.argv[1] == "compress":
    header, raw = read(sys.argv[2])
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
    open(sys.argv[3], "wb").write(out + chunk(b"IEND", b""))
else:
    # The tool writes unfiltered rows, and so does the compression: the bytes are the pixels.
    sys.exit(0 if read(sys.argv[2]) == read(sys.argv[3]) else 1)
PY
}

if $check; then
    status=0
    for picture in $pictures; do
        file=${picture%%:*}
        tools/wine-run.sh "$tool" "Z:$made" "${picture##*:}" > /dev/null
        if ! png_tool same "$made" "$file"; then
            echo "$file is not what tapdeck-overlay-picture.exe draws now;" \
                "make it again with: bash tools/overlay-picture.sh" >&2
            status=1
        else
            echo "$file is what tapdeck-overlay-picture.exe draws now"
        fi
    done
    exit $status
fi

bash tools/bootstrap.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset default -B "$build" > /dev/null
fi
cmake --build "$build" --target tapdeck-overlay-picture velsim
tools/wine-prefix.sh up "$WINEPREFIX" "$build/sim/velsim.dll"
trap 'rm -f "$made"; tools/wine-prefix.sh down "$WINEPREFIX"' EXIT
for picture in $pictures; do
    file=${picture%%:*}
    tools/wine-run.sh "$tool" "Z:$made" "${picture##*:}" > /dev/null
    png_tool compress "$made" "$file"
    echo "wrote $file"
done
