#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (WINEPREFIX, set by ctest and the
# scripts). Used as CMake's cross-compiling emulator, so ctest runs tests through it.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the project prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
# The harmless "wine32 is missing" notice on every start is dropped; all else goes through.
exec wine "$@" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch' -e 'dpkg --add-architecture' -e 'apt-get install wine32' >&2)
