// The ELF reader and the ELF handler of the report, on files made by the ELF
// writer: both classes and byte orders, extended numbering, damaged files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "elf.h"
#include "elf_writer.h"
#include "funsize.h"
#include "test_files.h"
#include "genout.h"
#include "indgen.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Layout {
    int elf_class;
    bool big;
};
const Layout kLayouts[] = {{32, false}, {32, true}, {64, false}, {64, true}};

std::string layout_name(const Layout &l) {
    return "ELF" + std::to_string(l.elf_class) + (l.big ? " big-endian" : " little-endian");
}

using testing_support::File;
using testing_support::open_bytes;

template <typename T>
struct Freed {
    void operator()(T *p) const { gen_free_fn(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freed<T>>;

// Installs a status pointer for the reader while it lives.
class Silent {
  public:
    Silent() : previous_(elf_get_status()) { elf_set_status(&status); }
    ~Silent() { elf_set_status(previous_); }
    int status = 0;

  private:
    int *previous_;
};

// A small object with code, data, an absolute and an undefined symbol.
elfw::ElfFile sample(const Layout &l) {
    elfw::ElfFile f;
    f.elf_class = l.elf_class;
    f.big_endian = l.big;
    f.machine = EM_PPC;
    f.flags = 0x80000001;
    f.sections = {elfw::code_section(".text", 0x1000, 0x40), elfw::data_section(".data", 0x2000, 0x10)};
    f.symbols = {elfw::func("local_fn", 0x1000, 0x8, 1, STB_LOCAL),
                 elfw::func("main", 0x1010, 0x10, 1),
                 elfw::symbol("table", 0x2000, 8, STT_OBJECT, 2),
                 elfw::symbol("abs", 5, 0, STT_NOTYPE, 0),
                 elfw::symbol("common", 8, 4, STT_OBJECT, 0),
                 elfw::func("extern_fn", 0, 0, SHN_UNDEF)};
    f.symbols[3].special = SHN_ABS;
    f.symbols[4].special = SHN_COMMON;
    return f;
}

struct Read {
    elf_header header{};
    Owned<elf_section_header> sections;
    Owned<elf_symbol> symbols;
    uint64_t symbol_count = 0;
};

// Header, section headers and the symbol table at `symtab` of the image at
// `base`, read the way the report reads them.
Read read_all(FILE *f, uint64_t base, uint32_t symtab) {
    Read r;
    int cls = elf_class_of(f, base, "test.o");
    std::fseek(f, long(base), SEEK_SET);
    if (!genelf_readXheader(f, base, &r.header, cls)) return r;
    // Offsets past any file are clamped, as the report does, so that they
    // cannot turn into -1 (the current position).
    uint64_t at = r.header.e_shoff > uint64_t(INT64_MAX) - base ? uint64_t(INT64_MAX) : base + r.header.e_shoff;
    r.sections.reset(
        elf_read_section_headers(f, nullptr, r.header.e_shnum, int64_t(at), r.header.e_shentsize, cls));
    if (!r.sections) return r;
    r.symbols.reset(elf_read_symbols("test.o", f, int64_t(base), nullptr, &r.header, r.sections.get(), symtab, cls,
                                     &r.symbol_count));
    return r;
}

std::string section_name(FILE *f, const Read &r, uint32_t i, int64_t base = 0) {
    Owned<char> name(elf_section_name(f, r.header.e_shstrndx, r.sections.get(), i, base));
    return name ? name.get() : "<null>";
}

TEST(ElfReader, SameFileInEveryClassAndByteOrder) {
    std::vector<std::vector<elf_symbol>> tables;
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(layout_name(l));
        elfw::ElfFile desc = sample(l);
        elfw::ElfLayout at;
        // Behind 100 bytes of something else, as an archive member would be.
        std::string bytes = std::string(100, 'x') + elfw::write_elf(desc, &at);
        File f = open_bytes(bytes, 100);

        EXPECT_EQ(elf_class_of(f.get(), 100, "test.o"), l.elf_class);
        EXPECT_EQ(std::ftell(f.get()), 100) << "elf_class_of restores the position";
        Read r = read_all(f.get(), 100, at.symtab_index);
        ASSERT_TRUE(r.symbols);
        EXPECT_EQ(elf_get_byte_order(), l.big ? ELF_BIG_ENDIAN : ELF_LITTLE_ENDIAN);

        const elf_header &h = r.header;
        EXPECT_EQ(h.e_type, ET_REL);
        EXPECT_EQ(h.e_machine, EM_PPC);
        EXPECT_EQ(h.e_version, 1u);
        EXPECT_EQ(h.e_flags, 0x80000001u);
        EXPECT_EQ(h.e_shoff, at.shoff);
        EXPECT_EQ(h.e_ehsize, l.elf_class == 64 ? 64 : 52);
        EXPECT_EQ(h.e_shentsize, l.elf_class == 64 ? 64 : 40);
        EXPECT_EQ(h.e_shnum, 6u);
        EXPECT_EQ(h.e_shstrndx, 5u);

        const elf_section_header *s = r.sections.get();
        EXPECT_EQ(section_name(f.get(), r, 0, 100), "");
        EXPECT_EQ(section_name(f.get(), r, 1, 100), ".text");
        EXPECT_EQ(section_name(f.get(), r, 3, 100), ".symtab");
        EXPECT_EQ(section_name(f.get(), r, 5, 100), ".shstrtab");
        EXPECT_EQ(std::ftell(f.get()), long(100 + at.offsets[3] + r.symbol_count * (l.elf_class == 64 ? 24 : 16)))
            << "elf_section_name restores the position";
        EXPECT_EQ(s[1].sh_type, SHT_PROGBITS);
        EXPECT_EQ(s[1].sh_flags, SHF_ALLOC | SHF_EXECINSTR);
        EXPECT_EQ(s[1].sh_addr, 0x1000u);
        EXPECT_EQ(s[1].sh_size, 0x40u);
        EXPECT_EQ(s[1].sh_addralign, 4u);
        EXPECT_EQ(s[2].sh_flags, SHF_ALLOC | SHF_WRITE);
        EXPECT_EQ(s[3].sh_type, SHT_SYMTAB);
        EXPECT_EQ(s[3].sh_offset, at.offsets[3]);
        EXPECT_EQ(s[3].sh_link, 4u);
        EXPECT_EQ(s[3].sh_info, 2u);
        EXPECT_EQ(s[3].sh_entsize, l.elf_class == 64 ? 24u : 16u);
        EXPECT_EQ(s[5].sh_type, SHT_STRTAB);

        ASSERT_EQ(r.symbol_count, 7u);
        tables.emplace_back(r.symbols.get(), r.symbols.get() + r.symbol_count);
    }
    // The widened symbols do not depend on class or byte order.
    for (const auto &t : tables) {
        ASSERT_EQ(t.size(), tables[0].size());
        EXPECT_EQ(std::memcmp(t.data(), tables[0].data(), t.size() * sizeof(elf_symbol)), 0);
    }
    const std::vector<elf_symbol> &t = tables[0];
    EXPECT_EQ(t[0].st_name, 0u);
    EXPECT_EQ(t[0].st_shndx, 0);
    EXPECT_EQ(t[1].st_info, elf_st_info(STB_LOCAL, STT_FUNC));
    EXPECT_EQ(t[2].st_value, 0x1010u);
    EXPECT_EQ(t[2].st_size, 0x10u);
    EXPECT_EQ(t[2].st_shndx, 1);
    EXPECT_EQ(t[3].st_info, elf_st_info(STB_GLOBAL, STT_OBJECT));
    EXPECT_EQ(t[3].st_shndx, 2);
    EXPECT_EQ(t[4].st_shndx, -15) << "SHN_ABS";
    EXPECT_EQ(t[5].st_shndx, -14) << "SHN_COMMON";
    EXPECT_EQ(t[6].st_shndx, 0) << "SHN_UNDEF";
}

TEST(ElfReader, PrimitivesAndStatus) {
    File f = open_bytes(std::string("\x12\x34\x56\x78\x9a\xbc\xde\xf0\x01", 9));
    int mine = 5;
    EXPECT_EQ(elf_set_status(&mine), &mine);
    EXPECT_EQ(mine, 0);
    EXPECT_EQ(elf_get_status(), &mine);

    elf_set_byte_order(0);
    uint32_t errors = elf_get_error_count();
    EXPECT_EQ(elf_read_u16(f.get()), 0u);
    EXPECT_EQ(mine, -1) << "no byte order set";
    EXPECT_EQ(elf_get_error_count(), errors + 1);
    EXPECT_EQ(std::ftell(f.get()), 0);

    elf_set_status(&mine);
    EXPECT_EQ(mine, 0) << "re-installing clears the status";
    elf_set_byte_order(ELF_BIG_ENDIAN);
    EXPECT_EQ(elf_read_u16(f.get()), 0x1234u);
    EXPECT_EQ(elf_read_u32(f.get()), 0x56789abcu);
    elf_set_byte_order(ELF_LITTLE_ENDIAN);
    std::fseek(f.get(), 0, SEEK_SET);
    EXPECT_EQ(elf_read_u64(f.get()), 0xf0debc9a78563412u);
    // Bytes past the end read as 0xff.
    EXPECT_EQ(elf_read_u32(f.get()), 0xffffff01u);
    EXPECT_EQ(mine, 0);

    EXPECT_EQ(elf_alloc(0), nullptr);
    std::fseek(f.get(), 4, SEEK_SET);
    char buf[8];
    EXPECT_EQ(elf_read_bytes(f.get(), buf, 5), buf);
    EXPECT_EQ(std::memcmp(buf, "\x9a\xbc\xde\xf0\x01", 5), 0);
    std::fseek(f.get(), 4, SEEK_SET);
    errors = elf_get_error_count();
    EXPECT_EQ(elf_read_bytes(f.get(), buf, 6), nullptr);
    EXPECT_EQ(mine, -1);
    EXPECT_EQ(elf_get_error_count(), errors + 2) << "a short read counts twice";
    // Allocating reads never ask for more than the file holds.
    std::fseek(f.get(), 4, SEEK_SET);
    EXPECT_EQ(elf_read_bytes(f.get(), nullptr, uint64_t(1) << 62), nullptr);
    Owned<char> all(static_cast<char *>(elf_read_bytes(f.get(), nullptr, 5)));
    ASSERT_TRUE(all);
    EXPECT_EQ(std::memcmp(all.get(), "\x9a\xbc\xde\xf0\x01", 5), 0);

    elf_set_status(nullptr);
    EXPECT_EQ(elf_get_status(), nullptr);
}

TEST(ElfReader, ClassAndDataBytes) {
    std::string bytes = elfw::write_elf(sample({32, false}));
    // By name, without a handle.
    char path[] = "/tmp/elf_test_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
    EXPECT_EQ(elf_class_of(nullptr, 0, path), 32);
    bytes[EI_CLASS] = 3;
    File f = open_bytes(bytes, 7);
    EXPECT_EQ(elf_class_of(f.get(), 0, "x"), -1);
    EXPECT_EQ(std::ftell(f.get()), 7);
    File tiny = open_bytes("\x7f" "ELF");
    EXPECT_EQ(elf_class_of(tiny.get(), 0, "x"), -1) << "no class byte at all";
    std::remove(path);

    // EI_DATA other than ELFDATA2MSB reads as little endian.
    for (uint8_t data : {0, 1, 3}) {
        std::string b = elfw::write_elf(sample({64, false}));
        b[EI_DATA] = char(data);
        File g = open_bytes(b);
        elf_header h;
        ASSERT_TRUE(genelf_readXheader(g.get(), 0, &h, 64));
        EXPECT_EQ(elf_get_byte_order(), ELF_LITTLE_ENDIAN);
        EXPECT_EQ(h.e_machine, EM_PPC);
    }
}

TEST(ElfReader, SectionHeaderEntrySizes) {
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(layout_name(l));
        elfw::ElfFile desc = sample(l);
        elfw::ElfLayout at;
        std::string bytes = elfw::write_elf(desc, &at);
        const size_t standard = l.elf_class == 64 ? 64 : 40;
        // Re-pack the table with 12 bytes of padding behind every entry.
        std::string table = bytes.substr(at.shoff);
        std::string padded;
        for (uint32_t i = 0; i < at.shnum; ++i) padded += table.substr(i * standard, standard) + std::string(12, '\xee');
        bytes += padded;
        File f = open_bytes(bytes);
        elf_header h;
        ASSERT_TRUE(genelf_readXheader(f.get(), 0, &h, l.elf_class));
        Owned<elf_section_header> normal(
            elf_read_section_headers(f.get(), nullptr, at.shnum, int64_t(at.shoff), 0, l.elf_class));
        Owned<elf_section_header> wide(elf_read_section_headers(f.get(), nullptr, at.shnum,
                                                                int64_t(bytes.size() - padded.size()),
                                                                int(standard + 12), l.elf_class));
        ASSERT_TRUE(normal && wide);
        EXPECT_EQ(std::memcmp(normal.get(), wide.get(), at.shnum * sizeof(elf_section_header)), 0);
        // From the current position, into a caller's buffer.
        std::fseek(f.get(), long(at.shoff + standard), SEEK_SET);
        elf_section_header one[2];
        EXPECT_EQ(elf_read_section_headers(f.get(), one, 2, -1, 0, l.elf_class), one);
        EXPECT_EQ(one[0].sh_addr, 0x1000u);
        EXPECT_EQ(one[1].sh_addr, 0x2000u);

        // A narrower entry cannot be read: null, and no error.
        Silent quiet;
        uint32_t errors = elf_get_error_count();
        EXPECT_EQ(elf_read_section_headers(f.get(), nullptr, at.shnum, int64_t(at.shoff), int(standard - 1),
                                           l.elf_class),
                  nullptr);
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(elf_get_error_count(), errors);
        EXPECT_EQ(elf_read_section_headers(f.get(), nullptr, 1, 0, 0, 48), nullptr);
        EXPECT_EQ(quiet.status, -1) << "Unexpected elfbits";
    }
}

// A file with more sections than the 16-bit header fields can count.
elfw::ElfFile many_sections(const Layout &l) {
    elfw::ElfFile f;
    f.elf_class = l.elf_class;
    f.big_endian = l.big;
    f.sections.reserve(0xff10);
    f.sections.push_back(elfw::code_section(".text", 0x100, 0x100));
    for (uint32_t i = 1; i < 0xff10; ++i) f.sections.push_back(elfw::code_section("", 0x10000 + i * 0x10, 0x10));
    f.sections[0xff04] = elfw::code_section(".text.far", 0x900000, 0x40);  // index 0xff05
    f.symbols = {elfw::func("near", 0x100, 0x20, 1), elfw::func("far", 0x900000, 0x30, 0xff05),
                 elfw::func("abs_fn", 0x50, 0, 0)};
    f.symbols[2].special = SHN_ABS;
    return f;
}

TEST(ElfReader, ExtendedSectionNumbering) {
    for (const Layout &l : {kLayouts[1], kLayouts[2]}) {
        SCOPED_TRACE(layout_name(l));
        elfw::ElfLayout at;
        std::string bytes = elfw::write_elf(many_sections(l), &at);
        ASSERT_GT(at.shnum, 65279u);
        ASSERT_GE(at.shstrndx, SHN_LORESERVE);
        File f = open_bytes(bytes);
        Read r = read_all(f.get(), 0, at.symtab_index);
        ASSERT_TRUE(r.symbols);
        EXPECT_EQ(r.header.e_shnum, at.shnum);
        EXPECT_EQ(r.header.e_shstrndx, at.shstrndx);
        EXPECT_EQ(section_name(f.get(), r, 0xff05), ".text.far");
        EXPECT_EQ(section_name(f.get(), r, at.shstrndx), ".shstrtab");
        ASSERT_EQ(r.symbol_count, 4u);
        EXPECT_EQ(r.symbols.get()[1].st_shndx, 1);
        EXPECT_EQ(r.symbols.get()[2].st_shndx, 0xff05) << "through SYMTAB_SHNDX";
        EXPECT_EQ(r.symbols.get()[3].st_shndx, -15);

        uint64_t n = 0;
        Owned<uint32_t> shndx(
            elf_read_symtab_shndx("t", f.get(), 0, &r.header, r.sections.get(), at.symtab_index, &n));
        ASSERT_TRUE(shndx);
        ASSERT_EQ(n, 4u);
        EXPECT_EQ(shndx.get()[2], 0xff05u);
        EXPECT_EQ(elf_read_symtab_shndx("t", f.get(), 0, &r.header, r.sections.get(), 1, &n), nullptr);

        Owned<elf_section_header> found(elf_find_section(f.get(), ".text.far", 0));
        ASSERT_TRUE(found);
        EXPECT_EQ(found->sh_addr, 0x900000u);
        EXPECT_EQ(elf_find_section(f.get(), ".nothere", 0), nullptr);
    }
}

TEST(ElfReader, ExtendedNumberingDamaged) {
    const Layout l{64, false};
    elfw::ElfFile desc = sample(l);
    desc.force_extended = true;
    elfw::ElfLayout at;
    const std::string good = elfw::write_elf(desc, &at);
    {
        File f = open_bytes(good);
        elf_header h;
        ASSERT_TRUE(genelf_readXheader(f.get(), 0, &h, 64));
        EXPECT_EQ(h.e_shnum, 6u);
        EXPECT_EQ(h.e_shstrndx, 5u) << "not SHN_XINDEX: the header's own value";
        EXPECT_EQ(std::ftell(f.get()), 64) << "left behind the header";
    }
    Silent quiet;
    {
        // A count that does not fit in 32 bits is truncated, with an error.
        std::string b = good;
        elfw::patch_section(b, desc, at, 0, elfw::SectionField::sh_size, 0x100000007ull);
        File f = open_bytes(b);
        elf_header h;
        ASSERT_TRUE(genelf_readXheader(f.get(), 0, &h, 64));
        EXPECT_EQ(quiet.status, -1);
        EXPECT_EQ(h.e_shnum, 7u);
    }
    for (uint64_t shoff : {uint64_t(good.size()), uint64_t(good.size() - 10), ~uint64_t(0), uint64_t(1) << 63}) {
        SCOPED_TRACE(shoff);
        elf_set_status(&quiet.status);
        std::string b = good;
        elfw::patch_header(b, desc, elfw::HeaderField::e_shoff, shoff);
        File f = open_bytes(b);
        CaptureStderr();
        EXPECT_EQ(genelf_readXheader(f.get(), 0, nullptr, 64), nullptr);
        EXPECT_EQ(GetCapturedStderr(), "");
        EXPECT_EQ(quiet.status, -1);
    }
}

TEST(ElfReader, SymbolTableVariants) {
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(layout_name(l));
        elfw::ElfFile desc = sample(l);
        desc.symtab_entsize = 0;  // read with the standard size
        elfw::ElfLayout at;
        std::string bytes = elfw::write_elf(desc, &at);
        File f = open_bytes(bytes);
        Read r = read_all(f.get(), 0, at.symtab_index);
        ASSERT_EQ(r.symbol_count, 7u);
        EXPECT_EQ(r.symbols.get()[2].st_value, 0x1010u);

        // Into a caller's buffer; a table of size 0; an index past the table.
        elf_symbol mine[7];
        uint64_t n = 99;
        EXPECT_EQ(elf_read_symbols("t", f.get(), 0, mine, &r.header, r.sections.get(), at.symtab_index, l.elf_class,
                                   &n),
                  mine);
        EXPECT_EQ(n, 7u);
        EXPECT_EQ(mine[6].st_shndx, 0);
        r.sections.get()[at.symtab_index].sh_size = 0;
        EXPECT_EQ(elf_read_symbols("t", f.get(), 0, nullptr, &r.header, r.sections.get(), at.symtab_index,
                                   l.elf_class, &n),
                  nullptr);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(elf_read_symbols("t", f.get(), 0, nullptr, &r.header, r.sections.get(), r.header.e_shnum,
                                   l.elf_class, &n),
                  nullptr);
        EXPECT_EQ(elf_read_symbols("t", f.get(), 0, nullptr, nullptr, r.sections.get(), 1, l.elf_class, &n),
                  nullptr);
    }
    // Wider entries: the extra bytes are skipped.
    elfw::ElfFile desc = sample({32, true});
    elfw::ElfLayout at;
    std::string bytes = elfw::write_elf(desc, &at);
    File f = open_bytes(bytes);
    Read r = read_all(f.get(), 0, at.symtab_index);
    elf_section_header &st = r.sections.get()[at.symtab_index];
    st.sh_entsize = 32;  // pairs of entries read as one
    uint64_t n = 0;
    Owned<elf_symbol> pairs(elf_read_symbols("t", f.get(), 0, nullptr, &r.header, r.sections.get(),
                                             at.symtab_index, 32, &n));
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(pairs.get()[1].st_value, r.symbols.get()[2].st_value);
    EXPECT_EQ(pairs.get()[2].st_shndx, r.symbols.get()[4].st_shndx);
}

TEST(ElfReader, ExtendedSymbolIndices) {
    elfw::ElfFile desc = sample({32, true});
    desc.symbols.push_back(elfw::func("big_index", 0x1020, 4, 0x12345));
    desc.symbols.push_back(elfw::func("second", 0x1030, 4, 0x10002));
    elfw::ElfLayout at;
    std::string bytes = elfw::write_elf(desc, &at);
    ASSERT_NE(at.shndx_index, 0u);
    {
        File f = open_bytes(bytes);
        Read r = read_all(f.get(), 0, at.symtab_index);
        ASSERT_EQ(r.symbol_count, 9u);
        EXPECT_EQ(r.symbols.get()[7].st_shndx, 0x12345);
        EXPECT_EQ(r.symbols.get()[8].st_shndx, 0x10002);
        EXPECT_EQ(r.symbols.get()[4].st_shndx, -15);
    }
    {
        // A SYMTAB_SHNDX table that ends early leaves the last symbol undefined.
        std::string b = bytes;
        elfw::patch_section(b, desc, at, at.shndx_index, elfw::SectionField::sh_size, 8 * 4);
        File f = open_bytes(b);
        Read r = read_all(f.get(), 0, at.symtab_index);
        ASSERT_EQ(r.symbol_count, 9u);
        EXPECT_EQ(r.symbols.get()[7].st_shndx, 0x12345);
        EXPECT_EQ(r.symbols.get()[8].st_shndx, 0);
    }
    EXPECT_EQ(elf_map_reserved_index(0xfeff), 0xfeff);
    EXPECT_EQ(elf_map_reserved_index(0xff00), -256);
    EXPECT_EQ(elf_map_reserved_index(0xfffe), -2);
    EXPECT_EQ(elf_map_reserved_index(0x10000), 0x10000);
}

// Cutting a file anywhere makes exactly the reads that need the missing bytes
// fail, quietly, and never crashes.
TEST(ElfReader, TruncatedAnywhere) {
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(layout_name(l));
        elfw::ElfLayout at;
        const std::string full = elfw::write_elf(sample(l), &at);
        const uint64_t header_end = l.elf_class == 64 ? 64 : 52;
        const uint64_t table_end = at.shoff + at.shnum * (l.elf_class == 64 ? 64 : 40);
        ASSERT_EQ(table_end, full.size());
        for (uint64_t cut = 0; cut < full.size(); ++cut) {
            SCOPED_TRACE(cut);
            File f = open_bytes(full.substr(0, cut));
            Silent quiet;
            CaptureStderr();
            Read r = read_all(f.get(), 0, at.symtab_index);
            EXPECT_EQ(GetCapturedStderr(), "");
            EXPECT_EQ(quiet.status, -1);
            if (cut < header_end) {
                EXPECT_FALSE(r.sections);
            } else {
                EXPECT_EQ(r.header.e_shnum, 6u);
                EXPECT_FALSE(r.sections) << "the section header table ends the file";
            }
        }
        // The symbol table itself cut short, with the section headers intact.
        File f = open_bytes(full);
        Read r = read_all(f.get(), 0, at.symtab_index);
        ASSERT_TRUE(r.symbols);
        Silent quiet;
        r.sections.get()[at.symtab_index].sh_offset = full.size() - 7 * (l.elf_class == 64 ? 24 : 16) + 1;
        uint64_t n = 5;
        EXPECT_EQ(elf_read_symbols("t", f.get(), 0, nullptr, &r.header, r.sections.get(), at.symtab_index,
                                   l.elf_class, &n),
                  nullptr);
        EXPECT_EQ(quiet.status, -1);
        EXPECT_EQ(n, 0u);
    }
}

TEST(ElfReader, LyingCountsAndOffsets) {
    const Layout l{64, true};
    elfw::ElfFile desc = sample(l);
    elfw::ElfLayout at;
    const std::string good = elfw::write_elf(desc, &at);
    Silent quiet;
    auto sections_of = [&](const std::string &b) {
        elf_set_status(&quiet.status);
        File f = open_bytes(b);
        return read_all(f.get(), 0, at.symtab_index);
    };
    for (uint64_t shnum : {0xffffu, 7u}) {
        std::string b = good;
        elfw::patch_header(b, desc, elfw::HeaderField::e_shnum, shnum);
        EXPECT_FALSE(sections_of(b).sections) << shnum;
        EXPECT_EQ(quiet.status, -1);
    }
    for (uint64_t shoff : {uint64_t(good.size()), ~uint64_t(0), uint64_t(INT64_MAX)}) {
        std::string b = good;
        elfw::patch_header(b, desc, elfw::HeaderField::e_shoff, shoff);
        EXPECT_FALSE(sections_of(b).sections) << shoff;
        EXPECT_EQ(quiet.status, -1);
    }
    // A symbol table past the end, or claiming more than 2^32 symbols.
    for (auto [field, value] : {std::pair{elfw::SectionField::sh_offset, uint64_t(good.size())},
                                std::pair{elfw::SectionField::sh_offset, ~uint64_t(0) - 8},
                                std::pair{elfw::SectionField::sh_size, uint64_t(24) << 32},
                                std::pair{elfw::SectionField::sh_size, ~uint64_t(0)}}) {
        std::string b = good;
        elfw::patch_section(b, desc, at, at.symtab_index, field, value);
        Read r = sections_of(b);
        ASSERT_TRUE(r.sections);
        EXPECT_FALSE(r.symbols) << value;
        EXPECT_EQ(quiet.status, -1);
    }
    // Entries narrower than a symbol: unreadable, without an error.
    {
        std::string b = good;
        elfw::patch_section(b, desc, at, at.symtab_index, elfw::SectionField::sh_entsize, 1);
        Read r = sections_of(b);
        EXPECT_FALSE(r.symbols);
        EXPECT_EQ(quiet.status, 0);
    }
    // Section names outside the file read as empty; a bad magic fails the header.
    {
        File f = open_bytes(good);
        Read r = read_all(f.get(), 0, at.symtab_index);
        r.sections.get()[1].sh_name = 0xffffff00u;
        EXPECT_EQ(section_name(f.get(), r, 1), "");
        r.sections.get()[r.header.e_shstrndx].sh_offset = ~uint64_t(0) - 4;
        EXPECT_EQ(section_name(f.get(), r, 1), "");
        std::string b = good;
        b[1] = 'e';
        elf_set_status(&quiet.status);
        EXPECT_FALSE(sections_of(b).sections);
        EXPECT_EQ(quiet.status, -1);
    }
}

// Without a status pointer the reader's errors end the program; a symbol
// that needs SYMTAB_SHNDX ends it even with one.
TEST(ElfReaderDeathTest, ErrorsAreFatalWithoutStatus) {
    elf_set_status(nullptr);
    elfw::ElfFile desc = sample({64, false});
    desc.symbols.push_back(elfw::func("far", 0x1020, 4, 0x12345));
    elfw::ElfLayout at;
    const std::string good = elfw::write_elf(desc, &at);
    auto header_of = [](const std::string &b, int elf_class) {
        File f = open_bytes(b);
        elf_header h;
        genelf_readXheader(f.get(), 0, &h, elf_class);
    };
    std::string magic = good;
    magic[0] = 0;
    EXPECT_EXIT(header_of(magic, 64), testing::ExitedWithCode(1), "fatal: bad elf magic number\n$");
    EXPECT_EXIT(header_of(good.substr(0, 40), 64), testing::ExitedWithCode(1),
                "fatal: read failed, unexpected EOF\n$");
    EXPECT_EXIT(header_of(good, 16), testing::ExitedWithCode(1), "fatal: Unexpected elfbits\n$");

    std::string b = good;
    elfw::patch_section(b, desc, at, at.shndx_index, elfw::SectionField::sh_type, SHT_PROGBITS);
    EXPECT_EXIT(
        {
            Silent quiet;
            File f = open_bytes(b);
            read_all(f.get(), 0, at.symtab_index);
        },
        testing::ExitedWithCode(1), "fatal: symbol requires SYMTAB_SHNDX mapping\n$");
}

TEST(ElfReader, MillionSymbols) {
    elfw::ElfFile desc;
    desc.sections = {elfw::code_section(".text", 0, 0x1000000)};
    desc.symbols.reserve(1000000);
    for (uint32_t i = 0; i < 1000000; ++i)
        desc.symbols.push_back(elfw::func("f" + std::to_string(i % 1000), i * 16, 16, 1));
    elfw::ElfLayout at;
    std::string bytes = elfw::write_elf(desc, &at);
    File f = open_bytes(bytes);
    auto t0 = std::chrono::steady_clock::now();
    Read r = read_all(f.get(), 0, at.symtab_index);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(r.symbol_count, 1000001u);
    EXPECT_EQ(r.symbols.get()[1000000].st_value, 999999u * 16);
    EXPECT_EQ(r.symbols.get()[1000000].st_shndx, 1);
    // Generous: the single-block read takes a few tens of milliseconds.
    EXPECT_LT(ms, 3000);
}

// ---------------------------------------------------------------- handler

class ElfHandler : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::begin_report_state();
        ident_ = file_ident{};
        ident_.file_type = FT_ELF;
        ident_.machine_type = 1;
        desc_ = input_desc{};
        desc_.name = const_cast<char *>("test.o");
        desc_.member_name = const_cast<char *>("member.o");
        desc_.ident = &ident_;
    }
    void TearDown() override {
        testing_support::end_report_state();
    }

    using Outcome = testing_support::HandlerOutcome;
    Outcome run(const std::string &bytes, long at = 0) { return testing_support::run_handler(funsize_handle_elf, bytes, at, &desc_); }
    // For death tests, whose child must keep its standard error.
    int call(const std::string &bytes) { return testing_support::call_handler(funsize_handle_elf, bytes, &desc_); }

    file_ident ident_;
    input_desc desc_;
};

std::string line(const std::string &name, unsigned size) { return testing_support::report_line(name, size); }

// Code in two sections, functions with and without sizes, and symbols that
// are not functions.
elfw::ElfFile program(const Layout &l) {
    elfw::ElfFile f;
    f.elf_class = l.elf_class;
    f.big_endian = l.big;
    f.sections = {elfw::code_section(".text", 0x1000, 0x100), elfw::data_section(".data", 0x2000, 0x40),
                  elfw::code_section(".text2", 0x3000, 0x80)};
    f.symbols = {elfw::func("sized", 0x1000, 0x24, 1, STB_LOCAL),
                 elfw::func("open_a", 0x1040, 0, 1),
                 elfw::symbol("label", 0x1060, 0, STT_NOTYPE, 1),
                 elfw::func("open_b", 0x1080, 0, 1),
                 elfw::symbol("object", 0x10f0, 8, STT_OBJECT, 1),
                 elfw::func("data_fn", 0x2000, 0x10, 2),
                 elfw::func("other", 0x3000, 0, 3),
                 elfw::func("undefined", 0, 0, SHN_UNDEF)};
    return f;
}

TEST_F(ElfHandler, ReportsFunctionsInSymbolOrder) {
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(layout_name(l));
        Outcome o = run(elfw::write_elf(program(l)));
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.err, "");
        // Unsized functions end at the next function symbol (the NOTYPE label
        // and the object do not count), the last one of a section at its end.
        EXPECT_EQ(o.out, line("sized", 0x24) + line("open_a", 0x40) + line("open_b", 0x80) + line("data_fn", 0x10) +
                             line("other", 0x80));
        funsize_reset();
    }
}

TEST_F(ElfHandler, NamesFromEitherStringTableAndDynamicSymbols) {
    elfw::ElfFile desc = program({64, false});
    desc.symbol_names = elfw::SymbolNames::SectionNames;
    EXPECT_EQ(run(elfw::write_elf(desc)).out.substr(0, 29), line("sized", 0x24));

    // Without .symtab the dynamic symbols are read.
    desc = program({32, true});
    desc.symtab_name = ".dynsym";
    desc.symtab_type = SHT_DYNSYM;
    Outcome o = run(elfw::write_elf(desc));
    EXPECT_EQ(o.out.substr(0, 29), line("sized", 0x24));
    // With neither, nothing is reported.
    desc.symtab_name = ".symbols";
    EXPECT_EQ(run(elfw::write_elf(desc)).out, "");
}

TEST_F(ElfHandler, SectionSelection) {
    std::string bytes = elfw::write_elf(program({64, true}));
    opt_section_number = 3;
    EXPECT_EQ(run(bytes).out, line("other", 0x80));
    opt_section_number = 1;
    EXPECT_EQ(run(bytes).out, line("sized", 0x24) + line("open_a", 0x40) + line("open_b", 0x80));

    opt_section_number = 0;
    opt_section_name = ".data";
    EXPECT_EQ(run(bytes).out, line("data_fn", 0x10));
    EXPECT_EQ(opt_section_number, 2) << "the section index of the name";

    // A later input without a section of that name: every section is
    // excluded, and the number left behind by the earlier input filters.
    elfw::ElfFile desc = program({32, false});
    desc.sections[1].name = ".rodata";
    desc.symbols.push_back(elfw::func("absolute", 0x5000, 4, 0));
    desc.symbols.back().special = SHN_ABS;
    EXPECT_EQ(run(elfw::write_elf(desc)).out, "");
    // A reserved index passes the excluded-section test when no number is set.
    opt_section_number = 0;
    opt_section_name = ".nothere";
    EXPECT_EQ(run(elfw::write_elf(desc)).out, line("absolute", 4));
}

TEST_F(ElfHandler, UpperHalvesAreDropped) {
    elfw::ElfFile desc;
    desc.sections = {elfw::code_section(".text", 0x100001000ull, 0x100)};
    desc.symbols = {elfw::func("wide", 0x200001010ull, 0x300000020ull, 1)};
    opt_addr = 1;
    Outcome o = run(elfw::write_elf(desc));
    EXPECT_EQ(o.out, std::string("wide") + std::string(17, ' ') + "0x00001010 " + "     32\n");
}

TEST_F(ElfHandler, RequestedFunctionsAndArchiveMembers) {
    elfw::ElfFile desc = program({64, false});
    // A second "open_b" behind the first: the walk stops before it once every
    // requested name has its size, so it is never found twice.
    desc.symbols.push_back(elfw::func("open_b", 0x3010, 8, 3));
    desc.symbols[3].size = 0x30;
    funsize_add_requested("open_b");
    funsize_add_requested("sized");
    Outcome o = run(elfw::write_elf(desc));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, line("open_b", 0x30) + line("sized", 0x24));

    // Without a size of its own a requested function ends at its section's end.
    const std::string bytes = elfw::write_elf(program({64, false}));
    funsize_reset();
    funsize_add_requested("missing");
    o = run(bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "error: missing not found in file test.o\n");
    EXPECT_EQ(o.out, line("open_b", 0x80) + line("sized", 0x24));

    // As an archive member, behind other bytes: counted, not reported.
    desc_.in_archive = 1;
    o = run(std::string(68, '\n') + bytes, 68);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, line("open_b", 0x80) + line("sized", 0x24));
    EXPECT_EQ(opt_warnings, 1);
    EXPECT_EQ(in_archive_member, 1);
    EXPECT_EQ(current_ident, &ident_);
}

TEST_F(ElfHandler, ExtendedNumbering) {
    std::string bytes = elfw::write_elf(many_sections({64, false}));
    Outcome o = run(bytes);
    // The absolute function ends at the next higher start, whatever its section.
    EXPECT_EQ(o.out, line("near", 0x20) + line("far", 0x30) + line("abs_fn", 0x100 - 0x50));
    opt_section_number = 0xff05;
    EXPECT_EQ(run(bytes).out, line("far", 0x30));
}

TEST_F(ElfHandler, UnreadableInputs) {
    funsize_add_requested("main");
    // Not a class the reader knows: an empty report, the name missing.
    std::string bytes = elfw::write_elf(program({64, false}));
    std::string b = bytes;
    b[EI_CLASS] = 7;
    Outcome o = run(b);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "error: main not found in file test.o\n");
    // No section headers.
    elfw::ElfFile desc = program({64, false});
    b = bytes;
    elfw::patch_header(b, desc, elfw::HeaderField::e_shnum, 0);
    elfw::patch_header(b, desc, elfw::HeaderField::e_shoff, 0);
    EXPECT_EQ(run(b).result, 1);

    // A symbol table linked to no section records nothing.
    elfw::ElfLayout at;
    bytes = elfw::write_elf(desc, &at);
    b = bytes;
    elfw::patch_section(b, desc, at, at.symtab_index, elfw::SectionField::sh_link, 99);
    o = run(b);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.result, 1);
}

using ElfHandlerDeathTest = ElfHandler;

TEST_F(ElfHandlerDeathTest, MissingNameTableAndDamage) {
    elfw::ElfFile desc = program({64, false});
    elfw::ElfLayout at;
    const std::string bytes = elfw::write_elf(desc, &at);
    // A name table of size 0, or an index past the section table.
    std::string b = bytes;
    elfw::patch_section(b, desc, at, at.shstrndx, elfw::SectionField::sh_size, 0);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(1), "fatal: ELF section string table is empty\n$");
    b = bytes;
    elfw::patch_header(b, desc, elfw::HeaderField::e_shstrndx, 40);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(1), "fatal: ELF section string table is empty\n$");
    // Damage inside the file is the reader's fatal error.
    b = bytes;
    elfw::patch_section(b, desc, at, at.symtab_index, elfw::SectionField::sh_size, uint64_t(24) << 40);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
}

TEST_F(ElfHandler, NameRunningToTheEndOfTheTable) {
    elfw::ElfFile desc = program({32, false});
    desc.symbols = {elfw::func("first", 0x1000, 4, 1), elfw::func("tail", 0x1010, 4, 1)};
    elfw::ElfLayout at;
    std::string bytes = elfw::write_elf(desc, &at);
    // ".strtab" is "\0first\0tail\0"; cut its NUL off and put a letter there.
    const uint64_t nul = at.offsets[at.strtab_index] + 11;
    ASSERT_EQ(bytes.substr(nul - 4, 5), std::string("tail\0", 5));
    bytes[nul] = 'X';
    elfw::patch_section(bytes, desc, at, at.strtab_index, elfw::SectionField::sh_size, 11);
    EXPECT_EQ(run(bytes).out, line("first", 4) + line("tail", 4));
    // A name offset past the table reads as an empty name.
    elfw::patch_section(bytes, desc, at, at.strtab_index, elfw::SectionField::sh_size, 6);
    EXPECT_EQ(run(bytes).out, line("first", 4) + line("", 4));
}

}  // namespace
