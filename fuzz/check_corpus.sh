#!/bin/sh
# Runs a sanitized funsize (the real program, not the fuzz target) on every
# input of a corpus, in all-functions mode and with "-func=main", with leak
# detection on and a time limit of one second per run. Prints every input
# that ends by a signal, with a sanitizer report, with a status that no bad
# input should give, or after the limit, and a summary line; the exit status
# is 1 when anything was printed.
#
#   fuzz/check_corpus.sh funsize-binary corpus-directory...
#
# The inputs that the fuzz target runs leave it through a longjmp, which
# hides leaks; this is where they show.
set -eu
bin=$1
shift
tmp=$(mktemp)
runs=0
bad=0
slowest=0
pairs=$(mktemp -d)
trap 'rm -f "$tmp"; rm -rf "$pairs"' EXIT
# An input that joins a name file and its .dla (fuzz/fuzz_pair.h) is split
# into the two files side by side, and both are run, as the fuzz target does.
operands() {
    rm -f "$pairs"/in.*
    if python3 - "$1" "$pairs/in" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
cut = data.find(b'\n#funsize-pair#\n')
if cut < 0:
    sys.exit(1)
open(sys.argv[2] + '.dnm', 'wb').write(data[:cut])
open(sys.argv[2] + '.dla', 'wb').write(data[cut + 16:])
PY
    then
        echo "$pairs/in.dla $pairs/in.dnm"
    else
        echo "$1"
    fi
}
for dir in "$@"; do
    for f in "$dir"/*; do
        [ -f "$f" ] || continue
        for operand in $(operands "$f"); do
        for mode in "" -func=main; do
            status=0
            start=$(date +%s%N)
            ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
                timeout -s KILL 1 "$bin" $mode "$operand" >/dev/null 2>"$tmp" || status=$?
            ms=$(( ($(date +%s%N) - start) / 1000000 ))
            [ "$ms" -gt "$slowest" ] && slowest=$ms
            runs=$((runs + 1))
            case $status in
                0|1|2|3|255) grep -q -e Sanitizer -e 'runtime error' "$tmp" || continue ;;
            esac
            bad=$((bad + 1))
            echo "status $status: $f $operand $mode"
            head -n 5 "$tmp" | sed 's/^/    /'
        done
        done
    done
done
echo "$runs runs, $bad findings, slowest ${slowest} ms"
[ "$bad" -eq 0 ]
