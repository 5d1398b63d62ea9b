#!/usr/bin/env bash
# Runs the pointer tests in Wine's virtual desktop on an X server of their own (Xvfb), where
# xdotool's clicks reach Windows programs as a mouse's do. Skipped (exit code 77) where Xvfb or
# xdotool is missing. The prefix's graphics driver is X11 only while they run: every other
# test has the null driver.
#   pointer_test.sh TEST_EXE
set -u
exe=$1
for tool in Xvfb xdotool; do
    if ! command -v "$tool" > /dev/null; then
        echo "skipped: no $tool (Debian's xvfb and xdotool packages)"
        exit 77
    fi
done
. "$(dirname "$0")/../../tools/wine-env.sh"
wine() { "$TAPDECK_WINE" "$@"; }
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" > /dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
export DISPLAY=:$(cat "$work/display")
drivers='HKCU\Software\Wine\Drivers'
trap 'wine reg add "$drivers" /v Graphics /d null /f > /dev/null 2>&1; kill $xvfb; rm -rf "$work"' EXIT
wine reg add "$drivers" /v Graphics /d x11 /f > /dev/null 2>&1
# The program's exit code is not explorer's: the verdict is GoogleTest's own lines.
wine explorer /desktop=tapdeck-pointer,1024x768 "$(wine winepath -w "$exe" 2> /dev/null)" \
    > "$work/out" 2>&1 < /dev/null
grep -av -e ':fixme:' -e '^[0-9a-f]\{4\}:err:' "$work/out"
grep -aq '^\[  PASSED  \]' "$work/out" && ! grep -aq '^\[  FAILED  \]' "$work/out"
