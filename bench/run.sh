#!/usr/bin/env bash
# Benchmark: funsize on a 64-bit ELF object with N function symbols (default
# 1,000,000), in all-functions mode and with five -func= names, beside
# `nm -S --defined-only` on the same file. Prints the times, the ratio to nm
# and the peak memory against the size of the symbol and string tables.
# Also checks that the time grows no faster than n log n (N/4 against N).
#
# usage: bench/run.sh [N]
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=${1:-1000000}
build=${BUILD:-build-bench}
release_build $build OFF funsize
bin=$build/funsize

python3 bench/gen_elf.py "$n" "$work/big.o"
python3 bench/gen_elf.py "$((n / 4))" "$work/quarter.o"
python3 bench/gen_elf.py "$n" "$work/nosize.o" --no-sizes
strtab=$(readelf -SW "$work/big.o" | awk '{for (i = 1; i <= NF; i++) if ($i == ".strtab") print $(i + 4)}')
tables=$(( 24 * (n + 1) + 0x$strtab ))

# Five names spread over the table, the last one near its end.
funcs="-func=function_0000010 -func=function_$(printf %07d $((n / 4))) -func=function_$(printf %07d $((n / 2))) -func=function_$(printf %07d $((3 * n / 4))) -func=function_$(printf %07d $((n - 1)))"
early="-func=function_0000001 -func=function_0000002 -func=function_0000003 -func=function_0000004 -func=function_0000005"


t_nm=$(mean nm -S --defined-only "$work/big.o")
t_all=$(mean $bin "$work/big.o")
t_nosize=$(mean $bin "$work/nosize.o")
t_quarter=$(mean $bin "$work/quarter.o")
t_func=$(mean $bin $funcs "$work/big.o")
t_early=$(mean $bin $early "$work/big.o")
m_all=$(peak_kib $bin "$work/big.o")
m_nosize=$(peak_kib $bin "$work/nosize.o")

python3 - "$n" "$t_nm" "$t_all" "$t_nosize" "$t_quarter" "$t_func" "$t_early" "$m_all" "$m_nosize" "$tables" <<'PY'
import math, sys
n, t_nm, t_all, t_nosize, t_q, t_func, t_early, m_all, m_nosize, tables = sys.argv[1:]
n = int(n); t_nm, t_all, t_nosize, t_q, t_func, t_early = map(float, (t_nm, t_all, t_nosize, t_q, t_func, t_early))
m_all, m_nosize, tables = int(m_all), int(m_nosize), int(tables)
print(f"symbols                          {n}")
print(f"nm -S --defined-only             {t_nm:.3f} s")
print(f"funsize, all functions           {t_all:.3f} s   ratio to nm {t_all / t_nm:.2f} (target <= 0.33)")
print(f"funsize, all, sizes derived      {t_nosize:.3f} s")
print(f"funsize, five -func= names       {t_func:.3f} s")
print(f"funsize, five early -func= names {t_early:.3f} s   (stops reading once all are sized)")
growth = (t_all / t_q) / ((n * math.log(n)) / ((n / 4) * math.log(n / 4)))
print(f"growth N/4 -> N against n log n  {growth:.2f} (<= 1 grows no faster)")
print(f"peak memory, all functions       {m_all / 1024:.1f} MiB; symbol+string tables {tables / 2**20:.1f} MiB; ratio {m_all * 1024 / tables:.2f} (target <= 2)")
print(f"peak memory, sizes derived       {m_nosize / 1024:.1f} MiB; ratio {m_nosize * 1024 / tables:.2f}")
PY
