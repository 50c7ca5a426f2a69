#!/usr/bin/env bash
# Benchmark: funsize on an x86-64 COFF object and on a PE image, each with N
# function symbols (default 200,000; every name in the string table), beside
# `nm` and `objdump -t` on the same files. Prints the times and the ratios to
# both, for sizes from the auxiliary entries and for derived sizes, and checks
# that the time grows no faster than n log n (N/4 against N).
#
# usage: bench/run_coff.sh [N]     (BUILD=dir selects the build directory)
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=${1:-200000}
build=${BUILD:-build-bench}
release_build "$build" OFF funsize
bin=$build/funsize

for kind in coff pe; do
    flag=$([ $kind = pe ] && echo --pe || true)
    python3 bench/gen_coff.py "$n" "$work/big.$kind" $flag
    python3 bench/gen_coff.py "$((n / 4))" "$work/quarter.$kind" $flag
    python3 bench/gen_coff.py "$n" "$work/nosize.$kind" $flag --no-sizes
done

# The reports must list every function before anything is timed, all with
# size 16; in the PE image the last derived size reaches the section's end,
# which lies 0x1000 higher: symbol values count from their section's start.
for kind in coff pe; do
    for f in big nosize; do
        $bin "$work/$f.$kind" > "$work/report"
        lines=$(wc -l < "$work/report")
        sized=$(awk '$2 == 16' "$work/report" | wc -l)
        want=$([ "$f.$kind" = nosize.pe ] && echo $((n - 1)) || echo "$n")
        [ "$lines" -eq "$n" ] && [ "$sized" -eq "$want" ] ||
            { echo "$f.$kind: $lines functions, $sized of size 16; expected $n and $want" >&2; exit 1; }
    done
done


for kind in coff pe; do
    t_nm=$(mean nm "$work/big.$kind")
    t_objdump=$(mean objdump -t "$work/big.$kind")
    t_all=$(mean $bin "$work/big.$kind")
    t_nosize=$(mean $bin "$work/nosize.$kind")
    t_quarter=$(mean $bin "$work/quarter.$kind")
    python3 - "$kind" "$n" "$t_nm" "$t_objdump" "$t_all" "$t_nosize" "$t_quarter" <<'PY'
import math, sys
kind = sys.argv[1]
n = int(sys.argv[2])
t_nm, t_objdump, t_all, t_nosize, t_q = map(float, sys.argv[3:])
what = 'COFF object' if kind == 'coff' else 'PE image'
print(f"{what}, {n} function symbols")
print(f"  nm                               {t_nm:.3f} s")
print(f"  objdump -t                       {t_objdump:.3f} s")
print(f"  funsize, sizes from aux entries  {t_all:.3f} s   ratio to nm {t_all / t_nm:.2f}, to objdump -t {t_all / t_objdump:.2f}")
print(f"  funsize, sizes derived           {t_nosize:.3f} s   ratio to nm {t_nosize / t_nm:.2f}, to objdump -t {t_nosize / t_objdump:.2f}")
growth = (t_all / t_q) / ((n * math.log(n)) / ((n / 4) * math.log(n / 4)))
print(f"  growth N/4 -> N against n log n  {growth:.2f} (<= 1 grows no faster)")
PY
done
