// Target addresses: every operation under each of the four address modes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "gadr.h"

namespace {

gadr A(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

// Runs f and returns what it wrote to standard error.
std::string stderr_of(const std::function<void()> &f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

// Every test leaves the process in the initial 32-bit mode, pass or fail.
class GadrTest : public testing::Test {
protected:
    void TearDown() override { gadr_set_mode(GADR_MODE_32BIT); }
};

using GadrMode = GadrTest;
using GadrCompare = GadrTest;
using GadrPredicate = GadrTest;
using GadrArithmetic = GadrTest;
using GadrScaleAlign = GadrTest;
using GadrMinMax = GadrTest;
using GadrFormat = GadrTest;
using GadrScan = GadrTest;
using GadrRange = GadrTest;

TEST_F(GadrMode, NamesEncodingsAndFallbacks) {
    EXPECT_EQ(gadr_get_mode(), 2u);
    EXPECT_EQ(gadr_set_mode(3), 2u);
    EXPECT_TRUE(gadr_mode_is_64bit());
    EXPECT_FALSE(gadr_mode_is_32bit());
    EXPECT_EQ(gadr_set_mode(1), 3u);
    EXPECT_TRUE(gadr_mode_is_16bit_16seg());

    EXPECT_STREQ(adr_name_from_mode(1), "16bit-16seg");
    EXPECT_STREQ(adr_name_from_mode(3), "64bit");
    for (uint32_t m = 0; m < 4; ++m) EXPECT_EQ(gadr_mode_from_encoding(gadr_encoding_from_mode(m)), m);
    EXPECT_EQ(gadr_encoding_from_mode(1), 0x42u);

    EXPECT_EQ(gadr_get_mode_for_adr_byte_size(8, 0), 3u);
    EXPECT_EQ(gadr_get_mode_for_adr_byte_size(2, 0), 0u);
    EXPECT_EQ(gadr_get_mode_for_adr_byte_size(2, 2), 1u);

    const char *name = nullptr;
    std::string err = stderr_of([&] { name = adr_name_from_mode(7); });
    EXPECT_STREQ(name, "unknown");
    EXPECT_NE(err.find("error: [adr_name_from_mode]: unknown mode!\n"), std::string::npos) << err;
    uint32_t v = 0;
    err = stderr_of([&] { v = gadr_get_mode_for_adr_byte_size(4, 2); });
    EXPECT_EQ(v, 2u);
    EXPECT_NE(err.find("[gadr_get_mode_for_adr_byte_size]: bad adr parameters"), std::string::npos) << err;
    err = stderr_of([&] { v = gadr_encoding_from_mode(9); });
    EXPECT_EQ(v, 4u);
    EXPECT_NE(err.find("[gadr_encoding_from_mode]: unknown mode!"), std::string::npos) << err;
    err = stderr_of([&] { v = gadr_mode_from_encoding(0x44); });
    EXPECT_EQ(v, 2u);
    EXPECT_NE(err.find("[gadr_mode_from_encoding]: unknown mode!"), std::string::npos) << err;
}

TEST_F(GadrMode, CheckFormatRepairsHighWord) {
    gadr g = A(0x100000005ull);
    EXPECT_EQ(gadr_check_format(g, 0), 0);
    EXPECT_EQ(gadr_to_u64(g), 5u);
    g = A(0x100000005ull);
    std::string err = stderr_of([&] { gadr_check_format(g, 1); });
    EXPECT_NE(err.find("warning: gadr: invalid 32bit address format"), std::string::npos) << err;
    g = A(~0ull);
    EXPECT_EQ(gadr_check_format(g, 1), 1);

    gadr_set_mode(0);
    g = A(0x12340000ull);
    err = stderr_of([&] { EXPECT_EQ(gadr_check_format(g, 1), 0); });
    EXPECT_NE(err.find("gadr: invalid 16bit address format"), std::string::npos) << err;
    g = A(0xFFFFFFFFull);
    EXPECT_EQ(gadr_check_format(g, 1), 1);

    gadr_set_mode(3);
    g = A(0x1234567800000000ull);
    EXPECT_EQ(gadr_check_format(g, 1), 1);
    EXPECT_EQ(gadr_to_u64(g), 0x1234567800000000ull);
}

TEST_F(GadrCompare, EachModeLooksAtItsOwnPart) {
    // 32-bit: the high word is ignored, but the raw value keeps it.
    gadr a = A(0x100000010ull), b = A(0x10);
    EXPECT_TRUE(gadr_equal(a, b));
    EXPECT_EQ(gadr_diff_u64(a, b), 0u);
    EXPECT_NE(gadr_to_u64(a), gadr_to_u64(b));
    EXPECT_TRUE(gadr_less(A(0x7FFFFFFF), A(0x80000000)));  // unsigned

    gadr_set_mode(3);
    EXPECT_EQ(gadr_compare(a, b), 1);
    EXPECT_TRUE(gadr_less(A(0xFFFFFFFF), A(0x100000000ull)));
    EXPECT_EQ(gadr_compare_u64(a, 0x100000010ull), 0);
    EXPECT_EQ(gadr_compare_u64(a, 0x100000011ull), -1);
    EXPECT_EQ(gadr_compare_u32(a, 0xFFFFFFFF), 1);
    EXPECT_FALSE(gadr_less_equal_u32(a, 0xFFFFFFFF));
    EXPECT_TRUE(gadr_less_u32(b, 0x11));

    // 16-bit: the offset alone.
    gadr_set_mode(0);
    EXPECT_TRUE(gadr_equal(A(0x50010), A(0x10)));
    EXPECT_TRUE(gadr_less(A(0x90001), A(0x10002)));
    EXPECT_EQ(gadr_compare_u64(A(0x50010), 0x10), 0);
    EXPECT_EQ(gadr_compare_u32(A(0x50010), 0x11), -1);

    // Segmented: segment:offset is one number.
    gadr_set_mode(1);
    EXPECT_TRUE(gadr_not_equal(A(0x50010), A(0x10)));
    EXPECT_TRUE(gadr_less(A(0x10002), A(0x90001)));
    EXPECT_TRUE(gadr_less_equal(A(0x10002), A(0x10002)));
}

TEST_F(GadrPredicate, ZeroAndInvalidPerMode) {
    gadr both = A(~0ull), lo_ones = A(0xFFFFFFFF), hi_only = A(0x100000000ull);
    EXPECT_TRUE(gadr_is_invalid(lo_ones));
    EXPECT_FALSE(gadr_is_zero(hi_only));
    EXPECT_TRUE(gadr_is_zero_or_invalid(hi_only));
    EXPECT_FALSE(gadr_is_set(hi_only));

    gadr_set_mode(3);
    EXPECT_TRUE(gadr_is_valid(lo_ones));
    EXPECT_TRUE(gadr_is_set(lo_ones));
    EXPECT_TRUE(gadr_is_invalid(both));
    EXPECT_TRUE(gadr_is_set(hi_only));
    EXPECT_FALSE(gadr_is_zero_or_invalid(hi_only));

    gadr_set_mode(0);
    EXPECT_TRUE(gadr_is_invalid(A(0xFFFF)));
    EXPECT_FALSE(gadr_is_set(A(0xFFFE0000)));  // offset 0
    EXPECT_TRUE(gadr_is_set(A(0xFFFE)));

    gadr_set_mode(1);
    EXPECT_TRUE(gadr_is_zero(A(0x70000)));  // the segment is not looked at
    EXPECT_TRUE(gadr_is_nonzero(A(0x100000000ull)));
    EXPECT_TRUE(gadr_is_invalid(A(0x3FFFF)));
    EXPECT_FALSE(gadr_is_zero_or_invalid(A(0x70000)));
}

TEST_F(GadrArithmetic, WrapAndBorrowPerMode) {
    gadr out;
    // 64-bit: borrow and carry across the words.
    gadr_set_mode(3);
    gadr_subtract(out, A(0x100000000ull), A(0xFFFFFFF0));
    EXPECT_EQ(gadr_to_u64(out), 0x10u);
    EXPECT_EQ(gadr_diff_u64(A(0x100000000ull), A(0xFFFFFFF0)), 0x10u);
    gadr_add(out, A(0xFFFFFFF0), A(0x20));
    EXPECT_EQ(gadr_to_u64(out), 0x100000010ull);
    gadr_add_s32(out, A(0x100000000ull), -1);
    EXPECT_EQ(gadr_to_u64(out), 0xFFFFFFFFull);
    gadr_sub_u64(out, A(0), 1);
    EXPECT_EQ(gadr_to_u64(out), ~0ull);

    // 32-bit: results drop hi unless computed in place; lo wraps.
    gadr_set_mode(2);
    gadr a = A(0x5FFFFFFFFull);
    gadr_add_s32(out, a, 2);
    EXPECT_EQ(gadr_to_u64(out), 1u);
    gadr_add_s32_in_place(a, 2);
    EXPECT_EQ(gadr_to_u64(a), 0x500000001ull);
    EXPECT_EQ(gadr_diff_u64(A(1), A(2)), 0xFFFFFFFFull);
    EXPECT_EQ(gadr_diff_s32(A(1), A(2)), -1);
    gadr inv = A(0xFFFFFFFF);
    gadr_add_s32_if_valid(inv, 5);
    EXPECT_EQ(gadr_to_u64(inv), 0xFFFFFFFFull);
    a = A(0x10);
    gadr_add(a, a, a);  // the output may be an input
    EXPECT_EQ(gadr_to_u64(a), 0x20u);

    // 16-bit: the offset wraps, the difference is sign-extended.
    gadr_set_mode(0);
    gadr_subtract(out, A(1), A(2));
    EXPECT_EQ(gadr_to_u64(out), 0xFFFFu);
    EXPECT_EQ(gadr_diff_s32(A(1), A(2)), -1);
    EXPECT_EQ(gadr_diff_u64(A(1), A(2)), ~0ull);
    gadr_add_u64(out, A(0x3FFF0), 0x20);
    EXPECT_EQ(gadr_to_u64(out), 0x10u);

    // Segmented: segments and offsets separately, and d keeps the segment.
    gadr_set_mode(1);
    gadr_add(out, A(0x1FFFF), A(0x20002));
    EXPECT_EQ(gadr_to_u64(out), 0x30001u);
    gadr_subtract(out, A(0x10001), A(0x20002));
    EXPECT_EQ(gadr_to_u64(out), 0xFFFFFFFFull);
    gadr_sub_s32(out, A(0x50000), 1);
    EXPECT_EQ(gadr_to_u64(out), 0x5FFFFu);
    EXPECT_EQ(gadr_diff_s32(A(0x90001), A(0x10003)), -2);
}

TEST_F(GadrScaleAlign, ScaleKeepsInvalidAndShiftsIn64Bit) {
    gadr g = A(0xFFFFFFFF);
    gadr_scale_up(g, 4);
    EXPECT_TRUE(gadr_is_invalid(g));
    g = A(0x300000010ull);
    gadr_scale_up(g, 4);
    EXPECT_EQ(gadr_to_u64(g), 0x40u);
    gadr_scale_down(g, 3);
    EXPECT_EQ(gadr_to_u64(g), 0x15u);

    gadr_set_mode(3);
    g = A(0x80000001ull);
    gadr_scale_up(g, 4);
    EXPECT_EQ(gadr_to_u64(g), 0x200000004ull);
    gadr_scale_down(g, 2);
    EXPECT_EQ(gadr_to_u64(g), 0x100000002ull);

    gadr_set_mode(0);
    g = A(0x9000);
    gadr_scale_up(g, 2);
    EXPECT_EQ(gadr_to_u64(g), 0x2000u);
}

TEST_F(GadrScaleAlign, AlignUpAndDown) {
    gadr g = A(0x1001);
    gadr_align_up(g, 16);
    EXPECT_EQ(gadr_to_u64(g), 0x1010u);
    g = A(0x1001);
    std::string err = stderr_of([&] { gadr_align_up(g, 12); });
    EXPECT_NE(err.find("warning: gadr_align_up: expected alignment to be power of 2"), std::string::npos) << err;
    EXPECT_EQ(gadr_to_u64(g), 0x1004u);
    g = A(0x1001);
    gadr_align_down(g, 12);
    EXPECT_EQ(gadr_to_u64(g), 0xFFCu);
    g = A(0x1001);
    gadr_align_up(g, 0);
    EXPECT_EQ(gadr_to_u64(g), 0x1001u);
    g = A(0xFFFFFFFF);
    gadr_align_down(g, 16);
    EXPECT_EQ(gadr_to_u64(g), 0xFFFFFFFFu);
    g = A(0xFFFFFFF1);
    gadr_align_up(g, 16);  // lo wraps in 32-bit mode
    EXPECT_EQ(gadr_to_u64(g), 0u);

    gadr_set_mode(3);
    g = A(0xFFFFFFF1);
    gadr_align_up(g, 16);  // carries into hi
    EXPECT_EQ(gadr_to_u64(g), 0x100000000ull);

    gadr_set_mode(0);
    g = A(0xFFF1);
    gadr_align_up(g, 8);
    EXPECT_EQ(gadr_to_u64(g), 0xFFF8u);
}

TEST_F(GadrMinMax, TiesAndHighWord) {
    gadr out;
    gadr_min(out, A(0x700000005ull), A(0x9));
    EXPECT_EQ(gadr_to_u64(out), 5u);
    gadr_max(out, A(0x700000005ull), A(0x9));
    EXPECT_EQ(gadr_to_u64(out), 9u);
    gadr p = A(0x100000005ull), q = A(0x5);
    EXPECT_EQ(&gadr_min_of(p, q), &q);
    EXPECT_EQ(&gadr_max_of(p, q), &p);

    gadr_set_mode(3);
    gadr a = A(0x100000000ull), b = A(0x100000000ull);
    EXPECT_EQ(&gadr_min_of(a, b), &b);
    EXPECT_EQ(&gadr_max_of(a, b), &a);
    gadr c = A(0xFFFFFFFF);
    EXPECT_EQ(&gadr_min_of(a, c), &c);
    gadr_max(out, a, c);
    EXPECT_EQ(gadr_to_u64(out), 0x100000000ull);

    gadr_set_mode(0);
    std::string err = stderr_of([&] { gadr_min(out, A(3), A(2)); });
    EXPECT_NE(err.find("error: gadr: unimplemented 16bit case"), std::string::npos) << err;
    EXPECT_EQ(gadr_to_u64(out), 2u);
}

TEST_F(GadrFormat, LongAndShortPerMode) {
    gadr g = A(0x100000002ull);
    EXPECT_STREQ(gadr_to_string(g), "0x00000002");
    EXPECT_STREQ(gadr_to_short_string(g), "0x2");
    gadr_set_mode(3);
    EXPECT_STREQ(gadr_to_string(g), "0x00000001_00000002");
    EXPECT_STREQ(gadr_to_short_string(g), "0x1_00000002");
    EXPECT_STREQ(gadr_to_short_string(A(0xabc)), "0xabc");
    EXPECT_STREQ(gadr_to_string(A(0xabc)), "0x00000000_00000abc");
    gadr_set_mode(0);
    EXPECT_STREQ(gadr_to_string(A(0x5002a)), "0x002a");
    EXPECT_STREQ(gadr_to_short_string(A(0x5002a)), "0x2a");
    gadr_set_mode(1);
    EXPECT_STREQ(gadr_to_string(A(0x5002a)), "0x0005002a");
    EXPECT_STREQ(gadr_to_short_string(A(0x5002a)), "0x5002a");
    EXPECT_STREQ(gadr_to_string(A(0x2a)), "0x002a");
    EXPECT_STREQ(gadr_to_short_string(A(0x2a)), "0x2a");

    // Two results in one message must not share a buffer.
    gadr_set_mode(2);
    const char *x = gadr_to_string(A(1));
    const char *y = gadr_to_string(A(2));
    EXPECT_STREQ(x, "0x00000001");
    EXPECT_STREQ(y, "0x00000002");
}

TEST_F(GadrScan, GroupsScaleAndPosition) {
    gadr g;
    gadr_set_mode(3);
    const char *t = "0x12345678_9abcdef0 rest";
    EXPECT_EQ(gadr_scan(t, 1, g), t + 19);
    EXPECT_EQ(g.hi, 0x12345678u);
    EXPECT_EQ(g.lo, 0x9abcdef0u);
    gadr_scan("123456789", 1, g);
    EXPECT_EQ(gadr_to_u64(g), 0x123456789ull);
    gadr_scan("ABCDEF01_2345", 1, g);  // 8 + 4 digits form one number
    EXPECT_EQ(gadr_to_u64(g), 0xABCDEF012345ull);
    t = "00000001_zz";
    gadr_scan(t, 1, g);
    EXPECT_EQ(gadr_to_u64(g), 1u);
    std::string err = stderr_of([&] { gadr_scan("100", 2, g); });
    EXPECT_NE(err.find("error: [gadr_scan]: illegal scale factor"), std::string::npos) << err;
    EXPECT_EQ(gadr_to_u64(g), 0x100u);

    gadr_set_mode(2);
    t = " \t\v0X1234;";
    EXPECT_EQ(gadr_scan(t, 2, g), t + 9);
    EXPECT_EQ(gadr_to_u64(g), 0x91Au);
    gadr_scan("fedcba987", 1, g);  // the lower 32 bits only
    EXPECT_EQ(gadr_to_u64(g), 0xedcba987u);
    t = "1234567";
    EXPECT_EQ(gadr_scan(t, 1, g), t + 7);  // fewer than 8 digits: no second group
    EXPECT_EQ(gadr_to_u64(g), 0x1234567u);

    gadr_set_mode(0);
    gadr_scan("12345", 1, g);
    EXPECT_EQ(gadr_to_u64(g), 0x2345u);
    gadr_set_mode(1);
    gadr_scan("0x48000", 2, g);
    EXPECT_EQ(gadr_to_u64(g), 0x4000u);
}

TEST_F(GadrScan, AdvanceReportsConsumption) {
    gadr g;
    const char *p = "10 20";
    EXPECT_TRUE(gadr_scan_advance(&p, 1, g));
    EXPECT_EQ(gadr_to_u64(g), 0x10u);
    EXPECT_TRUE(gadr_scan_advance(&p, 1, g));
    EXPECT_EQ(gadr_to_u64(g), 0x20u);
    EXPECT_EQ(*p, '\0');
    EXPECT_FALSE(gadr_scan_advance(&p, 1, g));
    const char *q = "zz";
    EXPECT_FALSE(gadr_scan_advance(&q, 1, g));
    EXPECT_STREQ(q, "zz");
}

TEST_F(GadrRange, PlainWrappingAndInvalid) {
    EXPECT_EQ(gadr_range_position(A(0x0F), A(0x10), A(0x20)), -1);
    EXPECT_EQ(gadr_range_position(A(0x10), A(0x10), A(0x20)), 0);
    EXPECT_EQ(gadr_range_position(A(0x20), A(0x10), A(0x20)), 1);
    EXPECT_EQ(gadr_range_position_len(A(0x1F), A(0x10), 0x10), 0);
    EXPECT_EQ(gadr_range_position_len64(A(0x20), A(0x10), 0x10), 1);
    EXPECT_EQ(gadr_range_position_u32_len(A(0xB), 0x4, 8), 0);
    EXPECT_EQ(gadr_range_position_u32_len(A(0xC), 0x4, 8), 1);

    // [0xFFFFFFF0, 0x10) wraps round the top.
    gadr lo = A(0xFFFFFFF0), hi = A(0x10);
    EXPECT_TRUE(gadr_range_is_ordered(lo, hi));
    EXPECT_EQ(gadr_range_position(A(0x5), lo, hi), 0);
    EXPECT_EQ(gadr_range_position(A(0xFFFFFFF8), lo, hi), 0);
    EXPECT_EQ(gadr_range_position(A(0x10), lo, hi), -1);
    EXPECT_EQ(gadr_range_position_u32(A(0x5), 0xFFFFFFF0, 0x10), 0);

    // [0x80000000, 0x10) has a negative signed length: invalid.
    lo = A(0x80000000);
    EXPECT_FALSE(gadr_range_is_ordered(lo, hi));
    std::string err;
    int pos = 9;
    err = stderr_of([&] { pos = gadr_range_position(A(0x5), lo, hi); });
    EXPECT_EQ(pos, -1);
    EXPECT_NE(err.find("warning: gadr: invalid range"), std::string::npos) << err;
    err = stderr_of([&] { pos = gadr_range_position(A(0x90000000), lo, hi); });
    EXPECT_EQ(pos, 1);
    EXPECT_NE(err.find("gadr: invalid range"), std::string::npos) << err;
    err = stderr_of([&] { pos = gadr_range_position(A(0x40), lo, hi); });
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(err, "");
}

TEST_F(GadrRange, SixtyFourAndSixteenBit) {
    gadr_set_mode(3);
    gadr lo = A(0xFFFFFFFF00000000ull), hi = A(0x10);
    EXPECT_TRUE(gadr_range_is_ordered(lo, hi));
    EXPECT_EQ(gadr_range_position(A(0x8), lo, hi), 0);
    EXPECT_EQ(gadr_range_position(A(0xFFFFFFFF00000010ull), lo, hi), 0);
    EXPECT_EQ(gadr_range_position(A(0x100000000ull), lo, hi), -1);
    lo = A(0xFFFFFFF000000000ull);  // wraps, but hi is not all ones
    EXPECT_FALSE(gadr_range_is_ordered(lo, hi));
    int pos = 9;
    std::string err = stderr_of([&] { pos = gadr_range_position(A(0x8), lo, hi); });
    EXPECT_EQ(pos, -1);
    EXPECT_NE(err.find("gadr: invalid range"), std::string::npos) << err;
    EXPECT_EQ(gadr_range_position(A(0x100000005ull), A(0x100000000ull), A(0x100000010ull)), 0);
    EXPECT_EQ(gadr_range_position_u32(A(0x100000005ull), 0, 0x10), 1);
    err = stderr_of([&] { pos = gadr_range_position_u32(A(0x100000005ull), 0xFFFFFFF0, 0x10); });
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(err, "");
    EXPECT_EQ(gadr_range_position_len64(A(0x1FFFFFFFFull), A(0xFFFFFFFF), 0x100000001ull), 0);

    gadr_set_mode(0);
    EXPECT_TRUE(gadr_range_is_ordered(A(0xFFF0), A(0x10)));
    EXPECT_EQ(gadr_range_position(A(0x5), A(0xFFF0), A(0x10)), 0);
    EXPECT_EQ(gadr_range_position_len(A(0x5), A(0xFFF0), 0x20), 0);
    EXPECT_FALSE(gadr_range_is_ordered(A(0x8000), A(0x10)));
}

}  // namespace
