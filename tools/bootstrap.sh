#!/usr/bin/env bash
# Installs, with apt-get, what building, testing and packaging Tapdeck needs on a Debian machine
# and is not there yet. Safe to run again: it installs nothing when all is present.
set -eu
packages=(
    cmake ninja-build git python3
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    # The 32-bit side of Wine runs the 32-bit build (and 32-bit device libraries) under WoW64.
    wine wine64 wine32:i386
    googletest
    clang-format clang-tidy
    # makensis for the installers; rsvg-convert renders the layout pictures in the tests.
    nsis librsvg2-bin
    # An X server without a display, a way to click in it and to read its pixels: the pointer
    # tests and the panel's screen check.
    xvfb xdotool imagemagick
    # A compiler cache: a second build on this machine, in any clone, reads most objects back.
    ccache
)
sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (for wine32)"
    $sudo dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" > /dev/null
