// The a.out reader and the parts of the a.out handler the end-to-end tests
// do not reach, on files made by the a.out writer: the three header layouts
// in both byte orders, symbol and string tables, archive offsets, and
// damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aout.h"
#include "aout_writer.h"
#include "elf.h"
#include "elf_writer.h"
#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "objfile.h"
#include "test_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using testing_support::File;
using testing_support::open_bytes;
using Words = std::vector<uint32_t>;

using testing_support::Silent;

// Opens the reader on bytes and closes it when the test is done with it.
struct Opened {
    File f;
    bsd_file b{};
    explicit Opened(const std::string &bytes) : f(open_bytes(bytes)) {
        EXPECT_EQ(Bsd_Open(f.get(), &b, "t.o", nullptr, -1), &b);
    }
    ~Opened() { Bsd_Close(&b); }
    int32_t read() { return Bsd_ReadSymbols(f.get(), &b); }
};

std::string name_at(const bsd_file &b, uint32_t strx) { return std::string(b.strings + strx); }

// Three symbols out of address order, one of them data, with every nlist
// field set.
aoutw::AoutFile sized(aoutw::AoutFile f, uint32_t text, uint32_t data, uint32_t trsize, uint32_t drsize) {
    f.text_size = text;
    f.data_size = data;
    f.bss_size = 0x40;
    f.entry = 0x2020;
    f.trsize = trsize;
    f.drsize = drsize;
    aoutw::Symbol main_fn = aoutw::text("_main", 0x40);
    main_fn.other = 0x56;
    main_fn.desc = 0x1234;
    f.symbols = {main_fn, aoutw::symbol("_data", N_DATA | N_EXT, 0x2000), aoutw::text("_start", 0x20, false)};
    return f;
}

TEST(AoutReader, HeadersOfEveryLayout) {
    aoutw::AoutFile sparc_static = aoutw::sparc_dynamic();
    sparc_static.mid &= uint16_t(~EX_DYNAMIC);
    aoutw::AoutFile sparc_omagic = aoutw::sparc_dynamic();
    sparc_omagic.magic = OMAGIC;
    aoutw::AoutFile oldsun = aoutw::x86_omagic();
    oldsun.mid = M_OLDSUN2;
    struct Case {
        const char *what;
        aoutw::AoutFile file;
        uint16_t mid;
        Words variant;  // sun_dynamic, omagic_variant, generic_variant, page_size
        Words offsets;  // text, data, trel, drel, sym
    };
    // Offsets worked out by hand: a ZMAGIC file has no header of its own, the
    // others 32 bytes; symbols follow text, data and both relocation areas;
    // ZMAGIC data is page-aligned, and in the generic layout so are the
    // relocations behind it. Each variant is bounded by a neighbour that
    // falls into another one.
    const Case cases[] = {
        {"SPARC dynamic ZMAGIC", sized(aoutw::sparc_dynamic(), 0x2010, 0x123, 0x18, 0x0c), 0x8103, {1, 0, 0, 8192},
         {0, 0x4000, 0x2133, 0x214b, 0x2157}},
        {"x86 OMAGIC", sized(aoutw::x86_omagic(), 0x100, 0x20, 8, 4), 0x0064, {0, 1, 0, 8192},
         {32, 0x120, 0x140, 0x148, 0x14c}},
        {"machine 0 OMAGIC", sized(oldsun, 0x100, 0x20, 8, 4), 0x0000, {0, 1, 0, 8192},
         {32, 0x120, 0x140, 0x148, 0x14c}},
        {"68020 NMAGIC", sized(aoutw::m68k(NMAGIC), 0x100, 0x20, 8, 4), 0x0102, {0, 0, 1, 0x20000},
         {32, 0x120, 0x140, 0x148, 0x14c}},
        {"68020 ZMAGIC", sized(aoutw::m68k(ZMAGIC), 0x2010, 0x123, 0x18, 0x0c), 0x0102, {0, 0, 1, 0x20000},
         {0, 0x20000, 0x20123, 0x2013b, 0x2157}},
        {"SPARC ZMAGIC without the dynamic flag", sized(sparc_static, 0x2010, 0x123, 0x18, 0x0c), 0x0103,
         {0, 0, 1, 0x20000}, {0, 0x20000, 0x20123, 0x2013b, 0x2157}},
        {"SPARC dynamic OMAGIC", sized(sparc_omagic, 0x100, 0x20, 8, 4), 0x8103, {0, 0, 1, 0x20000},
         {32, 0x120, 0x140, 0x148, 0x14c}},
        {"little-endian ZMAGIC", sized(aoutw::little_zmagic(), 0x1000, 0x10, 0, 0), 0x0000, {0, 0, 1, 0x20000},
         {0, 0x20000, 0x20010, 0x20010, 0x1010}},
    };
    for (const Case &c : cases) {
        for (uint32_t base : {0u, 100u}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(base));
            // Behind other bytes, as an archive member would be: the stream
            // stands on the header, or the offset is given and the reader
            // allocates the record.
            const std::string bytes = std::string(base, 'x') + aoutw::write_aout(c.file);
            File f = open_bytes(bytes, base ? 3 : 0);
            bsd_file local;
            bsd_file *pb = base ? Bsd_Open(f.get(), nullptr, "member.o", "lib.a", base)
                                : Bsd_Open(f.get(), &local, "member.o", nullptr, -1);
            ASSERT_NE(pb, nullptr);
            const bsd_file &b = *pb;
            EXPECT_EQ(std::ftell(f.get()), long(base + 32)) << "left behind the header";
            EXPECT_STREQ(b.name, "member.o");
            EXPECT_EQ(b.archive_name ? std::string(b.archive_name) : "null", base ? "lib.a" : "null");
            EXPECT_EQ(b.base, int32_t(base));
            EXPECT_EQ(b.big_endian, c.file.big_endian ? 1 : 0);
            EXPECT_EQ(elf_get_byte_order(), c.file.big_endian ? ELF_BIG_ENDIAN : ELF_LITTLE_ENDIAN);
            EXPECT_EQ(b.a_mid, c.mid);
            EXPECT_EQ(b.a_magic, c.file.magic);
            EXPECT_EQ((Words{b.a_text, b.a_data, b.a_bss, b.a_syms, b.a_entry, b.a_trsize, b.a_drsize}),
                      (Words{c.file.text_size, c.file.data_size, 0x40, 36, 0x2020, c.file.trsize, c.file.drsize}));
            EXPECT_EQ(b.nsyms, 3);
            EXPECT_EQ((Words{b.sun_dynamic, b.omagic_variant, b.generic_variant, b.page_size}), c.variant);
            Words offsets = c.offsets, absolute;
            offsets.push_back(c.offsets[4] + 36);
            for (uint32_t o : offsets) absolute.push_back(o + base);
            EXPECT_EQ((Words{b.text_offset, b.data_offset, b.trel_offset, b.drel_offset, b.sym_offset, b.str_offset}),
                      offsets);
            EXPECT_EQ((Words{b.abs_text_offset, b.abs_data_offset, b.abs_trel_offset, b.abs_drel_offset,
                             b.abs_sym_offset, b.abs_str_offset}),
                      absolute);
            EXPECT_EQ(b.symbols_loaded, 0);

            ASSERT_EQ(Bsd_ReadSymbols(f.get(), pb), 3);
            ASSERT_TRUE(b.symbols && b.strings);
            EXPECT_EQ(b.strsize, 4 + 6 + 6 + 7);
            const nlist *s = b.symbols;
            EXPECT_EQ((Words{s[0].n_strx, s[0].n_type, s[0].n_other, s[0].n_desc, s[0].n_value}),
                      (Words{4, N_TEXT | N_EXT, 0x56, 0x1234, 0x40}));
            EXPECT_EQ((Words{s[1].n_type, s[1].n_value, s[2].n_type}), (Words{N_DATA | N_EXT, 0x2000, N_TEXT}));
            EXPECT_EQ(name_at(b, s[0].n_strx) + name_at(b, s[1].n_strx) + name_at(b, s[2].n_strx),
                      "_main_data_start");
            // Later calls only return the count.
            EXPECT_EQ(Bsd_ReadSymbols(f.get(), pb), 3);
            EXPECT_EQ(b.symbols, s);

            Bsd_SortSymbols(pb);
            EXPECT_EQ((Words{s[0].n_value, s[1].n_value, s[2].n_value}), (Words{0x20, 0x40, 0x2000}));
            EXPECT_EQ(name_at(b, s[0].n_strx), "_start");
            EXPECT_EQ(s[1].n_desc, 0x1234) << "entries move whole";
            Bsd_Close(pb);
            EXPECT_TRUE(b.symbols == nullptr && b.nsyms == 0);
            if (base) gen_free_fn(pb);
        }
    }
}

TEST(AoutReader, ReadNlistAndUnidentifiableFiles) {
    File f = open_bytes(aoutw::write_aout(sized(aoutw::x86_omagic(), 0x100, 0x20, 0, 0)));
    // Bsd_ReadNlist at the current position, into the caller's array.
    std::fseek(f.get(), 32 + 0x120 + 12, SEEK_SET);
    nlist two[2] = {};
    EXPECT_EQ(Bsd_ReadNlist(f.get(), two, 2, -1), two);
    EXPECT_EQ((Words{two[0].n_value, two[1].n_value}), (Words{0x2000, 0x20}));
    EXPECT_EQ(Bsd_ReadNlist(f.get(), nullptr, 0, 0), nullptr);

    // An MZ stub without a PE header cannot be identified; the caller's
    // record is left cleared.
    std::string mz(128, '\0');
    mz[0] = 'M';
    mz[1] = 'Z';
    f = open_bytes(mz);
    EXPECT_EQ(Bsd_Open(f.get(), nullptr, "stub.exe", nullptr, -1), nullptr);
    bsd_file cleared;
    std::memset(&cleared, 0x5a, sizeof cleared);
    EXPECT_EQ(Bsd_Open(f.get(), &cleared, "stub.exe", "lib.a", 0), nullptr);
    EXPECT_TRUE(cleared.name == nullptr && cleared.archive_name == nullptr);
}

TEST(AoutReader, EmptyOddAndMissingStringTables) {
    // No symbols: an empty string table, and no seek towards it (the file
    // ends behind the text, so there is nothing there anyway).
    aoutw::AoutFile desc = aoutw::x86_omagic();
    desc.with_strings = false;
    {
        Opened o(aoutw::write_aout(desc));
        EXPECT_EQ(o.read(), 0);
        ASSERT_TRUE(o.b.symbols == nullptr && o.b.strings != nullptr);
        EXPECT_STREQ(o.b.strings, "");
        EXPECT_TRUE(o.b.strsize == 0 && o.b.symbols_loaded == 1);
        EXPECT_EQ(std::ftell(o.f.get()), 32);
        Bsd_SortSymbols(&o.b);
    }
    // a_syms not a multiple of 12: the odd bytes are no entry, but the
    // strings still start behind all of a_syms.
    desc = sized(aoutw::m68k(NMAGIC), 0x100, 0, 0, 0);
    desc.syms_slack = 5;
    {
        aoutw::AoutLayout at;
        Opened o(aoutw::write_aout(desc, &at));
        EXPECT_EQ(o.b.a_syms, 41u);
        EXPECT_EQ(o.b.str_offset, at.str_offset);
        ASSERT_EQ(o.read(), 3);
        EXPECT_EQ(name_at(o.b, o.b.symbols[1].n_strx), "_data");
    }
    // The file ends behind the symbols: the size word reads as all ones,
    // negative, and no strings are read.
    desc.syms_slack = 0;
    desc.with_strings = false;
    {
        Opened o(aoutw::write_aout(desc));
        ASSERT_EQ(o.read(), 3);
        EXPECT_TRUE(o.b.strsize == -1 && o.b.strings == nullptr);
        EXPECT_EQ(o.b.symbols[0].n_value, 0x40u);
    }
}

TEST(AoutReader, NarrowingConversions) {
    CaptureStderr();
    EXPECT_EQ(Bsd_Int64ToLong(0x7fffffff), 0x7fffffff);
    EXPECT_EQ(Bsd_Int64ToLong(-5), -5);
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    EXPECT_EQ(Bsd_Int64ToLong(0x100000005LL), 5);
    EXPECT_EQ(Bsd_Int64ToLong(0x80000000LL), INT32_MIN);
    EXPECT_EQ(GetCapturedStderr(), "error: Bsd_Int64ToLong: value truncated\nerror: Bsd_Int64ToLong: value truncated\n");
}

TEST(AoutReader, DamagedTablesWithAStatusPointer) {
    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(sized(aoutw::sparc_dynamic(), 0x2010, 0x10, 0, 0), &at);
    // A symbol table that runs past the end: nothing allocated or read.
    std::string b = good;
    aoutw::put32(b, aoutw::header_word(4), 12 * 100000000, true);
    {
        Silent quiet;
        Opened o(b);
        EXPECT_EQ(o.b.nsyms, 100000000);
        EXPECT_EQ(o.read(), 0);
        EXPECT_TRUE(o.b.nsyms == 0 && o.b.symbols == nullptr);
        EXPECT_EQ(quiet.status, -1);
    }
    // A string table longer than the file.
    b = good;
    aoutw::put32(b, at.str_offset, 0x7fffffff, true);
    {
        Silent quiet;
        Opened o(b);
        EXPECT_EQ(o.read(), 3);
        EXPECT_EQ(o.b.strings, nullptr);
        EXPECT_EQ(quiet.status, -1);
    }
}

TEST(AoutReaderDeathTest, BadMagicAndShortTables) {
    elf_set_status(nullptr);
    bsd_file rec{};
    rec.a_magic = 0x1234;
    EXPECT_EXIT(Bsd_Init(&rec), testing::ExitedWithCode(1), "fatal: \\[Bsd_Init\\] bad magic\n$");
    // An input that is no a.out at all: its first word is no a.out magic.
    elfw::ElfFile elf;
    elf.sections = {elfw::code_section(".text", 0, 0x10)};
    const std::string elf_bytes = elfw::write_elf(elf);
    EXPECT_EXIT(Opened(elf_bytes).read(), testing::ExitedWithCode(1), "fatal: \\[Bsd_Init\\] bad magic\n$");

    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(sized(aoutw::x86_omagic(), 0x100, 0x10, 0, 0), &at);
    // A string table that claims one byte more than is there.
    std::string b = good;
    aoutw::put32(b, at.str_offset, uint32_t(good.size() - at.str_offset + 1), false);
    EXPECT_EXIT(Opened(b).read(), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
    // Sizes whose sum wraps past 32 bits: the symbol table would lie beyond
    // 4 GiB, not at the small offset the wrapped sum gives.
    b = good;
    aoutw::put32(b, aoutw::header_word(1), 0xfffffff0u, false);
    aoutw::put32(b, aoutw::header_word(2), 0x40, false);
    EXPECT_EXIT(Opened(b).read(), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
}

// ---------------------------------------------------------------- handler

class AoutHandler : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::begin_report_state();
        desc_ = input_desc{};
        desc_.name = const_cast<char *>("test.o");
        desc_.member_name = const_cast<char *>("member.o");
    }
    void TearDown() override { testing_support::end_report_state(); }

    // Identifies the bytes at `at` as the walker would, then runs the handler.
    testing_support::HandlerOutcome run(const std::string &bytes, long at = 0) {
        desc_.ident = identify_file(open_bytes(bytes, at).get(), desc_.name);
        EXPECT_TRUE(desc_.ident && desc_.ident->file_type == FT_AOUT);
        return testing_support::run_handler(funsize_handle_aout, bytes, at, &desc_);
    }

    input_desc desc_;
};

// A report line: every a.out target has the leading-underscore convention,
// so the report puts "_" back in front of the name it stored without one.
std::string line(const std::string &stored, unsigned size) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "_%-20s %7u\n", stored.c_str(), size);
    return buf;
}

TEST_F(AoutHandler, NamesTheStringTableCannotGive) {
    aoutw::AoutFile desc = aoutw::m68k(OMAGIC);
    // No symbols at all.
    testing_support::HandlerOutcome o = run(aoutw::write_aout(desc));
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(section_table, nullptr) << "freed after the report";
    EXPECT_EQ(current_ident, desc_.ident);
    // No string table: every name is empty.
    desc.symbols = {aoutw::text("_main", 0x10)};
    desc.with_strings = false;
    EXPECT_EQ(run(aoutw::write_aout(desc)).out, "");
    // A name at the very end of a table without its NUL, and one outside it.
    desc.with_strings = true;
    desc.symbols = {aoutw::text("_main", 0x10), aoutw::text("_tail", 0x20), aoutw::text("", 0x30)};
    desc.symbols[2].strx = 1000;
    aoutw::AoutLayout at;
    std::string bytes = aoutw::write_aout(desc, &at);
    bytes.pop_back();
    aoutw::put32(bytes, at.str_offset, at.strsize - 1, true);
    EXPECT_EQ(run(bytes).out, line("main", 0x10) + line("tail", 0xf0));

    // As an archive member behind other bytes: a missing name is counted,
    // not reported, and the warning setting is given back afterwards.
    desc_.in_archive = 1;
    funsize_add_requested("nothere");
    o = run(std::string(68, '\n') + bytes, 68);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(opt_warnings, 1);
    EXPECT_EQ(in_archive_member, 1);
}

TEST_F(AoutHandler, ManySymbolsInAnyOrder) {
    // 200000 functions 16 bytes apart from 16 on, written in reverse, then
    // all at one address; the text holds exactly the functions. Guards the
    // sort against quadratic cases.
    constexpr uint32_t n = 200000;
    aoutw::AoutFile desc = aoutw::m68k(OMAGIC);
    desc.text_size = n * 16;
    std::string expected;
    for (uint32_t i = 0; i < n; ++i) {
        desc.symbols.push_back(aoutw::text("_f" + std::to_string(i), (n - i) * 16));
        expected += line("f" + std::to_string(n - 1 - i), 16);
    }
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(run(aoutw::write_aout(desc)).out == expected) << "lowest address first, each 16 bytes long";
    // Each one fills the whole text, in no particular order.
    for (aoutw::Symbol &s : desc.symbols) s.value = 0x100;
    const std::string out = run(aoutw::write_aout(desc)).out;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), long(n));
    char size[16];
    std::snprintf(size, sizeof size, " %7u\n", n * 16);
    EXPECT_EQ(out.substr(out.size() - 9), size);
}

}  // namespace
