#!/bin/sh
# Picks regression inputs from a fuzzing corpus: for every distinct outcome
# (exit status and the shape of the first message, numbers and the file name
# blotted out) the smallest input that gives it. Prints one line per pick:
#   status|message shape|input
#
#   fuzz/pick_regressions.sh funsize-binary corpus-directory
set -eu
bin=$1
dir=$2
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
for f in "$dir"/*; do
    [ -f "$f" ] || continue
    status=0
    timeout 5 "$bin" "$f" >/dev/null 2>"$tmp" || status=$?
    shape=$(head -n 1 "$tmp" | sed "s|$f|@FILE@|g; s/0x[0-9a-fA-F]*/0xN/g; s/[0-9][0-9]*/N/g")
    echo "$status|$shape|$(wc -c < "$f")|$f"
done | sort -t'|' -k1,2 -k3n | awk -F'|' '!seen[$1 "|" $2]++ { print $1 "|" $2 "|" $4 }'
