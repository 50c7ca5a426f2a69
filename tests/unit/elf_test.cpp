// The ELF reader on files made by the ELF writer: both classes and byte
// orders, section header entry sizes, extended numbering, damaged files.
// The handler's reports and the reader's fatal messages in a full run are
// checked end to end (tests/e2e).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "elf.h"
#include "elf_writer.h"
#include "indgen.h"
#include "test_files.h"

namespace {

using testing_support::File;
using testing_support::open_bytes;
using testing_support::Silent;
using H = elfw::HeaderField;
using S = elfw::SectionField;
using Values = std::vector<uint64_t>;

// A small object with code, data, an absolute, a common and an undefined symbol.
elfw::ElfFile sample(int elf_class, bool big) {
    elfw::ElfFile f;
    f.elf_class = elf_class;
    f.big_endian = big;
    f.machine = EM_PPC;
    f.flags = 0x80000001;
    f.sections = {elfw::code_section(".text", 0x1000, 0x40), elfw::data_section(".data", 0x2000, 0x10)};
    f.symbols = {elfw::func("local_fn", 0x1000, 0x8, 1, STB_LOCAL), elfw::func("main", 0x1010, 0x10, 1),
                 elfw::symbol("table", 0x2000, 8, STT_OBJECT, 2),    elfw::symbol("abs", 5, 0, STT_NOTYPE, 0),
                 elfw::symbol("common", 8, 4, STT_OBJECT, 0),        elfw::func("extern_fn", 0, 0, SHN_UNDEF)};
    f.symbols[3].special = SHN_ABS;
    f.symbols[4].special = SHN_COMMON;
    return f;
}

struct Read {
    elf_header header{};
    gen_owned<elf_section_header> sections;
    gen_owned<elf_symbol> symbols;
    uint64_t symbol_count = 0;
};

// Header, section headers and the symbol table at `symtab`, read the way the
// report reads them.
Read read_all(FILE *f, uint32_t symtab) {
    Read r;
    int cls = elf_class_of(f, 0, "test.o");
    std::fseek(f, 0, SEEK_SET);
    if (!genelf_readXheader(f, 0, &r.header, cls)) return r;
    // Offsets past any file are clamped, as the report does.
    const uint64_t at = std::min(r.header.e_shoff, uint64_t(INT64_MAX));
    r.sections.reset(elf_read_section_headers(f, nullptr, r.header.e_shnum, int64_t(at), r.header.e_shentsize, cls));
    if (!r.sections) return r;
    r.symbols.reset(elf_read_symbols("test.o", f, 0, nullptr, &r.header, r.sections.get(), symtab, cls, &r.symbol_count));
    return r;
}

TEST(ElfReader, PrimitivesAndClassByte) {
    File f = open_bytes(std::string("\x12\x34\x56\x78\x9a\xbc\xde\xf0\x01", 9));
    Silent quiet;
    // No byte order set: an error, and the position stays.
    elf_set_byte_order(0);
    EXPECT_TRUE(elf_read_u16(f.get()) == 0 && quiet.status == -1 && std::ftell(f.get()) == 0);
    elf_set_status(&quiet.status);
    EXPECT_EQ(quiet.status, 0) << "installing clears the status";
    elf_set_byte_order(ELF_BIG_ENDIAN);
    EXPECT_EQ((Values{elf_read_u16(f.get()), elf_read_u32(f.get())}), (Values{0x1234, 0x56789abc}));
    elf_set_byte_order(ELF_LITTLE_ENDIAN);
    std::fseek(f.get(), 0, SEEK_SET);
    // Bytes past the end read as 0xff.
    EXPECT_EQ((Values{elf_read_u64(f.get()), elf_read_u32(f.get())}), (Values{0xf0debc9a78563412u, 0xffffff01u}));
    EXPECT_EQ(quiet.status, 0);
    // A short read fails; an allocating read never asks for more than the
    // file holds, and leaves the position alone.
    char buf[8];
    std::fseek(f.get(), 4, SEEK_SET);
    EXPECT_EQ(elf_read_bytes(f.get(), buf, 6), nullptr);
    EXPECT_EQ(quiet.status, -1);
    std::fseek(f.get(), 4, SEEK_SET);
    EXPECT_EQ(elf_read_bytes(f.get(), nullptr, uint64_t(1) << 62), nullptr);
    gen_owned<char> all(static_cast<char *>(elf_read_bytes(f.get(), nullptr, 5)));
    ASSERT_TRUE(all);
    EXPECT_EQ(std::memcmp(all.get(), "\x9a\xbc\xde\xf0\x01", 5), 0);

    // A class byte that is neither 1 nor 2, or none at all.
    std::string bytes = elfw::write_elf(sample(32, false));
    bytes[EI_CLASS] = 3;
    File g = open_bytes(bytes, 7);
    EXPECT_EQ(elf_class_of(g.get(), 0, "x"), -1);
    EXPECT_EQ(std::ftell(g.get()), 7);
    EXPECT_EQ(elf_class_of(open_bytes("\x7f" "ELF").get(), 0, "x"), -1);
}

TEST(ElfReader, SectionHeaderEntrySizes) {
    for (const auto &[elf_class, big] : {std::pair(32, false), {32, true}, {64, false}, {64, true}}) {
        SCOPED_TRACE("ELF" + std::to_string(elf_class) + (big ? " big" : " little"));
        elfw::ElfLayout at;
        std::string bytes = elfw::write_elf(sample(elf_class, big), &at);
        const size_t standard = elf_class == 64 ? 64 : 40;
        // The table again, with 12 bytes of padding behind every entry.
        const int64_t padded_at = int64_t(bytes.size());
        for (uint32_t i = 0; i < at.shnum; ++i)
            bytes += bytes.substr(at.shoff + i * standard, standard) + std::string(12, '\xee');
        File f = open_bytes(bytes);
        elf_header h;
        ASSERT_TRUE(genelf_readXheader(f.get(), 0, &h, elf_class));
        gen_owned<elf_section_header> normal(
            elf_read_section_headers(f.get(), nullptr, at.shnum, int64_t(at.shoff), 0, elf_class));
        gen_owned<elf_section_header> wide(
            elf_read_section_headers(f.get(), nullptr, at.shnum, padded_at, int(standard + 12), elf_class));
        ASSERT_TRUE(normal && wide);
        EXPECT_EQ(std::memcmp(normal.get(), wide.get(), at.shnum * sizeof(elf_section_header)), 0);
        // From the current position, into a caller's buffer.
        std::fseek(f.get(), long(at.shoff + standard), SEEK_SET);
        elf_section_header two[2];
        EXPECT_EQ(elf_read_section_headers(f.get(), two, 2, -1, 0, elf_class), two);
        EXPECT_EQ(std::tuple(two[0].sh_addr, two[1].sh_addr), std::tuple(0x1000u, 0x2000u));
        // A narrower entry cannot be read: null, and no error.
        Silent quiet;
        EXPECT_EQ(elf_read_section_headers(f.get(), nullptr, at.shnum, int64_t(at.shoff), int(standard - 1), elf_class),
                  nullptr);
        EXPECT_EQ(quiet.status, 0);
    }
}

TEST(ElfReader, LyingCountsAndOffsets) {
    const elfw::Written good(sample(64, true));
    const uint32_t symtab = good.at.symtab_index;
    Silent quiet;
    auto read = [&](const std::string &b, bool error_expected = true) {
        elf_set_status(&quiet.status);
        Read r = read_all(open_bytes(b).get(), symtab);
        EXPECT_EQ(quiet.status, error_expected ? -1 : 0);
        return r;
    };
    // Section tables too long for the file, or past its end.
    for (uint64_t shnum : {0xffffu, 7u}) EXPECT_FALSE(read(good.with(H::e_shnum, shnum)).sections) << shnum;
    for (uint64_t shoff : {uint64_t(good.bytes.size()), ~uint64_t(0), uint64_t(INT64_MAX)})
        EXPECT_FALSE(read(good.with(H::e_shoff, shoff)).sections) << shoff;
    // A symbol table past the end, or claiming more than 2^32 symbols.
    for (auto [field, value] : {std::pair{S::sh_offset, uint64_t(good.bytes.size())}, {S::sh_offset, ~uint64_t(0) - 8},
                                {S::sh_size, uint64_t(24) << 32}, {S::sh_size, ~uint64_t(0)}}) {
        Read r = read(good.with(symtab, field, value));
        ASSERT_TRUE(r.sections);
        EXPECT_FALSE(r.symbols) << value;
    }
    // Entries narrower than a symbol: unreadable, without an error.
    EXPECT_FALSE(read(good.with(symtab, S::sh_entsize, 1), false).symbols);

    // Section names outside the file read as empty.
    File f = open_bytes(good.bytes);
    Read r = read_all(f.get(), symtab);
    elf_section_header *s = r.sections.get();
    auto name = [&](uint32_t i) {
        gen_owned<char> n(elf_section_name(f.get(), r.header.e_shstrndx, s, i, 0));
        return std::string(n ? n.get() : "<null>");
    };
    EXPECT_EQ(name(1), ".text");
    s[1].sh_name = 0xffffff00u;
    EXPECT_EQ(name(1), "");
    s[r.header.e_shstrndx].sh_offset = ~uint64_t(0) - 4;
    EXPECT_EQ(name(2), "");
}

// Without a status pointer the reader's errors end the program.
TEST(ElfReaderDeathTest, ErrorsAreFatalWithoutStatus) {
    elf_set_status(nullptr);
    std::string bytes = elfw::write_elf(sample(64, false));
    auto header_of = [](const std::string &b, int elf_class) {
        elf_header h;
        genelf_readXheader(open_bytes(b).get(), 0, &h, elf_class);
    };
    EXPECT_EXIT(header_of(bytes, 16), testing::ExitedWithCode(1), "fatal: Unexpected elfbits\n$");
    bytes[0] = 0;
    EXPECT_EXIT(header_of(bytes, 64), testing::ExitedWithCode(1), "fatal: bad elf magic number\n$");
}

}  // namespace
