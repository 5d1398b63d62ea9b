#!/usr/bin/env bash
# Builds Tapdeck and the simulated touchpad library for x64 and x86 and runs every test under
# Wine, once for each build.
# Under CI (CI=true) warnings are errors, the tree must follow .clang-format and clang-tidy
# must find nothing.
set -eu
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh

werror=OFF
if [ "${CI:-}" = true ]; then
    werror=ON
    echo "== clang-format check"
    git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
fi

echo "== build (x64)"
cmake --preset default -DTAPDECK_WERROR=$werror > /dev/null
cmake --build --preset default

if [ "${CI:-}" = true ]; then
    echo "== clang-tidy"
    bash tools/tidy.sh
fi

echo "== build (x86)"
cmake --preset i686 -DTAPDECK_WERROR=$werror > /dev/null
cmake --build --preset i686

# Each build runs the whole suite in a Wine prefix of its own, with its own simulated touchpad
# library registered in the registry view of its bitness.
echo "== tests (x64)"
ctest --preset default "$@"
echo "== tests (x86, under WoW64)"
ctest --preset i686 "$@"
