#!/usr/bin/env python3
"""Writes an x86-64 COFF object, or a PE image that keeps its symbol table,
with N function symbols in one .text section, each function 16 bytes long.

usage: gen_coff.py N OUTPUT [--pe] [--no-sizes]
Every function symbol is C_EXT with the derived type "function" and one
auxiliary entry holding its size (0 with --no-sizes, so that sizes must be
derived). Names are "function_NNNNNNN", longer than 8 characters, so every
name is read from the string table.
"""
import struct
import sys

AMD64MAGIC = 0x8664
STYP_TEXT = 0x20
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_READ = 0x40000000
C_EXT = 2
DT_FCN_TYPE = 0x20
SYMESZ = 18


def main():
    n = int(sys.argv[1])
    out = sys.argv[2]
    pe = '--pe' in sys.argv
    sized = '--no-sizes' not in sys.argv

    text_size = 16 * n
    # MZ stub with the PE header offset at 60, "PE\0\0", then the COFF file.
    prefix = b''
    opthdr = b''
    if pe:
        pe_offset = 0x80
        stub = bytearray(pe_offset)
        stub[0:2] = b'MZ'
        struct.pack_into('<I', stub, 60, pe_offset)
        prefix = bytes(stub) + b'PE\0\0'
        # A PE32+ optional header: magic 0x20B, the rest zero.
        opthdr = struct.pack('<H', 0x20b) + bytes(0xf0 - 2)
    header_at = len(prefix)
    sections_at = header_at + 20 + len(opthdr)
    symbols_at = sections_at + 40   # the text section has no bytes in the file
    entries = 2 * n

    strings = bytearray()
    syms = bytearray(SYMESZ * entries)
    pack_sym = struct.Struct('<IIIhHBB').pack_into
    pack_aux = struct.Struct('<II').pack_into
    for i in range(n):
        offset = 4 + len(strings)
        strings += b'function_%07d\0' % i
        at = SYMESZ * 2 * i
        # zeroes, string offset, value, section, type, class, aux count
        pack_sym(syms, at, 0, offset, 16 * i, 1, DT_FCN_TYPE, C_EXT, 1)
        # tag index, function size, the rest zero
        pack_aux(syms, at + SYMESZ, 0, 16 if sized else 0)

    vaddr = 0x1000 if pe else 0
    flags = STYP_TEXT | (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ if pe else 0)
    file_flags = 0x0022 if pe else 0  # executable, large address aware
    header = struct.pack('<HHIIIHH', AMD64MAGIC, 1, 0, symbols_at, entries, len(opthdr), file_flags)
    section = struct.pack('<8sIIIIIIHHI', b'.text', text_size if pe else 0, vaddr, text_size, 0, 0, 0, 0, 0, flags)

    with open(out, 'wb') as f:
        f.write(prefix)
        f.write(header)
        f.write(opthdr)
        f.write(section)
        f.write(syms)
        f.write(struct.pack('<I', 4 + len(strings)))
        f.write(strings)


if __name__ == '__main__':
    main()
