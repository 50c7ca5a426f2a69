// Message classes, prefixes, counters and the exit paths of diagnostics.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Runs `body` with the program name set to `name` (or none) and returns
// what it wrote to standard error.
template <typename F>
std::string stderr_of(const char *name, F body) {
    gen_setprogname(name);
    CaptureStderr();
    body();
    std::string err = GetCapturedStderr();
    gen_setprogname(nullptr);
    return err;
}

TEST(Messages, PrefixesByClass) {
    EXPECT_EQ(stderr_of("prog", [] { gen_error("bad %s", "a.o"); }), "prog: error: bad a.o\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_warning("w"); }), "prog: warning: w\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_info("i"); }), "prog: info: i\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_message("x"); }), "x\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_call_message_hook(0, "plain"); }), "prog: plain\n");
    EXPECT_EQ(stderr_of("prog", [] { gen_call_message_hook(1, "d"); }), "prog: disaster: d\n");
    // Without a program name there is no program prefix, but the class word stays.
    EXPECT_EQ(stderr_of(nullptr, [] { gen_error("e"); }), "error: e\n");
    EXPECT_EQ(stderr_of("", [] { gen_error("e"); }), "error: e\n");
}

TEST(Messages, OneLineEndOnly) {
    EXPECT_EQ(stderr_of("p", [] { gen_error("ends\n"); }), "p: error: ends\n");
    EXPECT_EQ(stderr_of("p", [] { gen_message("a\nb"); }), "a\nb\n");
}

TEST(Messages, SystemErrorText) {
    std::string expected = std::string("p: fatal: Error reading from 'f': ") + std::strerror(ENOENT) + "\n";
    EXPECT_EQ(stderr_of("p", [] {
                  errno = ENOENT;
                  gen_perror("Error reading from '%s'", "f");
              }),
              expected);
    EXPECT_EQ(errno, 0);
    // With errno 0 there is no ": text" part, and a format ending in a line
    // end gets no second one.
    EXPECT_EQ(stderr_of("p", [] {
                  errno = 0;
                  gen_call_message_hook(103, "no error\n");
              }),
              "p: error: no error\n");
}

TEST(Messages, UnknownClassesAreNotCounted) {
    uint32_t before[GEN_MSG_CLASSES];
    std::memcpy(before, gen_error_count, sizeof before);
    uint32_t total = gen_total_errors;
    EXPECT_EQ(stderr_of("p", [] { gen_call_message_hook(7, "seven"); }), "p: seven\n");
    EXPECT_EQ(stderr_of("p", [] { gen_call_message_hook(100, "hundred"); }), "p: hundred\n");
    EXPECT_EQ(std::memcmp(before, gen_error_count, sizeof before), 0);
    EXPECT_EQ(gen_total_errors, total);

    stderr_of("p", [] {
        gen_error("e");
        gen_warning("w");
        gen_message("m");
    });
    EXPECT_EQ(gen_error_count[GEN_MSG_ERROR], before[GEN_MSG_ERROR] + 1);
    EXPECT_EQ(gen_error_count[GEN_MSG_WARNING], before[GEN_MSG_WARNING] + 1);
    EXPECT_EQ(gen_error_count[GEN_MSG_PLAIN], before[GEN_MSG_PLAIN] + 1);
    EXPECT_EQ(gen_total_errors, total + 1);
}

TEST(Messages, StandardOutputIsFlushedFirst) {
    // A report line still in the output buffer must come out before the message.
    testing::internal::CaptureStdout();
    std::fputs("line", stdout);
    std::string err = stderr_of("p", [] { gen_error("e"); });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "line");
    EXPECT_EQ(err, "p: error: e\n");
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
