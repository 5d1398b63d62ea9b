#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (WINEPREFIX, set by ctest and the
# scripts), with the loader tools/wine-env.sh chose. Used as CMake's cross-compiling emulator,
# so ctest runs tests through it.
#
# Wine writes its debug traces, its own and those of every process the program starts, to the
# Unix standard error it was started with. With TAPDECK_STDERR_FILE set, that goes to the file,
# where a test can read its children's relay traces; what is not a trace line is shown after.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the project prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export WINEARCH=win64
. "$(dirname "$0")/wine-env.sh"
notice='wine32 is missing|multiarch|dpkg --add-architecture|apt-get install wine32'
if [ -n "${TAPDECK_STDERR_FILE:-}" ]; then
    : > "$TAPDECK_STDERR_FILE"
    "$TAPDECK_WINE" "$@" 2>> "$TAPDECK_STDERR_FILE"
    rc=$?
    grep -aEv -e "$notice" -e '^[0-9a-f]{4}:' "$TAPDECK_STDERR_FILE" >&2
    exit $rc
fi
# The harmless "wine32 is missing" notice on every start is dropped; all else goes through.
exec "$TAPDECK_WINE" "$@" 2> >(grep -aEv -e "$notice" >&2)
