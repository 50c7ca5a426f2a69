// Message classes, prefixes, counters and the exit paths of diagnostics.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"

namespace {

// Runs `body` with the program name set to `name` (or none) and returns
// what it wrote to standard error.
template <typename F>
std::string stderr_of(const char *name, F body) {
    gen_setprogname(name);
    testing::internal::CaptureStderr();
    body();
    std::string err = testing::internal::GetCapturedStderr();
    gen_setprogname(nullptr);
    return err;
}

TEST(Messages, PrefixesLineEndsAndSystemErrors) {
    EXPECT_EQ(stderr_of("prog", [] { gen_info("i"); }), "prog: info: i\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_message("a\nb"); }), "a\nb\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_call_message_hook(0, "plain"); }), "prog: plain\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_call_message_hook(1, "d"); }), "prog: disaster: d\n");
    // Without a program name the class word stays; one line end only.
    EXPECT_EQ(stderr_of("", [] { gen_error("ends\n"); }), "error: ends\n");
    EXPECT_EQ(stderr_of(nullptr, [] { gen_warning("w"); }), "warning: w\n");
    // A system error adds errno's text (none for 0) and clears errno.
    EXPECT_EQ(stderr_of("p", [] { errno = ENOENT, gen_perror("Error reading from '%s'", "f"); }),
              std::string("p: fatal: Error reading from 'f': ") + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(stderr_of("p", [] { gen_call_message_hook(103, "no error\n"); }), "p: error: no error\n");
}

TEST(MessagesDeathTest, FatalAndAssertionExits) {
    gen_setprogname("prog");
    EXPECT_EXIT(gen_fatal(2, "boom %d", 7), testing::ExitedWithCode(2), "^prog: fatal: boom 7\n$");
    EXPECT_EXIT(gen_fatal(0, "quiet"), testing::ExitedWithCode(0), "^prog: quiet\n$");
    EXPECT_EXIT(gen_assert_msg(false, "x=%d", 1), testing::ExitedWithCode(1), "^prog: assertion: x=1\n$");
    EXPECT_EXIT(gen_assert(false, "a > b", "src/shared/genout", 12, 0), testing::ExitedWithCode(1),
                "^Assertion \\(a > b\\) failed in 'src/shared/genout' on line 12 in prog\n$");
    EXPECT_EXIT(gen_assert(false, "x", "f", 3, 5), testing::ExitedWithCode(1),
                "^Assertion \\[5\\] failed in 'f' on line 3 in prog\n$");
    EXPECT_EXIT(gen_str64(nullptr, 1, 'x'), testing::ExitedWithCode(1), "gen_str64\\(\\): Buffer to fill is NULL");
    char buf[32];
    EXPECT_EXIT(gen_str64(buf, 1, 'q'), testing::ExitedWithCode(1), "gen_str64\\(\\): Unrecognized format character");
    gen_setprogname(nullptr);
    EXPECT_EXIT(gen_assert(false, "c", "f", 1, 0), testing::ExitedWithCode(1), "^Assertion \\(c\\) failed in 'f' on line 1\n$");
    gen_assert(true, "c", "f", 1, 0);  // a holding condition does nothing
}

}  // namespace
