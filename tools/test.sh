#!/usr/bin/env bash
# Builds Tapdeck and the simulated touchpad library for x64 and x86 and runs every test under
# Wine, once for each build. On a machine that cannot run 32-bit programs (tools/wine-env.sh)
# the x86 build is still built, but its tests cannot run: the closing lines say so.
# Under CI (CI=true) warnings are errors, the tree must follow .clang-format and clang-tidy
# must find nothing.
# The closing lines give each stage's time and each suite's, and the total.
set -eu
cd "$(dirname "$0")/.."
began=$SECONDS
stages=()
# timed NAME COMMAND...: runs the command and keeps how long it took, for the closing lines.
timed() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    stages+=("$(printf '%-30s %5d s' "$name" $((SECONDS - start)))")
}

timed "set-up (bootstrap)" bash tools/bootstrap.sh
. tools/wine-env.sh

werror=OFF
if [ "${CI:-}" = true ]; then
    werror=ON
    echo "== clang-format check"
    timed "clang-format check" sh -c "git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror"
fi

echo "== build (x64)"
cmake --preset default -DTAPDECK_WERROR=$werror > /dev/null
timed "build (x64)" cmake --build --preset default

if [ "${CI:-}" = true ]; then
    echo "== clang-tidy"
    timed "clang-tidy" bash tools/tidy.sh
fi

echo "== build (x86)"
cmake --preset i686 -DTAPDECK_WERROR=$werror > /dev/null
timed "build (x86)" cmake --build --preset i686

# Runs one build's suite; its ctest log is kept for the closing lines.
status=0
run_suite() {
    local preset=$1 log=$2
    local start=$SECONDS
    ctest --preset "$preset" --output-log "$log" "${@:3}" || status=1
    stages+=("$(printf '%-30s %5d s' "tests ($preset)" $((SECONDS - start)))")
}
# Each suite's time, from ctest's own lines in its log.
suite_times() {
    local name=$1 log=$2
    grep -aE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" |
        sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec.*$/\1 \2/' |
        while read -r suite seconds; do
            printf '  %-28s %7.1f s\n' "$name $suite" "$seconds"
        done
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
fi
echo "== times"
printf '%s\n' "${stages[@]}"
suite_times x64 "$logs/x64.log"
if [ "$TAPDECK_RUNS_32BIT" = yes ]; then
    suite_times x86 "$logs/x86.log"
fi
printf '%-30s %5d s\n' "total" $((SECONDS - began))
echo "== results"
if [ "$TAPDECK_RUNS_32BIT" = yes ]; then
    summary x86 "$logs/x86.log"
else
    echo "x86 tests: not run: this machine cannot run 32-bit programs ($TAPDECK_NO_32BIT_WHY)"
fi
summary x64 "$logs/x64.log"
exit $status
