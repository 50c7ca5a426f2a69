#!/usr/bin/env python3
"""Cross-checks funsize against objdump on the real COFF, PE and XCOFF inputs.

From `objdump -t`, `objdump -h` and (for PE images) `objdump -p` of each file
this script works out which functions funsize must report and their sizes:
C_EXT and C_STAT symbols (section symbols left out) of code sections, the
size of a function's single auxiliary entry (objdump's "ttlsiz") when it has
one, otherwise the distance to the next higher symbol start, capped by the
end of the symbol's section. The lists, names and sizes in symbol-table
order, must equal what `funsize -gcompare` prints. Archives are compared
member by member.

usage: crosscheck_coff.py FUNSIZE [FILE...]   (default: every input in coff/)
Exits 0 when all agree, 1 otherwise, 77 when objdump is missing or does not
know the targets.
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crosscheck import rewrite  # noqa: E402  the report's decorated-name rewrite

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT = ['coff/x86_64/sample.o', 'coff/x86_64/util.o', 'coff/x86_64/libsample.a', 'coff/x86_64/sample.exe',
           'coff/x86_64/util.dll', 'coff/x86_64/fsize.o', 'coff/i686/sample.o', 'coff/i686/util.o',
           'coff/i686/libsample.a', 'coff/i686/sample.exe', 'coff/i686/util.dll', 'coff/xcoff/funcs.o',
           'coff/xcoff/util.o', 'coff/xcoff/libfuncs.a']
TARGETS = ['pe-x86-64', 'pei-x86-64', 'pe-i386', 'pei-i386', 'aixcoff-rs6000']

C_EXT, C_STAT = 2, 3
MASK32 = 0xffffffff

SYMBOL = re.compile(r'^\[\s*(\d+)\]\(sec\s+(-?\d+)\)\(fl 0x[0-9a-f]+\)\(ty\s+([0-9a-f]+)\)\(scl\s+(\d+)\) '
                    r'\(nx (\d+)\) 0x([0-9a-f]+) (.*)$')
FUNCTION_AUX = re.compile(r'^AUX tagndx \d+ ttlsiz 0x([0-9a-f]+) ')
SECTION = re.compile(r'^\s*(\d+) (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+\S+')


def run(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def split_members(text, path):
    """objdump output of a file or archive as {member: lines}."""
    members, member = {}, os.path.basename(path)
    for line in text.splitlines():
        m = re.match(r'^(\S+):\s+file format (\S+)$', line)
        if m:
            member = m.group(1) if path.endswith('.a') else os.path.basename(path)
            members[member] = [line]
        elif member in members:
            members[member].append(line)
    return members


def sections_of(lines, image_base, code_size):
    """[(start, size, is_code)] by 1-based section number. In a PE image the
    section start is its address relative to the image base and its size the
    raw size, which objdump shows only as SizeOfCode (so with one code section)."""
    out = []
    for i, line in enumerate(lines):
        m = SECTION.match(line)
        if not m:
            continue
        size, vma = int(m.group(3), 16), int(m.group(4), 16)
        flags = lines[i + 1] if i + 1 < len(lines) else ''
        is_code = 'CODE' in flags
        if image_base is not None:
            vma -= image_base
            size = code_size if is_code else None
        out.append((vma & MASK32, size, is_code))
    if image_base is not None and sum(1 for s in out if s[2]) != 1:
        out = [(s[0], None, s[2]) for s in out]
    return out


def shown_name(name, leading):
    """The name as the report prints it: the first character of a name on a
    target with the leading-character convention comes back as '_' ('.' for
    XCOFF), and decorated local names f.x.file become f(file.o)."""
    if leading:
        name = leading + name[1:]
    return rewrite(name)


def expected(symbols, sections, leading):
    """[(name, size)] in symbol-table order; size None where objdump does not
    show what the size depends on."""
    records = []
    it = iter(range(len(symbols)))
    for i in it:
        sec, ty, scl, nx, value, name, aux = symbols[i]
        if scl == C_STAT and ty == 0 and nx == 1:
            continue  # section symbol
        if scl not in (C_EXT, C_STAT) or not 1 <= sec <= len(sections) or not sections[sec - 1][2]:
            continue
        if name.startswith('..lx') or name.startswith('__lks_eofn_'):
            continue
        size = 0
        if (ty & 0x30) == 0x20 and nx == 1 and aux is not None:
            size = aux
        records.append([name, value, size, sec])
    # Sizes that the symbols do not give: the next higher start of any record,
    # unless the record's section ends before it.
    by_start = sorted(records, key=lambda r: r[1])
    for k, r in enumerate(by_start):
        if r[2]:
            continue
        follower = next((f for f in by_start[k + 1:] if f[1] != r[1]), None)
        start, size, _ = sections[r[3] - 1]
        if size is None:
            r[2] = None if follower is None else (follower[1] - r[1]) & MASK32
            continue
        end = (start + size) & MASK32
        if follower is not None and end >= follower[1]:
            end = follower[1]
        r[2] = (end - r[1]) & MASK32
    return [(shown_name(r[0], leading), r[2]) for r in records]


def objdump_view(path):
    """{member: [(name, size)]} from objdump."""
    symbols_text = split_members(run('objdump', '-t', path), path)
    headers_text = split_members(run('objdump', '-h', path), path)
    private_text = split_members(run('objdump', '-p', path), path)
    view = {}
    for member, lines in symbols_text.items():
        fmt = lines[0].split()[-1]
        leading = {'pe-i386': '_', 'pei-i386': '_', 'aixcoff-rs6000': '.'}.get(fmt, '')
        image_base = code_size = None
        if fmt.startswith('pei-'):
            for line in private_text.get(member, []):
                f = line.split()
                if len(f) == 2 and f[0] == 'ImageBase':
                    image_base = int(f[1], 16)
                if len(f) == 2 and f[0] == 'SizeOfCode':
                    code_size = int(f[1], 16)
        sections = sections_of(headers_text.get(member, []), image_base, code_size)
        symbols = []
        for k, line in enumerate(lines):
            m = SYMBOL.match(line)
            if not m:
                continue
            nx = int(m.group(5))
            aux = None
            if nx == 1 and k + 1 < len(lines):
                a = FUNCTION_AUX.match(lines[k + 1])
                if a:
                    aux = int(a.group(1), 16)
            symbols.append((int(m.group(2)), int(m.group(3), 16), int(m.group(4)), nx, int(m.group(6), 16),
                            m.group(7), aux))
        view[member] = expected(symbols, sections, leading)
    return view


def funsize_view(funsize, path):
    out = subprocess.run([funsize, '-gcompare', path], capture_output=True, text=True).stdout
    members = {}
    for line in out.splitlines():
        if path.endswith('.a'):
            member, _, line = line.partition(':')
        else:
            member = os.path.basename(path)
        name, size = line.rsplit(None, 1)
        members.setdefault(member, []).append((name.strip(), int(size)))
    return members


def main():
    if not shutil.which('objdump'):
        print('objdump not installed: cross-check skipped')
        return 77
    known = run('objdump', '--help')
    missing = [t for t in TARGETS if t not in known]
    if missing:
        print('objdump does not know %s: cross-check skipped' % ', '.join(missing))
        return 77
    funsize = os.path.abspath(sys.argv[1])
    files = sys.argv[2:] or [os.path.join(HERE, f) for f in DEFAULT]
    bad = checked = 0
    for path in files:
        want = objdump_view(path)
        got = funsize_view(funsize, path)
        for member in sorted(set(want) | set(got)):
            w, g = want.get(member, []), got.get(member, [])
            names_w, names_g = [n for n, _ in w], [n for n, _ in g]
            if names_w != names_g:
                bad += 1
                print('%s(%s): functions differ\n  objdump %s\n  funsize %s' % (path, member, names_w, names_g))
                continue
            for (name, size), (_, shown) in zip(w, g):
                checked += 1
                if size is not None and size != shown:
                    bad += 1
                    print('%s(%s): %s objdump %d funsize %d' % (path, member, name, size, shown))
    print('%d functions checked, %d disagree' % (checked, bad))
    return 1 if bad or not checked else 0


if __name__ == '__main__':
    sys.exit(main())
