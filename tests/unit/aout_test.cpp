// The a.out reader and the a.out handler of the report, on files made by the
// a.out writer: the three header layouts in both byte orders, symbol and
// string tables, archive offsets, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "aout.h"
#include "aout_writer.h"
#include "elf.h"
#include "elf_writer.h"
#include "funsize.h"
#include "test_files.h"
#include "genout.h"
#include "indgen.h"
#include "objfile.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

using testing_support::File;
using testing_support::open_bytes;

// Installs a status pointer for the ELF reader's primitives while it lives.
class Silent {
  public:
    Silent() : previous_(elf_get_status()) { elf_set_status(&status); }
    ~Silent() { elf_set_status(previous_); }
    int status = 0;

  private:
    int *previous_;
};

// Closes the reader when the test is done with it.
struct Opened {
    bsd_file b{};
    ~Opened() { Bsd_Close(&b); }
};

std::string name_at(const bsd_file &b, uint32_t strx) { return std::string(b.strings + strx); }

// Three symbols out of address order, one of them data, with every nlist
// field set.
std::vector<aoutw::Symbol> three_symbols() {
    aoutw::Symbol main_fn = aoutw::text("_main", 0x40);
    main_fn.other = 0x56;
    main_fn.desc = 0x1234;
    return {main_fn, aoutw::symbol("_data", N_DATA | N_EXT, 0x2000), aoutw::text("_start", 0x20, false)};
}

struct LayoutCase {
    const char *what;
    aoutw::AoutFile file;
    uint8_t first_bytes[4];
    uint16_t mid;
    uint8_t sun_dynamic, omagic_variant, generic_variant;
    uint32_t page_size;
    uint32_t text, data, trel, drel, sym;
};

aoutw::AoutFile sized(aoutw::AoutFile f, uint32_t text, uint32_t data, uint32_t trsize, uint32_t drsize) {
    f.text_size = text;
    f.data_size = data;
    f.bss_size = 0x40;
    f.entry = 0x2020;
    f.trsize = trsize;
    f.drsize = drsize;
    f.symbols = three_symbols();
    return f;
}

std::vector<LayoutCase> layout_cases() {
    aoutw::AoutFile sparc_static = aoutw::sparc_dynamic();
    sparc_static.mid &= uint16_t(~EX_DYNAMIC);
    aoutw::AoutFile sparc_omagic = aoutw::sparc_dynamic();
    sparc_omagic.magic = OMAGIC;
    aoutw::AoutFile oldsun = aoutw::x86_omagic();
    oldsun.mid = M_OLDSUN2;
    // Offsets worked out by hand: a ZMAGIC file has no header of its own, the
    // others 32 bytes; symbols follow text, data and both relocation areas;
    // ZMAGIC data is page-aligned, and in the generic layout so are the
    // relocations behind it.
    return {
        {"SPARC dynamic ZMAGIC", sized(aoutw::sparc_dynamic(), 0x2010, 0x123, 0x18, 0x0c), {0x81, 0x03, 0x01, 0x0b},
         0x8103, 1, 0, 0, 8192, 0, 0x4000, 0x2133, 0x214b, 0x2157},
        {"x86 OMAGIC", sized(aoutw::x86_omagic(), 0x100, 0x20, 8, 4), {0x07, 0x01, 0x64, 0x00},
         0x0064, 0, 1, 0, 8192, 32, 0x120, 0x140, 0x148, 0x14c},
        {"machine 0 OMAGIC", sized(oldsun, 0x100, 0x20, 8, 4), {0x07, 0x01, 0x00, 0x00},
         0x0000, 0, 1, 0, 8192, 32, 0x120, 0x140, 0x148, 0x14c},
        {"68020 OMAGIC", sized(aoutw::m68k(OMAGIC), 0x100, 0x20, 8, 4), {0x01, 0x02, 0x01, 0x07},
         0x0102, 0, 0, 1, 0x20000, 32, 0x120, 0x140, 0x148, 0x14c},
        {"68020 NMAGIC", sized(aoutw::m68k(NMAGIC), 0x100, 0x20, 8, 4), {0x01, 0x02, 0x01, 0x08},
         0x0102, 0, 0, 1, 0x20000, 32, 0x120, 0x140, 0x148, 0x14c},
        {"68020 ZMAGIC", sized(aoutw::m68k(ZMAGIC), 0x2010, 0x123, 0x18, 0x0c), {0x01, 0x02, 0x01, 0x0b},
         0x0102, 0, 0, 1, 0x20000, 0, 0x20000, 0x20123, 0x2013b, 0x2157},
        {"SPARC ZMAGIC without the dynamic flag", sized(sparc_static, 0x2010, 0x123, 0x18, 0x0c),
         {0x01, 0x03, 0x01, 0x0b}, 0x0103, 0, 0, 1, 0x20000, 0, 0x20000, 0x20123, 0x2013b, 0x2157},
        {"SPARC dynamic OMAGIC", sized(sparc_omagic, 0x100, 0x20, 8, 4), {0x81, 0x03, 0x01, 0x07},
         0x8103, 0, 0, 1, 0x20000, 32, 0x120, 0x140, 0x148, 0x14c},
        {"little-endian ZMAGIC", sized(aoutw::little_zmagic(), 0x1000, 0x10, 0, 0), {0x0b, 0x01, 0x00, 0x00},
         0x0000, 0, 0, 1, 0x20000, 0, 0x20000, 0x20010, 0x20010, 0x1010},
    };
}

TEST(AoutReader, HeadersOfEveryLayout) {
    for (const LayoutCase &c : layout_cases()) {
        for (long base : {0L, 100L}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(base));
            aoutw::AoutLayout at;
            const std::string image = aoutw::write_aout(c.file, &at);
            ASSERT_EQ(std::memcmp(image.data(), c.first_bytes, 4), 0);
            ASSERT_EQ(at.sym_offset, c.sym);
            // Behind other bytes, as an archive member would be.
            File f = open_bytes(std::string(size_t(base), 'x') + image, base);

            Opened o;
            ASSERT_EQ(Bsd_Open(f.get(), &o.b, "member.o", base ? "lib.a" : nullptr, -1), &o.b);
            const bsd_file &b = o.b;
            EXPECT_EQ(std::ftell(f.get()), base + 32) << "left behind the header";
            EXPECT_STREQ(b.name, "member.o");
            if (base) {
                EXPECT_STREQ(b.archive_name, "lib.a");
            } else {
                EXPECT_EQ(b.archive_name, nullptr);
            }
            EXPECT_EQ(b.base, base);
            EXPECT_EQ(b.big_endian, c.file.big_endian ? 1 : 0);
            EXPECT_EQ(elf_get_byte_order(), c.file.big_endian ? ELF_BIG_ENDIAN : ELF_LITTLE_ENDIAN);
            EXPECT_EQ(b.a_mid, c.mid);
            EXPECT_EQ(b.a_magic, c.file.magic);
            EXPECT_EQ(b.a_text, c.file.text_size);
            EXPECT_EQ(b.a_data, c.file.data_size);
            EXPECT_EQ(b.a_bss, 0x40u);
            EXPECT_EQ(b.a_syms, 36u);
            EXPECT_EQ(b.a_entry, 0x2020u);
            EXPECT_EQ(b.a_trsize, c.file.trsize);
            EXPECT_EQ(b.a_drsize, c.file.drsize);
            EXPECT_EQ(b.nsyms, 3);
            EXPECT_EQ(b.sun_dynamic, c.sun_dynamic);
            EXPECT_EQ(b.omagic_variant, c.omagic_variant);
            EXPECT_EQ(b.generic_variant, c.generic_variant);
            EXPECT_EQ(b.page_size, c.page_size);
            EXPECT_EQ(b.text_offset, c.text);
            EXPECT_EQ(b.data_offset, c.data);
            EXPECT_EQ(b.trel_offset, c.trel);
            EXPECT_EQ(b.drel_offset, c.drel);
            EXPECT_EQ(b.sym_offset, c.sym);
            EXPECT_EQ(b.str_offset, c.sym + 36);
            EXPECT_EQ(b.abs_text_offset, c.text + base);
            EXPECT_EQ(b.abs_data_offset, c.data + base);
            EXPECT_EQ(b.abs_trel_offset, c.trel + base);
            EXPECT_EQ(b.abs_drel_offset, c.drel + base);
            EXPECT_EQ(b.abs_sym_offset, c.sym + base);
            EXPECT_EQ(b.abs_str_offset, c.sym + 36 + base);
            EXPECT_EQ(b.symbols_loaded, 0);

            ASSERT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 3);
            ASSERT_NE(b.symbols, nullptr);
            ASSERT_NE(b.strings, nullptr);
            EXPECT_EQ(b.strsize, 4 + 6 + 6 + 7);
            const nlist *s = b.symbols;
            EXPECT_EQ(s[0].n_strx, 4u);
            EXPECT_EQ(s[0].n_type, N_TEXT | N_EXT);
            EXPECT_EQ(s[0].n_other, 0x56);
            EXPECT_EQ(s[0].n_desc, 0x1234);
            EXPECT_EQ(s[0].n_value, 0x40u);
            EXPECT_EQ(s[1].n_type, N_DATA | N_EXT);
            EXPECT_EQ(s[1].n_value, 0x2000u);
            EXPECT_EQ(s[2].n_type, N_TEXT);
            EXPECT_EQ(name_at(b, s[0].n_strx), "_main");
            EXPECT_EQ(name_at(b, s[1].n_strx), "_data");
            EXPECT_EQ(name_at(b, s[2].n_strx), "_start");

            // Later calls only return the count.
            const nlist *first = b.symbols;
            EXPECT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 3);
            EXPECT_EQ(b.symbols, first);

            Bsd_SortSymbols(&o.b);
            EXPECT_EQ(s[0].n_value, 0x20u);
            EXPECT_EQ(name_at(b, s[0].n_strx), "_start");
            EXPECT_EQ(s[1].n_value, 0x40u);
            EXPECT_EQ(s[1].n_desc, 0x1234) << "entries move whole";
            EXPECT_EQ(s[2].n_value, 0x2000u);
        }
    }
}

TEST(AoutReader, OpenAtAnOffsetAndIntoANewRecord) {
    aoutw::AoutFile desc = sized(aoutw::x86_omagic(), 0x100, 0x20, 0, 0);
    const std::string bytes = std::string(68, '\n') + aoutw::write_aout(desc);
    File f = open_bytes(bytes, 3);
    bsd_file *b = Bsd_Open(f.get(), nullptr, nullptr, nullptr, 68);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, nullptr) << "a null name stays null";
    EXPECT_EQ(b->base, 68);
    EXPECT_EQ(b->abs_sym_offset, 68u + 32 + 0x120);
    EXPECT_EQ(Bsd_ReadSymbols(f.get(), b), 3);
    EXPECT_EQ(name_at(*b, b->symbols[2].n_strx), "_start");
    Bsd_Close(b);
    EXPECT_EQ(b->symbols, nullptr);
    EXPECT_EQ(b->nsyms, 0);
    gen_free_fn(b);

    // Bsd_ReadNlist at the current position, into the caller's array.
    std::fseek(f.get(), 68 + 32 + 0x120 + 12, SEEK_SET);
    nlist two[2] = {};
    EXPECT_EQ(Bsd_ReadNlist(f.get(), two, 2, -1), two);
    EXPECT_EQ(two[0].n_value, 0x2000u);
    EXPECT_EQ(two[1].n_value, 0x20u);
    EXPECT_EQ(Bsd_ReadNlist(f.get(), nullptr, 0, 0), nullptr);
}

TEST(AoutReader, EmptyOddAndMissingStringTables) {
    // No symbols: an empty string table, and no seek towards it (the file
    // ends behind the text, so there is nothing there anyway).
    aoutw::AoutFile desc = aoutw::x86_omagic();
    desc.with_strings = false;
    {
        File f = open_bytes(aoutw::write_aout(desc));
        Opened o;
        ASSERT_TRUE(Bsd_Open(f.get(), &o.b, "empty.o", nullptr, -1));
        EXPECT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 0);
        EXPECT_EQ(o.b.symbols, nullptr);
        ASSERT_NE(o.b.strings, nullptr);
        EXPECT_STREQ(o.b.strings, "");
        EXPECT_EQ(o.b.strsize, 0);
        EXPECT_EQ(o.b.symbols_loaded, 1);
        EXPECT_EQ(std::ftell(f.get()), 32);
        Bsd_SortSymbols(&o.b);
    }

    // a_syms not a multiple of 12: the odd bytes are no entry, but the
    // strings still start behind all of a_syms.
    desc = sized(aoutw::m68k(NMAGIC), 0x100, 0, 0, 0);
    desc.syms_slack = 5;
    {
        aoutw::AoutLayout at;
        File f = open_bytes(aoutw::write_aout(desc, &at));
        Opened o;
        ASSERT_TRUE(Bsd_Open(f.get(), &o.b, "odd.o", nullptr, -1));
        EXPECT_EQ(o.b.a_syms, 41u);
        EXPECT_EQ(o.b.str_offset, at.str_offset);
        ASSERT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 3);
        EXPECT_EQ(name_at(o.b, o.b.symbols[1].n_strx), "_data");
    }

    // The file ends behind the symbols: the size word reads as all ones,
    // negative, and no strings are read.
    desc.syms_slack = 0;
    desc.with_strings = false;
    {
        File f = open_bytes(aoutw::write_aout(desc));
        Opened o;
        ASSERT_TRUE(Bsd_Open(f.get(), &o.b, "nostr.o", nullptr, -1));
        ASSERT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 3);
        EXPECT_EQ(o.b.strsize, -1);
        EXPECT_EQ(o.b.strings, nullptr);
        EXPECT_EQ(o.b.symbols[0].n_value, 0x40u);
    }
}

TEST(AoutReader, UnidentifiableFile) {
    // An MZ stub without a PE header cannot be identified.
    std::string mz(128, '\0');
    mz[0] = 'M';
    mz[1] = 'Z';
    File f = open_bytes(mz);
    EXPECT_EQ(Bsd_Open(f.get(), nullptr, "stub.exe", nullptr, -1), nullptr);
    bsd_file b;
    std::memset(&b, 0x5a, sizeof b);
    EXPECT_EQ(Bsd_Open(f.get(), &b, "stub.exe", "lib.a", 0), nullptr);
    EXPECT_EQ(b.name, nullptr) << "the record is left cleared";
    EXPECT_EQ(b.archive_name, nullptr);
}

TEST(AoutReader, NarrowingConversions) {
    CaptureStderr();
    EXPECT_EQ(Bsd_Int64ToLong(0x7fffffff), 0x7fffffff);
    EXPECT_EQ(Bsd_Int64ToLong(-5), -5);
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    EXPECT_EQ(Bsd_Int64ToLong(0x100000005LL), 5);
    EXPECT_EQ(Bsd_Int64ToLong(0x80000000LL), INT32_MIN);
    EXPECT_EQ(GetCapturedStderr(),
              "error: Bsd_Int64ToLong: value truncated\nerror: Bsd_Int64ToLong: value truncated\n");
    EXPECT_EQ(Bsd_LongToInt32(-7), -7);
    EXPECT_EQ(Bsd_LongToUInt32(-1), 0xffffffffu);
}

TEST(AoutReader, DamagedTablesWithAStatusPointer) {
    aoutw::AoutFile desc = sized(aoutw::sparc_dynamic(), 0x2010, 0x10, 0, 0);
    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(desc, &at);

    // A symbol table that runs past the end: nothing allocated or read.
    std::string b = good;
    aoutw::put32(b, aoutw::header_word(4), 12 * 100000000, true);
    {
        Silent quiet;
        File f = open_bytes(b);
        Opened o;
        ASSERT_TRUE(Bsd_Open(f.get(), &o.b, "t.o", nullptr, -1));
        EXPECT_EQ(o.b.nsyms, 100000000);
        EXPECT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 0);
        EXPECT_EQ(o.b.nsyms, 0);
        EXPECT_EQ(o.b.symbols, nullptr);
        EXPECT_EQ(quiet.status, -1);
    }
    // A string table longer than the file.
    b = good;
    aoutw::put32(b, at.str_offset, 0x7fffffff, true);
    {
        Silent quiet;
        File f = open_bytes(b);
        Opened o;
        ASSERT_TRUE(Bsd_Open(f.get(), &o.b, "t.o", nullptr, -1));
        EXPECT_EQ(Bsd_ReadSymbols(f.get(), &o.b), 3);
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
    EXPECT_EXIT(
        {
            File f = open_bytes(elf_bytes);
            bsd_file b;
            Bsd_Open(f.get(), &b, "elf.o", nullptr, -1);
        },
        testing::ExitedWithCode(1), "fatal: \\[Bsd_Init\\] bad magic\n$");

    aoutw::AoutFile desc = sized(aoutw::x86_omagic(), 0x100, 0x10, 0, 0);
    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(desc, &at);
    auto read_all = [](const std::string &bytes) {
        File f = open_bytes(bytes);
        bsd_file b;
        Bsd_Open(f.get(), &b, "t.o", nullptr, -1);
        Bsd_ReadSymbols(f.get(), &b);
        Bsd_Close(&b);
    };
    // One entry more than the file holds.
    std::string b = good.substr(0, at.sym_offset + 36);
    aoutw::put32(b, aoutw::header_word(4), 48, false);
    EXPECT_EXIT(read_all(b), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
    // A string table that claims more than is there.
    b = good;
    aoutw::put32(b, at.str_offset, uint32_t(good.size() - at.str_offset + 1), false);
    EXPECT_EXIT(read_all(b), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
    // Sizes whose sum wraps past 32 bits: the symbol table would lie beyond
    // 4 GiB, not at the small offset the wrapped sum gives.
    b = good;
    aoutw::put32(b, aoutw::header_word(1), 0xfffffff0u, false);
    aoutw::put32(b, aoutw::header_word(2), 0x40, false);
    EXPECT_EXIT(read_all(b), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");
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
    void TearDown() override {
        testing_support::end_report_state();
        opt_nounderscores = opt_addr = 0;
    }

    using Outcome = testing_support::HandlerOutcome;
    // Identifies the bytes at `at` as the walker would, then runs the handler.
    Outcome run(const std::string &bytes, long at = 0) {
        File f = open_bytes(bytes, at);
        desc_.ident = identify_file(f.get(), desc_.name);
        if (!desc_.ident || desc_.ident->file_type != FT_AOUT) throw std::runtime_error("not identified as a.out");
        return testing_support::run_handler(funsize_handle_aout, bytes, at, &desc_);
    }
    // For death tests, whose child must keep its standard error.
    void call(const std::string &bytes) {
        File f = open_bytes(bytes);
        desc_.ident = identify_file(f.get(), desc_.name);
        funsize_handle_aout(f.get(), f.get(), &desc_);
    }

    input_desc desc_;
};

// A report line: every a.out target has the leading-underscore convention,
// so the report puts "_" back in front of the name it stored without one.
std::string line(const std::string &stored, unsigned size, bool underscore = true) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s%-20s %7u\n", underscore ? "_" : "", stored.c_str(), size);
    return buf;
}

// Text symbols of every kind the handler tells apart, out of address order.
std::vector<aoutw::Symbol> mixed_symbols() {
    return {aoutw::text("_main", 0x1040),
            aoutw::text("_helper", 0x1020, false),
            aoutw::text("letter", 0x1060),  // no function name: not even a boundary
            aoutw::symbol("_data", N_DATA | N_EXT, 0x1070),
            aoutw::text(".local", 0x1080, false),
            aoutw::text("%pct", 0x10a0),
            aoutw::text("..L1", 0x10c0, false),  // a local label: ends %pct, not printed
            aoutw::symbol("_abs", N_ABS | N_EXT, 0x1010),
            aoutw::symbol("_undef", N_UNDF | N_EXT, 0)};
}

std::vector<aoutw::AoutFile> every_layout() {
    return {aoutw::sparc_dynamic(), aoutw::x86_omagic(), aoutw::m68k(OMAGIC), aoutw::m68k(NMAGIC),
            aoutw::m68k(ZMAGIC), aoutw::little_zmagic()};
}

TEST_F(AoutHandler, TextFunctionsInAddressOrder) {
    for (aoutw::AoutFile desc : every_layout()) {
        SCOPED_TRACE(desc.magic);
        desc.text_size = 0x100;
        desc.symbols = mixed_symbols();
        Outcome o = run(aoutw::write_aout(desc));
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.err, "");
        // The text starts at the lowest function (0x1020; the absolute symbol
        // below it does not count) and ends 0x100 later.
        EXPECT_EQ(o.out, line("helper", 0x20) + line("main", 0x40) + line("local", 0x20) + line("pct", 0x20));
        EXPECT_EQ(in_archive_member, 0);
        EXPECT_EQ(current_ident, desc_.ident);
        EXPECT_EQ(section_table, nullptr) << "freed after the report";
    }
}

TEST_F(AoutHandler, LastFunctionEndsWithTheText) {
    aoutw::AoutFile desc = aoutw::x86_omagic();
    desc.text_size = 0x180;
    desc.symbols = {aoutw::text("_b", 0x280), aoutw::text("_a", 0x200)};
    EXPECT_EQ(run(aoutw::write_aout(desc)).out, line("a", 0x80) + line("b", 0x100));

    // Equal addresses both end at the next higher one, in either order.
    desc.symbols = {aoutw::text("_z", 0x240), aoutw::text("_x", 0x200), aoutw::text("_y", 0x200)};
    std::string out = run(aoutw::write_aout(desc)).out;
    EXPECT_TRUE(out == line("x", 0x40) + line("y", 0x40) + line("z", 0x140) ||
                out == line("y", 0x40) + line("x", 0x40) + line("z", 0x140))
        << out;

    // Options of the report: no restored underscore, addresses.
    opt_nounderscores = 1;
    opt_addr = 1;
    desc.symbols = {aoutw::text("_b", 0x280), aoutw::text("_a", 0x200)};
    EXPECT_EQ(run(aoutw::write_aout(desc)).out, "a                    0x00000200     128\n"
                                                "b                    0x00000280     256\n");
}

TEST_F(AoutHandler, NoFunctionNames) {
    aoutw::AoutFile desc = aoutw::m68k(OMAGIC);
    desc.symbols = {aoutw::text("main", 0x10), aoutw::text("helper", 0x20)};
    Outcome o = run(aoutw::write_aout(desc));
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.result, 0);
    // No symbols at all.
    desc.symbols.clear();
    o = run(aoutw::write_aout(desc));
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.result, 0);
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
}

TEST_F(AoutHandler, RequestedFunctionsAndArchiveMembers) {
    aoutw::AoutFile desc = aoutw::sparc_dynamic();
    desc.text_size = 0x100;
    desc.symbols = mixed_symbols();
    const std::string bytes = aoutw::write_aout(desc);
    // Requested names are given without the target's underscore.
    funsize_add_requested("main");
    funsize_add_requested("nothere");
    Outcome o = run(bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.out, line("main", 0x40));
    EXPECT_EQ(o.err, "error: nothere not found in file test.o\n");

    // As an archive member behind other bytes: counted, not reported.
    desc_.in_archive = 1;
    desc_.name = const_cast<char *>("lib.a(member.o)");
    o = run(std::string(68, '\n') + bytes, 68);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.out, line("main", 0x40));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(opt_warnings, 1);
    EXPECT_EQ(in_archive_member, 1);
}

TEST_F(AoutHandler, ManySymbolsInAnyOrder) {
    // 200000 functions 16 bytes apart from 16 on, written in reverse, then
    // all at one address; the text holds exactly the functions.
    constexpr uint32_t n = 200000;
    aoutw::AoutFile desc = aoutw::m68k(OMAGIC);
    desc.text_size = n * 16;
    std::string expected;
    for (uint32_t i = 0; i < n; ++i) {
        desc.symbols.push_back(aoutw::text("_f" + std::to_string(i), (n - i) * 16));
        expected += line("f" + std::to_string(n - 1 - i), 16);
    }
    for (bool equal : {false, true}) {
        SCOPED_TRACE(equal ? "equal" : "reversed");
        if (equal)
            for (aoutw::Symbol &s : desc.symbols) s.value = 0x100;
        const std::string bytes = aoutw::write_aout(desc);
        auto t0 = std::chrono::steady_clock::now();
        Outcome o = run(bytes);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        if (!equal) {
            EXPECT_TRUE(o.out == expected) << "lowest address first, each 16 bytes long";
        } else {
            // Each one fills the whole text, in no particular order.
            EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), long(n));
            char size[16];
            std::snprintf(size, sizeof size, " %7u\n", n * 16);
            EXPECT_EQ(o.out.substr(o.out.size() - 9), size);
        }
        EXPECT_LT(ms, 5000);
    }
}

using AoutHandlerDeathTest = AoutHandler;

TEST_F(AoutHandlerDeathTest, FatalInputs) {
    aoutw::AoutFile desc = aoutw::x86_omagic();
    desc.symbols = mixed_symbols();
    std::string bytes = aoutw::write_aout(desc);
    aoutw::put32(bytes, aoutw::header_word(4), 0x7ffffffc, false);
    EXPECT_EXIT(call(bytes), testing::ExitedWithCode(1), "fatal: read failed, unexpected EOF\n$");

    // A file handed to the a.out handler whose first word is no a.out magic.
    bytes = std::string(32, '\0');
    aoutw::put32(bytes, 0, 0x00641234, false);
    EXPECT_EXIT(
        {
            File f = open_bytes(bytes);
            file_ident fake{};
            fake.file_type = FT_AOUT;
            desc_.ident = &fake;
            funsize_handle_aout(f.get(), f.get(), &desc_);
        },
        testing::ExitedWithCode(1), "fatal: \\[Bsd_Init\\] bad magic\n$");
}

}  // namespace
