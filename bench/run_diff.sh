#!/usr/bin/env bash
# Benchmark: funsize-diff on two 64-bit ELF objects of N function symbols
# each (default 1,000,000; the second with every 100th function grown and
# every 1000th renamed), beside funsize reporting one of them. Prints the
# times and peak memories and their ratios (targets: at most 2.5 times
# each).
#
# usage: bench/run_diff.sh [N]
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=${1:-1000000}
build=${BUILD:-build-bench}
release_build $build OFF funsize funsize-diff

python3 bench/gen_elf.py "$n" "$work/old.o"
python3 bench/gen_elf.py "$n" "$work/new.o" --grow=100 --rename=1000


read -r t_one c_one <<<"$(mean_times $build/funsize "$work/new.o")"
read -r t_diff c_diff <<<"$(mean_times $build/funsize-diff "$work/old.o" "$work/new.o")"
read -r t_json c_json <<<"$(mean_times $build/funsize-diff --format=json "$work/old.o" "$work/new.o")"
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
