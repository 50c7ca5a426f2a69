#!/usr/bin/env bash
# Benchmark: funsize-diff on two 64-bit ELF objects of N function symbols
# each (default 1,000,000; the second with every 100th function grown and
# every 1000th renamed), beside funsize reporting one of them. Prints the
# times and peak memories and their ratios (targets: at most 2.5 times
# each).
#
# usage: bench/run_diff.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
build=build-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DFUNSIZE_TESTS=OFF >/dev/null
cmake --build $build -j2 --target funsize funsize-diff >/dev/null

python3 bench/gen_elf.py "$n" "$work/old.o"
python3 bench/gen_elf.py "$n" "$work/new.o" --grow=100 --rename=1000

# Mean wall-clock seconds over several runs, and the mean processor time
# (user + system), which other work on the machine disturbs less.
mean() { # command... -> "wall cpu"
    hyperfine -N --warmup 2 --runs 10 --export-json "$work/h.json" "$*" >/dev/null 2>&1
    python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; print('%.4f %.4f' % (r['mean'], r['user'] + r['system']))" "$work/h.json"
}
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

read -r t_one c_one <<<"$(mean $build/funsize "$work/new.o")"
read -r t_diff c_diff <<<"$(mean $build/funsize-diff "$work/old.o" "$work/new.o")"
read -r t_json c_json <<<"$(mean $build/funsize-diff --format=json "$work/old.o" "$work/new.o")"
m_one=$(peak_kib $build/funsize "$work/new.o")
m_diff=$(peak_kib $build/funsize-diff "$work/old.o" "$work/new.o")
lines=$($build/funsize-diff "$work/old.o" "$work/new.o" | wc -l)

python3 - "$n" "$t_one" "$c_one" "$t_diff" "$c_diff" "$t_json" "$c_json" "$m_one" "$m_diff" "$lines" <<'PY'
import sys
n, t_one, c_one, t_diff, c_diff, t_json, c_json, m_one, m_diff, lines = sys.argv[1:]
t_one, c_one, t_diff, c_diff, t_json, c_json = map(float, (t_one, c_one, t_diff, c_diff, t_json, c_json))
m_one, m_diff = int(m_one), int(m_diff)
print(f"functions per side               {int(n)} ({int(lines) - 3} changed lines printed)")
print(f"                                 wall      processor  peak memory")
print(f"funsize, one side                {t_one:.3f} s   {c_one:.3f} s    {m_one / 1024:.1f} MiB")
print(f"funsize-diff, text               {t_diff:.3f} s   {c_diff:.3f} s    {m_diff / 1024:.1f} MiB")
print(f"funsize-diff, json               {t_json:.3f} s   {c_json:.3f} s")
print(f"ratios: wall {t_diff / t_one:.2f}, processor {c_diff / c_one:.2f} (target <= 2.5); memory {m_diff / m_one:.2f} (target <= 2.5)")
PY
