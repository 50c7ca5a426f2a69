// Identification of inputs by their leading bytes: every magic table, the
// ELF machine rules, PE images, archives, the debug-information container,
// short and damaged inputs, and the handle left where it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "identify.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t ALL = 0xFFFFFFFFu;

void put(Bytes &b, size_t off, const void *p, size_t n) {
    if (n == 0) return;
    if (b.size() < off + n) b.resize(off + n);
    std::memcpy(b.data() + off, p, n);
}
void put_str(Bytes &b, size_t off, const char *s) { put(b, off, s, std::strlen(s)); }
void put_n(Bytes &b, size_t off, uint64_t v, int n, bool big) {
    for (int i = 0; i < n; ++i) {
        uint8_t byte = uint8_t(v >> (8 * (big ? n - 1 - i : i)));
        put(b, off + i, &byte, 1);
    }
}
void put16(Bytes &b, size_t off, uint64_t v, bool big = false) { put_n(b, off, v, 2, big); }
void put32(Bytes &b, size_t off, uint64_t v, bool big = false) { put_n(b, off, v, 4, big); }
void put64(Bytes &b, size_t off, uint64_t v, bool big = false) { put_n(b, off, v, 8, big); }

Bytes lead(std::initializer_list<uint8_t> bytes, size_t size = 0) {
    Bytes b(bytes);
    if (b.size() < size) b.resize(size);
    return b;
}

// An anonymous file holding `junk` filler bytes and then `image`.
struct TempInput {
    FILE *f;
    TempInput(const Bytes &image, size_t junk = 0) : f(std::tmpfile()) {
        Bytes all(junk, 0xEE);
        all.insert(all.end(), image.begin(), image.end());
        if (!all.empty()) std::fwrite(all.data(), 1, all.size(), f);
        std::fseek(f, long(junk), SEEK_SET);
    }
    ~TempInput() { std::fclose(f); }
};

// Identifies `image` stored behind `junk` bytes, as an archive member would
// be, and checks that the handle is left at the image's start.
struct Ident {
    bool null = true;
    file_ident id{};
};
Ident identify(const Bytes &image, const char *name = "in.o", size_t junk = 0) {
    TempInput in(image, junk);
    Ident r;
    file_ident *p = identify_file(in.f, name);
    EXPECT_EQ(std::ftell(in.f), long(junk)) << "handle moved";
    if (p) {
        r.null = false;
        r.id = *p;
    }
    return r;
}

std::string hex(uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", (unsigned long long)v);
    return buf;
}

// --- ELF ------------------------------------------------------------------

struct ElfLayout {
    bool wide = false;
    uint8_t data = 1;  // EI_DATA
    uint16_t type = 1;
    uint16_t machine = 0;
    uint32_t flags = 0;
    uint64_t shoff = 0;
    uint16_t shentsize = 0;
    uint16_t shnum = 0;
    uint16_t shstrndx = 0;
};

Bytes elf_header(const ElfLayout &s) {
    Bytes b(s.wide ? 64 : 52);
    put_str(b, 0, "\x7f" "ELF");
    b[4] = s.wide ? 2 : 1;
    b[5] = s.data;
    b[6] = 1;
    bool big = s.data == 2;
    put16(b, 16, s.type, big);
    put16(b, 18, s.machine, big);
    put32(b, 20, 1, big);
    if (s.wide) {
        put64(b, 40, s.shoff, big);
        put32(b, 48, s.flags, big);
        put16(b, 52, 64, big);
        put16(b, 58, s.shentsize, big);
        put16(b, 60, s.shnum, big);
        put16(b, 62, s.shstrndx, big);
    } else {
        put32(b, 32, uint32_t(s.shoff), big);
        put32(b, 36, s.flags, big);
        put16(b, 40, 52, big);
        put16(b, 46, s.shentsize, big);
        put16(b, 48, s.shnum, big);
        put16(b, 50, s.shstrndx, big);
    }
    return b;
}

struct ElfRow {
    uint16_t machine;
    uint32_t flags;
    uint32_t machine_type;
    uint8_t flag14, leading_underscore;
    uint32_t cpu_family;
    const char *short_name;
    uint32_t arch_family, arch_variant;
};

// Every row of the machine table but RISC-V (tested on its own), with
// flags that select it; bit 8 lies outside every mask.
const ElfRow elf_rows[] = {
    {3, 0x00000100, 54, 0, 0, 1, nullptr, 0, ALL},
    {6, 0x00000100, 55, 0, 0, 1, nullptr, 0, ALL},
    {2, 0x00000100, 56, 1, 0, 29, nullptr, 0, ALL},
    {18, 0x00000100, 57, 1, 0, 29, nullptr, 0, ALL},
    {10, 0x00000100, 59, 1, 0, 21, nullptr, 0, ALL},
    {38, 0x00000100, 60, 1, 0, 21, nullptr, 0, ALL},
    {54, 0x00000100, 61, 1, 0, 21, nullptr, 0, ALL},
    {8, 0x00000100, 62, 1, 0, 21, nullptr, 0, ALL},
    {78, 0x00000100, 111, 1, 0, 12, "fp", 0, ALL},
    {37, 0x00000100, 63, 1, 1, 13, "fr", 0, ALL},
    {20, 0x00000100, 64, 1, 0, 26, "ppc", 0, ALL},
    {36, 0x00000100, 94, 1, 1, 3, "v850", 0, ALL},
    {40, 0x00000100, 69, 1, 0, 7, nullptr, 0, ALL},
    {42, 0x00000100, 70, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x80000100, 76, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x40000100, 71, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x20000100, 72, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x01000100, 78, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x10000100, 73, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x08000100, 74, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x04000100, 75, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x00800100, 79, 1, 1, 28, nullptr, 0, ALL},
    {42, 0x02000100, 77, 1, 1, 28, nullptr, 0, ALL},
    {43, 0x00000100, 56, 0, 0, 29, nullptr, 0, ALL},
    {1, 0x00000100, 80, 0, 0, 26, nullptr, 0, ALL},
    {4, 0x00000100, 82, 0, 0, 2, nullptr, 0, ALL},
    {52, 0x00000100, 82, 0, 0, 2, nullptr, 0, ALL},
    {19, 0x00000100, 83, 0, 1, 4, nullptr, 0, ALL},
    {44, 0x00000100, 84, 1, 0, 33, "tri", 0, ALL},
    {44, 0x80000100, 85, 1, 0, 33, "tri", 25, 0},
    {44, 0x40000100, 86, 1, 0, 33, "tri", 25, 1},
    {44, 0x20000100, 87, 1, 0, 33, "tri", 25, 3},
    {44, 0x00800100, 88, 1, 0, 33, "tri", 25, 6},
    {44, 0x00400100, 89, 1, 0, 33, "tri", 25, 7},
    {44, 0x00200100, 90, 1, 0, 33, "tri", 25, 11},
    {44, 0x00100100, 91, 1, 0, 33, "tri", 25, 14},
    {44, 0x00080100, 92, 1, 0, 33, "tri", 25, 16},
    // PCP (97): its flag value lies outside the TriCore mask, so the
    // catch-all TriCore row takes the file.
    {44, 0x01000100, 84, 1, 0, 33, "tri", 0, ALL},
    {45, 0x00000100, 116, 1, 0, 6, nullptr, 0, ALL},
    {77, 0x00000100, 109, 1, 0, 16, nullptr, 0, ALL},
    {51, 0x00000100, 93, 1, 0, 21, nullptr, 0, ALL},
    {39, 0x00000100, 98, 1, 0, 19, nullptr, 0, ALL},
    {60, 0x00000100, 104, 1, 0, 30, "st100", 0, ALL},
    {57, 0x00000100, 103, 1, 0, 16, nullptr, 0, ALL},
    {58, 0x00000100, 108, 1, 1, 31, "sc", 0, ALL},
    {79, 0x00000100, 110, 1, 1, 34, "zsp", 0, ALL},
    {63, 0x00000100, 112, 1, 0, 24, "pdsp", 0, ALL},
    {102, 0x00000100, 114, 1, 0, 18, "max", 35, ALL},
    {106, 0x00000100, 124, 1, 1, 8, "bf", 0, ALL},
    {31, 0x00000100, 124, 1, 1, 8, "bf", 0, ALL},
    {34, 0x00000100, 124, 1, 1, 8, "bf", 0, ALL},
    {61453, 0x00000100, 127, 1, 0, 20, "mep", 0, ALL},
    {87, 0x00000100, 94, 1, 1, 3, "v850", 0, ALL},
    {88, 0x00000100, 115, 1, 0, 17, "m32r", 38, ALL},
    {93, 0x00000100, 117, 1, 0, 6, nullptr, 0, ALL},
    {121, 0x00000100, 118, 1, 0, 27, "rhfpp", 40, ALL},
    {62, 0x00000100, 129, 0, 0, 1, nullptr, 0, ALL},
    {21, 0x00000100, 65, 1, 0, 26, "ppc", 0, ALL},
    {61454, 0x00000100, 131, 1, 1, 9, "c6000", 0, ALL},
    {50, 0x00000100, 119, 0, 0, 15, "ia64", 0, ALL},
    {122, 0x00000101, 130, 1, 0, 11, "fly", 46, 2},
    {122, 0x00000102, 130, 1, 0, 11, "fly", 46, 0},
    {122, 0x00000103, 130, 1, 0, 11, "fly", 46, 1},
    {122, 0x00000104, 130, 1, 0, 11, "fly", 46, 4},
    {23, 0x00000100, 132, 1, 0, 32, "spu", 0, ALL},
    {11, 0x00000100, 133, 1, 0, 26, "etpu", 0, ALL},
    {118, 0x00000100, 134, 1, 1, 25, "pic30", 0, ALL},
    {61452, 0x00000100, 135, 1, 0, 22, "nano", 49, ALL},
    {183, 0x00000100, 137, 1, 0, 35, "arm64", 50, ALL},
    {61455, 0x00000100, 139, 1, 0, 36, "mcs", 51, ALL},
    // Flags that no row of their machine takes fall back to the end row.
    {42, 0xC0000000, 0, 0, 0, 0, nullptr, 0, ALL},
    {44, 0x00000100 | 0x30000000, 0, 0, 0, 0, nullptr, 0, ALL},
    {122, 0x00000005, 0, 0, 0, 0, nullptr, 0, ALL},
    {9999, 0, 0, 0, 0, 0, nullptr, 0, ALL},
    {0, 0, 0, 0, 0, 0, nullptr, 0, ALL},
};

TEST(IdentifyElf, MachineTableInBothClassesAndByteOrders) {
    for (bool wide : {false, true}) {
        for (uint8_t data : {1, 2}) {
            for (const ElfRow &row : elf_rows) {
                ElfLayout s;
                s.wide = wide;
                s.data = data;
                s.machine = row.machine;
                s.flags = row.flags;
                Ident r = identify(elf_header(s));
                SCOPED_TRACE("e_machine " + std::to_string(row.machine) + " flags " + hex(row.flags) +
                             (wide ? " ELF64" : " ELF32") + (data == 2 ? " big" : " little"));
                ASSERT_FALSE(r.null);
                const file_ident &id = r.id;
                EXPECT_EQ(id.file_type, uint32_t(FT_ELF));
                EXPECT_EQ(id.machine, row.machine);
                EXPECT_EQ(id.machine_type, row.machine_type);
                EXPECT_EQ(id.flag14, row.flag14);
                EXPECT_EQ(id.leading_underscore, row.leading_underscore);
                EXPECT_EQ(id.cpu_family, row.cpu_family);
                EXPECT_STREQ(id.short_name, row.short_name);
                EXPECT_EQ(id.arch_family, row.arch_family);
                EXPECT_EQ(id.arch_variant, row.arch_variant);
                EXPECT_EQ(id.flags, row.flags);
                EXPECT_EQ(id.elf_class, wide ? 64u : 32u);
                EXPECT_EQ(id.big_endian, data == 2);
                EXPECT_EQ(id.symbol_entry_size, 0u);
                EXPECT_EQ(id.object_kind, 1u);
                EXPECT_EQ(id.magic[0], 0x7F);
                EXPECT_EQ(id.magic[1], 'E');
            }
        }
    }
}

TEST(IdentifyElf, RiscVWordSizeReplacesFlagBit31) {
    struct Case {
        bool wide;
        uint32_t flags;
        uint32_t machine_type, arch_variant, stored_flags;
    } cases[] = {
        {true, 0x10, 141, 3, 0x80000010},
        {false, 0x10, 140, 2, 0x10},
        {false, 0x80000010, 140, 2, 0x10},
        {true, 0x0, 141, 1, 0x80000000},
        {false, 0x80000005, 140, 0, 0x5},
        {true, 0x80000005, 141, 1, 0x80000005},
    };
    for (const Case &c : cases) {
        for (uint8_t data : {1, 2}) {
            ElfLayout s;
            s.wide = c.wide;
            s.data = data;
            s.machine = 243;
            s.flags = c.flags;
            Ident r = identify(elf_header(s));
            SCOPED_TRACE(hex(c.flags) + (c.wide ? " ELF64" : " ELF32"));
            EXPECT_EQ(r.id.machine_type, c.machine_type);
            EXPECT_EQ(r.id.arch_variant, c.arch_variant);
            EXPECT_EQ(r.id.flags, c.stored_flags);
            EXPECT_EQ(r.id.arch_family, 52u);
            EXPECT_STREQ(r.id.short_name, "riscv");
        }
    }
}

TEST(IdentifyElf, CodeByteOrder) {
    struct Case {
        uint16_t machine;
        uint32_t flags;
        uint8_t data;
        uint8_t big_endian, code_big_endian;
    } cases[] = {
        {40, 0x00800000, 2, 1, 0},  // ARM BE8: big-endian data, little-endian code
        {40, 0x00800000, 1, 0, 1},
        {40, 0x00000000, 2, 1, 1},
        {44, 0, 2, 1, 0},           // TriCore and AArch64 code is little endian
        {183, 0, 2, 1, 0},
        {183, 0, 1, 0, 0},
        {20, 0, 2, 1, 1},
        {20, 0x00800000, 2, 1, 1},  // the BE8 bit means nothing elsewhere
        {3, 0, 1, 0, 0},
    };
    for (const Case &c : cases) {
        ElfLayout s;
        s.machine = c.machine;
        s.flags = c.flags;
        s.data = c.data;
        Ident r = identify(elf_header(s));
        SCOPED_TRACE("e_machine " + std::to_string(c.machine));
        EXPECT_EQ(r.id.big_endian, c.big_endian);
        EXPECT_EQ(r.id.code_big_endian, c.code_big_endian);
    }
}

TEST(IdentifyElf, OddIdentBytesAndObjectKinds) {
    // EI_DATA other than 1 or 2: the header is read little endian, but the
    // file does not count as little endian.
    for (uint8_t data : {0, 3}) {
        ElfLayout s;
        s.data = data;
        s.machine = 40;
        Ident r = identify(elf_header(s));
        EXPECT_EQ(r.id.machine_type, 69u);
        EXPECT_EQ(r.id.big_endian, 1);
    }
    for (uint16_t type : {0, 1, 2, 3, 4, 5, 0xFE00}) {
        ElfLayout s;
        s.type = type;
        s.machine = 3;
        Ident r = identify(elf_header(s));
        EXPECT_EQ(r.id.object_kind, type <= 4 ? type : 0u) << "e_type " << type;
    }
}

TEST(IdentifyElf, UnreadableHeadersGiveUnknownMachine) {
    ElfLayout s;
    s.machine = 40;
    s.flags = 0x1234;
    Bytes whole = elf_header(s);

    // Cut short: still ELF, of no known machine.
    for (size_t len : {4, 5, 16, 30, 51}) {
        Bytes cut(whole.begin(), whole.begin() + len);
        Ident r = identify(cut);
        SCOPED_TRACE("length " + std::to_string(len));
        EXPECT_EQ(r.id.file_type, uint32_t(FT_ELF));
        EXPECT_EQ(r.id.machine, 0u);
        EXPECT_EQ(r.id.machine_type, 0u);
        EXPECT_EQ(r.id.flags, 0u);
        EXPECT_EQ(r.id.elf_class, len > 4 ? 32u : 0u);
        EXPECT_EQ(r.id.arch_variant, ALL);
    }

    // A class byte that is neither 1 nor 2.
    Bytes bad = whole;
    bad[4] = 3;
    Ident r = identify(bad);
    EXPECT_EQ(r.id.file_type, uint32_t(FT_ELF));
    EXPECT_EQ(r.id.machine_type, 0u);
    EXPECT_EQ(r.id.elf_class, 0u);

    // Extended numbering sends the reader to section 0: past the end of the
    // file it cannot be read.
    s.shnum = 0;
    s.shoff = 0x1000;
    r = identify(elf_header(s));
    EXPECT_EQ(r.id.machine_type, 0u);

    // Section 0 there and readable: the header is fine.
    s.shoff = 52;
    Bytes ext = elf_header(s);
    put32(ext, 52 + 20, 70000);  // sh_size of section 0: the section count
    ext.resize(52 + 40);
    r = identify(ext);
    EXPECT_EQ(r.id.machine_type, 69u);

    // An entry size below the standard one cannot be read either.
    s.shentsize = 20;
    Bytes small = elf_header(s);
    small.resize(52 + 40);
    EXPECT_EQ(identify(small).id.machine_type, 0u);

    // A 64-bit section count that does not fit in 32 bits.
    ElfLayout w;
    w.wide = true;
    w.machine = 40;
    w.shoff = 64;
    Bytes big = elf_header(w);
    put64(big, 64 + 32, 0x100000000ULL);
    big.resize(64 + 64);
    EXPECT_EQ(identify(big).id.machine_type, 0u);
    put64(big, 64 + 32, 0xFFFFFFFFULL);
    EXPECT_EQ(identify(big).id.machine_type, 69u);
}

// An ELF image whose sections are a name table and ".note.renesas" holding
// `notes`.
Bytes renesas_elf(uint16_t machine, const Bytes &notes, bool big = false, uint64_t note_size = 0) {
    const char names[] = "\0.shstrtab\0.note.renesas";  // offsets 1 and 11
    const size_t names_at = 52, notes_at = names_at + sizeof names;
    const size_t shoff = (notes_at + notes.size() + 3) & ~size_t(3);
    ElfLayout s;
    s.data = big ? 2 : 1;
    s.machine = machine;
    s.shoff = shoff;
    s.shentsize = 40;
    s.shnum = 3;
    s.shstrndx = 1;
    Bytes b = elf_header(s);
    put(b, names_at, names, sizeof names);
    put(b, notes_at, notes.data(), notes.size());
    b.resize(shoff + 3 * 40);
    put32(b, shoff + 40 + 0, 1, big);  // .shstrtab
    put32(b, shoff + 40 + 4, 3, big);
    put32(b, shoff + 40 + 16, names_at, big);
    put32(b, shoff + 40 + 20, sizeof names, big);
    put32(b, shoff + 80 + 0, 11, big);  // .note.renesas
    put32(b, shoff + 80 + 4, 7, big);
    put32(b, shoff + 80 + 16, notes_at, big);
    put32(b, shoff + 80 + 20, note_size ? note_size : notes.size(), big);
    return b;
}

void add_note(Bytes &b, const char *name, uint32_t namesz, uint32_t descsz, uint32_t type, uint32_t value,
              bool big = false) {
    size_t at = b.size();
    put32(b, at, namesz, big);
    put32(b, at + 4, descsz, big);
    put32(b, at + 8, type, big);
    Bytes body(namesz + descsz);
    put(body, 0, name, std::min<size_t>(std::strlen(name), namesz));
    if (descsz >= 4) put32(body, namesz, value, big);
    b.insert(b.end(), body.begin(), body.end());
}

TEST(IdentifyElf, RenesasNoteBits) {
    struct Case {
        const char *name;
        uint32_t type, value, bits;
    } cases[] = {
        {"REL", 3, 1, 0x01}, {"REL", 3, 2, 0x01}, {"REL", 3, 3, 0x01}, {"REL", 3, 4, 0},
        {"rel", 4, 1, 0x02}, {"Rel", 4, 2, 0x10}, {"REL", 4, 3, 0},    {"REL", 11, 1, 0x20},
        {"REL", 11, 2, 0},   {"REL", 5, 1, 0},    {"RELX", 3, 1, 0},   {"XYZ", 3, 1, 0},
    };
    for (const Case &c : cases) {
        for (bool big : {false, true}) {
            Bytes notes;
            add_note(notes, c.name, 4, 4, c.type, c.value, big);
            Ident r = identify(renesas_elf(87, notes, big));
            SCOPED_TRACE(std::string(c.name) + " type " + std::to_string(c.type) + " value " +
                         std::to_string(c.value));
            EXPECT_EQ(r.id.machine_type, 94u);
            EXPECT_EQ(r.id.renesas_flags, c.bits);
        }
    }

    // Several notes: bits add up; notes of other sizes are stepped over
    // without alignment padding.
    Bytes notes;
    add_note(notes, "REL", 4, 4, 3, 1);
    add_note(notes, "VENDOR", 7, 6, 4, 1);
    add_note(notes, "REL", 4, 4, 11, 1);
    add_note(notes, "REL", 4, 8, 4, 1);
    add_note(notes, "REL", 4, 4, 4, 2);
    EXPECT_EQ(identify(renesas_elf(36, notes)).id.renesas_flags, 0x01u | 0x20 | 0x10);

    // A note is read while 12 bytes of the section size are left; its name
    // and value are then read even beyond the size.
    EXPECT_EQ(identify(renesas_elf(87, notes, false, 11)).id.renesas_flags, 0u);
    EXPECT_EQ(identify(renesas_elf(87, notes, false, 12)).id.renesas_flags, 0x01u);

    // Other machines are not scanned; neither is a member of an archive,
    // whose file begins with the archive's magic.
    EXPECT_EQ(identify(renesas_elf(40, notes)).id.renesas_flags, 0u);
    Ident member = identify(renesas_elf(87, notes), "lib.a(x.o)", 68);
    EXPECT_EQ(member.id.machine_type, 94u);
    EXPECT_EQ(member.id.renesas_flags, 0u);
}

TEST(IdentifyElf, RenesasScanSurvivesDamagedTables) {
    Bytes notes;
    add_note(notes, "REL", 4, 4, 3, 1);
    Bytes good = renesas_elf(87, notes);
    const size_t shoff = good.size() - 120;

    // A section size far past the end of the file: the notes that are there
    // still count.
    EXPECT_EQ(identify(renesas_elf(87, notes, false, 0xFFFFFFF0u)).id.renesas_flags, 0x01u);

    // Huge note sizes end the scan.
    Bytes huge;
    add_note(huge, "", 0, 0, 0, 0);
    put32(huge, 0, 0xFFFFFFFF);
    put32(huge, 4, 0xFFFFFFFF);
    add_note(huge, "REL", 4, 4, 3, 1);
    EXPECT_EQ(identify(renesas_elf(87, huge)).id.renesas_flags, 0u);

    struct Damage {
        size_t at;
        uint32_t value;
        int width;
    } damages[] = {
        {48, 0xFFFF, 2},           // e_shnum: a table far past the end
        {50, 7, 2},                // e_shstrndx beyond the table
        {shoff + 80, 0xFFFFFF00, 4},  // sh_name far outside the name table
        {shoff + 40 + 16, 0xFFFFFFF0, 4},  // name table past the end
        {shoff + 80 + 16, 0xFFFFFFF0, 4},  // notes past the end
        {46, 8, 2},                // entry size too small
    };
    for (const Damage &d : damages) {
        Bytes b = good;
        put_n(b, d.at, d.value, d.width, false);
        Ident r = identify(b);
        SCOPED_TRACE("damage at " + std::to_string(d.at));
        EXPECT_FALSE(r.null);
        EXPECT_EQ(r.id.renesas_flags, 0u);
    }
    // The file cut inside the section table.
    Bytes cut(good.begin(), good.end() - 10);
    EXPECT_EQ(identify(cut).id.renesas_flags, 0u);
}

// --- COFF, PE and a.out ---------------------------------------------------

struct Magic2Row {
    uint8_t b0, b1;
    uint32_t machine, machine_type;
    uint8_t code_big_endian, big_endian, flag14, leading_underscore;
    uint32_t cpu_family, file_type, symbol_entry_size;
};

const Magic2Row magic2_rows[] = {
    {0x44, 0x01, 0x144, 1, 0, 0, 0, 0, 1, 2, 18},
    {0x45, 0x01, 0x145, 2, 0, 0, 0, 0, 1, 2, 18},
    {0x46, 0x01, 0x146, 3, 0, 0, 0, 0, 1, 2, 18},
    {0x47, 0x01, 0x147, 4, 0, 0, 0, 0, 1, 2, 18},
    {0x4A, 0x01, 0x14A, 5, 0, 0, 0, 0, 1, 2, 18},
    {0x4C, 0x01, 0x14C, 6, 0, 0, 0, 1, 1, 2, 18},
    {0x64, 0x86, 0x8664, 138, 0, 0, 0, 0, 1, 2, 18},
    {0x4D, 0x5A, 0x5A4D, 6, 0, 0, 0, 1, 1, 6, 18},
    {0x11, 0x33, 0x1133, 9, 1, 1, 1, 1, 29, 2, 18},
    {0xC2, 0x70, 0x70C2, 11, 0, 0, 1, 1, 3, 2, 18},
    {0xC3, 0x70, 0x70C3, 12, 0, 0, 1, 1, 3, 2, 18},
    {0xC4, 0x70, 0x70C4, 13, 0, 0, 1, 1, 3, 2, 18},
    {0x05, 0x00, 0x500, 16, 1, 1, 1, 1, 28, 2, 18},
    {0x71, 0xC2, 0x71C2, 14, 1, 1, 1, 1, 28, 2, 18},
    {0xC3, 0x71, 0x71C3, 15, 0, 0, 1, 1, 28, 2, 18},
    {0x01, 0x65, 0x165, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x66, 0x01, 0x166, 18, 0, 0, 0, 0, 21, 2, 18},
    {0x62, 0x01, 0x162, 26, 0, 0, 1, 0, 21, 2, 18},
    {0x01, 0x62, 0x162, 27, 0, 0, 1, 0, 21, 2, 18},
    {0x83, 0x01, 0x183, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x02, 0x60, 0x260, 29, 1, 1, 0, 1, 4, 2, 18},
    {0x60, 0x01, 0x160, 30, 0, 0, 0, 1, 4, 2, 24},
    {0x01, 0x60, 0x160, 31, 1, 1, 0, 1, 4, 2, 24},
    {0x01, 0xC3, 0x1C3, 32, 1, 1, 1, 0, 26, 2, 18},
    {0x01, 0xC4, 0x1C4, 32, 1, 1, 1, 0, 26, 2, 18},
    {0x01, 0x50, 0x150, 34, 1, 1, 0, 0, 2, 2, 18},
    {0x01, 0x51, 0x151, 35, 1, 1, 0, 0, 2, 2, 18},
    {0x01, 0x52, 0x152, 36, 1, 1, 0, 0, 2, 2, 18},
    {0x00, 0x88, 0x88, 37, 1, 1, 0, 1, 2, 2, 18},
    {0x00, 0x89, 0x88, 38, 1, 1, 0, 1, 2, 2, 18},
    {0x02, 0x0B, 0x20B, 39, 1, 1, 0, 1, 14, 7, 18},
    {0x01, 0xDF, 0x1DF, 33, 1, 1, 0, 1, 26, 5, 18},
    {0x0B, 0x01, 0x10B, 53, 0, 0, 0, 1, 0, 1, 18},
    {0x00, 0x0A, 0xA, 102, 0, 0, 0, 1, 7, 2, 18},
    {0x0D, 0x01, 0x1D0, 30, 0, 0, 0, 1, 4, 2, 24},
    {0x84, 0x01, 0x184, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x01, 0xC0, 0x1C0, 102, 0, 0, 0, 1, 7, 2, 18},
    {0x84, 0x02, 0x284, 28, 0, 0, 0, 0, 5, 2, 18},
    {0x02, 0x68, 0x268, 34, 1, 1, 0, 0, 2, 2, 18},
    {0x02, 0x66, 0x266, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x03, 0x66, 0x366, 17, 1, 1, 0, 0, 21, 2, 18},
    {0x04, 0x66, 0x466, 22, 1, 1, 0, 0, 21, 2, 18},
    {0x01, 0xC2, 0x1C2, 102, 0, 0, 0, 1, 7, 2, 18},
    {0xC2, 0x00, 0xC2, 131, 0, 0, 1, 1, 9, 2, 18},
    {0x00, 0xC2, 0xC2, 131, 1, 1, 1, 1, 9, 2, 18},
};

// Zeroes the sticky TI COFF mark of the static record.
void clear_ti_coff() {
    TempInput in(Bytes{});
    identify_file(in.f, "empty")->ti_coff = 0;
}

TEST(IdentifyCoff, TwoByteMagicRows) {
    struct FlagCase {
        uint16_t flags;
        uint32_t stored, object_kind;
    } flag_cases[] = {
        {0x0000, 0x0000, 1}, {0x0001, 0x0001, 0}, {0x8003, 0xFFFF8003, 2}, {0x2000, 0x2000, 1},
    };
    for (const Magic2Row &row : magic2_rows) {
        if (row.file_type == FT_PE) continue;  // the MZ stub: see the PE tests
        for (const FlagCase &fc : flag_cases) {
            clear_ti_coff();
            Bytes b = lead({row.b0, row.b1}, 20);
            put16(b, 18, fc.flags, row.big_endian);
            Ident r = identify(b);
            SCOPED_TRACE(hex(row.b0) + " " + hex(row.b1) + " flags " + hex(fc.flags));
            ASSERT_FALSE(r.null);
            const file_ident &id = r.id;
            EXPECT_EQ(id.machine, row.machine);
            EXPECT_EQ(id.machine_type, row.machine_type);
            EXPECT_EQ(id.code_big_endian, row.code_big_endian);
            EXPECT_EQ(id.big_endian, row.big_endian);
            EXPECT_EQ(id.flag14, row.flag14);
            EXPECT_EQ(id.leading_underscore, row.leading_underscore);
            EXPECT_EQ(id.cpu_family, row.cpu_family);
            EXPECT_EQ(id.file_type, row.file_type);
            EXPECT_EQ(id.symbol_entry_size, row.symbol_entry_size);
            EXPECT_EQ(id.elf_class, row.machine_type == 138 ? 64u : 32u);
            EXPECT_EQ(id.flags, fc.stored);
            EXPECT_EQ(id.object_kind, fc.object_kind);
            EXPECT_EQ(id.ti_coff, row.machine_type == 131 ? 1u : 0u);
            EXPECT_EQ(id.short_name, nullptr);
            EXPECT_EQ(id.arch_variant, 0u);
            EXPECT_EQ(id.magic[0], row.b0);
            EXPECT_EQ(id.magic[1], row.b1);
        }
    }
}

TEST(IdentifyCoff, TiMarkIsKeptUntilTheCoffHandlerClearsIt) {
    clear_ti_coff();
    EXPECT_EQ(identify(lead({0xC2, 0x00}, 20)).id.ti_coff, 1u);
    EXPECT_EQ(identify(elf_header(ElfLayout{})).id.ti_coff, 1u);
    // An ELF file of the same machine type is not TI COFF.
    clear_ti_coff();
    ElfLayout s;
    s.machine = 61454;
    Ident r = identify(elf_header(s));
    EXPECT_EQ(r.id.machine_type, 131u);
    EXPECT_EQ(r.id.ti_coff, 0u);
}

TEST(IdentifyCoff, FieldsOfAnEarlierInputDoNotLeak) {
    identify(lead({0x4C, 0x01}, 20));  // i386 COFF: leading underscore, flag14 0
    Ident r = identify(lead({'!', '<', 'a', 'r', 'c', 'h', '>', '\n'}));
    EXPECT_EQ(r.id.leading_underscore, 0);
    EXPECT_EQ(r.id.symbol_entry_size, 0u);
    Bytes dbg = lead({0x7F, 'L', 'K', 'S'}, 20);
    put32(dbg, 8, 2, true);
    identify(lead({0x4C, 0x01}, 20));
    r = identify(dbg);
    EXPECT_EQ(r.id.leading_underscore, 0);
    EXPECT_EQ(r.id.cpu_family, 0u);
}

Bytes pe_image(uint32_t pe_offset, uint16_t machine, uint16_t characteristics) {
    Bytes b = lead({'M', 'Z'}, 64);
    put32(b, 60, pe_offset);
    put_str(b, pe_offset, "PE");
    put16(b, pe_offset + 2, 0);
    put16(b, pe_offset + 4, machine);
    put16(b, pe_offset + 22, characteristics);
    b.resize(pe_offset + 24 + 240);
    return b;
}

TEST(IdentifyPe, MachineAndCharacteristics) {
    struct Case {
        uint16_t machine, characteristics;
        uint32_t machine_type, elf_class, object_kind, flags;
        uint8_t leading_underscore;
    } cases[] = {
        {0x8664, 0x2022, 138, 64, 3, 0x2022, 0},      // x86-64 DLL
        {0x8664, 0x0022, 138, 64, 2, 0x0022, 0},      // x86-64 executable
        {0x014C, 0x0102, 6, 32, 2, 0x0102, 1},        // i386 executable
        {0x014C, 0x2102, 6, 32, 3, 0x2102, 1},
        {0x014C, 0x0000, 6, 32, 1, 0x0000, 1},        // an object
        {0x0166, 0x8001, 18, 32, 0, 0xFFFF8001, 0},   // MIPS, relocations stripped
        {0xAA64, 0x0022, 6, 32, 2, 0x0022, 1},        // a machine not in the table keeps the stub's
    };
    for (const Case &c : cases) {
        for (size_t junk : {0, 100}) {
            Ident r = identify(pe_image(0x80, c.machine, c.characteristics), "a.exe", junk);
            SCOPED_TRACE("machine " + hex(c.machine) + " at " + std::to_string(junk));
            ASSERT_FALSE(r.null);
            EXPECT_EQ(r.id.file_type, uint32_t(FT_PE));
            EXPECT_EQ(r.id.machine, 0x5A4Du);
            EXPECT_EQ(r.id.symbol_entry_size, 18u);
            EXPECT_EQ(r.id.machine_type, c.machine_type);
            EXPECT_EQ(r.id.elf_class, c.elf_class);
            EXPECT_EQ(r.id.object_kind, c.object_kind);
            EXPECT_EQ(r.id.flags, c.flags);
            EXPECT_EQ(r.id.leading_underscore, c.leading_underscore);
            EXPECT_EQ(r.id.big_endian, 0);
        }
    }
}

TEST(IdentifyPe, StubWithoutPeHeaderIsNotIdentified) {
    Bytes no_sig = pe_image(0x80, 0x14C, 0);
    no_sig[0x81] = 'X';
    Bytes far = pe_image(0x80, 0x14C, 0);
    put32(far, 60, 0x7FFFFFF0);
    Bytes cut = pe_image(0x80, 0x14C, 0);
    cut.resize(0x82);
    for (const Bytes &b : {no_sig, far, cut, lead({'M', 'Z'}), lead({'M', 'Z'}, 62)}) {
        for (size_t junk : {0, 33}) {
            Ident r = identify(b, "a.exe", junk);
            EXPECT_TRUE(r.null) << "size " << b.size();
        }
    }
    // The signature with nothing behind it is still a PE image.
    Bytes bare = pe_image(0x40, 0x14C, 0);
    bare.resize(0x44);
    Ident r = identify(bare);
    ASSERT_FALSE(r.null);
    EXPECT_EQ(r.id.machine_type, 6u);
    EXPECT_EQ(r.id.flags, 0u);
}

struct AoutRow {
    uint8_t b[4];
    uint32_t machine, machine_type;
    uint8_t big_endian, leading_underscore;
    uint32_t cpu_family;
};

const AoutRow aout_rows[] = {
    {{0x07,0x01,0x00,0x00}, 0x107, 44, 0, 1, 1},
    {{0x07,0x01,0x64,0x00}, 0x640107, 43, 0, 1, 1},
    {{0x01,0x02,0x01,0x07}, 0x1020107, 45, 1, 1, 2},
    {{0x01,0x02,0x01,0x08}, 0x1020108, 45, 1, 1, 2},
    {{0x01,0x02,0x01,0x0B}, 0x102010B, 45, 1, 1, 2},
    {{0x80,0x02,0x01,0x07}, 0x80020107, 46, 1, 1, 2},
    {{0x00,0x02,0x01,0x07}, 0x20107, 47, 1, 1, 2},
    {{0x01,0x03,0x01,0x07}, 0x1030107, 10, 1, 1, 29},
    {{0x01,0x03,0x01,0x0B}, 0x1030107, 10, 1, 1, 29},
    {{0x81,0x03,0x01,0x07}, 0x81030107, 42, 1, 1, 29},
    {{0x81,0x03,0x01,0x0B}, 0x8103010B, 42, 1, 1, 29},
    {{0x00,0x00,0x01,0x07}, 0x107, 48, 1, 1, 2},
    {{0x01,0x00,0x01,0x07}, 0x1000107, 49, 1, 1, 2},
    {{0x01,0x01,0x01,0x07}, 0x1010107, 50, 1, 1, 2},
    {{0x00,0x01,0x01,0x07}, 0x10107, 51, 1, 1, 2},
};

TEST(IdentifyAout, FourByteMagicRows) {
    for (const AoutRow &row : aout_rows) {
        Bytes b = lead({row.b[0], row.b[1], row.b[2], row.b[3]}, 32);
        b[18] = 0xFF;  // a.out files have no COFF flags
        Ident r = identify(b);
        SCOPED_TRACE(hex(row.machine));
        const file_ident &id = r.id;
        EXPECT_EQ(id.file_type, uint32_t(FT_AOUT));
        EXPECT_EQ(id.symbol_entry_size, 12u);
        EXPECT_EQ(id.machine, row.machine);
        EXPECT_EQ(id.machine_type, row.machine_type);
        EXPECT_EQ(id.big_endian, row.big_endian);
        EXPECT_EQ(id.code_big_endian, row.big_endian);
        EXPECT_EQ(id.leading_underscore, row.leading_underscore);
        EXPECT_EQ(id.cpu_family, row.cpu_family);
        EXPECT_EQ(id.flag14, 1);
        EXPECT_EQ(id.elf_class, 32u);
        EXPECT_EQ(id.flags, 0u);
        EXPECT_EQ(id.object_kind, 0u);
    }
}

TEST(IdentifyOther, DataFilesAndOddMagics) {
    struct Case {
        Bytes bytes;
        const char *name;
        uint32_t file_type, machine_type, machine, object_kind;
    } cases[] = {
        {lead({0, 0, 2, 'X'}, 32), "x", 10, 0, 0x0000, 0},
        {lead({0, 0, 0xFF, 0xFF}, 32), "x", 11, 0, 0x0000, 0},
        {lead({0x01, 0x00}, 32), "x", 9, 120, 0, 5},
        {lead({0x00, 0x02}, 32), "x", 9, 120, 0, 5},
        {lead({0x04, 0x04}, 32), "x", 9, 120, 0, 5},
        {lead({0x03, 0x00}, 32), "x", 9, 121, 0, 5},
        {lead({0x01, 0x02, 0x00, 0x00}, 32), "x", 9, 121, 0, 5},  // 1 | 2, no a.out row
        {lead({'I', 'N', 'T', 0}, 32), "x", 9, 126, 0, 5},
        {lead({'V', 'L', 'G', 0}, 32), "x", 9, 142, 0, 5},
        {lead({'I', 'N', 'T', 'X'}, 32), "x", 18, 0, 0x4E49, 0},
        {lead({0x05, 0x01}, 32), "x", 18, 0, 0x0105, 0},
        {lead({'Z', 'Z'}, 32), "run.pro", 13, 122, 0, 0},
        {lead({'Z', 'Z'}, 32), "RUN.DBP", 13, 122, 0, 0},
        {lead({'Z', 'Z'}, 32), "/a.b/run.GPro", 13, 123, 0, 0},
        {lead({'Z', 'Z'}, 32), "run.prof", 18, 0, 0x5A5A, 0},
        {lead({'Z', 'Z'}, 32), "pro", 18, 0, 0x5A5A, 0},
        {lead({'Z', 'Z'}, 32), "lib.a(x.pro)", 18, 0, 0x5A5A, 0},
        {lead({'Z', 'Z'}, 32), nullptr, 18, 0, 0x5A5A, 0},
        {lead({0x01, 0x00}, 32), "x.pro", 9, 120, 0, 5},  // the bytes win over the name
    };
    for (const Case &c : cases) {
        Ident r = identify(c.bytes, c.name);
        SCOPED_TRACE(hex(c.bytes[0]) + " " + hex(c.bytes[1]) + " " + (c.name ? c.name : "(null)"));
        ASSERT_FALSE(r.null);
        EXPECT_EQ(r.id.file_type, c.file_type);
        EXPECT_EQ(r.id.machine_type, c.machine_type);
        EXPECT_EQ(r.id.machine, c.machine);
        EXPECT_EQ(r.id.object_kind, c.object_kind);
    }

    Ident pa = identify(lead({0x02, 0x10, 0x01, 0x08}, 32));
    EXPECT_EQ(pa.id.file_type, uint32_t(FT_BE_0210));
    EXPECT_EQ(pa.id.machine_type, 113u);
    EXPECT_EQ(pa.id.machine, 0x108u);
    EXPECT_EQ(pa.id.cpu_family, 14u);
    EXPECT_EQ(pa.id.object_kind, 2u);
    EXPECT_EQ(pa.id.big_endian, 1);
    EXPECT_EQ(pa.id.code_big_endian, 1);
    EXPECT_EQ(pa.id.flag14, 0);
    EXPECT_EQ(pa.id.elf_class, 32u);
}

TEST(IdentifyOther, ResourceFileHeader) {
    Bytes res(32);
    put32(res, 4, 32);
    put32(res, 8, 0xFFFF);
    put32(res, 12, 0xFFFF);
    Ident r = identify(res, "app.res", 5);
    EXPECT_EQ(r.id.file_type, uint32_t(FT_RESOURCE));
    EXPECT_EQ(r.id.machine_type, 125u);

    Bytes cut(res.begin(), res.end() - 1);
    EXPECT_EQ(identify(cut).id.file_type, uint32_t(FT_UNKNOWN_OTHER));
    for (size_t at : {4, 8, 12, 16, 20, 24, 28}) {
        Bytes bad = res;
        bad[at] ^= 1;
        EXPECT_EQ(identify(bad).id.file_type, uint32_t(FT_UNKNOWN_OTHER)) << "byte " << at;
    }
    // All-zero leading bytes that are no resource file may still be profile data.
    EXPECT_EQ(identify(Bytes(32), "x.pro").id.file_type, uint32_t(FT_PROFILE_DATA));
}

TEST(IdentifyOther, ShortInputs) {
    struct Case {
        Bytes bytes;
        const char *name;
        uint32_t file_type, machine_type, machine;
    } cases[] = {
        {{}, "empty", 18, 0, 0},
        {{}, "empty.pro", 13, 122, 0},
        {{0x4C}, "x", 18, 0, 0x004C},
        {{0x01}, "x", 9, 120, 0},
        {{0x07, 0x01, 0x00}, "x", 1, 44, 0x107},  // the missing byte counts as zero
        {{0x7F, 'E', 'L'}, "x", 18, 0, 0x457F},
        {{0x7F, 'L', 'K'}, "x", 18, 0, 0x4C7F},
        {{0x4C, 0x01, 0x00}, "x", 2, 6, 0x14C},
    };
    for (const Case &c : cases) {
        Ident r = identify(c.bytes, c.name, 7);
        SCOPED_TRACE("size " + std::to_string(c.bytes.size()) + " " + c.name);
        ASSERT_FALSE(r.null);
        EXPECT_EQ(r.id.file_type, c.file_type);
        EXPECT_EQ(r.id.machine_type, c.machine_type);
        EXPECT_EQ(r.id.machine, c.machine);
        EXPECT_EQ(r.id.magic[0], c.bytes.size() > 0 ? c.bytes[0] : 0);
        EXPECT_EQ(r.id.magic[1], c.bytes.size() > 1 ? c.bytes[1] : 0);
    }
    EXPECT_EQ(identify({0x4C, 0x01, 0x00}).id.flags, 0u);
}

TEST(IdentifyDebugInfo, FileKindWord) {
    const uint32_t machine_types[] = {99, 100, 101, 105, 106, 107, 128};
    for (uint32_t kind = 0; kind <= 9; ++kind) {
        Bytes b = lead({0x7F, 'L', 'K', 'S'}, 20);
        put32(b, 4, 0x00010002, true);  // container version
        put32(b, 8, kind, true);
        Ident r = identify(b, "prog.dnm", 60);
        SCOPED_TRACE("kind " + std::to_string(kind));
        bool known = kind >= 1 && kind <= 7;
        EXPECT_EQ(r.id.file_type, known ? 9u : 18u);
        EXPECT_EQ(r.id.machine_type, known ? machine_types[kind - 1] : 0u);
        EXPECT_EQ(r.id.object_kind, known ? 5u : 0u);
        EXPECT_EQ(r.id.machine, known ? kind : 0x4C7Fu);
    }
    // The word is big endian.
    Bytes le = lead({0x7F, 'L', 'K', 'S'}, 20);
    put32(le, 8, 2, false);
    EXPECT_EQ(identify(le).id.file_type, 18u);
    EXPECT_EQ(identify(lead({0x7F, 'L', 'K', 'S'})).id.file_type, 18u);
}

// --- Archives -------------------------------------------------------------

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string damaged_message(const char *name) {
    return std::string("error: archive file '") + name +
           "' has had carriage-returns (\\r)\n"
           "\tinserted before new-lines (\\n) and is unusable.\n"
           "\tNOTE: This can be caused by some Windows archive managers, which\n"
           "\tcan corrupt binary files unless automatic CR/LF conversion is\n"
           "\texplicitly disabled.\n";
}

Bytes text(const char *s, size_t size = 0) {
    Bytes b(s, s + std::strlen(s));
    if (b.size() < size) b.resize(size);
    return b;
}

TEST(IdentifyArchive, Magics) {
    struct Case {
        const char *bytes;
        int kind;
        uint32_t file_type;
    } cases[] = {
        {"!<arch>\n/               0", 2, 8},
        {"<aiaff>\n00000000", 3, 12},
        {"!<elfa>\nfoo.o/", 4, 16},
        {"!<arch64>\n/", 5, 17},
        {"!<arch64", 0, 0},
        {"!<arch ", 0, 0},
        {"!<ar", 0, 0},
        {"<aiaXYZ", 0, 0},
        {"!<elf>\n", 0, 0},
        {"!<a", 1, 18},
        {"!<Arch>\n", 1, 18},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        TempInput in(text(c.bytes), 9);
        CaptureStderr();
        EXPECT_EQ(get_archive_kind(in.f, "lib.a"), c.kind);
        EXPECT_EQ(std::ftell(in.f), 9);
        Ident r = identify(text(c.bytes), "lib.a", 3);
        EXPECT_EQ(GetCapturedStderr(), "");
        EXPECT_EQ(r.id.file_type, c.file_type);
        EXPECT_EQ(r.id.machine_type, 0u);
        EXPECT_EQ(r.id.machine, uint32_t(uint8_t(c.bytes[1])) << 8 | uint8_t(c.bytes[0]));
    }
    EXPECT_EQ(get_archive_kind(nullptr, "lib.a"), 1);
}

TEST(IdentifyArchive, CarriageReturnsMakeItUnusable) {
    for (const char *magic : {"!<arch>\r\n", "!<elfa>\r\n", "<aiaff>\r\n", "!<arch64>\r\n"}) {
        SCOPED_TRACE(magic);
        Bytes b = text(magic, 80);
        CaptureStderr();
        Ident r = identify(b, "dir/lib.a", 12);
        EXPECT_EQ(GetCapturedStderr(), damaged_message("dir/lib.a"));
        EXPECT_EQ(r.id.file_type, 18u);
        EXPECT_EQ(r.id.machine_type, 0u);

        TempInput in(b);
        CaptureStderr();
        EXPECT_EQ(get_archive_kind(in.f, nullptr), 6);
        EXPECT_EQ(GetCapturedStderr(), damaged_message("<unknown>"));
        EXPECT_EQ(std::ftell(in.f), 0);
    }
}

// --- Opening by name and names of machine types ---------------------------

TEST(IdentifyFile, OpensAndClosesByName) {
    std::string path = testing::TempDir() + "identify_test_input.o";
    Bytes b = elf_header(ElfLayout{.wide = true, .data = 2, .type = 2, .machine = 183});
    FILE *out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(b.data(), 1, b.size(), out);
    std::fclose(out);

    file_ident *id = identify_file(nullptr, path.c_str());
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->machine_type, 137u);
    EXPECT_EQ(id->object_kind, 2u);
    EXPECT_EQ(id->elf_class, 64u);
    std::remove(path.c_str());

    CaptureStderr();
    EXPECT_EQ(identify_file(nullptr, path.c_str()), nullptr);
    EXPECT_EQ(identify_file(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(IdentifyFile, MachineTypeNames) {
    EXPECT_STREQ(machine_type_name(94), "Renesas V850 or RH850");
    EXPECT_STREQ(machine_type_name(16), "SH (GNU COFF)");
    EXPECT_STREQ(machine_type_name(15), "SH");
    EXPECT_STREQ(machine_type_name(138), "x86_64");
    EXPECT_STREQ(machine_type_name(141), "RISC-V 64-bit");
    EXPECT_STREQ(machine_type_name(142), "real-time operating system event log file");
    EXPECT_STREQ(machine_type_name(36), "MC68000");
    EXPECT_STREQ(machine_type_name(101), "Debug Info");
    for (uint32_t unknown : {0u, 123u, 133u, 143u, 0xFFFFFFFFu})
        EXPECT_STREQ(machine_type_name(unknown), "unknown machine type") << unknown;
}

}  // namespace
