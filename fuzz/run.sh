#!/bin/sh
# Builds the fuzz target with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it on the seed set of each format family for a given time.
#
#   fuzz/run.sh [seconds-per-family] [family...]
#
# Families: elf archive coff aout debug (all when none is named). Seeds are
# the test data files of the family, the inputs fuzz_seeds writes and the
# regression corpus tests/data/fuzz/<family>. Work goes to build-fuzz/ under
# the source tree: corpus/<family> grows with the inputs that found new
# coverage, findings/<family> holds crash-, timeout-, oom- and leak- files,
# logs/<family>.log the fuzzer's output.
set -eu

seconds=${1:-600}
[ $# -gt 0 ] && shift
families=${*:-elf archive coff aout debug}

src=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$src/build-fuzz}
jobs=${FUZZ_JOBS:-2}

cmake -S "$src" -B "$build" -DFUNSIZE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DFUNSIZE_TESTS=OFF \
      -DFUNSIZE_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_operand fuzz_seeds -j"$jobs" >/dev/null

# Each run assembles its own seed directory, so that runs of different
# families can go on side by side.
mkdir -p "$build"
seeds=$(mktemp -d "$build/seeds.XXXXXX")
trap 'rm -rf "$seeds"' EXIT
"$build/fuzz/fuzz_seeds" "$seeds"

# The real test files, sorted into families by their leading bytes.
real_family() {
    case $(od -An -c -N8 "$1" | tr -d ' \n') in
        '<bigaf>'*|'!<arch>'*|'!<elfa>'*|'<aiaff>'*|'!<arch64'*) echo archive ;;
        177ELF*) echo elf ;;
        MZ*) echo coff ;;
        *) case $1 in
               */coff/*) echo coff ;;
               *) echo other ;;
           esac ;;
    esac
}
find "$src/tests/data" -path "$src/tests/data/fuzz" -prune -o -type f \
     ! -name '*.py' ! -name '*.sh' ! -name '*.c' ! -name '*.s' -print | while read -r f; do
    case $f in
        *.gz) fam=elf; mkdir -p "$seeds/$fam"; gzip -dc "$f" > "$seeds/$fam/$(basename "$f" .gz)"; continue ;;
    esac
    fam=$(real_family "$f")
    [ "$fam" = other ] && continue
    mkdir -p "$seeds/$fam"
    cp "$f" "$seeds/$fam/$(echo "${f#$src/tests/data/}" | tr / _)"
done

# The input file of every run goes to memory when the system offers it, so
# that a slow disk does not look like a hang of the program.
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && TMPDIR=/dev/shm && export TMPDIR

for fam in $families; do
    mkdir -p "$build/corpus/$fam" "$build/findings/$fam" "$build/logs"
    regress=$src/tests/data/fuzz/$fam
    [ -d "$regress" ] || regress=
    echo "== $fam: ${seconds}s" >&2
    # Leak detection is off: every run leaves the driver through the exit
    # hook, a longjmp that skips the frames which own the current input's
    # buffers, so each run would report them. The replay test runs the
    # sanitized real binary, whose exit keeps those frames alive, and
    # check_corpus.sh does the same for a whole corpus. Those skipped buffers
    # add up to under a kilobyte per input on average, hence the resident-memory
    # limit of 4 GiB (an hour's run stays below it); a single allocation
    # above 2 GiB is still a finding.
    ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/fuzz/fuzz_operand" -max_total_time="$seconds" -max_len=65536 -timeout=1 -rss_limit_mb=4096 -malloc_limit_mb=2048 \
        -detect_leaks=0 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$fam/" \
        "$build/corpus/$fam" "$seeds/$fam" $regress > "$build/logs/$fam.log" 2>&1 || true
    tail -n 14 "$build/logs/$fam.log" | grep -E 'DONE|stat::|SUMMARY|ERROR|Test unit' >&2 || true
done
