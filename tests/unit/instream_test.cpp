// The stream reader under the readers: counts are checked against the bytes
// that remain before anything is read or allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "instream.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using testing_support::open_bytes;

TEST(InStream, CountsAreCheckedAgainstTheBytesLeft) {
    auto f = open_bytes(std::string(100, 'z'));
    InStream in(f.get());
    // The last two of fits and the third of holds wrap around in 64 bits.
    EXPECT_EQ((std::vector<bool>{in.fits(0, 100), in.fits(100, 0), in.fits(1, 100), in.fits(101, 0), in.fits(UINT64_MAX, 2)}),
              (std::vector<bool>{true, true, false, false, false}));
    EXPECT_EQ((std::vector<bool>{in.holds(20, 10, 8), in.holds(20, 11, 8), in.holds(0, (UINT64_MAX / 16) + 2, 16),
                                 in.holds(0, UINT64_MAX, 0)}),
              (std::vector<bool>{true, false, false, true}));
    in.seek(40);
    EXPECT_EQ((std::vector<bool>{in.holds_here(6, 10), in.holds_here(7, 9), in.holds_here(uint64_t(1) << 62, 8)}),
              (std::vector<bool>{true, false, false}));

    // A directory opened as a stream has no size (its seek to the end gives
    // a made-up figure), so nothing fits in it.
    FILE *dir = std::fopen(testing_support::make_temp_dir().c_str(), "rb");
    ASSERT_NE(dir, nullptr);
    InStream d(dir);
    EXPECT_TRUE(d.size() == -1 && !d.fits(0, 4));
    std::fclose(dir);
}

}  // namespace
