// The COFF reader and the COFF handler of the report, on files made by the
// COFF writer: both byte orders, the three section-header layouts, 18-, 20-
// and 24-byte symbol entries, PE images, archive members and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "ar_writer.h"
#include "coff.h"
#include "coff_writer.h"
#include "funsize.h"
#include "test_files.h"
#include "genout.h"
#include "indgen.h"
#include "run_program.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

using testing_support::File;
using testing_support::open_bytes;

// Reader settings for one file description.
void configure(bool big, uint32_t entry_size, bool ti, bool m88k) {
    coff_big_endian = big;
    coff_symbol_entry_size = int(entry_size);
    ti_coff = ti;
    m88k_layout = m88k;
}

struct Variant {
    const char *what;
    bool big;
    coffw::SectionLayout layout;
    uint32_t entry_size;
    uint32_t machine_type;  // of the identification
};
const Variant kVariants[] = {
    {"little-endian", false, coffw::SectionLayout::Common, SYMESZ, 6},
    {"big-endian", true, coffw::SectionLayout::Common, SYMESZ, 34},
    {"MIPS little-endian, 24-byte symbols", false, coffw::SectionLayout::Common, MIPS_SYMESZ, 30},
    {"MIPS big-endian, 24-byte symbols", true, coffw::SectionLayout::Common, MIPS_SYMESZ, 31},
    {"M88000", true, coffw::SectionLayout::M88000, M88K_SYMESZ, COFF_MT_M88000},
    {"Texas Instruments little-endian", false, coffw::SectionLayout::TexasInstruments, SYMESZ, COFF_MT_TI},
    {"Texas Instruments big-endian", true, coffw::SectionLayout::TexasInstruments, SYMESZ, COFF_MT_TI},
};

coffw::CoffFile shaped(const Variant &v) {
    coffw::CoffFile f;
    f.big_endian = v.big;
    f.layout = v.layout;
    f.symbol_entry_size = v.entry_size;
    return f;
}

// ---------------------------------------------------------------- reader

TEST(CoffReader, PrimitivesInBothByteOrders) {
    File f = open_bytes(std::string("\x12\x34\x56\x78\x9a", 5));
    uint16_t h = 7;
    uint32_t w = 7;
    configure(true, SYMESZ, false, false);
    EXPECT_EQ(coff_read_u16(&h, f.get()), 0);
    EXPECT_EQ(h, 0x1234u);
    EXPECT_EQ(coff_read_long(&w, f.get()), -1) << "only three bytes left";
    EXPECT_EQ(w, 0u);
    configure(false, SYMESZ, false, false);
    std::fseek(f.get(), 0, SEEK_SET);
    EXPECT_EQ(coff_read_u32(&w, f.get()), 0);
    EXPECT_EQ(w, 0x78563412u);
    EXPECT_EQ(coff_read_u16(&h, f.get()), -1);
    EXPECT_EQ(h, 0u);
}

TEST(CoffReader, SectionHeadersOfEveryLayout) {
    for (const Variant &v : kVariants) {
        SCOPED_TRACE(v.what);
        coffw::CoffFile desc = shaped(v);
        coffw::Section text = coffw::code(".textabc", 0x1000, 0x240);
        text.paddr = 0x5000;
        text.nreloc = 0x12345;
        text.nlnno = 0x10002;
        text.reserved = 0x0102;
        text.page = 3;
        text.contents = "abcd";
        desc.sections = {text, coffw::data(".data_with_long_name", 0x2000, 0x10)};
        coffw::CoffLayout at;
        const std::string bytes = coffw::write_coff(desc, &at);
        File f = open_bytes(bytes, long(at.section_headers));
        const bool ti = v.layout == coffw::SectionLayout::TexasInstruments;
        const bool m88k = v.layout == coffw::SectionLayout::M88000;
        configure(v.big, v.entry_size, ti, m88k);

        coff_section_header h;
        ASSERT_EQ(coff_read_section_header(f.get(), &h), 0);
        EXPECT_EQ(std::ftell(f.get()), long(at.section_headers + at.section_header_size));
        // Eight characters, terminated by the field behind them.
        EXPECT_FALSE(coff_name_is_long(h.s_name));
        EXPECT_STREQ(h.s_name, ".textabc");
        EXPECT_EQ(h.s_paddr, 0x5000u);
        EXPECT_EQ(h.s_vaddr, 0x1000u);
        EXPECT_EQ(h.s_size, 0x240u);
        EXPECT_EQ(h.s_scnptr, uint32_t(at.section_headers + 2 * at.section_header_size));
        EXPECT_EQ(h.s_flags, STYP_TEXT);
        EXPECT_EQ(h.s_cleared, 0u);
        if (ti || m88k) {
            EXPECT_EQ(h.s_nreloc, 0x12345u);
            EXPECT_EQ(h.s_nlnno, 0x10002u);
        } else {
            EXPECT_EQ(h.s_nreloc, 0x2345u) << "16-bit counts";
            EXPECT_EQ(h.s_nlnno, 0x0002u);
        }
        EXPECT_EQ(h.s_reserved, ti ? 0x0102u : 0u);
        EXPECT_EQ(h.s_page, ti ? 3u : 0u);

        // A long name: zero bytes and the offset, in host order.
        ASSERT_EQ(coff_read_section_header(f.get(), &h), 0);
        ASSERT_TRUE(coff_name_is_long(h.s_name));
        EXPECT_EQ(coff_name_offset(h.s_name), 4u);
        EXPECT_EQ(h.s_flags, STYP_DATA);
        EXPECT_STREQ(coff_read_string(f.get(), int64_t(at.strings), int(coff_name_offset(h.s_name))),
                     ".data_with_long_name");

        // One byte short.
        File cut = open_bytes(bytes.substr(0, at.section_headers + at.section_header_size - 1),
                              long(at.section_headers));
        EXPECT_EQ(coff_read_section_header(cut.get(), &h), -1);
    }
}

TEST(CoffReader, SymbolsByIndexAndInSequence) {
    for (const Variant &v : kVariants) {
        SCOPED_TRACE(v.what);
        coffw::CoffFile desc = shaped(v);
        desc.sections = {coffw::code(".text", 0, 0x100)};
        coffw::Symbol wide = coffw::label("top", 0xfffffff0, -1, C_STAT);
        wide.type = 0xabcd;
        desc.symbols = {coffw::func("eight_ch", 0x10, 1, 0x20), coffw::label("a_long_symbol_name", 0x30, 2, C_EXT),
                        wide};
        desc.symbols[1].aux.resize(2);
        coffw::CoffLayout at;
        const std::string bytes = coffw::write_coff(desc, &at);
        File f = open_bytes(bytes);
        const bool m88k = v.layout == coffw::SectionLayout::M88000;
        configure(v.big, v.entry_size, v.layout == coffw::SectionLayout::TexasInstruments, m88k);
        const int64_t table = int64_t(at.symbols);

        coff_symbol s;
        ASSERT_EQ(coff_read_symbol(f.get(), table, 0, &s), 0);
        EXPECT_STREQ(s.n_name, "eight_ch");
        EXPECT_EQ(s.n_value, 0x10u);
        EXPECT_EQ(int16_t(s.n_scnum), 1);
        EXPECT_TRUE(coff_is_function_type(s.n_type));
        EXPECT_EQ(s.n_sclass, C_EXT);
        EXPECT_EQ(s.n_numaux, 1);
        // The 18 common bytes are read; an M88000 entry's two more as well.
        EXPECT_EQ(std::ftell(f.get()), long(table + (m88k ? 20 : 18)));

        ASSERT_EQ(coff_read_symbol(f.get(), table, int(at.entry_of[1]), &s), 0);
        ASSERT_TRUE(coff_name_is_long(s.n_name));
        EXPECT_EQ(coff_name_offset(s.n_name), at.name_offset[1]);
        EXPECT_STREQ(coff_read_string(f.get(), int64_t(at.strings), int(coff_name_offset(s.n_name))),
                     "a_long_symbol_name");
        EXPECT_EQ(s.n_numaux, 2);

        ASSERT_EQ(coff_read_symbol(f.get(), table, int(at.entry_of[2]), &s), 0);
        EXPECT_STREQ(s.n_name, "top");
        EXPECT_EQ(s.n_value, 0xfffffff0u);
        EXPECT_EQ(int16_t(s.n_scnum), N_ABS);
        EXPECT_EQ(s.n_type, 0xabcdu);
        EXPECT_EQ(s.n_sclass, C_STAT);
        EXPECT_EQ(s.n_numaux, 0);

        // Index -1 reads where the stream is.
        std::fseek(f.get(), long(table + v.entry_size * at.entry_of[2]), SEEK_SET);
        ASSERT_EQ(coff_read_symbol(f.get(), table, -1, &s), 0);
        EXPECT_STREQ(s.n_name, "top");

        // Bad arguments and the end of the table.
        EXPECT_EQ(coff_read_symbol(f.get(), 0, 0, &s), -1);
        EXPECT_EQ(coff_read_symbol(f.get(), table, -2, &s), -1);
        std::fseek(f.get(), 0, SEEK_END);
        EXPECT_EQ(coff_read_symbol(f.get(), table, -1, &s), -1);
        EXPECT_EQ(coff_read_symbol(f.get(), table, 1 << 30, &s), -1);
        EXPECT_EQ(s.n_value, 0u);
    }
}

TEST(CoffReader, StringTableNames) {
    const std::string tail(2000, 'n');
    const std::string bytes = std::string("\0\0\0\0first\0", 10) + tail + std::string("\0last", 5);
    File f = open_bytes(bytes);
    EXPECT_STREQ(coff_read_string(f.get(), 0, 4), "first");
    EXPECT_STREQ(coff_read_string(f.get(), 2, 2), "first") << "base and offset add up";
    const char *cut = coff_read_string(f.get(), 0, 10);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(std::strlen(cut), COFF_NAME_MAX) << "cut to 1023 characters";
    EXPECT_STREQ(coff_read_string(f.get(), 0, int(bytes.size() - 4)), "last") << "the end of the file ends it";
    EXPECT_EQ(coff_read_string(f.get(), 0, int(bytes.size())), nullptr);
    // An offset with the top bit set lies far behind the file, not before it.
    EXPECT_EQ(coff_read_string(f.get(), 4, -4), nullptr);
    EXPECT_EQ(coff_read_string(f.get(), -1, 0), nullptr);

    char small[4];
    EXPECT_EQ(coff_read_name(f.get(), 0, 4, small, sizeof small), 0);
    EXPECT_STREQ(small, "fir");
}

TEST(CoffReader, PeStub) {
    coffw::CoffFile desc;
    desc.sections = {coffw::code(".text", 0x1000, 0x10)};
    coffw::CoffLayout at;
    const std::string pe = coffw::write_pe(desc, &at, 0x90);
    configure(false, SYMESZ, false, false);
    // Behind other bytes, as in an archive.
    const std::string bytes = std::string(100, 'x') + pe;
    File f = open_bytes(bytes, 100);
    EXPECT_EQ(coff_skip_pe_stub(f.get()), 0);
    EXPECT_EQ(std::ftell(f.get()), long(100 + at.file_header));

    std::string b = pe;
    b[1] = 'Y';
    EXPECT_EQ(coff_skip_pe_stub(open_bytes(b).get()), 1) << "no MZ";
    b = pe;
    coffw::put(b, PE_OFFSET_FIELD, 0xfffffff0u, 4, false);
    EXPECT_EQ(coff_skip_pe_stub(open_bytes(b).get()), 1) << "offset past the end";
    b = pe;
    b[0x92] = 'X';
    EXPECT_EQ(coff_skip_pe_stub(open_bytes(b).get()), 1) << "no signature";
    EXPECT_EQ(coff_skip_pe_stub(open_bytes(pe.substr(0, 62)).get()), 1) << "no offset field";
    EXPECT_EQ(coff_skip_pe_stub(open_bytes("").get()), 1);
}

// ---------------------------------------------------------------- handler

class CoffHandler : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::begin_report_state();
        set_ident(kVariants[0]);
        desc_ = input_desc{};
        desc_.name = const_cast<char *>("test.o");
        desc_.member_name = const_cast<char *>("member.o");
        desc_.ident = &ident_;
    }
    void TearDown() override {
        testing_support::end_report_state();
    }

    // Forgets the requested names as well.
    void clear_table() {
        TearDown();
        funsize_init_table();
    }

    void set_ident(const Variant &v, uint32_t file_type = FT_COFF) {
        ident_ = file_ident{};
        ident_.file_type = file_type;
        ident_.machine = 0x14c;
        ident_.machine_type = v.machine_type;
        ident_.big_endian = v.big;
        ident_.code_big_endian = v.big;
        ident_.symbol_entry_size = v.entry_size;
    }

    using Outcome = testing_support::HandlerOutcome;
    Outcome run(const std::string &bytes, long at = 0) { return testing_support::run_handler(funsize_handle_coff, bytes, at, &desc_); }
    // For death tests, whose child must keep its standard error.
    int call(const std::string &bytes) { return testing_support::call_handler(funsize_handle_coff, bytes, &desc_); }

    file_ident ident_;
    input_desc desc_;
};

std::string line(const std::string &name, unsigned size) { return testing_support::report_line(name, size); }

// A line of a target with the leading-underscore convention: the restored
// "_" stands in front of the padded name.
std::string uline(const std::string &name, unsigned size) { return "_" + line(name.substr(1), size); }

// Two code sections (the second with a long name) and a data section;
// functions with and without auxiliary sizes, and symbols that are never
// reported.
coffw::CoffFile program(const Variant &v) {
    coffw::CoffFile f = shaped(v);
    f.sections = {coffw::code(".text", 0x1000, 0x100), coffw::data(".data", 0x2000, 0x40),
                  coffw::code(".text$long_name", 0x3000, 0x80)};
    coffw::Symbol two_aux = coffw::func("two_aux", 0x3040, 3, 0x10);
    two_aux.aux.push_back(coffw::Aux{});
    f.symbols = {coffw::file_symbol("prog.c"),
                 coffw::func("sized", 0x1000, 1, 0x24),
                 coffw::func("__lks_eofn_sized", 0x1024, 1, 0),
                 coffw::plain_func("open_a", 0x1040, 1, C_STAT),
                 coffw::label("c_label", 0x1050, 1, C_LABEL),
                 coffw::label("label", 0x1060, 1, C_STAT),
                 coffw::func("a_very_long_function_name", 0x1080, 1, 0),
                 coffw::label("..lx1", 0x10c0, 1, C_STAT),
                 coffw::label("table", 0x2000, 2),
                 coffw::func("data_fn", 0x2010, 2, 8),
                 coffw::section_symbol(".text", 1, 0x100),
                 coffw::plain_func("other", 0x3000, 3),
                 two_aux,
                 coffw::plain_func("undefined", 0, N_UNDEF),
                 coffw::label("absolute", 0x1010, N_ABS)};
    return f;
}

// Short names only, so that the file can lose its string table.
coffw::CoffFile simple() {
    coffw::CoffFile f;
    f.sections = {coffw::code(".text", 0, 0x40)};
    f.symbols = {coffw::file_symbol("x.c"), coffw::func("main", 0, 1, 0x10), coffw::plain_func("helper", 0x20, 1),
                 coffw::section_symbol(".text", 1, 0x40)};
    return f;
}

const std::string kProgramReport = line("sized", 0x24) + line("open_a", 0x20) + line("label", 0x20) +
                                   line("a_very_long_function_name", 0x80) + line("other", 0x40) +
                                   line("two_aux", 0x40);

TEST_F(CoffHandler, ReportsFunctionsOfEveryLayout) {
    for (const Variant &v : kVariants) {
        SCOPED_TRACE(v.what);
        set_ident(v);
        Outcome o = run(coffw::write_coff(program(v)));
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.err, "");
        // Sizes from auxiliary entries are kept; the others end at the next
        // reported symbol or at the end of their section. C_LABEL, "..lx" and
        // "__lks_eofn_" symbols bound nothing; a function with two
        // auxiliary entries takes no size from them.
        EXPECT_EQ(o.out, kProgramReport);
        EXPECT_EQ(current_ident->ti_coff, v.machine_type == COFF_MT_TI ? 1u : 0u);
    }
}

TEST_F(CoffHandler, PeImagesAndArchiveMembers) {
    coffw::CoffFile desc = program(kVariants[0]);
    desc.optional_header = std::string(0xf0, '\x55');
    set_ident(kVariants[0], FT_PE);
    EXPECT_EQ(run(coffw::write_pe(desc)).out, kProgramReport);
    // A member inside an archive: offsets count from the member's start.
    desc_.in_archive = 1;
    EXPECT_EQ(run(std::string(68, '\n') + coffw::write_pe(desc), 68).out, kProgramReport);
    set_ident(kVariants[1]);
    EXPECT_EQ(run(std::string(61, '\n') + coffw::write_coff(program(kVariants[1])), 61).out, kProgramReport);
    EXPECT_EQ(in_archive_member, 1);
    EXPECT_EQ(opt_warnings, 1);
}

TEST_F(CoffHandler, SectionSelectionByNumberAndName) {
    const std::string bytes = coffw::write_coff(program(kVariants[1]));
    set_ident(kVariants[1]);
    opt_section_number = 3;
    EXPECT_EQ(run(bytes).out, line("other", 0x40) + line("two_aux", 0x40));
    opt_section_number = 1;
    EXPECT_EQ(run(bytes).out, line("sized", 0x24) + line("open_a", 0x20) + line("label", 0x20) +
                                  line("a_very_long_function_name", 0x80));

    opt_section_number = 0;
    opt_section_name = ".text$long_name";
    EXPECT_EQ(run(bytes).out, line("other", 0x40) + line("two_aux", 0x40));
    EXPECT_EQ(opt_section_number, 3) << "the 1-based number of the named section";
    opt_section_name = ".data";
    EXPECT_EQ(run(bytes).out, "") << "data sections hold no functions";
    EXPECT_EQ(opt_section_number, 2);

    // An input without a section of that name: every section is excluded.
    opt_section_name = ".text$long_name";
    coffw::CoffFile eight = program(kVariants[1]);
    eight.sections[0].name = ".textabc";
    eight.sections[2].name = ".text";
    EXPECT_EQ(run(coffw::write_coff(eight)).out, "");
    EXPECT_EQ(opt_section_number, 2) << "kept from the input before";
    // Eight characters match as they are, and only whole.
    opt_section_number = 0;
    opt_section_name = ".textabc";
    EXPECT_EQ(run(coffw::write_coff(eight)).out, line("sized", 0x24) + line("open_a", 0x20) + line("label", 0x20) +
                                                     line("a_very_long_function_name", 0x80));
    opt_section_number = 0;
    opt_section_name = ".textab";
    EXPECT_EQ(run(coffw::write_coff(eight)).out, "");

    // A section name whose string-table offset lies past the end matches
    // nothing and stops nothing.
    coffw::CoffLayout at;
    std::string b = coffw::write_coff(program(kVariants[1]), &at);
    coffw::put(b, at.section_headers + 2 * at.section_header_size + 4, 0x7ffffff0, 4, true);
    opt_section_name = ".text";
    EXPECT_EQ(run(b).out, line("sized", 0x24) + line("open_a", 0x20) + line("label", 0x20) +
                              line("a_very_long_function_name", 0x80));
}

TEST_F(CoffHandler, RequestedNamesStopTheWalk) {
    coffw::CoffFile desc = program(kVariants[0]);
    // Behind the requested functions, a name that cannot be read: the walk
    // has stopped before it.
    desc.symbols.insert(desc.symbols.begin() + 2, coffw::func("second", 0x1030, 1, 0x10));
    desc.symbols.push_back(coffw::func("broken_long_name", 0x1090, 1, 4));
    coffw::CoffLayout at;
    std::string bytes = coffw::write_coff(desc, &at);
    coffw::put(bytes, at.symbols + uint64_t(at.entry_of.back()) * SYMESZ + 4, 0x7ffffff0, 4, false);
    funsize_add_requested("second");
    funsize_add_requested("sized");
    Outcome o = run(bytes);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, line("second", 0x10) + line("sized", 0x24));

    // A missing name is counted, and reported only for a plain file.
    clear_table();
    funsize_add_requested("table");
    bytes = coffw::write_coff(program(kVariants[0]));
    o = run(bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "error: table not found in file test.o\n");
    desc_.in_archive = 1;
    o = run(bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.err, "");
}

TEST_F(CoffHandler, ShortAndEmptyInputs) {
    funsize_add_requested("main");
    // A header cut short reads as zero sections and zero symbols.
    const std::string bytes = coffw::write_coff(program(kVariants[0]));
    for (size_t n : {size_t(0), size_t(2), size_t(3)}) {
        SCOPED_TRACE(n);
        Outcome o = run(bytes.substr(0, n));
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "error: main not found in file test.o\n");
    }
    // No symbols at all.
    coffw::CoffFile desc;
    desc.sections = {coffw::code(".text", 0, 0x20)};
    EXPECT_EQ(run(coffw::write_coff(desc)).result, 1);
}

TEST_F(CoffHandler, ManySymbols) {
    coffw::CoffFile desc;
    desc.sections = {coffw::code(".text", 0, 16 * 200000)};
    desc.symbols.reserve(200000);
    for (uint32_t i = 0; i < 200000; ++i) desc.symbols.push_back(coffw::func("function_" + std::to_string(i), i * 16, 1, 16));
    const std::string bytes = coffw::write_coff(desc);
    funsize_add_requested("function_199999");
    auto t0 = std::chrono::steady_clock::now();
    Outcome o = run(bytes);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(o.out, line("function_199999", 16));
    // Generous: the walk takes a few tens of milliseconds.
    EXPECT_LT(ms, 3000);
}

using CoffHandlerDeathTest = CoffHandler;

TEST_F(CoffHandlerDeathTest, FatalDamage) {
    coffw::CoffLayout at;
    const std::string bytes = coffw::write_coff(simple(), &at);
    ASSERT_EQ(run(bytes).out, line("main", 0x10) + line("helper", 0x20));
    ASSERT_EQ(at.size, at.strings + 4) << "no long names";

    ident_.machine_type = 0;
    EXPECT_EXIT(call(bytes), testing::ExitedWithCode(2), "fatal: unknown magic number 0x 14c in file 'test.o'\n$");
    set_ident(kVariants[0]);

    // More symbols than the file holds, up to the largest count.
    std::string b = bytes.substr(0, at.strings);
    const std::string n = std::to_string(at.entries);
    coffw::put(b, coffw::F_NSYMS_AT, at.entries + 1, 4, false);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2), "fatal: Unexpected EOF on symbol " + n + " in 'test.o'\n$");
    coffw::put(b, coffw::F_NSYMS_AT, 0xffffffffu, 4, false);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2), "fatal: Unexpected EOF on symbol " + n + " in 'test.o'\n$");
    // A table where the file has none.
    b = bytes;
    coffw::put(b, coffw::F_SYMPTR_AT, 0, 4, false);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2), "fatal: Unexpected EOF on symbol 0 in 'test.o'\n$");

    // An auxiliary entry cut off: of a function, and of another symbol.
    for (int numaux : {1, 3}) {
        coffw::CoffFile desc = simple();
        desc.symbols.back().aux.clear();
        desc.symbols.back().numaux = numaux;
        if (numaux == 1) desc.symbols.back().type = DT_FCN << N_BTSHFT;
        b = coffw::write_coff(desc, &at).substr(0, at.strings);
        EXPECT_EXIT(call(b), testing::ExitedWithCode(2),
                    "fatal: Unexpected EOF on symbol " + std::to_string(at.entries) + " in 'test.o'\n$");
    }

    // A name offset past the string table and the file.
    b = coffw::write_coff(program(kVariants[0]), &at);
    coffw::put(b, at.symbols + uint64_t(at.entry_of[6]) * SYMESZ + 4, 0xfffffff0u, 4, false);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2), "fatal: unexpected EOF in string table in 'test.o'\n$");

    // More section headers than the file holds: found before any allocation.
    b = bytes;
    coffw::put(b, coffw::F_NSCNS_AT, 0xffff, 2, false);
    const std::string fit = std::to_string((bytes.size() - at.section_headers) / SCNHSZ);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2),
                "fatal: Unexpected EOF on section header " + fit + " in 'test.o'\n$");

    // A PE input whose stub leads nowhere.
    set_ident(kVariants[0], FT_PE);
    b = coffw::write_pe(program(kVariants[0]));
    coffw::put(b, PE_OFFSET_FIELD, 0x7ffffff0, 4, false);
    EXPECT_EXIT(call(b), testing::ExitedWithCode(2), "fatal: no PE header behind the MZ stub of 'test.o'\n$");
}

// ---------------------------------------------------------------- walker

class CoffWalk : public CoffHandler {
  protected:
    void SetUp() override {
        CoffHandler::SetUp();
        std::copy(handler_table, handler_table + HANDLER_SLOTS, saved_);
        funsize_install_handlers();
        dir_ = testing_support::make_temp_dir();
    }
    void TearDown() override {
        std::copy(saved_, saved_ + HANDLER_SLOTS, handler_table);
        CoffHandler::TearDown();
    }
    Outcome walk(const std::string &name, const std::string &bytes) {
        const std::string path = dir_ + "/" + name;
        testing_support::write_file(path, bytes);
        Outcome o;
        CaptureStdout();
        CaptureStderr();
        o.result = walk_input_readonly(path.c_str());
        std::fflush(stdout);
        o.err = GetCapturedStderr();
        o.out = GetCapturedStdout();
        std::remove(path.c_str());
        return o;
    }
    format_handler saved_[HANDLER_SLOTS];
    std::string dir_;
};

TEST_F(CoffWalk, IdentifiedFilesAndArchives) {
    // x86-64 PE image: no leading underscore.
    coffw::CoffFile desc = program(kVariants[0]);
    desc.magic = AMD64MAGIC;
    desc.optional_header = std::string(0xf0, '\0');
    Outcome o = walk("prog.exe", coffw::write_pe(desc));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, kProgramReport);

    // A big-endian object (MC68000) and a MIPS one with 24-byte symbols,
    // members of one archive. The MIPS target has the leading-underscore
    // convention: the first character of every name comes back as "_".
    coffw::CoffFile be = program(kVariants[1]);
    be.magic = MC68MAGIC;
    coffw::CoffFile mips = program(kVariants[2]);
    mips.magic = MIPSEBMAGIC;
    mips.big_endian = true;
    o = walk("lib.a", ar_writer::write_archive({{"be.o", coffw::write_coff(be)}, {"mips.o", coffw::write_coff(mips)}},
                                               {.symbol_table = true}));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, kProgramReport + uline("_ized", 0x24) + uline("_pen_a", 0x20) + uline("_abel", 0x20) +
                         uline("__very_long_function_name", 0x80) + uline("_ther", 0x40) + uline("_wo_aux", 0x40));

    // A PE header offset past the end: not identified, nothing printed.
    std::string b = coffw::write_pe(desc);
    coffw::put(b, PE_OFFSET_FIELD, 0xfffffff0u, 4, false);
    o = walk("bad.exe", b);
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
}

}  // namespace
