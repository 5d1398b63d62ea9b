#!/usr/bin/env bash
# Builds Tapdeck and the simulated touchpad library and runs every test under Wine.
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

echo "== build (i686, compiled and linked only)"
cmake --preset i686 -DTAPDECK_WERROR=$werror > /dev/null
cmake --build --preset i686

echo "== tests"
ctest --preset default "$@"
