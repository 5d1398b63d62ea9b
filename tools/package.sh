#!/usr/bin/env bash
# Builds the release packages of both architectures into one folder and prints their paths:
# an installer and a zip each, Tapdeck-<version>-win64.exe/.zip and Tapdeck-<version>-win32.exe/.zip.
#   tools/package.sh [OUT_DIR]       default: dist
set -eu -o pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-dist}
case "$out" in /*) ;; *) out=$root/$out ;; esac
bash tools/bootstrap.sh

mkdir -p "$out"
for preset in default i686; do
    echo "== build ($preset)"
    cmake --preset $preset > /dev/null
    cmake --build --preset $preset
    build=$root/build
    [ $preset = default ] || build=$root/build-$preset
    echo "== packages ($preset)"
    (cd "$build" && cpack -G "NSIS;ZIP" -B "$out" > /dev/null)
done
rm -rf "$out/_CPack_Packages"
echo "== packages"
ls -1 "$out"/Tapdeck-*.exe "$out"/Tapdeck-*.zip
