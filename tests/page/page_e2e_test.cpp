// The page that `funsize-diff --html=FILE` writes for two build trees and
// for one build, made from ELF objects and an archive written by the test
// writers, opened in headless Chromium.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ar_writer.h"
#include "browser.h"
#include "elf_writer.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::run_program;

struct Func {
    const char *name;
    uint64_t size;
};

std::string object(std::initializer_list<Func> functions) {
    elfw::ElfFile f;
    uint64_t total = 0;
    for (const Func &fn : functions) total += fn.size;
    f.sections = {elfw::code_section(".text", 0, total)};
    uint64_t at = 0;
    for (const Func &fn : functions) {
        f.symbols.push_back(elfw::func(fn.name, at, fn.size, 1));
        at += fn.size;
    }
    return elfw::write_elf(f);
}

class PageEndToEnd : public pagetest::PageTest {
protected:
    void SetUp() override {
        pagetest::PageTest::SetUp();
        if (IsSkipped()) return;
        const auto help = run_program(FUNSIZE_DIFF_BINARY, {"--help"});
        if (help.out.find("--html") == std::string::npos) GTEST_SKIP() << "this funsize-diff writes no page (no --html in --help)";
        dir_ = testing_support::make_temp_dir();
        for (const char *side : {"old", "new"}) fs::create_directories(fs::path(dir_) / side / "src"), fs::create_directories(fs::path(dir_) / side / "lib");
        using testing_support::write_file;
        write_file(dir_ + "/old/src/shapes.o", object({{"area", 0x40}, {"perimeter", 0x20}, {"legacy", 0x18}}));
        write_file(dir_ + "/new/src/shapes.o", object({{"area", 0x40}, {"perimeter", 0x50}, {"diagonal", 0x28}}));
        write_file(dir_ + "/old/lib/libm.a", ar_writer::write_archive({{"vec.o", object({{"dot", 0x30}})}, {"mat.o", object({{"mul", 0x80}})}}));
        write_file(dir_ + "/new/lib/libm.a", ar_writer::write_archive({{"vec.o", object({{"dot", 0x20}})}, {"mat.o", object({{"mul", 0x80}})}}));
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    std::string dir_;
};

TEST_F(PageEndToEnd, TwoBuildTrees) {
    const auto text = run_program(FUNSIZE_DIFF_BINARY, {dir_ + "/old", dir_ + "/new"});
    ASSERT_EQ(text.status, 0) << text.err;
    const auto run = run_program(FUNSIZE_DIFF_BINARY, {"--html=" + dir_ + "/page.html", dir_ + "/old", dir_ + "/new"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The page comes beside the usual output, which it leaves as it was.
    EXPECT_EQ(run.out, text.out);
    EXPECT_EQ(run.err, "");

    const pagetest::Seen seen = pagetest::open_page("e2e_two_trees", testing_support::read_file(dir_ + "/page.html"), R"(
        report('summary', document.getElementById('summary').textContent);
        report('drawn', drawn());
        for (const name of ['perimeter', 'dot', 'diagonal', 'area', 'legacy']) report('tip ' + name, hover(name));
        report('rows', document.getElementById('rows-shown').textContent);
        clickBox('libm.a', 'group');
        report('zoom', drawn() + ' / ' + crumbs());
    )");
    // The summary lines are the text output's first and last.
    const std::string &out = text.out;
    const size_t first_end = out.find('\n'), last_start = out.rfind('\n', out.size() - 2) + 1;
    EXPECT_EQ(seen.at("summary"), out.substr(0, first_end) + "\n" + out.substr(last_start, out.size() - 1 - last_start));
    EXPECT_EQ(seen.at("drawn"), "5 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(seen.at("tip perimeter"), "grown: perimeter / src/shapes.o / old 32  new 80  delta +48");
    EXPECT_EQ(seen.at("tip dot"), "shrunk: dot / lib/libm.a(vec.o) / old 48  new 32  delta -16");
    EXPECT_EQ(seen.at("tip diagonal"), "added: diagonal / src/shapes.o / old \u2014  new 40  delta +40");
    EXPECT_EQ(seen.at("tip area"), "same: area / src/shapes.o / old 64  new 64  delta 0");
    EXPECT_EQ(seen.at("tip legacy"), "none");
    // The unchanged functions are drawn and listed though the text leaves them out.
    EXPECT_EQ(seen.at("rows"), "rows 1\u20136 of 6");
    EXPECT_EQ(seen.at("zoom"), "2 functions, 0 smaller boxes of 0 in lib/libm.a / all>lib>libm.a");
}

TEST_F(PageEndToEnd, OneBuild) {
    const auto run = run_program(FUNSIZE_DIFF_BINARY, {"--html=" + dir_ + "/one.html", dir_ + "/new"});
    ASSERT_EQ(run.status, 0) << run.err;
    const pagetest::Seen seen = pagetest::open_page("e2e_one_build", testing_support::read_file(dir_ + "/one.html"), R"(
        report('drawn', drawn());
        report('tip', hover('perimeter'));
        report('heads', Array.from(document.querySelectorAll('#functions-head th'), (th) => th.textContent).join(','));
    )");
    EXPECT_EQ(seen.at("drawn"), "5 functions, 0 smaller boxes of 0 in all");
    EXPECT_EQ(seen.at("tip"), "same: perimeter / src/shapes.o / size 80");
    EXPECT_EQ(seen.at("heads"), "Function,File,Size");
}

}  // namespace
