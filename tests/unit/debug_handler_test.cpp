// The recorder of debug procedures against the function table, and the
// debug-information handler on inputs it reads from an open file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbg_writer.h"
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

TEST_F(DebugHandler, AllFunctionsKeepArrivalOrderAndLeaveOpenEndsToTheReport) {
    funsize_reset();
    EXPECT_EQ(record("main", 0x1000, 0x1040), 0);
    EXPECT_EQ(record("f", 0x1040, 0x1040), 0);
    EXPECT_EQ(record("count.7.lib.2fsrc.2futil.2ec", 0x1080, 0x1090), 0);
    ASSERT_EQ(funsize_table.next, 3u);
    for (uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rec(i).section, FUNSIZE_DEBUG_SECTION);
        EXPECT_EQ(rec(i).order, i + 1);
    }
    EXPECT_EQ(gadr_to_u64(rec(1).end), 0x1040u);
    EXPECT_STREQ(rec(2).name, "count(util.c.o)");
    EXPECT_EQ(funsize_table.sized_count, 0u);
    EXPECT_EQ(report(), line("main", 0x40) + line("f", 0x40) + line("count(util.c.o)", 0x10));
}

TEST_F(DebugHandler, LocalLabelsAreIgnoredOrOnlyBound) {
    funsize_reset();
    record("f", 0x100, 0x100);
    record("..lx3", 0x110, 0x110);  // ignored
    record("..lin4", 0x120, 0x120);
    record("%%lin5", 0x130, 0x130);
    record("%%L6", 0x140, 0x140);  // bounds f
    record("g", 0x150, 0x160);
    record("..L7", 0x160, 0x160);  // bounds nothing more
    ASSERT_EQ(funsize_table.next, 4u);
    EXPECT_STREQ(rec(1).name, FUNSIZE_BOUNDARY_NAME);
    EXPECT_EQ(report(), line("f", 0x40) + line("g", 0x10));
}

TEST_F(DebugHandler, LeadingUnderscoreIsDroppedInBothModes) {
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

TEST_F(DebugHandler, RequestedEndsFromSectionsAndLaterProcedures) {
    funsize_add_requested("f");
    funsize_reset();
    const debug_range sections[] = {{at(0x1000), at(0x2000)}, {at(0x4000), at(0x5000)}};
    const debug_range_list ranges{sections, 2};
    // main comes first and is kept as a boundary only; f takes the end of
    // its section, then the start of the next procedure inside it.
    EXPECT_EQ(record("main", 0x1000, 0x1040, &ranges), 0);
    EXPECT_EQ(record("f", 0x1040, 0x1040, &ranges), 0);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x2000u);
    EXPECT_EQ(rec(0).section, FUNSIZE_DEBUG_SECTION);
    EXPECT_EQ(rec(0).order, 0u);
    EXPECT_EQ(funsize_table.found_count, 1u);
    EXPECT_EQ(record("late", 0x1800, 0x1900, &ranges), 0);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x1800u);
    EXPECT_EQ(record("later", 0x1900, 0x1a00, &ranges), 0);
    EXPECT_EQ(report(&ranges), line("f", 0x1800 - 0x1040));
    EXPECT_EQ(missing, 0);

    // In no section: the end of the last one. Without a range table the end
    // stays at the start.
    funsize_reset();
    record("f", 0x3000, 0x3000, &ranges);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x5000u);
    funsize_reset();
    record("f", 0x3000, 0x3000);
    EXPECT_EQ(gadr_to_u64(rec(0).end), 0x3000u);
    // A boundary recorded before f, above it, also closes it.
    funsize_reset();
    record("g", 0x1100, 0x1200, &ranges);
    record("f", 0x1040, 0x1040, &ranges);
    EXPECT_EQ(report(&ranges), line("f", 0xc0));
}

TEST_F(DebugHandler, RequestedNamesAreOverwrittenWithoutWarning) {
    funsize_add_requested("a");
    funsize_add_requested("b");
    funsize_add_requested("gone");
    funsize_reset();
    EXPECT_EQ(record("a", 0x10, 0x20), 0);
    EXPECT_EQ(record("b", 0x20, 0x28), 0);
    // The second a wins, and its size counts once more, so that the
    // recorder reports every name sized although one is missing.
    EXPECT_EQ(record("a", 0x100, 0x140), 1);
    EXPECT_EQ(report(), line("a", 0x40) + line("b", 8));
    EXPECT_NE(err.find("error: gone not found in file in.dbg\n"), std::string::npos);
    EXPECT_EQ(missing, 1);
}

TEST_F(DebugHandler, AllSizedStillTakesLaterProcedures) {
    funsize_add_requested("a");
    funsize_add_requested("b");
    funsize_reset();
    EXPECT_EQ(record("a", 0x10, 0x20), 0);
    EXPECT_EQ(record("b", 0x20, 0x30), 1);
    EXPECT_EQ(funsize_table.next, 3u);  // one boundary, made while b was missing
    record("b", 0x30, 0x31);
    EXPECT_EQ(gadr_to_u64(rec(1).start), 0x30u);
    EXPECT_EQ(funsize_table.next, 3u);
}

class DebugHandlerFile : public DebugHandler {
  protected:
    int handle(const dbgw::Bytes &bytes, uint32_t kind, const char *name) {
        std::string path = dbgw::temp_file(bytes, name);
        std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path.c_str(), "rb"), std::fclose);
        input_desc d{};
        d.name = const_cast<char *>(path.c_str());
        d.member_name = d.name;
        ident.machine_type = kind;
        d.ident = &ident;
        CaptureStdout();
        int result = funsize_handle_debug_info(f.get(), nullptr, &d);
        std::fflush(stdout);
        out = GetCapturedStdout();
        return result;
    }
    std::string out;
};

TEST_F(DebugHandlerFile, StandAloneObjectInBothModes) {
    dbgw::DbgDesc d;
    d.procs = {{"main", 0x1000, 0x1040, ""}, {"f", 0x1040, 0x1040, ""}, {"g", 0x1060, 0x1070, ""}};
    EXPECT_EQ(handle(dbgw::write_dbg(d), 99, "in.dbg"), 0);
    EXPECT_EQ(out, line("main", 0x40) + line("f", 0x20) + line("g", 0x10));
    // The function table is reused for the next input without old names.
    EXPECT_EQ(handle(dbgw::write_dbg(d), 99, "in.dbg"), 0);
    EXPECT_EQ(out, line("main", 0x40) + line("f", 0x20) + line("g", 0x10));

    funsize_add_requested("f");
    funsize_add_requested("nothere");
    opt_warnings = 0;
    // Without a range table a requested procedure without an end keeps it
    // at its start.
    EXPECT_EQ(handle(dbgw::write_dbg(d), 99, "in.dbg"), 1);
    EXPECT_EQ(out, line("f", 0));
}

TEST_F(DebugHandlerFile, RefusedInputsEndTheRun) {
    dbgw::MessageLog log;
    dbgw::DbgDesc d;
    d.located = false;
    d.procs = {{"main", 0x1000, 0x1040, ""}};
    EXPECT_THROW(
        {
            try {
                handle(dbgw::write_dbg(d), 100, "unlocated.dbo");
            } catch (const dbgw::Exited &e) {
                EXPECT_EQ(e.status, 1);
                throw;
            }
        },
        dbgw::Exited);
    ASSERT_FALSE(log.all().empty());
    EXPECT_NE(log.all().back().find("is not an address located dbo file."), std::string::npos);
    GetCapturedStdout();

    log.clear();
    EXPECT_THROW(handle(dbgw::write_dbg({}), 105, "other.lks"), dbgw::Exited);
    EXPECT_EQ(log.all(), (std::vector<std::string>{"2|Unknown LKS file type"}));
    GetCapturedStdout();
}

}  // namespace
