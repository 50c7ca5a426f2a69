// The stream reader under the readers: reads clipped to the stream, the
// count-against-remaining checks, and strings read up to their NUL with the
// stream left where a byte-wise reader would have left it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "instream.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using testing_support::open_bytes;

TEST(InStream, ReadsAtOffsetsAreClippedToTheStream) {
    auto f = open_bytes("abcdef");
    InStream in(f.get());
    EXPECT_EQ(in.size(), 6);
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(in.read_at(4, buf, 4), 2u);
    EXPECT_EQ(std::string(buf, 4), std::string("ef\0\0", 4)) << "bytes past the end read as zero";
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(in.read_at(6, buf, 2), 0u);
    EXPECT_EQ(in.read_at(UINT64_MAX, buf, 2), 0u);
    EXPECT_EQ(std::string(buf, 2), std::string("\0\0", 2));

    // Reads at the current position: short at the end, with the end noted;
    // skip reads and drops.
    in.seek(1);
    EXPECT_TRUE(in.skip(2));
    EXPECT_EQ(in.left(), 3);
    EXPECT_EQ(in.read(buf, 8), 3u);
    EXPECT_EQ(std::string(buf, 3), "def");
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.error());
    EXPECT_EQ(in.left(), 0);
    EXPECT_FALSE(in.skip(1));
    EXPECT_TRUE(in.try_seek(2));
    EXPECT_TRUE(in.move_to(2));
    EXPECT_TRUE(in.read_exact(buf, 4));
}

TEST(InStream, CountsAreCheckedAgainstTheBytesLeft) {
    auto f = open_bytes(std::string(100, 'z'));
    InStream in(f.get());
    EXPECT_TRUE(in.fits(0, 100));
    EXPECT_TRUE(in.fits(100, 0));
    EXPECT_FALSE(in.fits(1, 100));
    EXPECT_FALSE(in.fits(101, 0));
    EXPECT_FALSE(in.fits(UINT64_MAX, 2)) << "offset plus count wraps around";

    EXPECT_TRUE(in.holds(20, 10, 8));
    EXPECT_FALSE(in.holds(20, 11, 8));
    // A count whose product with the entry size wraps to a small number.
    EXPECT_FALSE(in.holds(0, (UINT64_MAX / 16) + 2, 16));
    EXPECT_TRUE(in.holds(0, UINT64_MAX, 0));

    in.seek(40);
    EXPECT_TRUE(in.holds_here(6, 10));
    EXPECT_FALSE(in.holds_here(7, 9));
    EXPECT_FALSE(in.holds_here(uint64_t(1) << 62, 8));

    // A directory opened as a stream has no size (its seek to the end gives
    // a made-up figure), so nothing fits in it.
    FILE *dir = std::fopen(testing_support::make_temp_dir().c_str(), "rb");
    ASSERT_NE(dir, nullptr);
    InStream d(dir);
    EXPECT_EQ(d.size(), -1);
    EXPECT_FALSE(d.fits(0, 4));
    std::fclose(dir);
}

TEST(InStream, StringsEndAtNulLimitOrEndOfStream) {
    // Names on both sides of a read chunk, one cut by the end of the stream.
    const std::string long_name(300, 'n');
    auto f = open_bytes(std::string("ab\0", 3) + long_name + std::string(1, 0) + "tail");
    InStream in(f.get());
    std::string s;
    ASSERT_TRUE(in.read_string(s, SIZE_MAX));
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(in.tell(), 3) << "left behind the NUL";
    ASSERT_TRUE(in.read_string(s, SIZE_MAX));
    EXPECT_EQ(s, long_name);
    EXPECT_EQ(in.tell(), 304);
    ASSERT_TRUE(in.read_string(s, SIZE_MAX));
    EXPECT_EQ(s, "tail");
    EXPECT_FALSE(in.read_string(s, SIZE_MAX)) << "nothing left";
    EXPECT_EQ(s, "");

    // At most `max` characters; the stream stays right behind them.
    in.seek(3);
    ASSERT_TRUE(in.read_string(s, 5));
    EXPECT_EQ(s, "nnnnn");
    EXPECT_EQ(in.tell(), 8);
    EXPECT_TRUE(in.read_string(s, 0));
    EXPECT_EQ(in.tell(), 8);

    // A NUL that is the last byte of the stream: the next read at a sought
    // position still works (no end-of-file mark is left behind).
    auto g = open_bytes(std::string("xy\0", 3));
    InStream last(g.get());
    ASSERT_TRUE(last.read_string(s, 100));
    EXPECT_EQ(s, "xy");
    EXPECT_EQ(last.tell(), 3);
    EXPECT_FALSE(last.eof());
}

}  // namespace
