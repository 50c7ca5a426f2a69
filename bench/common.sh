# What the benchmark scripts share; each sources it after `set -euo pipefail`.
# It moves to the project's root, makes a scratch folder `work` that is
# removed at exit, and offers a release build of some targets and the
# measures the scripts report. BUILD names the build folder (the script's
# own default otherwise).
cd "$(dirname "${BASH_SOURCE[0]}")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# release_build FOLDER TESTS(ON|OFF) TARGET...
release_build() {
    local folder=$1 tests=$2
    shift 2
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DFUNSIZE_TESTS="$tests" >/dev/null
    cmake --build "$folder" -j2 --target "$@" >/dev/null
}

# The mean wall-clock seconds of a command over several runs, and its mean
# processor time (user + system), which other work on the machine disturbs
# less: "WALL CPU".
mean_times() {
    hyperfine -N --warmup 2 --runs 10 --export-json "$work/h.json" "$*" >/dev/null 2>&1
    python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; print('%.4f %.4f' % (r['mean'], r['user'] + r['system']))" "$work/h.json"
}
mean() { mean_times "$@" | cut -d' ' -f1; }

# The peak resident memory of a command in KiB.
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
