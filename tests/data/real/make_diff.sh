#!/usr/bin/env bash
# Regenerates the inputs of the build comparisons in diff/ from the sources
# in src/diff and src/sample.c. Needs gcc, ar and the mingw-w64 cross
# compiler; the saved report is written by the funsize given as $1 (default
# ../../../build/funsize). The tests only read the results.
set -euo pipefail
cd "$(dirname "$0")"
funsize=$(realpath "${1:-../../../build/funsize}")
src=src/diff
out=diff
rm -rf $out && mkdir -p $out/x86_64 $out/coff $out/tree-old/lib $out/tree-old/src $out/tree-new/lib $out/tree-new/src
cc="gcc -fno-asynchronous-unwind-tables"

# The same sources at two optimisation levels.
$cc -O0 -c src/sample.c -o $out/x86_64/sample-O0.o
$cc -O2 -c src/sample.c -o $out/x86_64/sample-O2.o

# Two versions: one function grown, one removed, one added.
$cc -O1 -c $src/shapes_v1.c -o $out/x86_64/shapes_v1.o
$cc -O1 -c $src/shapes_v2.c -o $out/x86_64/shapes_v2.o

# Archives: alpha.o is dropped, gamma.o added, beta.o kept.
for m in alpha beta gamma; do $cc -O1 -c $src/$m.c -o $out/x86_64/$m.o; done
(cd $out/x86_64 && ar rcD libparts-old.a alpha.o beta.o && ar rcD libparts-new.a beta.o gamma.o && rm alpha.o beta.o gamma.o)

# Two build trees, each with a file that is no object.
cp $out/x86_64/shapes_v1.o $out/tree-old/src/shapes.o
cp $out/x86_64/shapes_v2.o $out/tree-new/src/shapes.o
cp $out/x86_64/libparts-old.a $out/tree-old/lib/libparts.a
cp $out/x86_64/libparts-new.a $out/tree-new/lib/libparts.a
echo "built by make_diff.sh" | tee $out/tree-old/NOTES.txt > $out/tree-new/NOTES.txt

# COFF objects of the two versions from the Windows cross compiler.
mingw="x86_64-w64-mingw32-gcc -fno-asynchronous-unwind-tables"
$mingw -O1 -c $src/shapes_v1.c -o $out/coff/shapes_v1.obj
$mingw -O1 -c $src/shapes_v2.c -o $out/coff/shapes_v2.obj

# A saved report of the first version, as a CI job keeps it.
"$funsize" -gcompare -file -o=$out/shapes_v1.txt $out/x86_64/shapes_v1.o
