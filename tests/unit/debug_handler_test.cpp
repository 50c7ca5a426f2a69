// The recorder of debug procedures against the function table. The handler
// itself (files, archives, refused kinds) runs end to end in debug_e2e_test.
#include <gtest/gtest.h>

#include <string>

#include "funsize.h"
#include "indgen.h"
#include "test_files.h"

namespace {

using testing_support::report_line;

gadr at(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

class DebugHandler : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::begin_report_state();
        ident = file_ident{};
        ident.file_type = FT_DEBUG_INFO;
        current_ident = &ident;
    }
    void TearDown() override {
        testing_support::end_report_state();
        current_ident = nullptr;
    }
    int record(const char *name, uint64_t start, uint64_t end, const debug_range_list *ranges = nullptr) {
        return funsize_record_debug_proc(name, at(start), at(end), "in.dbg", ranges);
    }
    std::string report(const debug_range_list *ranges = nullptr) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        missing = funsize_report("in.dbg", ranges);
        std::fflush(stdout);
        err = testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }
    file_ident ident;
    int missing = -1;
    std::string err;
};

// A requested procedure without an end of its own ends with its section, or
// the last section when it lies in none, or at its start without a range
// table; a boundary recorded before it but above it also closes it.
TEST_F(DebugHandler, RequestedEndsFromSectionsAndNeighbours) {
    funsize_add_requested("f");
    const debug_range sections[] = {{at(0x1000), at(0x2000)}, {at(0x4000), at(0x5000)}};
    const debug_range_list ranges{sections, 2};
    const struct {
        uint64_t start;
        const debug_range_list *ranges;
        long long size;
    } cases[] = {{0x3000, &ranges, 0x2000}, {0x1800, &ranges, 0x800}, {0x3000, nullptr, 0}};
    for (const auto &c : cases) {
        funsize_reset();
        record("f", c.start, c.start, c.ranges);
        EXPECT_EQ(report(c.ranges), report_line("f", c.size)) << c.start;
    }
    funsize_reset();
    record("g", 0x1100, 0x1200, &ranges);
    record("f", 0x1040, 0x1040, &ranges);
    EXPECT_EQ(report(&ranges), report_line("f", 0xc0));
    EXPECT_EQ(missing, 0);
}

}  // namespace
