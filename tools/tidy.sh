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
# Each file is checked with its compile command. A file whose text, the text of every header it
# includes (as the build's dependency records list them), its command, the checks and
# clang-tidy are those of a file found clean before on this machine is not checked again: a
# second run, in this clone or another, takes seconds; a fresh machine checks everything.
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tapdeck-tidy
mkdir -p "$cache"
ninja -C "$build" -t deps > "$cache/.deps-$$" 2> /dev/null || true
python3 - "$build" "$root" "$cache" "$(nproc)" "$cache/.deps-$$" "${extra[@]}" << 'PY'
import concurrent.futures, hashlib, json, os, re, shlex, subprocess, sys

build, root, cache, jobs, depsfile = sys.argv[1], sys.argv[2] + "/", sys.argv[3], int(sys.argv[4]), sys.argv[5]
extra = sys.argv[6:]
entries = [e for e in json.load(open(build + "/compile_commands.json"))
           if e["file"].startswith(root) and e["file"].endswith((".cpp", ".c"))
           and not e["file"][len(root):].startswith(("tests/", "bench/", "build"))]
print(f"clang-tidy: {len(entries)} files", flush=True)
tool = subprocess.run(["clang-tidy", "--version"], capture_output=True, text=True).stdout
config = open(root + ".clang-tidy", "rb").read()

# Each object's dependencies, from `ninja -t deps`.
deps, current = {}, None
for line in open(depsfile, errors="replace"):
    if not line.startswith(" ") and ": #deps" in line:
        current = deps.setdefault(line.split(": #deps")[0], [])
    elif line.strip() and current is not None:
        current.append(os.path.normpath(os.path.join(build, line.strip())))
os.remove(depsfile)
digests = {}

def digest(path):
    if path not in digests:
        try:
            digests[path] = hashlib.sha256(open(path, "rb").read()).hexdigest()
        except OSError:
            digests[path] = "missing"
    return digests[path]

def key(entry):
    args = shlex.split(entry["command"])
    obj = args[args.index("-o") + 1] if "-o" in args else None
    h = hashlib.sha256()
    for part in (tool, config.decode(errors="replace"), " ".join(extra),
                 entry["command"].replace(root, "<root>/")):
        h.update(part.encode())
        h.update(b"\0")
    if obj in deps and deps[obj]:
        for path in deps[obj]:
            name = "<root>/" + path[len(root):] if path.startswith(root) else path
            h.update(f"{name} {digest(path)}\n".encode())
        return h.hexdigest()
    # Without the build's record: the preprocessed text, comments kept (NOLINT counts).
    pre = [a for i, a in enumerate(args) if a != "-c" and a != "-o" and (i == 0 or args[i - 1] != "-o")]
    text = subprocess.run(pre + ["-E", "-P", "-C"], cwd=entry["directory"], capture_output=True)
    if text.returncode != 0:
        return None
    h.update(text.stdout)
    return h.hexdigest()

noise = re.compile(r"^[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$|^Suppressed [0-9]+ warnings|"
                   r"^Use -header-filter|^$")

def check(entry):
    k = key(entry)
    if k and os.path.exists(os.path.join(cache, k)):
        return True, "", True
    run = subprocess.run(["clang-tidy", "-quiet", "-p", build] + [f"-extra-arg={a}" for a in extra]
                         + [entry["file"]], capture_output=True, text=True)
    lines = [l for l in (run.stdout + run.stderr).splitlines() if not noise.match(l)]
    clean = run.returncode == 0 and not any(": warning: " in l or ": error: " in l for l in lines)
    if clean and k:
        open(os.path.join(cache, k), "w").close()
    return clean, "\n".join(lines), False

status, cached = 0, 0
with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    for clean, text, hit in pool.map(check, entries):
        cached += hit
        if not clean:
            status = 1
            print(re.sub(r"\x1b\[[0-9;]*m", "", text))
print(f"clang-tidy: {len(entries) - cached} checked, {cached} found clean before with the same text")
sys.exit(status)
PY
