#!/usr/bin/env bash
# Regenerates the real COFF, PE and XCOFF inputs in coff/ from the sources in
# src/ and coff/src/. Needs gcc-mingw-w64-x86-64, gcc-mingw-w64-i686,
# binutils-multiarch (objcopy and ar with the aixcoff-rs6000 target) and
# binutils-powerpc-linux-gnu; the tests themselves only read the results.
set -euo pipefail
cd "$(dirname "$0")"
src=src
own=coff/src
out=coff
mkdir -p $out/x86_64 $out/i686 $out/xcoff
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Objects keep every function apart (no inlining) and carry no unwind tables,
# so that the code sections hold only the functions. Images are linked
# without the C run-time library and without a time stamp.
cflags="-O1 -fno-inline -fno-asynchronous-unwind-tables"
ldflags="-nostdlib -Wl,--no-insert-timestamp"

# x86-64 (COFF machine 0x8664): objects, an archive, an executable and a DLL
# that keep their symbol tables, and an assembled object with sized
# auxiliary entries.
x86_64-w64-mingw32-gcc $cflags -c $src/sample.c -o $out/x86_64/sample.o
x86_64-w64-mingw32-gcc $cflags -c $src/util.c -o $out/x86_64/util.o
rm -f $out/x86_64/libsample.a && ar rcs $out/x86_64/libsample.a $out/x86_64/sample.o $out/x86_64/util.o
x86_64-w64-mingw32-gcc $cflags $ldflags -Wl,-e,main -o $out/x86_64/sample.exe $src/sample.c $src/util.c $own/crt.c
x86_64-w64-mingw32-gcc $cflags $ldflags -shared -Wl,--entry=0 -o $out/x86_64/util.dll $src/util.c
x86_64-w64-mingw32-as -o $out/x86_64/fsize.o $own/fsize.s

# i686 (COFF machine 0x14C): C names carry a leading underscore.
i686-w64-mingw32-gcc $cflags -c $src/sample.c -o $out/i686/sample.o
i686-w64-mingw32-gcc $cflags -c $src/util.c -o $out/i686/util.o
rm -f $out/i686/libsample.a && ar rcs $out/i686/libsample.a $out/i686/sample.o $out/i686/util.o
i686-w64-mingw32-gcc $cflags $ldflags -Wl,-e,_main -o $out/i686/sample.exe $src/sample.c $src/util.c $own/crt.c
i686-w64-mingw32-gcc $cflags $ldflags -shared -Wl,--entry=0 -o $out/i686/util.dll $src/util.c

# XCOFF (big endian, magic 0x01DF): assembled for PowerPC as ELF, then
# converted. ar writes AIX archives only in the "<bigaf>\n" form; the
# "<aiaff>\n" form is written below around the same two objects.
powerpc-linux-gnu-as -o "$work/funcs.elf.o" $own/xcoff.s
powerpc-linux-gnu-as -o "$work/util.elf.o" $own/xcoff_util.s
objcopy -O aixcoff-rs6000 "$work/funcs.elf.o" $out/xcoff/funcs.o
objcopy -O aixcoff-rs6000 "$work/util.elf.o" $out/xcoff/util.o
rm -f $out/xcoff/libbig.a && ar --target=aixcoff-rs6000 rc $out/xcoff/libbig.a $out/xcoff/funcs.o $out/xcoff/util.o
python3 - $out/xcoff/libfuncs.a $out/xcoff/funcs.o $out/xcoff/util.o <<'PY'
# "<aiaff>\n": a 68-byte fixed header, then members chained by decimal file
# offsets (88-byte header, name, "`\n", data, each part padded to an even
# length), then a member table: the member count and offsets, then the names.
import os, sys
out, members = sys.argv[1], sys.argv[2:]
def field(v, w): return b'%-*d' % (w, v)
def pad(b): return b + b'\0' * (len(b) & 1)
def header(size, nxt, prv, name, mode=0o644):
    return (field(size, 12) + field(nxt, 12) + field(prv, 12) + field(0, 12) + field(0, 12) +
            field(0, 12) + b'%-12o' % mode + field(len(name), 4) + pad(name) + b'`\n')
blobs = [(os.path.basename(m).encode(), open(m, 'rb').read()) for m in members]
offsets, at = [], 68
for name, data in blobs:
    offsets.append(at)
    at += len(header(0, 0, 0, name)) + len(pad(data))
table_at = at
body = b''
for i, (name, data) in enumerate(blobs):
    nxt = offsets[i + 1] if i + 1 < len(blobs) else table_at
    prv = offsets[i - 1] if i else 0
    body += header(len(data), nxt, prv, name) + pad(data)
table = field(len(blobs), 12) + b''.join(field(o, 12) for o in offsets) + b''.join(n + b'\0' for n, _ in blobs)
body += header(len(table), 0, offsets[-1], b'', 0) + pad(table)
fixed = (b'<aiaff>\n' + field(table_at, 12) + field(0, 12) + field(offsets[0], 12) +
         field(offsets[-1], 12) + field(0, 12))
open(out, 'wb').write(fixed + body)
PY
