#!/usr/bin/env bash
# Builds Tapdeck and the simulated touchpad library for x64 and x86 and runs every test under
# Wine, once for each build. On a machine that cannot run 32-bit programs (tools/wine-env.sh)
# the x86 build is still built, but its tests cannot run: the closing lines say so.
# Under CI (CI=true) warnings are errors, the tree must follow .clang-format and clang-tidy
# must find nothing.
set -eu
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh
. tools/wine-env.sh

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

# Runs one build's suite; its ctest log is kept for the closing lines.
status=0
run_suite() {
    local preset=$1 log=$2
    ctest --preset "$preset" --output-log "$log" "${@:3}" || status=1
}
# "x64: 17 passed, 0 failed", from ctest's own summary in its log.
summary() {
    local name=$1 log=$2 line
    line=$(grep -aE '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "$name: no result (ctest ended early)"
        return
    fi
    echo "$line" | sed -E "s/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2 \1/" |
        { read -r total failed; echo "$name: $((total - failed)) passed, $failed failed"; }
}

# Each build runs the whole suite in a Wine prefix of its own, with its own simulated touchpad
# library registered in the registry view of its bitness.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
echo "== tests (x64)"
run_suite default "$logs/x64.log" "$@"
if [ "$TAPDECK_RUNS_32BIT" = yes ]; then
    echo "== tests (x86, under WoW64)"
    run_suite i686 "$logs/x86.log" "$@"
    echo "== results"
    summary x86 "$logs/x86.log"
else
    echo "== results"
    echo "x86 tests: not run: this machine cannot run 32-bit programs ($TAPDECK_NO_32BIT_WHY)"
fi
summary x64 "$logs/x64.log"
exit $status
