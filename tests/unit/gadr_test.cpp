// Target addresses: each operation under each of the four address modes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "gadr.h"
#include "test_files.h"

namespace {

using testing_support::stderr_of;

gadr A(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

// An operand from a raw value: an address, or a plain number.
template <typename T>
std::decay_t<T> operand(uint64_t v) {
    if constexpr (std::is_same_v<std::decay_t<T>, gadr>) return A(v);
    else return std::decay_t<T>(v);
}

// Every operation as a function of two raw values (the second unused by the
// predicates): what it returns, or the raw value it leaves in its first
// argument when it returns nothing.
using Op = std::function<int64_t(uint64_t, uint64_t)>;
template <typename R, typename... P>
Op op(R (*f)(P...)) {
    return [f](uint64_t a, uint64_t b) -> int64_t {
        using Last = std::tuple_element_t<sizeof...(P) - 1, std::tuple<P...>>;
        if constexpr (sizeof...(P) == 1) return int64_t(f(A(a)));
        else if constexpr (sizeof...(P) == 3) {
            gadr o;
            f(o, A(a), operand<Last>(b));
            return int64_t(gadr_to_u64(o));
        } else if constexpr (std::is_void_v<R>) {
            gadr g = A(a);
            f(g, operand<Last>(b));
            return int64_t(gadr_to_u64(g));
        } else return int64_t(f(A(a), operand<Last>(b)));
    };
}

// An operation with its name, for the tables.
#define OP(f) #f, op(f)

#define EXPECT_MESSAGE(err, text) EXPECT_NE((err).find(text), std::string::npos) << (err)

constexpr int64_t ONES = -1;         // all 64 bits set
constexpr int64_t NO16 = INT64_MIN;  // not asked in the 16-bit mode

// Every test leaves the process in the initial 32-bit mode, pass or fail.
class Gadr : public testing::Test {
  protected:
    void TearDown() override { gadr_set_mode(GADR_MODE_32BIT); }
};

TEST_F(Gadr, EachOperationUnderEachMode) {
    // The operation, two operands, and what it gives in the 16-bit,
    // segmented, 32-bit and 64-bit modes.
    const struct { const char *what; Op op; uint64_t a, b; int64_t want[4]; } rows[] = {
        // Comparisons: the offset alone, segment:offset or lo as one number,
        // or the whole value; unsigned.
        {OP(gadr_compare), 0x100000010, 0x10, {0, 0, 0, 1}}, {OP(gadr_compare), 0x90001, 0x10002, {-1, 1, 1, 1}},
        {OP(gadr_compare), 0xFFFFFFFF, 0x100000000, {1, 1, 1, -1}},
        {OP(gadr_compare), 0x7FFFFFFF, 0x80000000, {1, -1, -1, -1}},
        {OP(gadr_less_equal), 0x10002, 0x10002, {1, 1, 1, 1}}, {OP(gadr_not_equal), 0x50010, 0x10, {0, 1, 1, 1}},
        {OP(gadr_compare_u64), 0x100000010, 0x100000010, {-1, -1, -1, 0}},
        {OP(gadr_compare_u32), 0x100000010, 0xFFFFFFFF, {-1, -1, -1, 1}},
        {OP(gadr_less_u32), 0x10, 0x11, {1, 1, 1, 1}},
        {OP(gadr_less_equal_u32), 0x100000010, 0xFFFFFFFF, {1, 1, 1, 0}},
        // Predicates; the segmented mode ignores the segment for zero.
        {OP(gadr_is_zero), 0x70000, 0, {0, 1, 0, 0}}, {OP(gadr_is_nonzero), 0x100000000, 0, {1, 1, 1, 1}},
        {OP(gadr_is_invalid), 0xFFFFFFFF, 0, {1, 1, 1, 0}}, {OP(gadr_is_invalid), 0x3FFFF, 0, {1, 1, 0, 0}},
        {OP(gadr_is_valid), ~0ull, 0, {0, 0, 0, 0}}, {OP(gadr_is_zero_or_invalid), 0x100000000, 0, {1, 1, 1, 0}},
        {OP(gadr_is_set), 0xFFFFFFFF, 0, {0, 0, 0, 1}}, {OP(gadr_is_set), 0xFFFE0000, 0, {0, 0, 1, 1}},
        // Arithmetic: the offset wraps (the segmented mode keeps or adds the
        // segments), lo wraps and hi is dropped, or 64-bit carries and borrows.
        {OP(gadr_add), 0xFFFFFFF0, 0x20, {0x10, 0xFFFF0010, 0x10, 0x100000010}},
        {OP(gadr_add), 0x1FFFF, 0x20002, {0x1, 0x30001, 0x40001, 0x40001}},
        {OP(gadr_subtract), 0x10001, 0x20002, {0xFFFF, 0xFFFFFFFF, 0xFFFEFFFF, -0x10001}},
        {OP(gadr_subtract), 0x100000000, 0xFFFFFFF0, {0x10, 0x10010, 0x10, 0x10}},
        {OP(gadr_add_s32), 0x5FFFFFFFF, 2, {1, 0xFFFF0001, 1, 0x600000001}},
        {OP(gadr_add_s32), 0x100000000, uint64_t(-1), {0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
        {OP(gadr_add_s32_in_place), 0x5FFFFFFFF, 2, {1, 0xFFFF0001, 0x500000001, 0x600000001}},
        {OP(gadr_add_s32_if_valid), 0xFFFFFFFF, 5, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x100000004}},
        {OP(gadr_sub_s32), 0x50000, 1, {0xFFFF, 0x5FFFF, 0x4FFFF, 0x4FFFF}},
        {OP(gadr_add_u64), 0x3FFF0, 0x20, {0x10, 0x30010, 0x40010, 0x40010}},
        {OP(gadr_sub_u64), 0, 1, {0xFFFF, 0xFFFF, 0xFFFFFFFF, ONES}},
        {OP(gadr_diff_s32), 0x90001, 0x10003, {-2, -2, 0x7FFFE, 0x7FFFE}},
        {OP(gadr_diff_u64), 0x100000010, 0x10, {0, 0, 0, 0x100000000}},
        // Scaling leaves the no-address value alone; 64-bit mode shifts by
        // the highest set bit of the factor; a divisor of 0 changes nothing.
        {OP(gadr_scale_up), 0xFFFFFFFF, 4, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x3FFFFFFFC}},
        {OP(gadr_scale_up), 0x80000001, 4, {4, 0x80000004, 4, 0x200000004}},
        {OP(gadr_scale_up), 0x10, 3, {0x30, 0x30, 0x30, 0x20}},
        {OP(gadr_scale_up), 0x9000, 2, {0x2000, 0x2000, 0x12000, 0x12000}},
        {OP(gadr_scale_down), 0x40, 3, {0x15, 0x15, 0x15, 0x20}},
        {OP(gadr_scale_down), 0x200000004, 2, {2, 2, 2, 0x100000002}},
        {OP(gadr_scale_down), 0x200000004, 0, {0x200000004, 0x200000004, 0x200000004, 0x200000004}},
        // Alignment works on the offset, lo or the whole value; hi stays.
        {OP(gadr_align_up), 0x1001, 0, {0x1001, 0x1001, 0x1001, 0x1001}},
        {OP(gadr_align_up), 0xFFFFFFF1, 16, {0xFFFF0000, 0xFFFF0000, 0, 0x100000000}},
        {OP(gadr_align_up), 0x50000FFF1, 8, {0x50000FFF8, 0x50000FFF8, 0x50000FFF8, 0x50000FFF8}},
        {OP(gadr_align_down), 0x1001, 12, {0xFFC, 0xFFC, 0xFFC, 0xFFC}},
        {OP(gadr_align_down), 0xFFFFFFFF, 16, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0}},
        // The lower (or higher) by lo with hi cleared, or by the whole value;
        // no 16-bit form (below).
        {OP(gadr_min), 0x700000005, 9, {NO16, 5, 5, 9}}, {OP(gadr_max), 0x700000005, 9, {NO16, 9, 9, 0x700000005}},
        {OP(gadr_max), 0x700000009, 5, {NO16, 9, 9, 0x700000009}},
    };
    for (const auto &row : rows) {
        for (uint32_t mode = row.want[0] == NO16 ? 1 : 0; mode < 4; ++mode) {
            gadr_set_mode(mode);
            EXPECT_EQ(row.op(row.a, row.b), row.want[mode])
                << row.what << "(" << std::hex << row.a << ", " << row.b << ") in mode " << mode;
        }
    }
}

TEST_F(Gadr, MinMaxTiesAndTheSixteenBitGap) {
    // Equal values give the second (min) or the first (max).
    for (uint32_t mode : {1, 2, 3}) {
        gadr_set_mode(mode);
        gadr a = A(0x100000000ull), b = A(0x100000000ull), c = A(0xFFFFFFFF);
        EXPECT_TRUE(&gadr_min_of(a, b) == &b && &gadr_max_of(a, b) == &a);
        EXPECT_EQ(&gadr_min_of(a, c), mode == 3 ? &c : &a);
    }
    gadr_set_mode(0);
    int64_t v = 0;
    EXPECT_MESSAGE(stderr_of([&] { v = op(gadr_min)(3, 2); }), "error: gadr: unimplemented 16bit case");
    EXPECT_EQ(v, 2);
}

TEST_F(Gadr, ModesEncodingsAndCheckFormat) {
    EXPECT_EQ(gadr_set_mode(3), 2u);
    EXPECT_TRUE(gadr_set_mode(1) == 3u && gadr_get_mode() == 1u);
    EXPECT_STREQ(adr_name_from_mode(1), "16bit-16seg");
    for (uint32_t m = 0; m < 4; ++m) EXPECT_EQ(gadr_mode_from_encoding(gadr_encoding_from_mode(m)), m);
    EXPECT_EQ(std::tuple(gadr_encoding_from_mode(1), gadr_get_mode_for_adr_byte_size(8, 0),
                         gadr_get_mode_for_adr_byte_size(2, 0), gadr_get_mode_for_adr_byte_size(2, 2)),
              std::tuple(0x42u, 3u, 0u, 1u));

    // Unknown values: a message each and a fallback.
    const char *name = nullptr;
    uint32_t v[3] = {};
    const std::string err = stderr_of([&] {
        name = adr_name_from_mode(7), v[0] = gadr_get_mode_for_adr_byte_size(4, 2);
        v[1] = gadr_encoding_from_mode(9), v[2] = gadr_mode_from_encoding(0x44);
    });
    EXPECT_EQ(std::tuple(std::string(name), v[0], v[1], v[2]), std::tuple("unknown", 2u, 4u, 2u));
    for (const char *m : {"error: [adr_name_from_mode]: unknown mode!\n", "[gadr_get_mode_for_adr_byte_size]: bad adr parameters",
                          "[gadr_encoding_from_mode]: unknown mode!", "[gadr_mode_from_encoding]: unknown mode!"})
        EXPECT_MESSAGE(err, m);

    // A high word where the mode has none is cleared, with a warning when asked.
    const struct { uint32_t mode; uint64_t value; int valid; uint64_t after; const char *warning; } checks[] = {
        {2, 0x100000005, 0, 5, "warning: gadr: invalid 32bit address format"},
        {0, 0x12340000, 0, 0x12340000, "gadr: invalid 16bit address format"}, {0, 0xFFFFFFFF, 1, 0xFFFFFFFF, ""},
        {1, 0x100000005, 0, 5, "gadr: invalid 16bit_16seg address format"},
        {3, 0x1234567800000000, 1, 0x1234567800000000, ""},
    };
    for (const auto &c : checks) {
        gadr_set_mode(c.mode);
        gadr g = A(c.value);
        int valid = -1;
        std::string err = stderr_of([&] { valid = gadr_check_format(g, 1); });
        EXPECT_EQ(std::tuple(valid, gadr_to_u64(g), err.empty()), std::tuple(c.valid, c.after, !*c.warning)) << c.mode;
        EXPECT_MESSAGE(err, c.warning);
        g = A(c.value);
        EXPECT_EQ(stderr_of([&] { gadr_check_format(g, 0); }), "") << "quiet when not asked";
    }
    uint64_t aligned = 0;
    gadr_set_mode(2);
    EXPECT_MESSAGE(stderr_of([&] { aligned = op(gadr_align_up)(0x1001, 12); }),
                   "warning: gadr_align_up: expected alignment to be power of 2");
    EXPECT_EQ(aligned, 0x1004u);
}

TEST_F(Gadr, FormatPerMode) {
    const struct { uint32_t mode; uint64_t value; const char *full, *brief; } cases[] = {
        {2, 0x100000002ull, "0x00000002", "0x2"}, {3, 0x100000002ull, "0x00000001_00000002", "0x1_00000002"},
        {0, 0x5002a, "0x002a", "0x2a"},           {1, 0x5002a, "0x0005002a", "0x5002a"}, {1, 0x2a, "0x002a", "0x2a"},
    };
    for (const auto &c : cases) {
        gadr_set_mode(c.mode);
        EXPECT_STREQ(gadr_to_string(A(c.value)), c.full);
        EXPECT_STREQ(gadr_to_short_string(A(c.value)), c.brief);
    }
    // Two results in one message must not share a buffer.
    gadr_set_mode(2);
    const char *x = gadr_to_string(A(1));
    EXPECT_EQ(std::string(x) + gadr_to_string(A(2)), "0x000000010x00000002");
}

TEST_F(Gadr, ScanGroupsScaleAndPosition) {
    const struct { uint32_t mode; const char *text; uint32_t scale; uint64_t value; size_t used; } cases[] = {
        {3, "0x12345678_9abcdef0 rest", 1, 0x123456789abcdef0, 19}, {3, "123456789", 1, 0x123456789, 9},
        {3, "ABCDEF01_2345", 1, 0xABCDEF012345, 13},  // 8 + 4 digits form one number
        {3, "00000001_zz", 1, 1, 9}, {2, " \t\v0X1234;", 2, 0x91A, 9},
        {2, "fedcba987", 1, 0xedcba987, 9},  // the lower 32 bits only
        {2, "1234567", 1, 0x1234567, 7},     // fewer than 8 digits: no second group
        {0, "12345", 1, 0x2345, 5}, {1, "0x48000", 2, 0x4000, 7},
    };
    gadr g;
    for (const auto &c : cases) {
        gadr_set_mode(c.mode);
        EXPECT_EQ(gadr_scan(c.text, c.scale, g), c.text + c.used) << c.text;
        EXPECT_EQ(gadr_to_u64(g), c.value) << c.text;
    }
    gadr_set_mode(3);
    EXPECT_MESSAGE(stderr_of([&] { gadr_scan("100", 2, g); }), "error: [gadr_scan]: illegal scale factor");
    EXPECT_EQ(gadr_to_u64(g), 0x100u);

    // Advancing reports whether anything was read.
    const char *p = "10 20", *q = "zz";
    EXPECT_TRUE(gadr_scan_advance(&p, 1, g) && gadr_scan_advance(&p, 1, g));
    EXPECT_TRUE(gadr_to_u64(g) == 0x20u && *p == '\0');
    EXPECT_FALSE(gadr_scan_advance(&p, 1, g) || gadr_scan_advance(&q, 1, g));
    EXPECT_STREQ(q, "zz");
}

TEST_F(Gadr, RangesPlainWrappingAndInvalid) {
    const struct { uint32_t mode; uint64_t x, low, high; int position; bool ordered, warns; } cases[] = {
        {2, 0x10, 0x10, 0x20, 0, true, false}, {2, 0x20, 0x10, 0x20, 1, true, false},
        // A range may wrap round the top of the address space...
        {2, 0x5, 0xFFFFFFF0, 0x10, 0, true, false}, {2, 0x10, 0xFFFFFFF0, 0x10, -1, true, false},
        {3, 0x8, 0xFFFFFFFF00000000, 0x10, 0, true, false},
        {3, 0x100000000, 0xFFFFFFFF00000000, 0x10, -1, true, false},
        {3, 0x100000005, 0x100000000, 0x100000010, 0, true, false}, {0, 0x5, 0xFFF0, 0x10, 0, true, false},
        // ... but not with a negative signed length (in 64-bit mode: unless
        // the high words are all ones and zero); a warning only where the
        // wrap would matter.
        {2, 0x5, 0x80000000, 0x10, -1, false, true}, {2, 0x90000000, 0x80000000, 0x10, 1, false, true},
        {2, 0x40, 0x80000000, 0x10, -1, false, false}, {3, 0x8, 0xFFFFFFF000000000, 0x10, -1, false, true},
        {0, 0x5, 0x8000, 0x10, -1, false, true},
    };
    for (const auto &c : cases) {
        gadr_set_mode(c.mode);
        int position = 9;
        std::string err = stderr_of([&] { position = gadr_range_position(A(c.x), A(c.low), A(c.high)); });
        EXPECT_EQ(std::tuple(position, gadr_range_is_ordered(A(c.low), A(c.high)), err.empty()),
                  std::tuple(c.position, c.ordered, !c.warns))
            << std::hex << c.x << " in [" << c.low << ", " << c.high << "): " << err;
        EXPECT_MESSAGE(err, c.warns ? "warning: gadr: invalid range" : "");
    }

    // The forms with a length or with 32-bit bounds; the latter put any
    // address with a high word above the range in 64-bit mode.
    gadr_set_mode(2);
    EXPECT_EQ((std::vector<int>{gadr_range_position_len(A(0x1F), A(0x10), 0x10),
                                gadr_range_position_len64(A(0x20), A(0x10), 0x10),
                                gadr_range_position_u32_len(A(0xB), 0x4, 8), gadr_range_position_u32_len(A(0xC), 0x4, 8),
                                gadr_range_position_u32(A(0x5), 0xFFFFFFF0, 0x10)}),
              (std::vector<int>{0, 1, 0, 1, 0}));
    gadr_set_mode(3);
    EXPECT_EQ(gadr_range_position_u32(A(0x100000005ull), 0, 0x10), 1);
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(gadr_range_position_u32(A(0x100000005ull), 0xFFFFFFF0, 0x10), 1); }), "");
    EXPECT_EQ(gadr_range_position_len64(A(0x1FFFFFFFFull), A(0xFFFFFFFF), 0x100000001ull), 0);
    gadr_set_mode(0);
    EXPECT_EQ(gadr_range_position_len(A(0x5), A(0xFFF0), 0x20), 0);
}

}  // namespace
