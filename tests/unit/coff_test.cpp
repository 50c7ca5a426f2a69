// The COFF reader and the COFF handler of the report, on files made by the
// COFF writer: both byte orders, the three section-header layouts, 18-, 20-
// and 24-byte symbol entries. Real and damaged COFF, PE and XCOFF files of
// the common targets are covered end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "coff.h"
#include "coff_writer.h"
#include "funsize.h"
#include "machine_types.h"
#include "test_files.h"

namespace {

using testing_support::File;
using testing_support::open_bytes;
constexpr auto line = &testing_support::report_line;

// The byte orders, section-header layouts and symbol entry sizes, with the
// machine type the identification gives each.
using L = coffw::SectionLayout;
struct Variant { const char *what; bool big; L layout; uint32_t entry_size, machine_type; };
const Variant kVariants[] = {
    {"little-endian", false, L::Common, SYMESZ, 6},
    {"big-endian", true, L::Common, SYMESZ, 34},
    {"MIPS little-endian, 24-byte symbols", false, L::Common, MIPS_SYMESZ, 30},
    {"MIPS big-endian, 24-byte symbols", true, L::Common, MIPS_SYMESZ, 31},
    {"M88000", true, L::M88000, M88K_SYMESZ, MT_M88000},
    {"Texas Instruments little-endian", false, L::TexasInstruments, SYMESZ, MT_TI},
    {"Texas Instruments big-endian", true, L::TexasInstruments, SYMESZ, MT_TI},
};

// ---------------------------------------------------------------- reader

TEST(CoffReader, StringsByOffsetAndThePeStub) {
    const std::string bytes = std::string("\0\0\0\0first\0", 10) + std::string(2000, 'n') + std::string("\0last", 5);
    File f = open_bytes(bytes);
    EXPECT_STREQ(coff_read_string(f.get(), 2, 2), "first") << "base and offset add up";
    EXPECT_STREQ(coff_read_string(f.get(), 0, 10), std::string(COFF_NAME_MAX, 'n').c_str()) << "cut at the limit";
    EXPECT_STREQ(coff_read_string(f.get(), 0, int(bytes.size() - 4)), "last") << "the end of the file ends it";
    // Nothing at the end; an offset with the top bit set lies far behind the
    // file, not before it.
    EXPECT_TRUE(coff_read_string(f.get(), 0, int(bytes.size())) == nullptr && coff_read_string(f.get(), 4, -4) == nullptr);
    char small[4];
    EXPECT_EQ(coff_read_name(f.get(), 0, 4, small, sizeof small), 0);
    EXPECT_STREQ(small, "fir");

    // The stub behind other bytes, as in an archive.
    coffw::CoffLayout at;
    const std::string pe = coffw::write_pe({.sections = {coffw::code(".text", 0x1000, 0x10)}, .symbols = {}}, &at, 0x90);
    coff_big_endian = 0;
    f = open_bytes(std::string(100, 'x') + pe, 100);
    EXPECT_EQ(coff_skip_pe_stub(f.get()), 0);
    EXPECT_EQ(std::ftell(f.get()), long(100 + at.file_header));
    // No MZ, an offset past the end, no signature, no offset field.
    std::string no_mz = pe, far = pe, no_sig = pe;
    no_mz[1] = 'Y';
    coffw::put(far, PE_OFFSET_FIELD, 0xfffffff0u, 4, false);
    no_sig[0x92] = 'X';
    for (const std::string &b : {no_mz, far, no_sig, pe.substr(0, 62)})
        EXPECT_EQ(coff_skip_pe_stub(open_bytes(b).get()), 1) << b.size();
}

// ---------------------------------------------------------------- handler

class CoffHandler : public testing_support::HandlerTest {
  protected:
    CoffHandler() : HandlerTest(funsize_handle_coff) {}
    void SetUp() override {
        HandlerTest::SetUp();
        set_ident(kVariants[0]);
    }
    void set_ident(const Variant &v, uint32_t file_type = FT_COFF) {
        ident_ = file_ident{};
        ident_.file_type = file_type, ident_.machine = 0x14c, ident_.machine_type = v.machine_type;
        ident_.big_endian = ident_.code_big_endian = v.big;
        ident_.symbol_entry_size = v.entry_size;
    }
};

// Two code sections (the second with a long name) and a data section;
// functions with and without auxiliary sizes, and symbols that are never
// reported.
coffw::CoffFile program(const Variant &v) {
    coffw::CoffFile f{.big_endian = v.big, .layout = v.layout, .symbol_entry_size = v.entry_size,
                      .sections = {coffw::code(".text", 0x1000, 0x100), coffw::data(".data", 0x2000, 0x40),
                                   coffw::code(".text$long_name", 0x3000, 0x80)},
                      .symbols = {}};
    coffw::Symbol two_aux = coffw::func("two_aux", 0x3040, 3, 0x10);
    two_aux.aux.push_back(coffw::Aux{});
    f.symbols = {coffw::file_symbol("prog.c"), coffw::func("sized", 0x1000, 1, 0x24),
                 coffw::func("__lks_eofn_sized", 0x1024, 1, 0), coffw::plain_func("open_a", 0x1040, 1, C_STAT),
                 coffw::label("c_label", 0x1050, 1, C_LABEL), coffw::label("label", 0x1060, 1, C_STAT),
                 coffw::func("a_very_long_function_name", 0x1080, 1, 0), coffw::label("..lx1", 0x10c0, 1, C_STAT),
                 coffw::label("table", 0x2000, 2), coffw::func("data_fn", 0x2010, 2, 8),
                 coffw::section_symbol(".text", 1, 0x100), coffw::plain_func("other", 0x3000, 3), two_aux,
                 coffw::plain_func("undefined", 0, N_UNDEF), coffw::label("absolute", 0x1010, N_ABS)};
    return f;
}
const std::string kFirstSection =
    line("sized", 0x24) + line("open_a", 0x20) + line("label", 0x20) + line("a_very_long_function_name", 0x80);
const std::string kThirdSection = line("other", 0x40) + line("two_aux", 0x40);

TEST_F(CoffHandler, ReportsFunctionsOfEveryLayout) {
    for (const Variant &v : kVariants) {
        set_ident(v);
        // Sizes from auxiliary entries are kept; the others end at the next
        // reported symbol or at the end of their section. C_LABEL, "..lx" and
        // "__lks_eofn_" symbols bound nothing; a function with two
        // auxiliary entries takes no size from them.
        const testing_support::HandlerOutcome o = run(coffw::write_coff(program(v)));
        EXPECT_EQ(std::tuple(o.result, o.err, o.out), std::tuple(0, "", kFirstSection + kThirdSection)) << v.what;
        EXPECT_EQ(current_ident->ti_coff, v.machine_type == MT_TI ? 1u : 0u) << v.what;
    }
}

TEST_F(CoffHandler, SectionSelectionByName) {
    set_ident(kVariants[1]);
    // A long name from the string table; the 1-based number is kept.
    opt_section_name = ".text$long_name";
    EXPECT_EQ((std::tuple{out(coffw::write_coff(program(kVariants[1]))), opt_section_number}), std::tuple(kThirdSection, 3));
    // An input without a section of that name: every section is excluded,
    // and the number found in the input before stays.
    coffw::CoffFile eight = program(kVariants[1]);
    eight.sections[0].name = ".textabc";
    eight.sections[2].name = ".text";
    EXPECT_EQ((std::tuple{out(coffw::write_coff(eight)), opt_section_number}), std::tuple("", 3));
    // Eight characters match as they are, and only whole.
    for (const char *name : {".textabc", ".textab"}) {
        opt_section_number = 0, opt_section_name = name;
        EXPECT_EQ(out(coffw::write_coff(eight)), std::strlen(name) == 8 ? kFirstSection : "") << name;
    }
    // A section name whose string-table offset lies past the end matches
    // nothing and stops nothing.
    coffw::CoffLayout at;
    std::string b = coffw::write_coff(program(kVariants[1]), &at);
    coffw::put(b, at.section_headers + 2 * at.section_header_size + 4, 0x7ffffff0, 4, true);
    opt_section_number = 0, opt_section_name = ".text";
    EXPECT_EQ(out(b), kFirstSection);
}

// The string table is read in blocks of 16 KiB: 6,000 long names run over
// several of them, some across the boundary of two.
TEST_F(CoffHandler, LongNamesAcrossStringTableBlocks) {
    coffw::CoffFile desc{.sections = {coffw::code(".text", 0, 16 * 6000)}, .symbols = {}};
    std::string expected;
    for (uint32_t i = 0; i < 6000; ++i) {
        desc.symbols.push_back(coffw::func("function_" + std::to_string(i), i * 16, 1, 16));
        expected += line("function_" + std::to_string(i), 16);
    }
    EXPECT_TRUE(out(coffw::write_coff(desc)) == expected);
}

}  // namespace
