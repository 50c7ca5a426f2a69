// Checked allocation, string helpers, checked files, the stream reader,
// argument files (the messages of a missing argument file are checked end
// to end), the formatter and the exits of fatal messages and assertions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "instream.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::take;
using testing_support::write_file;
using Args = std::vector<std::string>;
using Ints = std::vector<int64_t>;

TEST(Alloc, CountZeroOverflowAndScratchRing) {
    EXPECT_EQ(gen_calloc(0, 100), nullptr);
    char *p = static_cast<char *>(gen_calloc(3, 5));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p, 15), std::string(15, '\0'));
    EXPECT_EQ(gen_realloc(p, 0), nullptr);

    // The ring is shared by the whole process and never shrinks, so use more
    // slots than any other user asks for: the first buffer comes back after
    // the last slot.
    const int slots = 64;
    void *first = gen_scratch_buffer(slots, 16);
    for (int i = 1; i < slots; ++i) EXPECT_NE(gen_scratch_buffer(slots, 16), first);
    EXPECT_EQ(gen_scratch_buffer(slots, 8), first);
    EXPECT_EQ(gen_scratch_buffer(slots, 0), nullptr);
    EXPECT_EQ(std::string(static_cast<char *>(gen_scratch_buffer_zeroed(slots, 64)), 64), std::string(64, '\0'));
}

TEST(AllocDeathTest, ExhaustionMessages) {
    gen_setprogname("prog");
    EXPECT_EXIT(gen_calloc(size_t(1) << 32, size_t(1) << 32), testing::ExitedWithCode(3),
                "^prog: fatal: Attempt to allocate 0x100000000 \\* 0x100000000 bytes\n$");
    EXPECT_EXIT(gen_out_of_memory(0x10), testing::ExitedWithCode(3),
                "^prog: fatal: Out of memory \\(0x0000000000000010 bytes requested\\)\n$");
    EXPECT_EXIT(gen_realloc_fn(nullptr, INT64_MAX), testing::ExitedWithCode(3), "Out of memory \\(0x7FFFFFFFFFFFFFFF");
    gen_setprogname(nullptr);
}

TEST(Strings, NullsCaseAndBounds) {
    EXPECT_EQ(gen_strcat2(nullptr, nullptr), nullptr);
    EXPECT_EQ(gen_strndup("ab", -1), nullptr);
    EXPECT_EQ((Args{take(gen_strcat2("a", nullptr)), take(gen_strcat3("a", nullptr, "c")), take(gen_strcat4(nullptr, "b", nullptr, "d")),
                    take(gen_strndup("abcdef", 3)), take(gen_strndup("ab", 5)), take(gen_strndup("ab", 0)) + "|",
                    take(gen_strdup_lower("AbC1")), gen_basename("a/b\\c.o"), gen_basename("C:x.o"), gen_basename("plain")}),
              (Args{"a", "ac", "bd", "abc", "ab", "|", "abc1", "c.o", "x.o", "plain"}));
    // Truth values and comparisons, each against its expected answer.
    EXPECT_EQ((Ints{gen_strequal(nullptr, nullptr), gen_strequal("a", nullptr), gen_strequal_nocase("ABC", "abc"),
                    gen_strnequal("abcX", "abcY", 3), gen_strnequal("a", "b", 0), gen_strcmp(nullptr, ""),
                    gen_strncmp("abc", "abd", 3), gen_strncmp("abc", "abd", 0), gen_strcmp_nocase("B", "a")}),
              (Ints{1, 0, 1, 1, 1, 0, -1, 0, 1}));
    EXPECT_EQ((Ints{gen_strprefix("abc", nullptr), gen_strprefix(nullptr, "a"), gen_strprefix_nocase("ABc", "ab"),
                    gen_strsuffix("file.EXE", ".EXE"), gen_strsuffix("e", "exe"), gen_strsuffix("e", nullptr), gen_strsuffix(nullptr, "e"),
                    gen_strnprefix_nocase(nullptr, "a", 1), gen_strnprefix_nocase("ABx", "aby", 2)}),
              (Ints{1, 0, 1, 1, 0, 1, 0, 0, 1}));
    EXPECT_EQ((Ints{int64_t(gen_strtoul("0x10", nullptr, 0)), int64_t(gen_strtoul("010", nullptr, 0)),
                    int64_t(gen_strtoul("4294967297", nullptr, 10))}), (Ints{16, 8, 1}));
    char *end = reinterpret_cast<char *>(1);
    EXPECT_EQ(gen_strtoul(nullptr, &end, 0), 0u);
    EXPECT_EQ(end, nullptr);

    char **vec;
    int32_t count;
    gen_strvec_init(&vec, &count);
    gen_strvec_append(&vec, &count, "one");
    gen_strvec_append_n(&vec, &count, "twoXX", 3);
    EXPECT_EQ(gen_strvec_find(vec, count, "TWO", true), 1);
    EXPECT_EQ(gen_strvec_find(vec, count, "TWO", false), -1);
    gen_strvec_free(&vec, &count);
    EXPECT_EQ(vec, nullptr);
}

TEST(FilesDeathTest, OpenFailuresAppendAndClose) {
    std::string dir = make_temp_dir();
    gen_setprogname("prog");
    EXPECT_EXIT(gen_fopen_or_die(dir.c_str(), "input", "rb"), testing::ExitedWithCode(1),
                "^prog: fatal: Unable to open input '" + dir + "' for input: " + std::strerror(EISDIR));
    EXPECT_EXIT(gen_fopen_or_die((dir + "/none/x").c_str(), nullptr, "ab"), testing::ExitedWithCode(1),
                "Unable to open .*/none/x for output: ");
    EXPECT_EXIT(gen_strtoll(nullptr, nullptr, 10), testing::ExitedWithCode(1), "gen_strtoll\\(\\): str is NULL");
    gen_setprogname(nullptr);
    EXPECT_EQ((Ints{gen_is_directory((dir + "/").c_str()), gen_is_directory("")}), (Ints{1, -1}));

    const std::string path = dir + "/f";
    write_file(path, "abc");
    FILE *fp = gen_fopen_or_die(path.c_str(), "log", "ab");
    EXPECT_EQ((Ints{gen_ftell64(fp), int64_t(gen_safe_fwrite(path.c_str(), "de", 1, 2, fp)), gen_safe_fclose(path.c_str(), "log", fp),
                    gen_file_size(path.c_str())}), (Ints{3, 2, 0, 5}));

    testing::internal::CaptureStderr();
    char buf[4];
    EXPECT_EQ((Ints{gen_safe_fclose("x", "archive", nullptr), int64_t(gen_safe_fread("x", nullptr, 1, 1, stdin)),
                    int64_t(gen_safe_fread("x", buf, 1, 0, stdin))}), (Ints{-1, -1, 0}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error: Attempt to close NULL file archive 'x'\nerror: internal: null buffer passed to gen_safe_fread\n");
}

// Expands a command line; "@" stands for an argument file holding `text`.
Args expand(const Args &args, const std::string &text = "") {
    std::string path = make_temp_dir() + "/args";
    write_file(path, text);
    std::vector<std::string> storage = {"prog"};
    for (const auto &a : args) storage.push_back(a == "@" ? "@" + path : a);
    std::vector<char *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = int(storage.size());
    char **out = gen_expand_argfiles(&argc, argv.data());
    EXPECT_EQ(out[argc], nullptr);
    gen_set_atfile_syntax(0, 0, 0, 0);
    return Args(out + 1, out + argc);
}

TEST(ArgFiles, Syntaxes) {
    const std::string F = "-freeform_atfile";
    const struct {
        Args args;
        std::string text;
        Args want;
    } cases[] = {
        // One argument per line; CR LF, empty lines and a final ^Z dropped.
        {{"@"}, "x\r\ny\r\n\n\x1a", {"x", "y"}},
        // A switch read from a file is an ordinary argument.
        {{"@"}, F + "\n#x\n", {F, "#x"}},
        // Free form: blanks separate, '#' starts a comment at the start of a
        // word, quotes only around a whole line.
        {{F, "@"}, "# comment\n#tight\nx#y  # tail", {"x#y"}},
        {{F, "@"}, "\"a b # c\"\n", {"a b # c"}},
        {{F, "@"}, "\"a b\" c\n", {"\"a", "b\"", "c"}},
        {{F, "@"}, "\"\n", {""}},
        {{F, "@"}, "\"x\r\n\"y\"\r\n", {"\"x", "y"}},
        // The switches apply to the files after them and are dropped.
        {{"@", F, "@", "-no_freeform_atfile", "@", F}, "p q\n", {"p q", "p", "q", "p q"}},
    };
    for (const auto &c : cases) EXPECT_EQ(expand(c.args, c.text), c.want) << c.text;
}

void reenter_exit() { gen_exit(7); }

TEST(StartupDeathTest, ExitIsEnteredOnce) {
    // An exit handler that exits again ends the process with the second
    // status; after the exit has begun, frees do nothing.
    EXPECT_EXIT(
        {
            std::atexit(reenter_exit);
            gen_exit(3);
        },
        testing::ExitedWithCode(7), "");
    EXPECT_EXIT(
        {
            std::atexit([] {
                char *p = gen_strdup("x");
                gen_free_fn(p);
                gen_free_fn(p);  // a second real free would abort
                std::_Exit(p[0] == 'x' ? 5 : 6);
            });
            gen_exit(0);
        },
        testing::ExitedWithCode(5), "");
}

// The stream reader under the readers: counts are checked against the
// bytes that remain before anything is read or allocated.
TEST(InStream, CountsAreCheckedAgainstTheBytesLeft) {
    auto f = testing_support::open_bytes(std::string(100, 'z'));
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
    FILE *dir = std::fopen(make_temp_dir().c_str(), "rb");
    ASSERT_NE(dir, nullptr);
    InStream d(dir);
    EXPECT_TRUE(d.size() == -1 && !d.fits(0, 4));
    std::fclose(dir);
}

// The formatter against the C rules, and its own length prefixes.
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

// Fatal messages and assertions end the program with their status.
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
