// The page that `funsize-diff --html=FILE` writes for two build trees and
// for one build, made from ELF objects and an archive written by the test
// writers.
#include <filesystem>
#include <string>

#include "ar_writer.h"
#include "elf_writer.h"
#include "page.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using pagetest::check_page;
using pagetest::PageTest;
using testing_support::run_program;

std::string object(std::initializer_list<std::pair<const char *, uint64_t>> functions) {
    elfw::ElfFile f;
    f.sections = {elfw::code_section(".text", 0, 0x1000)};
    uint64_t at = 0;
    for (const auto &[name, size] : functions) f.symbols.push_back(elfw::func(name, at, size, 1)), at += size;
    return elfw::write_elf(f);
}

TEST_F(PageTest, EndToEnd) {
    if (run_program(FUNSIZE_DIFF_BINARY, {"--help"}).out.find("--html") == std::string::npos)
        GTEST_SKIP() << "this funsize-diff writes no page (no --html in --help)";
    const std::string dir = testing_support::make_temp_dir();
    for (const char *side : {"/old/src", "/old/lib", "/new/src", "/new/lib"}) fs::create_directories(dir + side);
    using testing_support::write_file;
    write_file(dir + "/old/src/shapes.o", object({{"area", 0x40}, {"perimeter", 0x20}, {"legacy", 0x18}}));
    write_file(dir + "/new/src/shapes.o", object({{"area", 0x40}, {"perimeter", 0x50}, {"diagonal", 0x28}}));
    write_file(dir + "/old/lib/libm.a", ar_writer::write_archive({{"vec.o", object({{"dot", 0x30}})}, {"mat.o", object({{"mul", 0x80}})}}));
    write_file(dir + "/new/lib/libm.a", ar_writer::write_archive({{"vec.o", object({{"dot", 0x20}})}, {"mat.o", object({{"mul", 0x80}})}}));

    const auto text = run_program(FUNSIZE_DIFF_BINARY, {dir + "/old", dir + "/new"});
    const auto run = run_program(FUNSIZE_DIFF_BINARY, {"--html=" + dir + "/two.html", dir + "/old", dir + "/new"});
    const auto one = run_program(FUNSIZE_DIFF_BINARY, {"--html=" + dir + "/one.html", dir + "/new"});
    ASSERT_EQ(text.status, 0) << text.err;
    // The page comes beside the usual output, which it leaves as it was.
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(run.out, text.out);
    EXPECT_EQ(run.err + one.err, "");
    // The summary lines are the text output's first and last.
    const size_t first_end = text.out.find('\n'), last_start = text.out.rfind('\n', text.out.size() - 2) + 1;
    check_page("e2e_two_trees", testing_support::read_file(dir + "/two.html"), {
        {"text('summary')", text.out.substr(0, first_end + 1) + text.out.substr(last_start, text.out.size() - 1 - last_start)},
        {"drawn()", "5 functions, 0 smaller boxes of 0 in all"},
        {"hover('perimeter')", "grown: perimeter / src/shapes.o / old 32  new 80  delta +48"},
        {"hover('dot')", "shrunk: dot / lib/libm.a(vec.o) / old 48  new 32  delta -16"},
        {"hover('diagonal')", "added: diagonal / src/shapes.o / old \u2014  new 40  delta +40"},
        {"hover('area') + ' ' + hover('legacy')", "same: area / src/shapes.o / old 64  new 64  delta 0 none"},
        // The unchanged functions are drawn and listed though the text leaves them out.
        {"text('rows-shown')", "rows 1\u20136 of 6"},
        {"clickBox('libm.a', 'group'), zoomed()", "2 functions, 0 smaller boxes of 0 in lib/libm.a / all>lib>libm.a"},
    });
    // One build: no change to colour, to show or to choose.
    check_page("e2e_one_build", testing_support::read_file(dir + "/one.html"), {
        {"text('summary')", "add/remove: 5/0 grow/shrink: 0/0 up/down: +344/-0 (+344)\nTotal: Before=0, After=344, chg n/a"},
        {"drawn()", "5 functions, 0 smaller boxes of 0 in all"},
        {"hover('perimeter')", "same: perimeter / src/shapes.o / size 80"},
        {"pixels({perimeter: 'same', area: 'same'})", ""},
        {"heads() + ' ' + legend()", "Function,File,Size unchanged,-,-,-,smaller functions, taken together"},
    });
    fs::remove_all(dir);
}

}  // namespace
