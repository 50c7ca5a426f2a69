#!/usr/bin/env python3
"""Cross-checks funsize against readelf on the real ELF inputs.

For every function symbol that carries a size, the size funsize reports must
equal the size `readelf -sW` shows. Archives are compared member by member.
usage: crosscheck.py FUNSIZE [FILE...]   (default: every ELF file here)
Exits 0 when all agree, 1 otherwise, 77 when readelf is not installed.
"""
import os
import re
import shutil
import gzip
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT = ['x86_64/sample.o', 'x86_64/util.o', 'x86_64/sample.exe', 'x86_64/libutil.so',
           'x86_64/libutil-stripped.so', 'x86_64/libsample.a', 'arm/sample.o', 'arm/util.o',
           'arm/sample.elf', 'arm/libsample.a', 'ppc/funcs.o', 'ppc/funcs.elf', 'ppc/libfuncs.a',
           'ppc64/funcs.o', 'extended/many.o.gz']


def rewrite(name):
    """The report's rewrite of decorated local names: f.middle.file -> f(file.o)."""
    if name.startswith('.') or name.count('.') < 2:
        return name
    func, _, rest = name.partition('.')
    _, _, part = rest.partition('.')
    out, i = '', 0
    while i < len(part):
        if part[i] != '.':
            out += part[i]
            i += 1
        elif re.fullmatch(r'[0-9A-Fa-f]{2}', part[i + 1:i + 3] or ''):
            out += chr(int(part[i + 1:i + 3], 16))
            i += 3
        else:
            break
    if not out:
        return name
    return '%s(%s.o)' % (func, re.split(r'[/\\:]', out)[-1])


def readelf_sizes(path):
    """{member: {name: size}} for sized, defined function symbols of the
    table funsize reads (.symtab, else .dynsym)."""
    text = subprocess.run(['readelf', '-sW', path], capture_output=True, text=True).stdout
    members, member, table = {}, os.path.basename(path), None
    tables = {}
    for line in text.splitlines():
        m = re.match(r'^File: .*\((.*)\)$', line)
        if m:
            member = m.group(1)
            continue
        m = re.match(r"^Symbol table '(\S+)'", line)
        if m:
            table = m.group(1)
            continue
        f = line.split()
        if len(f) >= 8 and f[0].endswith(':') and f[3] == 'FUNC' and f[6] != 'UND':
            size = int(f[2], 0) if f[2].startswith('0x') else int(f[2])
            name = f[7].split('@')[0]
            tables.setdefault(member, {}).setdefault(table, {})
            if size:
                tables[member][table].setdefault(name, size)
    for member, t in tables.items():
        members[member] = t.get('.symtab', t.get('.dynsym', {}))
    return members


def funsize_sizes(funsize, path):
    out = subprocess.run([funsize, '-gcompare', path], capture_output=True, text=True).stdout
    members = {}
    for line in out.splitlines():
        if path.endswith('.a'):
            member, _, line = line.partition(':')
        else:
            member = os.path.basename(path)
        name, size = line.rsplit(None, 1)
        members.setdefault(member, {}).setdefault(name.strip(), int(size))
    return members


def main():
    if not shutil.which('readelf'):
        print('readelf not installed: cross-check skipped')
        return 77
    funsize = os.path.abspath(sys.argv[1])
    files = sys.argv[2:] or [os.path.join(HERE, f) for f in DEFAULT]
    bad = checked = 0
    work = tempfile.TemporaryDirectory()
    for path in files:
        if path.endswith('.gz'):  # committed compressed: compared unpacked
            with gzip.open(path) as packed, open(os.path.join(work.name, os.path.basename(path[:-3])), 'wb') as out:
                out.write(packed.read())
            path = out.name
        want = readelf_sizes(path)
        got = funsize_sizes(funsize, path)
        for member, syms in want.items():
            for name, size in syms.items():
                checked += 1
                shown_name = rewrite(name)
                if '/ppc64/' in path and shown_name.startswith('.'):
                    shown_name = shown_name[1:]  # 64-bit PowerPC dot names are shown without the dot
                shown = got.get(member, {}).get(shown_name)
                if shown != size:
                    bad += 1
                    print('%s(%s): %s readelf %d funsize %s' % (path, member, name, size, shown))
    print('%d sized function symbols checked, %d disagree' % (checked, bad))
    return 1 if bad or not checked else 0


if __name__ == '__main__':
    sys.exit(main())
