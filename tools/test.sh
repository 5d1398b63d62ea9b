#!/usr/bin/env bash
# Builds Tapdeck and the simulated touchpad library for x64 and x86 and runs every test under
# Wine, once for each build. On a machine that cannot run 32-bit programs (tools/wine-env.sh)
# the x86 build is still built, but its tests cannot run: the closing lines say so.
# Under CI (CI=true) warnings are errors, the tree must follow .clang-format and clang-tidy
# must find nothing.
#
# The x64 tests spend most of their time waiting on Wine, so clang-tidy and the x86 build run
# beside them, at a lower priority; their output follows the tests'. The closing lines give
# each stage's time and each suite's, and the total.
set -eu
cd "$(dirname "$0")/.."
began=$SECONDS
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Each stage's time, a line each, for the closing lines; stages beside the tests write it too.
times=$logs/times
: > "$times"
# timed NAME COMMAND...: runs the command and notes how long it took.
timed() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    printf '%-30s %5d s\n' "$name" $((SECONDS - start)) >> "$times"
    return $status
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

# Beside the x64 tests: clang-tidy (under CI) and the x86 build. Each one's failure fails the run.
beside() {
    local failed=0
    if [ "${CI:-}" = true ]; then
        echo "== clang-tidy"
        timed "clang-tidy (beside the tests)" nice -n 10 bash tools/tidy.sh || failed=$((failed | 1))
    fi
    echo "== build (x86)"
    cmake --preset i686 -DTAPDECK_WERROR=$werror > /dev/null &&
        timed "build (x86, beside the tests)" nice -n 10 cmake --build --preset i686 ||
        failed=$((failed | 2))
    return $failed
}
beside > "$logs/beside.log" 2>&1 &
beside_pid=$!

# Runs one build's suite; its ctest log is kept for the closing lines.
status=0
run_suite() {
    local preset=$1 log=$2
    timed "tests ($preset)" ctest --preset "$preset" --output-log "$log" "${@:3}" || status=1
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
echo "== tests (x64)"
run_suite default "$logs/x64.log" "$@"

beside_status=0
wait $beside_pid || beside_status=$?
cat "$logs/beside.log"
[ $beside_status -eq 0 ] || status=1
if [ "$TAPDECK_RUNS_32BIT" = yes ] && [ $((beside_status & 2)) -eq 0 ]; then
    echo "== tests (x86, under WoW64)"
    run_suite i686 "$logs/x86.log" "$@"
fi
echo "== times"
cat "$times"
suite_times x64 "$logs/x64.log"
if [ -f "$logs/x86.log" ]; then
    suite_times x86 "$logs/x86.log"
fi
printf '%-30s %5d s\n' "total" $((SECONDS - began))
echo "== results"
if [ $((beside_status & 1)) -ne 0 ]; then
    echo "clang-tidy: findings (above)"
fi
if [ $((beside_status & 2)) -ne 0 ]; then
    echo "build (x86): failed (above)"
fi
if [ "$TAPDECK_RUNS_32BIT" != yes ]; then
    echo "x86 tests: not run: this machine cannot run 32-bit programs ($TAPDECK_NO_32BIT_WHY)"
elif [ -f "$logs/x86.log" ]; then
    summary x86 "$logs/x86.log"
else
    echo "x86 tests: not run: the x86 build failed"
fi
summary x64 "$logs/x64.log"
exit $status
