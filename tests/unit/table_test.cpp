// The function table and the report: sizes derived from neighbours and
// sections, requested names, name filters and every line format.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "funsize.h"
#include "indgen.h"
#include "test_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// One report line as the C library formats it.
std::string line(const char *name, long long size, const char *lead = "") {
    return lead + testing_support::report_line(name, size);
}

struct Section {
    uint64_t start, size;
};

class TableTest : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::begin_report_state();
        ident = file_ident{};
        ident.file_type = FT_ELF;
        current_ident = &ident;
    }
    void TearDown() override {
        testing_support::end_report_state();
        current_ident = nullptr;
        gadr_set_mode(GADR_MODE_32BIT);
    }

    // Starts a new input with these sections (1-based in the records).
    void begin(const std::vector<Section> &sections) {
        funsize_reset();
        funsize_free_sections();
        funsize_alloc_sections(uint32_t(sections.size()));
        for (size_t i = 0; i < sections.size(); ++i) {
            section_table[i].start = sections[i].start;
            section_table[i].size = sections[i].size;
            section_table[i].is_code = 1;
        }
    }

    // Prints the report; returns {stdout, stderr}, and the result in `missing`.
    std::pair<std::string, std::string> report(const char *file = "a.o", const input_desc *d = nullptr) {
        CaptureStdout();
        CaptureStderr();
        missing = d ? funsize_report_input(d, nullptr) : funsize_report(file, nullptr);
        std::fflush(stdout);
        std::string out = GetCapturedStdout();
        return {out, GetCapturedStderr()};
    }

    file_ident ident;
    int missing = -1;
};

TEST_F(TableTest, DerivedSizesLabelsAndDecoratedNames) {
    // Arrival order is kept; twins both run to 0x180; "late" is capped by its
    // section's end, below the next symbol; the last symbol of an unknown
    // section keeps size 0.
    begin({{0x100, 0x100}, {0x1000, 0x40}});
    for (auto [name, at, size, section] : {std::tuple("late", 0x180, 0, 1), {"twin_a", 0x120, 0, 1},
                                           {"twin_b", 0x120, 0, 1}, {"sized", 0x110, 4, 1}, {"first", 0x100, 0, 1},
                                           {"other", 0x1010, 0, 2}, {"nosection", 0x1030, 0, 9}})
        funsize_record_symbol(name, uint64_t(at), uint64_t(size), uint32_t(section));
    auto [out, err] = report();
    EXPECT_EQ(out, line("late", 128) + line("twin_a", 96) + line("twin_b", 96) + line("sized", 4) +
                       line("first", 16) + line("other", 32) + line("nosection", 0));
    EXPECT_EQ(err, "");
    EXPECT_EQ(missing, 0);

    // "..L" and "%%" names bound the function before them and are not
    // printed; "..lx", "..lin", "%%lin" and "__caller."/"__callee." names are
    // ignored altogether.
    begin({{0, 0x100}});
    for (auto [name, at] : {std::pair("f", 0x0), {"..L1", 0x10}, {"g", 0x20}, {"%%x", 0x28}, {"h", 0x30},
                            {"..lx9", 0x38}, {"..lin", 0x3c}, {"%%lin", 0x3e}, {"__caller.x", 0x40},
                            {"__callee.y", 0x44}, {"__callerz", 0x50}})
        funsize_record_symbol(name, uint64_t(at), 0, 1);
    EXPECT_EQ(report().first, line("f", 16) + line("g", 8) + line("h", 32) + line("__callerz", 176));

    // Decorated local names show their function and decoded file.
    begin({{0, 0x100}});
    for (const char *name : {"f.1.util.2ec", "g.x.dir.2fsub.2fa.2ec", "h.a..zz", ".k.l", "one.dot"})
        funsize_record_symbol(name, 0, 4, 1);
    EXPECT_EQ(report().first, line("f(util.c.o)", 4) + line("g(a.c.o)", 4) + line("h.a..zz", 4) + line(".k.l", 4) +
                                  line("one.dot", 4));

    // With the leading-underscore convention the first character goes before
    // a label is recognised.
    ident.leading_underscore = 1;
    begin({{0, 0x100}});
    funsize_record_symbol("_main", 0, 8, 1);
    funsize_record_symbol("%%L", 8, 0, 1);
    EXPECT_EQ(report().first, line("main", 8, "_"));
}

TEST_F(TableTest, RequestedStopsWhenAllAreSizedAndWarnsOnTwins) {
    funsize_add_requested("a");
    funsize_add_requested("b");
    begin({{0, 0x100}});
    EXPECT_EQ(funsize_record_symbol("b", 0x10, 0, 1), 0);
    CaptureStderr();
    EXPECT_EQ(funsize_record_symbol("b", 0x20, 4, 1), 0);
    EXPECT_EQ(GetCapturedStderr(), "error: symbol b found twice! using symbol at 0x00000010\n");
    EXPECT_EQ(funsize_record_symbol("a", 0x30, 4, 1), 0);  // b still has no size of its own
    EXPECT_EQ(report().first, line("a", 4) + line("b", 16));

    begin({{0, 0x100}});
    EXPECT_EQ(funsize_record_symbol("a", 0x30, 4, 1), 0);
    EXPECT_EQ(funsize_record_symbol("b", 0x40, 8, 1), 1);

    // A reset forgets what the last input found.
    begin({{0, 0x100}});
    EXPECT_EQ(report().second, "error: a not found in file a.o\nerror: b not found in file a.o\n");
}

}  // namespace
