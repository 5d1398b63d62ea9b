#!/usr/bin/env bash
# Builds the benchmarks and runs every one under Wine in the project's prefix, then prints the
# figures (the RESULT lines) together. docs/performance.md explains each one.
#   tools/bench.sh [BUILD_DIR]       default: build, the default preset's directory
# Run it on a quiet machine: the figures are wall-clock and CPU times.
set -eu -o pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset default -B "$build" > /dev/null
fi
benches="bench_packets bench_tap_to_key bench_start bench_idle_cpu bench_memory bench_ptp_translate
    bench_virtual_pad bench_ptp_idle bench_report_recorder bench_vtp_play bench_launcher"
cmake --build "$build" --target tapdeck velsim vtouchpad bench_empty bench_empty_com $benches

export WINEPREFIX=$build/wineprefix
tools/wine-prefix.sh up "$WINEPREFIX" "$build/sim/velsim.dll"
trap 'tools/wine-prefix.sh down "$WINEPREFIX"' EXIT
export TAPDECK_EXE="Z:$build/src/tapdeck.exe"
export VELSIM_DLL="Z:$build/sim/velsim.dll" VELPTP_DLL="Z:$build/ptp/velptp.dll"
export VTP_DRIVER_DIR="Z:$build/virtual_touchpad" VTP_PADS="Z:$root/tests/virtual_touchpad/pads"
unset VELSIM_SCENARIO VELSIM_JOURNAL
# The panel on the screen, in process (docs/performance.md, section 8).
cmake --build "$build" --target bench_overlay > /dev/null
benches="$benches bench_overlay"

log=$(mktemp)
failed=0
for b in $benches; do
    echo "== $b"
    if ! tools/wine-run.sh "$build/bench/$b.exe" 2>&1 | tee -a "$log"; then
        echo "$b failed" | tee -a "$log"
        failed=1
    fi
done
echo "== figures"
grep -E '^RESULT|failed$' "$log" || true
rm -f "$log"
exit $failed
