#!/usr/bin/env bash
# Installs, with apt-get, what building and testing Tapdeck needs on a Debian machine and is
# not there yet. Safe to run again: it installs nothing when all is present.
set -eu
packages=(
    cmake ninja-build git
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    wine wine64
    googletest
    clang-format
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" > /dev/null
