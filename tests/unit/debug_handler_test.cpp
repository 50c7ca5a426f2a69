// The recorder of debug procedures against the function table. The handler
// itself (files, archives, refused kinds) runs end to end in debug_e2e_test.
#include <gtest/gtest.h>

#include <string>

#include "funsize.h"
#include "indgen.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

gadr at(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

std::string line(const char *name, long long size) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-20s %7lld\n", name, size);
    return buf;
}

class DebugHandler : public testing::Test {
  protected:
    void SetUp() override {
        opt_addr = opt_hex = opt_file = opt_gcompare = opt_nounderscores = opt_nosize = 0;
        opt_warnings = 1;
        in_archive_member = 0;
        ident = file_ident{};
        ident.file_type = FT_DEBUG_INFO;
        ident.machine_type = 99;
        current_ident = &ident;
        funsize_init_table();
    }
    void TearDown() override {
        funsize_reset();
        gen_free_fn(funsize_table.records);
        funsize_table = function_table{};
        current_ident = nullptr;
        gadr_set_mode(GADR_MODE_32BIT);
    }

    int record(const char *name, uint64_t start, uint64_t end, const debug_range_list *ranges = nullptr) {
        return funsize_record_debug_proc(name, at(start), at(end), "in.dbg", ranges);
    }
    std::string report(const debug_range_list *ranges = nullptr) {
        CaptureStdout();
        CaptureStderr();
        missing = funsize_report("in.dbg", ranges);
        std::fflush(stdout);
        std::string out = GetCapturedStdout();
        err = GetCapturedStderr();
        return out;
    }
    const function_record &rec(uint64_t i) const { return funsize_table.records[i]; }

    file_ident ident;
    int missing = -1;
    std::string err;
};

// All functions: "..lx", "..lin" and "%%lin" labels are dropped, other
// ".." and "%%" names only bound the procedure before them (debug_e2e_test
// runs the common cases through whole files).
TEST_F(DebugHandler, AllFunctionsWithLabelsAndUnderscores) {
    funsize_reset();
    record("f", 0x1040, 0x1040);
    record("..lx3", 0x1050, 0x1050);
    record("%%lin5", 0x1054, 0x1054);
    record("%%L6", 0x1060, 0x1060);
    ASSERT_EQ(funsize_table.next, 2u);
    EXPECT_STREQ(rec(1).name, FUNSIZE_BOUNDARY_NAME);
    EXPECT_EQ(report(), line("f", 0x20));

    // A target with leading underscores: dropped on the way in (also from
    // the boundary name), put back in the report, in both modes.
    ident.leading_underscore = 1;
    funsize_reset();
    record("_main", 0x100, 0x180);
    record("..x", 0x180, 0x180);
    EXPECT_STREQ(rec(0).name, "main");
    EXPECT_STREQ(rec(1).name, FUNSIZE_BOUNDARY_NAME);
    EXPECT_EQ(report(), "_" + line("main", 0x80));
    funsize_add_requested("main");
    funsize_reset();
    EXPECT_EQ(record("_main", 0x100, 0x180), 1);
    EXPECT_EQ(report(), "_" + line("main", 0x80));
}

// A requested procedure without an end of its own: the end of its section,
// or of the last section when it lies in none, or its start without a range
// table; a boundary recorded before it but above it also closes it.
TEST_F(DebugHandler, RequestedEndsFromSections) {
    funsize_add_requested("f");
    const debug_range sections[] = {{at(0x1000), at(0x2000)}, {at(0x4000), at(0x5000)}};
    const debug_range_list ranges{sections, 2};
    funsize_reset();
    record("f", 0x3000, 0x3000, &ranges);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x5000u);
    funsize_reset();
    record("f", 0x3000, 0x3000);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x3000u);
    funsize_reset();
    record("g", 0x1100, 0x1200, &ranges);
    record("f", 0x1040, 0x1040, &ranges);
    EXPECT_EQ(report(&ranges), line("f", 0xc0));
    EXPECT_EQ(missing, 0);
}

TEST_F(DebugHandler, RequestedTwinsAreOverwritten) {
    funsize_add_requested("a");
    funsize_add_requested("b");
    funsize_add_requested("gone");
    funsize_reset();
    EXPECT_EQ(record("a", 0x10, 0x20), 0);
    EXPECT_EQ(record("b", 0x20, 0x28), 0);
    // The second a wins without a warning, and its size counts once more,
    // so that the recorder reports every name sized although one is missing.
    EXPECT_EQ(record("a", 0x100, 0x140), 1);
    EXPECT_EQ(report(), line("a", 0x40) + line("b", 8));
    EXPECT_NE(err.find("error: gone not found in file in.dbg\n"), std::string::npos);
    EXPECT_EQ(missing, 1);
}

// Once all are sized no more boundaries are made, but a later procedure of a
// requested name still replaces it.
TEST_F(DebugHandler, AllSizedStillTakesLaterProcedures) {
    funsize_add_requested("a");
    funsize_add_requested("b");
    funsize_reset();
    EXPECT_EQ(record("a", 0x10, 0x20), 0);
    EXPECT_EQ(record("b", 0x20, 0x30), 1);
    EXPECT_EQ(funsize_table.next, 3u);
    record("b", 0x30, 0x31);
    EXPECT_EQ(gadr_to_u64(rec(1).start), 0x30u);
    EXPECT_EQ(funsize_table.next, 3u);
}

}  // namespace
