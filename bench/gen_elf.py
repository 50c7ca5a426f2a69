#!/usr/bin/env python3
"""Writes a 64-bit little-endian ELF relocatable object with N function
symbols in one .text section, each function 16 bytes long.

usage: gen_elf.py N OUTPUT [--no-sizes] [--grow=K] [--rename=K]
With --no-sizes every symbol has size 0, so that sizes must be derived.
--grow=K gives every K-th function a size of 24, --rename=K renames every
K-th function (a second build of the same program, for comparisons).
"""
import struct
import sys


def main():
    n = int(sys.argv[1])
    out = sys.argv[2]
    sized = '--no-sizes' not in sys.argv
    options = dict(a[2:].split('=') for a in sys.argv[3:] if '=' in a)
    grow = int(options.get('grow', 0))
    rename = int(options.get('rename', 0))

    names = bytearray(b'\0')
    offsets = []
    for i in range(n):
        offsets.append(len(names))
        renamed = rename and i % rename == rename - 1
        names += (b'renamed__%07d\0' if renamed else b'function_%07d\0') % i
    shstr = b'\0.text\0.symtab\0.strtab\0.shstrtab\0'
    text_size = 16 * n

    sym = bytearray(24 * (n + 1))
    pack = struct.Struct('<IBBHQQ').pack_into
    for i in range(n):
        # st_name, st_info (GLOBAL FUNC), st_other, st_shndx, st_value, st_size
        size = 24 if grow and i % grow == grow - 1 else 16
        pack(sym, 24 * (i + 1), offsets[i], 0x12, 0, 1, 16 * i, size if sized else 0)

    ehsize = 64
    symtab_off = ehsize
    strtab_off = symtab_off + len(sym)
    shstr_off = strtab_off + len(names)
    shoff = (shstr_off + len(shstr) + 7) & ~7

    def sh(name, typ, flags, addr, off, size, link, info, align, entsize):
        return struct.pack('<IIQQQQIIQQ', name, typ, flags, addr, off, size, link, info, align, entsize)

    shdrs = sh(0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
    shdrs += sh(1, 8, 6, 0, 0, text_size, 0, 0, 16, 0)            # .text, NOBITS
    shdrs += sh(7, 2, 0, 0, symtab_off, len(sym), 3, 1, 8, 24)     # .symtab
    shdrs += sh(15, 3, 0, 0, strtab_off, len(names), 0, 0, 1, 0)   # .strtab
    shdrs += sh(23, 3, 0, 0, shstr_off, len(shstr), 0, 0, 1, 0)    # .shstrtab

    ident = b'\x7fELF' + bytes([2, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack('<HHIQQQIHHHHHH', 1, 62, 1, 0, 0, shoff, 0, ehsize, 0, 0, 64, 5, 4)

    with open(out, 'wb') as f:
        f.write(header)
        f.write(sym)
        f.write(names)
        f.write(shstr)
        f.write(bytes(shoff - (shstr_off + len(shstr))))
        f.write(shdrs)


if __name__ == '__main__':
    main()
