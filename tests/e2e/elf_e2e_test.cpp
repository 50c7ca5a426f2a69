// End-to-end runs on ELF inputs that do not fit the case files: a real file
// with extended section numbering (committed compressed), and inputs written
// by the test writer for output redirection and damaged headers.
#include <gtest/gtest.h>

#include <string>

#include "elf_writer.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::run_program;
using testing_support::write_file;

std::string line(const std::string &name, long long size) { return testing_support::report_line(name, size); }

// The line end of a file the program opens in text mode ("-o="): CR LF for
// the Windows build (FUNSIZE_TEXT_LINE_END is set where that build runs).
#ifndef FUNSIZE_TEXT_LINE_END
#define FUNSIZE_TEXT_LINE_END "\n"
#endif

std::string text_file_lines(std::string lines) {
    std::string out;
    for (char c : lines) c == '\n' ? out += FUNSIZE_TEXT_LINE_END : out += c;
    return out;
}

TEST(ElfE2E, ExtendedSectionNumberingFromTheAssembler) {
    // 65400 one-byte functions, each in a section of its own, so that the
    // section count does not fit the header.
    std::string dir = make_temp_dir();
    std::string gz = std::string(FUNSIZE_TEST_DATA) + "/real/extended/many.o.gz";
    ASSERT_EQ(std::system(("gzip -dc '" + gz + "' > '" + dir + "/many.o'").c_str()), 0);
    auto r = run_program(FUNSIZE_BINARY, {"many.o"}, dir);
    std::string want;
    for (int i = 0; i < 65400; ++i) want += line("f" + std::to_string(i), 1);
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // The last function lies in a section whose number needs the extended
    // index; selecting it by number goes past 0xff00.
    r = run_program(FUNSIZE_BINARY, {"-func=f65399", "-addr", "many.o"}, dir);
    EXPECT_EQ(r.out, "f65399               0x00000000       1\n");
    EXPECT_EQ(r.status, 0);
}

TEST(ElfE2E, OutputRedirectedWithO) {
    std::string dir = make_temp_dir();
    elfw::ElfFile f;
    f.sections = {elfw::code_section(".text", 0x400000, 0x100)};
    f.symbols = {elfw::func("start", 0x400000, 0x20, 1), elfw::func("loop", 0x400020, 0, 1)};
    write_file(dir + "/a.o", elfw::write_elf(f));
    auto r = run_program(FUNSIZE_BINARY, {"-o=report.txt", "-func=loop", "-func=gone", "a.o"}, dir);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: error: gone not found in file a.o\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir + "/report.txt"), text_file_lines(line("loop", 0xe0)));
}

TEST(ElfE2E, DamagedHeadersGiveAnEmptyReportOrTheFatalMessage) {
    std::string dir = make_temp_dir();
    elfw::ElfFile f;
    f.elf_class = 32;
    f.big_endian = true;
    f.machine = 20;  // PowerPC
    f.sections = {elfw::code_section(".text", 0x100, 0x40)};
    f.symbols = {elfw::func("only", 0x100, 8, 1)};
    elfw::ElfLayout layout;
    std::string good = elfw::write_elf(f, &layout);
    write_file(dir + "/good.o", good);
    auto r = run_program(FUNSIZE_BINARY, {"good.o"}, dir);
    EXPECT_EQ(r.out, line("only", 8));

    // Section headers past the end of the file: the reader's short read ends
    // the run before anything is printed.
    std::string bad = good;
    elfw::patch_header(bad, f, elfw::HeaderField::e_shoff, 0x7ffffff0);
    write_file(dir + "/shoff.o", bad);
    r = run_program(FUNSIZE_BINARY, {"-func=only", "shoff.o", "good.o"}, dir);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: fatal: read failed, unexpected EOF\n");
    EXPECT_EQ(r.status, 1);

    // The section-name table has no bytes.
    bad = good;
    elfw::patch_section(bad, f, layout, layout.shstrndx, elfw::SectionField::sh_size, 0);
    write_file(dir + "/shstr.o", bad);
    r = run_program(FUNSIZE_BINARY, {"shstr.o", "good.o"}, dir);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: fatal: ELF section string table is empty\n");
    EXPECT_EQ(r.status, 1);

    // Cut anywhere: never a crash, and the status is 0 or 1.
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        write_file(dir + "/cut.o", good.substr(0, cut));
        r = run_program(FUNSIZE_BINARY, {"cut.o"}, dir);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "cut at " << cut << ": " << r.status << " " << r.err;
    }
}

}  // namespace
