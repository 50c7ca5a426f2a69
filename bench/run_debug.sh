#!/usr/bin/env bash
# Benchmark: funsize on a synthetic program's debug information, a name file
# and its .dla of N debug objects (default 1,000) holding P procedures in
# all (default 1,000,000): the name file in all-functions mode and with five
# -func= names, and the .dla member by member. Checks that the time grows no
# faster than n log n (the same program at a quarter of the objects and
# procedures against the full one), and that the walk over the name file
# reads each debug object once (the library's own report of its loads, in
# the generator's walk mode) and opens the .dla once (strace, when present;
# the bytes read from the .dla against its size are shown beside it: the
# reader's read-ahead windows make them more than the file).
#
# usage: bench/run_debug.sh [N [P]]
set -euo pipefail
source "$(dirname "$0")/common.sh"
objects=${1:-1000}
procs=${2:-1000000}
build=${BUILD:-build-bench-debug}
release_build $build OFF funsize
bin=$build/funsize
g++ -std=c++20 -O2 -Isrc/debug -Isrc/shared -Isrc/gadr bench/gen_debug.cpp \
    $build/libdebuginfo.a $build/libgadr.a $build/libshared.a -o "$work/gen_debug"

"$work/gen_debug" "$objects" "$procs" "$work/big"
"$work/gen_debug" "$((objects / 4))" "$((procs / 4))" "$work/quarter"
dla_bytes=$(stat -c %s "$work/big.dla")

last=$((procs - 1))
funcs="-func=function_0000010 -func=function_$(printf %07d $((procs / 4))) -func=function_$(printf %07d $((procs / 2))) -func=function_$(printf %07d $((3 * procs / 4))) -func=function_$(printf %07d $last)"

# The report must list every procedure, 16 bytes each.
lines=$($bin "$work/big.dnm" | awk '$2 == 16' | wc -l)
[ "$lines" -eq "$procs" ] || { echo "expected $procs lines of size 16, got $lines" >&2; exit 1; }

mean() { # command... -> mean seconds over several runs
    if command -v hyperfine >/dev/null; then
        hyperfine -N --warmup 1 --runs 5 --export-json "$work/h.json" "$*" >/dev/null 2>&1
        python3 -c "import json,sys; print('%.4f' % json.load(open(sys.argv[1]))['results'][0]['mean'])" "$work/h.json"
    else
        python3 - "$@" <<'PY'
import subprocess, sys, time
runs = []
for _ in range(5):
    t = time.perf_counter()
    subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
    runs.append(time.perf_counter() - t)
print('%.4f' % (sum(runs) / len(runs)))
PY
    fi
}

t_dnm=$(mean $bin "$work/big.dnm")
t_quarter=$(mean $bin "$work/quarter.dnm")
t_func=$(mean $bin $funcs "$work/big.dnm")
t_dla=$(mean $bin "$work/big.dla")
m_dnm=$(peak_kib $bin "$work/big.dnm")

# Loads during the walk: every object once.
read -r loads distinct walked < <("$work/gen_debug" --walk "$work/big.dnm")

# Reads of the .dla during the name-file walk: opens and bytes.
opens=-1
read_bytes=-1
if command -v strace >/dev/null; then
    strace -f -e trace=openat,read -o "$work/trace" $bin "$work/big.dnm" >/dev/null
    read -r opens read_bytes < <(python3 - "$work/trace" "$work/big.dla" <<'PY'
import re, sys
trace, dla = sys.argv[1], sys.argv[2]
fds, opens, total = set(), 0, 0
for line in open(trace):
    m = re.search(r'openat\(.*"([^"]+)".*= (\d+)$', line)
    if m and m.group(1) == dla:
        opens += 1
        fds.add(int(m.group(2)))
        continue
    m = re.search(r'read\((\d+),.*= (\d+)$', line)
    if m and int(m.group(1)) in fds:
        total += int(m.group(2))
print(opens, total)
PY
)
fi

python3 - "$objects" "$procs" "$t_dnm" "$t_quarter" "$t_func" "$t_dla" "$m_dnm" "$opens" "$read_bytes" "$dla_bytes" \
    "$loads" "$distinct" "$walked" <<'PY'
import math, sys
objects, procs = int(sys.argv[1]), int(sys.argv[2])
t_dnm, t_q, t_func, t_dla = map(float, sys.argv[3:7])
m_dnm, opens, read_bytes, dla_bytes, loads, distinct, walked = map(int, sys.argv[7:14])
print(f"debug objects / procedures       {objects} / {procs}")
print(f"funsize prog.dnm, all functions  {t_dnm:.3f} s")
print(f"funsize prog.dnm, five -func=    {t_func:.3f} s")
print(f"funsize prog.dla, member by member {t_dla:.3f} s")
growth = (t_dnm / t_q) / ((procs * math.log(procs)) / ((procs / 4) * math.log(procs / 4)))
print(f"growth N/4 -> N against n log n  {growth:.2f} (<= 1 grows no faster)")
print(f"peak memory, prog.dnm            {m_dnm / 1024:.1f} MiB")
print(f"objects loaded by the walk       {loads} loads of {distinct} objects, {walked} procedures")
ok = growth <= 1.0 and loads == objects and distinct == objects and walked == procs
if opens >= 0:
    print(f".dla opened during the walk      {opens} time(s)")
    print(f".dla bytes read / .dla size      {read_bytes / dla_bytes:.2f}")
    ok = ok and opens == 1
else:
    print("strace not found: the reads of the .dla were not counted")
sys.exit(0 if ok else 1)
PY
