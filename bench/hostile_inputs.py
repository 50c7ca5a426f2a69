#!/usr/bin/env python3
"""Writes adversarial inputs of a few megabytes each into OUTDIR, built to
hit the worst case of one reader each: archives of very many members, long-
name tables that are huge or never terminated, symbol tables whose entries
all share one address, one name or one endless string, ELF files with more
sections than the header can count, COFF entries with 255 auxiliary entries.

Besides the files it writes OUTDIR/runs.tsv, one funsize run per line:
the file name, a tab, and the options for that run (empty for the
all-functions report). Every file gets the all-functions run and
-func=main (a name that only one of them holds), and -func= with a name that
the file holds where that takes another path through the reader. A file
whose all-functions report is by itself gigabytes long (every name is the
endless string) gets the -func= runs only.

With ORDER, a file of one key a line (bench/gen_sort_order.cpp writes one
built against the sort's pivot choice), an a.out file also gets its
symbols at those values, in that order.

usage: hostile_inputs.py OUTDIR [ORDER]
"""
import os
import struct
import sys

# ELF
ET_REL = 1
EM_386 = 3
EM_X86_64 = 62
EM_V850 = 87
SHT_PROGBITS = 1
SHT_SYMTAB = 2
SHT_STRTAB = 3
SHT_NOBITS = 8
SHT_SYMTAB_SHNDX = 18
SHF_ALLOC = 2
SHF_EXECINSTR = 4
SHN_XINDEX = 0xffff
SHN_LORESERVE = 0xff00
STT_OBJECT = 1
STT_FUNC = 2
STB_GLOBAL = 1

# COFF
I386MAGIC = 0x14c
STYP_TEXT = 0x20
C_EXT = 2
DT_FCN_TYPE = 0x20
SYMESZ = 18

# a.out
OMAGIC = 0o407
M_386 = 100
N_TEXT = 4
N_EXT = 1

runs = []


def run(name, *options):
    runs.append((name, ' '.join(options)))


def write(outdir, name, data, extra_funcs=(), all_functions=True):
    with open(os.path.join(outdir, name), 'wb') as f:
        f.write(data)
    if all_functions:
        run(name)
    run(name, '-func=main')
    for func in extra_funcs:
        run(name, '-func=' + func)


# --- ELF ---------------------------------------------------------------------

class Elf:
    """A relocatable ELF file: blobs laid out behind the file header, the
    section headers last. Sections are (name, type, flags, addr, blob or
    (None, size), link, info, align, entsize); a section of more than
    SHN_LORESERVE entries switches to extended numbering."""

    def __init__(self, wide, machine):
        self.wide = wide
        self.machine = machine
        self.sections = [None]  # the null section, filled in by build()
        self.shstrndx = 0

    def add(self, name, typ, flags=0, addr=0, data=b'', link=0, info=0, align=1, entsize=0, size=None):
        self.sections.append([name, typ, flags, addr, data, link, info, align, entsize, size])
        return len(self.sections) - 1

    def build(self):
        w = self.wide
        ehsize = 64 if w else 52
        shentsize = 64 if w else 40
        out = bytearray(ehsize)
        offsets = [0] * len(self.sections)
        # Sections without bytes in the file (NOBITS, empty) take no room.
        for i, s in enumerate(self.sections):
            if s is None or s[1] == SHT_NOBITS or not s[4]:
                offsets[i] = len(out)
                continue
            out += bytes((-len(out)) % 8)
            offsets[i] = len(out)
            out += s[4]
        out += bytes((-len(out)) % 8)
        shoff = len(out)
        count = len(self.sections)
        extended = count >= SHN_LORESERVE
        pack = struct.Struct('<IIQQQQIIQQ' if w else '<IIIIIIIIII').pack
        headers = bytearray()
        for i, s in enumerate(self.sections):
            if s is None:
                headers += pack(0, 0, 0, 0, 0, count if extended else 0,
                                self.shstrndx if extended else 0, 0, 0, 0)
                continue
            name, typ, flags, addr, data, link, info, align, entsize, size = s
            size = len(data) if size is None else size
            headers += pack(name, typ, flags, addr, offsets[i], size, link, info, align, entsize)
        out += headers
        ident = b'\x7fELF' + bytes([2 if w else 1, 1, 1, 0]) + bytes(8)
        shnum = 0 if extended else count
        shstrndx = SHN_XINDEX if extended else self.shstrndx
        if w:
            header = ident + struct.pack('<HHIQQQIHHHHHH', ET_REL, self.machine, 1, 0, 0, shoff, 0, ehsize,
                                         0, 0, shentsize, shnum, shstrndx)
        else:
            header = ident + struct.pack('<HHIIIIIHHHHHH', ET_REL, self.machine, 1, 0, 0, shoff, 0, ehsize,
                                         0, 0, shentsize, shnum, shstrndx)
        out[0:ehsize] = header
        return bytes(out)


def elf_symbols(wide, symbols):
    """symbols: (name offset, info, shndx, value, size); the null symbol is
    put in front."""
    if wide:
        pack = struct.Struct('<IBBHQQ').pack_into
        size = 24
    else:
        pack = struct.Struct('<IIIBBH').pack_into
        size = 16
    table = bytearray(size * (len(symbols) + 1))
    for k, (name, info, shndx, value, sym_size) in enumerate(symbols, 1):
        if wide:
            pack(table, size * k, name, info, 0, shndx, value, sym_size)
        else:
            pack(table, size * k, name, value, sym_size, info, 0, shndx)
    return bytes(table), size


def names_table(names):
    table = bytearray(b'\0')
    offsets = []
    for n in names:
        offsets.append(len(table))
        table += n + b'\0'
    return bytes(table), offsets


FUNC = STB_GLOBAL << 4 | STT_FUNC
OBJECT = STB_GLOBAL << 4 | STT_OBJECT


def simple_elf(wide, values, sizes, names=None, machine=None, info=FUNC, strtab=None, name_offsets=None):
    """One NOBITS .text and every symbol in it; names f000000... unless
    given; strtab and name_offsets replace the string table outright."""
    n = len(values)
    if strtab is None:
        strtab, name_offsets = names_table(names or [b'f%06d' % i for i in range(n)])
    infos = info if isinstance(info, list) else [info] * n
    symbols = [(name_offsets[i], infos[i], 1, values[i], sizes[i]) for i in range(n)]
    table, entsize = elf_symbols(wide, symbols)
    shstr = b'\0.text\0.symtab\0.strtab\0.shstrtab\0'
    e = Elf(wide, machine or (EM_X86_64 if wide else EM_386))
    e.add(1, SHT_NOBITS, SHF_ALLOC | SHF_EXECINSTR, 0, size=16 * n + 0x10000, align=16)
    e.add(7, SHT_SYMTAB, data=table, link=3, info=1, align=8, entsize=entsize)
    e.add(15, SHT_STRTAB, data=strtab)
    e.shstrndx = e.add(23, SHT_STRTAB, data=shstr)
    return e.build()


def many_sections_elf(wide, sections, machine):
    """`sections` executable sections of 16 bytes named ".text", one
    function in each (symbols in the reverse order of their sections, no
    sizes); the symbol, string and name tables stand behind them, so that
    every index needs extended numbering."""
    e = Elf(wide, machine)
    shstr = b'\0.text\0.symtab\0.strtab\0.shstrtab\0.symtab_shndx\0'
    for i in range(sections):
        e.add(1, SHT_NOBITS, SHF_ALLOC | SHF_EXECINSTR, 16 * i, size=16, align=16)
    strtab, offsets = names_table([b'f%06d' % i for i in range(sections)])
    symbols = []
    shndx = bytearray(4)  # the null symbol
    for i in reversed(range(sections)):
        symbols.append((offsets[i], FUNC, SHN_XINDEX, 16 * i, 0))
        shndx += struct.pack('<I', i + 1)
    table, entsize = elf_symbols(wide, symbols)
    symtab = len(e.sections)
    e.add(7, SHT_SYMTAB, data=table, link=symtab + 1, info=1, align=8, entsize=entsize)
    e.add(15, SHT_STRTAB, data=strtab)
    e.shstrndx = e.add(23, SHT_STRTAB, data=shstr)
    e.add(33, SHT_SYMTAB_SHNDX, data=bytes(shndx), link=symtab, align=4, entsize=4)
    return e.build()


def tiny_elf32(function):
    """The smallest object with one function: the name table doubles as the
    symbol names' table."""
    shstr = b'\0.symtab\0.shstrtab\0' + function + b'\0'
    table, entsize = elf_symbols(False, [(19, FUNC, 1, 0, 16)])
    e = Elf(False, EM_386)
    e.add(1, SHT_SYMTAB, data=table, link=2, info=1, align=4, entsize=entsize)
    e.shstrndx = e.add(9, SHT_STRTAB, data=shstr)
    return e.build()


def elf_inputs(out):
    n = 200000
    same = [0x1000] * n
    sixteen = [16] * n
    zero = [0] * n
    down = [16 * (n - i) for i in range(n)]
    mid = 'f%06d' % (n // 2)
    last = 'f%06d' % (n - 1)
    write(out, 'elf64_same_addr.o', simple_elf(True, same, sixteen), [mid, last])
    write(out, 'elf64_same_addr_nosize.o', simple_elf(True, same, zero), [mid, last])
    write(out, 'elf64_descending_nosize.o', simple_elf(True, down, zero), [mid, last])
    n32 = 250000
    write(out, 'elf32_same_addr_nosize.o', simple_elf(False, [0x1000] * n32, [0] * n32), ['f%06d' % (n32 - 1)])
    write(out, 'elf32_descending.o', simple_elf(False, [16 * (n32 - i) for i in range(n32)], [16] * n32),
          ['f%06d' % (n32 - 1)])

    # More sections than e_shnum holds; the 32-bit V850 one also makes
    # identification walk the section table looking for its note.
    write(out, 'elf64_many_sections.o', many_sections_elf(True, 70000, EM_X86_64), ['f000000', 'f069999'])
    run('elf64_many_sections.o', '-sectnum=65000')
    # (V850 names lose their first character.)
    write(out, 'elf32_many_sections_v850.o', many_sections_elf(False, 70000, EM_V850), ['000000'])

    # Every function's name is one 4 MiB string without a NUL. The
    # all-functions report would print it 100,000 times (400 GB), so only
    # the -func= runs are made, one of them with a prefix of the string.
    n_long = 100000
    endless = b'x' * (4 << 20)
    write(out, 'elf64_endless_name.o',
          simple_elf(True, [16 * i for i in range(n_long)], [16] * n_long, strtab=endless,
                     name_offsets=[0] * n_long),
          ['xxxxxxxxxxxxxxxx'], all_functions=False)
    # The same string behind 150,000 data symbols and one function "main":
    # names of symbols that are not functions are never looked at.
    n_obj = 150000
    strtab = b'main\0' + endless
    write(out, 'elf64_endless_name_data.o',
          simple_elf(True, [0x1000] * (n_obj + 1), [0] * (n_obj + 1), strtab=strtab,
                     name_offsets=[5] * n_obj + [0], info=[OBJECT] * n_obj + [FUNC]))

    # 200,000 functions named "dup" without sizes, in descending order.
    strtab = b'\0dup\0'
    write(out, 'elf64_same_name.o',
          simple_elf(True, down, zero, strtab=strtab, name_offsets=[1] * n), ['dup'])


# --- archives ----------------------------------------------------------------

def ar_header(name, size, wide=False):
    if wide:
        return b'%-16s%-20d%-6d%-6d%-8s%-20d`\n' % (name, 0, 0, 0, b'644', size)
    return b'%-16s%-12d%-6d%-6d%-8s%-10d`\n' % (name, 0, 0, 0, b'644', size)


def ar_member(name, data, wide=False):
    return ar_header(name, len(data), wide) + data + (b'\n' if len(data) & 1 else b'')


def archive_inputs(out):
    # 100,000 members of four bytes that are no object.
    parts = [b'!<arch>\n']
    for i in range(100000):
        parts.append(ar_member(b'm%06d.o/' % i, b'abc\n'))
    write(out, 'ar_tiny_members.a', b''.join(parts))

    # 25,000 one-function objects.
    n = 25000
    parts = [b'!<arch>\n']
    for i in range(n):
        parts.append(ar_member(b'o%05d.o/' % i, tiny_elf32(b'f%05d' % i)))
    write(out, 'ar_elf_members.a', b''.join(parts), ['f%05d' % (n - 1)])

    # A 4 MB long-name table of 100,000 proper names, 50,000 members that
    # use one each.
    names = bytearray()
    offsets = []
    for i in range(100000):
        offsets.append(len(names))
        names += b'a_rather_long_member_name_%07d.o/\n' % i
    parts = [b'!<arch>\n', ar_member(b'//', bytes(names))]
    for i in range(50000):
        parts.append(ar_member(b'/%d' % offsets[2 * i], b'ab'))
    write(out, 'ar_long_names.a', b''.join(parts))

    # A 3 MB long-name table with no end to any name (no '/', newline or
    # NUL in it), and 15,000 one-function objects all named by its start.
    n = 15000
    parts = [b'!<arch>\n', ar_member(b'//', b'x' * (3 << 20))]
    for i in range(n):
        parts.append(ar_member(b'/0', tiny_elf32(b'f%05d' % i)))
    write(out, 'ar_long_names_endless.a', b''.join(parts), ['f%05d' % (n - 1)])

    # A "<filenames>" table of 60,000 lines and 60,000 members whose short
    # names, 15 characters ending in ".obj", are completed from it.
    n = 60000
    table = b'\n' + b''.join(b'abcdefghijk.obj_%07d/\n' % i for i in range(n))
    parts = [b'!<arch>\n', ar_member(b'<filenames>', table)]
    for i in range(n):
        parts.append(ar_member(b'abcdefghijk.obj/', b'abc\n'))
    write(out, 'ar_filenames_table.a', b''.join(parts))

    # "!<arch64>": a 2 MB symbol table first, then 60,000 tiny members.
    parts = [b'!<arch64>\n', ar_member(b'/', bytes(2 << 20), wide=True)]
    for i in range(60000):
        parts.append(ar_member(b'm%06d.o/' % i, b'abc\n', wide=True))
    write(out, 'ar64_symtab_first.a', b''.join(parts))

    # "!<elfa>": 12,000 members whose name fields grow to the 512-byte limit.
    parts = [b'!<elfa>\n']
    for i in range(12000):
        name = b'e%06d' % i + b'n' * 505
        parts.append(name + ar_header(b'', 4)[16:] + b'abc\n')
    write(out, 'elfa_long_fields.a', b''.join(parts))

    # An AIX big archive of 60,000 tiny members chained from the last one
    # in the file to the first, so that every step seeks backwards.
    n = 60000
    fixed = 68
    member_size = 88 + 8 + 2 + 4
    at = [fixed + i * member_size for i in range(n)]
    members = []
    for i in range(n):
        nxt = at[i - 1] if i > 0 else 0
        prv = at[i + 1] if i + 1 < n else 0
        members.append(b'%-12d%-12d%-12d%-12d%-12d%-12d%-12s%-4d' % (4, nxt, prv, 0, 0, 0, b'644', 8) +
                       b'a%07d' % i + b'`\n' + b'abc\n')
    head = b'<aiaff>\n' + b'%-12d%-12d%-12d%-12d%-12d' % (0, 0, at[-1], at[0], 0)
    write(out, 'aix_backward_chain.a', head + b''.join(members))


# --- COFF and PE -----------------------------------------------------------------

def coff_file(symbols, strings=b'', pe=False):
    """An i386 COFF object (or PE image) with one .text section and the
    given raw symbol entries behind the section table."""
    prefix = b''
    opthdr = b''
    if pe:
        stub = bytearray(0x80)
        stub[0:2] = b'MZ'
        struct.pack_into('<I', stub, 60, 0x80)
        prefix = bytes(stub) + b'PE\0\0'
        opthdr = struct.pack('<H', 0x10b) + bytes(224 - 2)
    symbols_at = len(prefix) + 20 + len(opthdr) + 40
    entries = len(symbols) // SYMESZ
    flags = 0x0102 if pe else 0
    header = struct.pack('<HHIIIHH', I386MAGIC, 1, 0, symbols_at, entries, len(opthdr), flags)
    text = 0x20000000 | 0x40000000 | STYP_TEXT if pe else STYP_TEXT
    section = struct.pack('<8sIIIIIIHHI', b'.text', 0, 0x1000, 0x1000000, 0, 0, 0, 0, 0, text)
    return prefix + header + opthdr + section + symbols + struct.pack('<I', 4 + len(strings)) + strings


sym = struct.Struct('<8sIhHBB')
long_sym = struct.Struct('<IIIhHBB')


def coff_inputs(out):
    # 200,000 functions at one value, eight-character names, no aux entry.
    n = 200000
    syms = b''.join(sym.pack(b'_f%06d' % i, 0x1000, 1, DT_FCN_TYPE, C_EXT, 0) for i in range(n))
    write(out, 'coff_i386_same_value.o', coff_file(syms), ['f%06d' % (n - 1)])
    write(out, 'pe_i386_same_value.exe', coff_file(syms, pe=True), ['f%06d' % (n - 1)])

    # The same in descending order, each with a function aux entry of size 0.
    aux = struct.pack('<II', 0, 0) + bytes(SYMESZ - 8)
    syms = b''.join(sym.pack(b'_f%06d' % i, 16 * (n - i), 1, DT_FCN_TYPE, C_EXT, 1) + aux for i in range(n))
    write(out, 'coff_i386_descending_aux.o', coff_file(syms), ['f%06d' % (n - 1)])

    # Functions followed by 255 aux entries each.
    k = 900
    filler = bytes(SYMESZ * 255)
    syms = b''.join(sym.pack(b'_f%06d' % i, 16 * i, 1, DT_FCN_TYPE, C_EXT, 255) + filler for i in range(k))
    write(out, 'coff_huge_aux.o', coff_file(syms), ['f%06d' % (k - 1)])

    # 150,000 names in the string table, all at one value.
    n = 150000
    strings = bytearray()
    entries = []
    for i in range(n):
        entries.append(long_sym.pack(0, 4 + len(strings), 0x1000, 1, DT_FCN_TYPE, C_EXT, 0))
        strings += b'_function_name_%07d\0' % i
    write(out, 'coff_long_names.o', coff_file(b''.join(entries), bytes(strings)), ['function_name_%07d' % (n - 1)])

    # 400,000 names that all start one string of 4 KiB without a NUL: each
    # name is as long as a name may be read (1,023 characters), however
    # little of it a comparison needs.
    n = 400000
    entry = long_sym.pack(0, 4, 0x1000, 1, DT_FCN_TYPE, C_EXT, 0)
    write(out, 'coff_endless_name.o', coff_file(entry * n, b'_' + b'x' * 4096), ['x' * 40])


# --- a.out -----------------------------------------------------------------------

def aout_file(values):
    """A little-endian x86 OMAGIC file with one external text symbol per
    value, named _f000000..., and a text of 256 KiB that holds them all."""
    n = len(values)
    strings = bytearray()
    entries = bytearray()
    for i, v in enumerate(values):
        entries += struct.pack('<IBBhI', 4 + len(strings), N_TEXT | N_EXT, 0, 0, v)
        strings += b'_f%06d\0' % i
    text = 0x40000
    header = struct.pack('<IIIIIIII', M_386 << 16 | OMAGIC, text, 0, 0, len(entries), 0, 0, 0)
    return header + bytes(text) + bytes(entries) + struct.pack('<I', 4 + len(strings)) + bytes(strings)


def aout_inputs(out, order_file=None):
    n = 250000
    last = 'f%06d' % (n - 1)
    write(out, 'aout_same_addr.o', aout_file([0x1000] * n), [last])
    write(out, 'aout_descending.o', aout_file([n - i for i in range(n)]), [last])
    # Ascending to the middle, then descending: a classic trap for pivots.
    half = n // 2
    write(out, 'aout_organ_pipe.o', aout_file([2 * i for i in range(half)] + [2 * (half - i) - 1 for i in range(half)]),
          [last])
    # Two values in turn: every partition finds all but a few keys equal to
    # its pivot.
    write(out, 'aout_two_values.o', aout_file([0x1000 + 0x1000 * (i % 2) for i in range(n)]), [last])
    if order_file:
        with open(order_file) as f:
            order = [int(line) for line in f]
        write(out, 'aout_against_pivot.o', aout_file(order), ['f%06d' % (len(order) - 1)])


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit('usage: hostile_inputs.py OUTDIR [ORDER]')
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    elf_inputs(out)
    archive_inputs(out)
    coff_inputs(out)
    aout_inputs(out, sys.argv[2] if len(sys.argv) == 3 else None)
    with open(os.path.join(out, 'runs.tsv'), 'w') as f:
        for name, options in runs:
            f.write('%s\t%s\n' % (name, options))


if __name__ == '__main__':
    main()
