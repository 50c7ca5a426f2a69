#!/usr/bin/env bash
# Hostile inputs: funsize must never hang, and no input of a few megabytes
# may take it more than one second. bench/hostile_inputs.py writes about
# thirty adversarial files of 2 to 8 MB (archives of 100,000 members, huge
# or endless long-name tables, 200,000 symbols at one address, one name or
# one endless string, 70,000 ELF sections, COFF entries with 255 aux
# entries, ...), and gen_debug (bench/gen_debug.cpp) adds a program's debug
# information with many debug objects and one with many procedures.
#
# Every file is run as `funsize FILE`, `funsize -func=main FILE` (a name
# that only one of them holds: status 1, "not found", is expected) and, where
# another path through the reader is taken, with -func= naming a function
# the file holds. Each run is timed three times and the best wall time is
# shown, with the peak memory (/usr/bin/time %M, the most of the three), the
# exit status and SLOW when it took over 1.0 s. A run over 5 s, or one
# stopped by the time limit, is not repeated. Standard output goes to
# /dev/null, standard error to a file that is thrown away. Exits 1 when any
# run was SLOW, stopped by the limit or killed by a signal.
#
# usage: bench/run_hostile.sh [TIME_LIMIT_SECONDS]   (default 60)
set -euo pipefail
source "$(dirname "$0")/common.sh"
limit=${1:-60}
build=${BUILD:-build-bench}
release_build $build OFF funsize
bin=$PWD/$build/funsize
g++ -std=c++20 -O2 -Isrc/debug -Isrc/shared -Isrc/gadr bench/gen_debug.cpp \
    $build/libdebuginfo.a $build/libgadr.a $build/libshared.a -o "$work/gen_debug"

g++ -std=c++20 -O2 -Isrc/shared bench/gen_sort_order.cpp $build/libshared.a -o "$work/gen_sort_order"

in=$work/in
"$work/gen_sort_order" 250000 >"$work/sort_order.txt"
python3 bench/hostile_inputs.py "$in" "$work/sort_order.txt"
# Debug information: 8,000 debug objects of one procedure each, and one
# debug object of 250,000 procedures; the name file and its .dla alike.
"$work/gen_debug" 8000 8000 "$in/dbg_many_objects"
"$work/gen_debug" 1 250000 "$in/dbg_many_procs"
for f in dbg_many_objects.dnm dbg_many_objects.dla dbg_many_procs.dnm dbg_many_procs.dla; do
    printf '%s\t\n%s\t-func=main\n' "$f" "$f" >>"$in/runs.tsv"
done
printf '%s\t-func=function_0007999\n' dbg_many_objects.dnm dbg_many_objects.dla >>"$in/runs.tsv"
printf '%s\t-func=function_0125000\n' dbg_many_procs.dnm dbg_many_procs.dla >>"$in/runs.tsv"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; time limit ${limit} s"
printf '%8s %10s %6s  %-9s %-30s %s\n' seconds peak_KiB status MiB file options
bad=0
while IFS=$'\t' read -r file options; do
    best=
    peak=0
    status=
    for _ in 1 2 3; do
        # shellcheck disable=SC2086  # options are separate words
        rc=0
        (cd "$in" && /usr/bin/time -f '%e %M' -o "$work/time" timeout -k 5 "$limit" "$bin" $options "$file" \
            >/dev/null 2>"$work/stderr") || rc=$?
        read -r secs kib < <(tail -1 "$work/time")
        status=$rc
        [ "$kib" -gt "$peak" ] && peak=$kib
        if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$secs; fi
        # A run killed by the limit or taking over 5 s is not repeated.
        if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ] || awk -v a="$secs" 'BEGIN { exit !(a > 5) }'; then break; fi
    done
    note=
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        note="SLOW (stopped at the ${limit} s limit)"
        best=">$limit"
        bad=1
    elif awk -v a="$best" 'BEGIN { exit !(a > 1.0) }'; then
        note=SLOW
        bad=1
    fi
    if [ "$status" -gt 128 ] && [ "$status" -ne 137 ]; then
        note="$note CRASH (signal $((status - 128)))"
        bad=1
    fi
    mib=$(awk -v s="$(stat -c %s "$in/$file")" 'BEGIN { printf "%.1f", s / 1048576 }')
    printf '%8s %10s %6s  %-9s %-30s %s\n' "$best" "$peak" "$status" "$mib" "$file" "${options:-(all)} $note"
done <"$in/runs.tsv"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
exit $bad
