#!/usr/bin/env bash
# Static analysis: clang-tidy with the checks in .clang-tidy over the sources of the program,
# its libraries and its tools (everything the build compiles except tests, benchmarks and
# GoogleTest), using the x64 MinGW build's compile commands. Exits non-zero on any finding.
#   tools/tidy.sh [BUILD_DIR]       default: build, the default preset's directory
set -eu -o pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if [ ! -f "$build/compile_commands.json" ]; then
    cmake --preset default -B "$build" > /dev/null
fi
# clang reads the MinGW compile commands as they are, but finds GCC's C++ library headers only
# when told where the cross compiler keeps them.
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
extra=(--target=x86_64-w64-mingw32 -nostdinc++
    "-isystem$gcc_dir/include/c++" "-isystem$gcc_dir/include/c++/x86_64-w64-mingw32"
    "-isystem$gcc_dir/include/c++/backward")
args=()
for a in "${extra[@]}"; do
    args+=("-extra-arg=$a")
done
files=$(python3 - "$build/compile_commands.json" "$root" << 'PY'
import json, sys
root = sys.argv[2] + "/"
for entry in json.load(open(sys.argv[1])):
    f = entry["file"]
    rel = f[len(root):] if f.startswith(root) else None
    if rel and f.endswith((".cpp", ".c")) and not rel.startswith(("tests/", "bench/", "build")):
        print(f)
PY
)
echo "clang-tidy: $(echo "$files" | wc -l) files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${args[@]}" $files > "$log" 2>&1 || status=$?
# Only the findings: not the counts of warnings suppressed in system headers.
sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -vE '^[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^clang-tidy-14 |^Running clang-tidy|^$' || true
exit $status
