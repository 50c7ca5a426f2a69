// The function table and the report: sizes derived from neighbours and
// sections, requested names, name filters and every line format.
#include <gtest/gtest.h>

#include <string>
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
    std::pair<std::string, std::string> report(const char *file = "a.o") {
        CaptureStdout();
        CaptureStderr();
        missing = funsize_report(file, nullptr);
        std::fflush(stdout);
        std::string out = GetCapturedStdout();
        return {out, GetCapturedStderr()};
    }

    file_ident ident;
    int missing = -1;
};

TEST_F(TableTest, DerivedSizesUseNextHigherStartAndSectionEnd) {
    begin({{0x100, 0x100}, {0x1000, 0x40}});
    funsize_record_symbol("late", 0x180, 0, 1);
    funsize_record_symbol("twin_a", 0x120, 0, 1);
    funsize_record_symbol("twin_b", 0x120, 0, 1);
    funsize_record_symbol("sized", 0x110, 4, 1);
    funsize_record_symbol("first", 0x100, 0, 1);
    funsize_record_symbol("other", 0x1010, 0, 2);
    funsize_record_symbol("nosection", 0x1030, 0, 9);
    auto [out, err] = report();
    // Arrival order is kept; twins both run to 0x180; "late" is capped by its
    // section's end, which lies below the next symbol; the last symbol of an
    // unknown section keeps size 0.
    EXPECT_EQ(out,
              line("late", 128) +
              line("twin_a", 96) +
              line("twin_b", 96) +
              line("sized", 4) +
              line("first", 16) +
              line("other", 32) +
              line("nosection", 0));
    EXPECT_EQ(err, "");
    EXPECT_EQ(missing, 0);
}

TEST_F(TableTest, LocalLabelsBoundButAreNotPrinted) {
    begin({{0, 0x100}});
    funsize_record_symbol("f", 0x0, 0, 1);
    funsize_record_symbol("..L1", 0x10, 0, 1);      // boundary
    funsize_record_symbol("g", 0x20, 0, 1);
    funsize_record_symbol("%%x", 0x28, 0, 1);       // boundary
    funsize_record_symbol("h", 0x30, 0, 1);
    funsize_record_symbol("..lx9", 0x38, 0, 1);     // ignored
    funsize_record_symbol("..lin", 0x3c, 0, 1);     // ignored
    funsize_record_symbol("%%lin", 0x3e, 0, 1);     // ignored
    funsize_record_symbol("__caller.x", 0x40, 0, 1);  // ignored
    funsize_record_symbol("__callee.y", 0x44, 0, 1);  // ignored
    funsize_record_symbol("__callerz", 0x50, 0, 1);   // ordinary
    auto [out, err] = report();
    EXPECT_EQ(out,
              line("f", 16) +
              line("g", 8) +
              line("h", 32) +
              line("__callerz", 176));
}

TEST_F(TableTest, DecoratedLocalNamesAndLeadingCharacters) {
    begin({{0, 0x100}});
    funsize_record_symbol("f.1.util.2ec", 0, 4, 1);
    funsize_record_symbol("g.x.dir.2fsub.2fa.2ec", 4, 4, 1);
    funsize_record_symbol("h.a..zz", 8, 4, 1);        // file part decodes to nothing
    funsize_record_symbol(".k.l", 12, 4, 1);          // begins with the separator
    funsize_record_symbol("one.dot", 16, 4, 1);
    auto [out, err] = report();
    EXPECT_EQ(out,
              line("f(util.c.o)", 4) +
              line("g(a.c.o)", 4) +
              line("h.a..zz", 4) +
              line(".k.l", 4) +
              line("one.dot", 4));

    // With the leading-underscore convention the first character goes and
    // the report puts "_" (or "." on PowerPC targets) back.
    ident.leading_underscore = 1;
    begin({{0, 0x100}});
    funsize_record_symbol("_main", 0, 8, 1);
    funsize_record_symbol("%%L", 8, 0, 1);
    EXPECT_EQ(report().first, line("main", 8, "_"));
    ident.machine_type = 33;
    begin({{0, 0x100}});
    funsize_record_symbol("_main", 0, 8, 1);
    EXPECT_EQ(report().first, line("main", 8, "."));
    opt_nounderscores = 1;
    EXPECT_EQ(report().first, line("main", 8));

    // 64-bit PowerPC drops a leading dot unless told not to.
    ident = file_ident{};
    ident.machine_type = 65;
    begin({{0, 0x100}});
    funsize_record_symbol(".entry", 0, 8, 1);
    EXPECT_EQ(report().first, line("entry", 8));
    opt_skip_dot_ppc64 = 0;
    begin({{0, 0x100}});
    funsize_record_symbol(".entry", 0, 8, 1);
    EXPECT_EQ(report().first, line(".entry", 8));
}

TEST_F(TableTest, LineFormats) {
    begin({{0, 0x100}});
    funsize_record_symbol("sixteen", 0x20, 16, 1);
    funsize_record_symbol("zero", 0x30, 0, 9);  // no follower, unknown section: size 0
    EXPECT_EQ(report().first, line("sixteen", 16) + line("zero", 0));
    opt_hex = 1;
    EXPECT_EQ(report().first, "sixteen                 0x10\n"
                              "zero                       0\n");
    opt_addr = 1;
    EXPECT_EQ(report().first, "sixteen              0x00000020    0x10\n"
                              "zero                 0x00000030       0\n");
    opt_nosize = 1;
    EXPECT_EQ(report().first, "sixteen              0x00000020 \nzero                 0x00000030 \n");
    opt_addr = opt_hex = opt_nosize = 0;

    opt_file = 1;
    std::string pad27(27, ' ');
    EXPECT_EQ(report("abc").first, "abc:" + pad27 + line("sixteen", 16) + "abc:" + pad27 + line("zero", 0));
    std::string name28(28, 'n'), name29(29, 'n');
    EXPECT_EQ(report(name28.c_str()).first.substr(0, 32), name28 + ":  s");
    EXPECT_EQ(report(name29.c_str()).first.substr(0, 32), name29 + ": s");

    opt_gcompare = 1;
    EXPECT_EQ(report("dir/sub\\x.o").first, "x.o:" + line("sixteen", 16) + "x.o:" + line("zero", 0));
    opt_file = 0;
    EXPECT_EQ(report("dir/x.o").first, line("sixteen", 16) + line("zero", 0));
    in_archive_member = 1;
    EXPECT_EQ(report("m.o").first, "m.o:" + line("sixteen", 16) + "m.o:" + line("zero", 0));
}

TEST_F(TableTest, WideAddressesAreShownWhole) {
    gadr_set_mode(GADR_MODE_64BIT);
    begin({});
    gadr s, e;
    gadr_from_u64(s, 0x123456789aULL);
    gadr_from_u64(e, 0x12345678a2ULL);
    funsize_table.records[funsize_table.next] = function_record{gen_strdup("wide"), s, e, 1, 1, 0};
    funsize_table.next++;
    funsize_table.sized_count++;
    opt_addr = 1;
    EXPECT_EQ(report().first, "wide                 0x123456789a       8\n");
    gen_free_fn(funsize_table.records[0].name);
    funsize_table.records[0].name = nullptr;
}

TEST_F(TableTest, RequestedNames) {
    funsize_add_requested("g");
    funsize_add_requested("f");
    funsize_add_requested("missing");
    funsize_add_requested("f");
    begin({{0x100, 0x100}, {0x400, 0x10}});
    // f has no size: it ends at the nearest recorded symbol above it in its
    // section, whether that came before or after f in the symbol table.
    EXPECT_EQ(funsize_record_symbol("x", 0x150, 0, 1), 0);
    EXPECT_EQ(funsize_record_symbol("y", 0x400, 0, 2), 0);
    EXPECT_EQ(funsize_record_symbol("f", 0x110, 0, 1), 0);
    EXPECT_EQ(funsize_record_symbol("z", 0x130, 0, 1), 0);
    EXPECT_EQ(funsize_record_symbol("g", 0x1f0, 0, 1), 0);  // ends with its section
    auto [out, err] = report("a.o");
    EXPECT_EQ(out, line("g", 16) + line("f", 32));
    EXPECT_EQ(err, "error: missing not found in file a.o\nerror: f not found in file a.o\n");
    EXPECT_EQ(missing, 2);

    opt_warnings = 0;
    EXPECT_EQ(report("a.o").second, "");
    EXPECT_EQ(missing, 2);
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

TEST_F(TableTest, RequestedNamesIgnoreTheUnderscoreOnlyWhereTargetsUseIt) {
    funsize_add_requested("main");
    funsize_add_requested("_main");
    ident.leading_underscore = 1;
    begin({{0, 0x100}});
    funsize_record_symbol("_main", 0x10, 8, 1);
    auto [out, err] = report();
    EXPECT_EQ(out, line("main", 8, "_"));
    EXPECT_EQ(err, "error: _main not found in file a.o\n");
}

TEST_F(TableTest, GrowsPastTheInitialCapacity) {
    begin({{0, 0x1000000}});
    const uint64_t n = FUNSIZE_INITIAL_CAPACITY + 10;
    for (uint64_t i = 0; i < n; ++i) funsize_record_symbol("f", 0x10 * i, 0, 1);
    EXPECT_GE(funsize_table.capacity, n);
    std::string out = report().first;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), int64_t(n));
    EXPECT_EQ(out.substr(out.size() - line("f", 0).size() - 1), line("f", 0x1000000 - 0x10 * (n - 1)));
}

}  // namespace
