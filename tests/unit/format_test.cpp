// The library's formatter against the C rules, and its own length prefixes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "genout.h"

namespace {

template <typename... A>
std::string fmt(const char *f, A... a) {
    char buf[256];
    gen_snprintf(buf, sizeof buf, f, a...);
    return buf;
}

TEST(Format, OwnPrefixesAndAlternateForms) {
    EXPECT_EQ(fmt("%I64x", uint64_t(0x123456789abcdefULL)), "123456789abcdef");
    EXPECT_EQ(fmt("%I64d", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(fmt("%#zx", size_t(0x100000000ULL)), "0x100000000");
    EXPECT_EQ(fmt("0x%08I64x", uint64_t(0x123456789ULL)), "0x123456789");
    EXPECT_EQ(fmt("%I32x", 0xffu), "ff");
    // The alternate form of zero has no prefix.
    EXPECT_EQ(fmt("%#7I64x|%#7I64x|", uint64_t(0), uint64_t(16)), "      0|   0x10|");
    char buf[32], buf2[32];
    EXPECT_EQ(std::string(gen_str64(buf, 255, 'x')) + " " + gen_str64(buf2, -255, 'd'), "ff -255");
}

TEST(Format, AgreesWithTheCLibrary) {
    const char *formats[] = {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%8.3d", "%-8.3d|", "%08.3d",
                             "%x", "%#10x", "%#-10x|", "%#010x", "%.0d", "%.0x", "%u", "%o", "%#.5o", "%#X", "%#o"};
    int values[] = {0, 1, -1, 42, -42, 123456, INT32_MIN, INT32_MAX};
    for (const char *f : formats)
        for (int v : values) {
            char want[128];
            std::snprintf(want, sizeof want, f, v);
            EXPECT_EQ(fmt(f, v), want) << f << " with " << v;
        }
    EXPECT_EQ(fmt("%-31s|", "abc"), std::string("abc") + std::string(28, ' ') + "|");
    EXPECT_EQ(fmt("%-20s %.2s|%5.1s|", "a_name_longer_than_twenty", "abc", "xyz"), "a_name_longer_than_twenty ab|    x|");
    EXPECT_EQ(fmt("%*d|%-*d|", 4, 7, 3, 1), "   7|1  |");
    EXPECT_EQ(fmt("%c%%%s", 'a', static_cast<const char *>(nullptr)), "a%(null)");
    EXPECT_EQ(fmt("%lld %llu %hd %hhx", -3LL, 3ULL, 70000, 0x1ff), "-3 3 4464 ff");
    EXPECT_EQ(fmt("%5.2f|%e|%A", 3.14159, 1.0, 1.0), " 3.14|1.000000e+00|0X1P+0");
    // Truncated output still counts every character.
    char small[5];
    EXPECT_EQ(gen_snprintf(small, sizeof small, "%s", "abcdefgh"), 8);
    EXPECT_STREQ(small, "abcd");
    EXPECT_EQ(gen_snprintf(nullptr, 0, "%d", 12345), 5);
}

}  // namespace
