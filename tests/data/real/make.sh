#!/usr/bin/env bash
# Regenerates the real test inputs in this folder from the sources in src/.
# Needs gcc, gcc-arm-none-eabi, binutils-powerpc-linux-gnu and
# binutils-powerpc64-linux-gnu; the tests themselves only read the results.
set -euo pipefail
cd "$(dirname "$0")"
src=src
mkdir -p x86_64 arm ppc ppc64 extended

# x86-64, from the machine's gcc: object, executable, shared object, archive.
gcc -O1 -fno-asynchronous-unwind-tables -c $src/sample.c -o x86_64/sample.o
gcc -O1 -fno-asynchronous-unwind-tables -c $src/util.c -o x86_64/util.o
gcc -O1 -o x86_64/sample.exe $src/sample.c
gcc -O1 -shared -fPIC -o x86_64/libutil.so $src/util.c
strip --strip-all -o x86_64/libutil-stripped.so x86_64/libutil.so
rm -f x86_64/libsample.a && ar rcs x86_64/libsample.a x86_64/sample.o x86_64/util.o

# 32-bit ARM (little-endian), from the bare-metal cross compiler.
arm-none-eabi-gcc -O1 -mthumb -c $src/sample.c -o arm/sample.o
arm-none-eabi-gcc -O1 -marm -c $src/util.c -o arm/util.o
arm-none-eabi-gcc -O1 -nostdlib -nostartfiles -Wl,-e,main -o arm/sample.elf $src/sample.c $src/util.c -lgcc
rm -f arm/libsample.a && arm-none-eabi-ar rcs arm/libsample.a arm/sample.o arm/util.o

# Big-endian 32- and 64-bit PowerPC, assembled and linked by the cross binutils.
powerpc-linux-gnu-as -o ppc/funcs.o $src/ppc.s
powerpc-linux-gnu-ld -e alpha -o ppc/funcs.elf ppc/funcs.o
powerpc64-linux-gnu-as -a64 -o ppc64/funcs.o $src/ppc64.s
rm -f ppc/libfuncs.a && powerpc-linux-gnu-ar rcs ppc/libfuncs.a ppc/funcs.o

# More than 65279 sections: extended section numbering. 32-bit so that it
# stays small; committed compressed.
python3 - > extended/many.s <<'PY'
print('\t.text')
for i in range(65400):
    print(f'\t.section .t,"ax",@progbits,unique,{i}')
    print(f'\t.globl f{i}\n\t.type f{i},@function\nf{i}:\n\tret\n\t.size f{i},.-f{i}')
PY
as --32 -o extended/many.o extended/many.s
rm extended/many.s
gzip -9 -n -f extended/many.o

# The sample that the README runs.
cp arm/sample.o ../sample.o

# The inputs of the build comparisons (funsize-diff).
./make_diff.sh
