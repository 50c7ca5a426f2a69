#!/usr/bin/env bash
# Benchmark of the funsize-diff page: a comparison of N functions (default
# 1,000,000) in a few thousand files and archive members, made by
# bench/gen_page.cpp, written as a page and as the text output
# (unchanged functions too). Prints the page's size against the text
# output's, and the time headless Chromium takes to open the page and draw
# its treemap and first table page (the page records performance.now() at
# its first draw), as the median of several runs, and how long sorting,
# filtering and zooming take in that page.
#
# usage: bench/run_page.sh [N] [RUNS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
n=${1:-1000000}
runs=${2:-5}
build=${BUILD:-build-bench-page}

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "run_page.sh: chromium is needed" >&2
  exit 2
fi

release_build $build OFF diff
g++ -std=c++20 -O2 -Isrc/diff -Isrc/funsize -Isrc/objfile -Isrc/debug -Isrc/gadr -Isrc/shared bench/gen_page.cpp \
    -Wl,--start-group $build/libdiff.a $build/libreport.a $build/libobjfile.a $build/libdebuginfo.a \
    $build/libgadr.a $build/libshared.a -Wl,--end-group -o "$work/gen_page"

start=$(date +%s.%N)
"$work/gen_page" --generate "$n" "$work/page.html" "$work/text.txt"
end=$(date +%s.%N)
page_bytes=$(stat -c %s "$work/page.html")
text_bytes=$(stat -c %s "$work/text.txt")

chrome() { "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,900 \
             --user-data-dir="$work/profile" "$@" 2>/dev/null; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }

# The browser's own start-up, on an empty page, for scale.
echo '<!DOCTYPE html><title>empty</title>' >"$work/empty.html"
bare=$(seconds chrome --screenshot="$work/empty.png" "file://$work/empty.html")

draws=()
walls=()
for _ in $(seq "$runs"); do
  chrome --dump-dom "file://$work/page.html" >"$work/dom"
  ms=$(grep -o 'data-first-draw-ms="[0-9]*"' "$work/dom" | grep -o '[0-9]*' || true)
  if [ -z "$ms" ]; then
    echo "run_page.sh: the page did not draw" >&2
    exit 1
  fi
  draws+=("$ms")
  # Start to finish with a screenshot of the drawn page.
  walls+=("$(seconds chrome --screenshot="$work/page.png" "file://$work/page.html")")
done
# What a person does next, timed in the page: sorting the million rows by a
# column, filtering them, and zooming into a folder.
cat >"$work/actions.js" <<'JS'
addEventListener('load', function () {
  const time = (f) => { const t0 = performance.now(); f(); return (performance.now() - t0).toFixed(0); };
  const heading = (key) => document.querySelector('#functions-head th[data-key="' + key + '"]');
  const canvas = document.getElementById('map-canvas');
  const box = funsizePage.boxOf('mod00', 'group');
  const result = [
    'sort by name ' + time(() => heading('name').click()) + ' ms',
    'sort by delta ' + time(() => heading('delta').click()) + ' ms',
    'filter ' + time(() => {
      document.getElementById('filter').value = 'function_00001';
      document.getElementById('changed-only').dispatchEvent(new Event('change'));
    }) + ' ms (' + document.getElementById('rows-shown').textContent + ')',
    'zoom into a folder ' + time(() => canvas.dispatchEvent(new MouseEvent('click', { clientX: box.x + 4, clientY: box.y + 4 }))) +
      ' ms (' + document.getElementById('map').dataset.view + ')',
  ];
  document.body.dataset.actions = result.join(', ');
});
JS
{ cat "$work/page.html"; printf '<script>'; cat "$work/actions.js"; printf '</script>\n'; } >"$work/actions.html"
chrome --dump-dom "file://$work/actions.html" >"$work/dom-actions"
actions=$(grep -o 'data-actions="[^"]*"' "$work/dom-actions" | sed 's/^data-actions="//; s/"$//')

boxes=$(grep -o 'data-function-boxes="[0-9]*"' "$work/dom" | grep -o '[0-9]*')
smaller=$(grep -o 'data-smaller-boxes="[0-9]*"' "$work/dom" | grep -o '[0-9]*')
folded=$(grep -o 'data-smaller-functions="[0-9]*"' "$work/dom" | grep -o '[0-9]*')

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "functions:            $n"
printf 'page written in:      %.2f s\n' "$(echo "$end - $start" | bc)"
echo "page size:            $page_bytes bytes ($(echo "scale=1; $page_bytes / $n" | bc) per function)"
echo "text output size:     $text_bytes bytes ($(echo "scale=1; $text_bytes / $n" | bc) per function)"
echo "page / text:          $(echo "scale=2; $page_bytes / $text_bytes" | bc)"
echo "page / (45 bytes * N): $(echo "scale=2; $page_bytes / (45 * $n)" | bc)"
echo "first draw:           median $(median "${draws[@]}") ms of ${draws[*]} ms"
echo "browser to screenshot: median $(median "${walls[@]}") s of ${walls[*]} s (empty page: $bare s)"
echo "drawn:                $boxes function boxes, $smaller 'smaller functions' boxes holding $folded functions"
echo "then:                 $actions"
