// Checked allocation, string helpers, checked files and argument files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "run_program.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::write_file;

struct Owned {
    char *p;
    explicit Owned(char *s) : p(s) {}
    ~Owned() { gen_free_fn(p); }
    std::string str() const { return p ? p : "<null>"; }
};

TEST(Alloc, CountZeroAndOverflow) {
    EXPECT_EQ(gen_calloc(0, 100), nullptr);
    void *p = gen_calloc(3, 5);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(static_cast<char *>(p)[i], 0);
    p = gen_realloc(p, 0);
    EXPECT_EQ(p, nullptr);
    p = gen_realloc(nullptr, 8);
    EXPECT_NE(p, nullptr);
    gen_free_and_clear(&p);
    EXPECT_EQ(p, nullptr);
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

TEST(Alloc, ScratchRingReusesAfterSlots) {
    // The ring is shared by the whole process and never shrinks, so use more
    // slots than any other user asks for.
    const int slots = 64;
    void *first = gen_scratch_buffer(slots, 16);
    std::vector<void *> seen = {first};
    for (int i = 1; i < slots; ++i) seen.push_back(gen_scratch_buffer(slots, 16));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_EQ(gen_scratch_buffer(slots, 8), first);
    EXPECT_EQ(gen_scratch_buffer(slots, 0), nullptr);
    char *s = gen_scratch_strdup(slots, "abc");
    EXPECT_STREQ(s, "abc");
    char *z = static_cast<char *>(gen_scratch_buffer_zeroed(slots, 64));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
}

TEST(Strings, JoinAndCopy) {
    EXPECT_EQ(Owned(gen_strcat2(nullptr, nullptr)).p, nullptr);
    EXPECT_EQ(Owned(gen_strcat2("", "x")).str(), "x");
    EXPECT_EQ(Owned(gen_strcat2("a", nullptr)).str(), "a");
    EXPECT_EQ(Owned(gen_strcat2("a", "b")).str(), "ab");
    EXPECT_EQ(Owned(gen_strcat3("a", nullptr, "c")).str(), "ac");
    EXPECT_EQ(Owned(gen_strcat3("a", "b", "c")).str(), "abc");
    EXPECT_EQ(Owned(gen_strcat4(nullptr, "b", nullptr, "d")).str(), "bd");
    EXPECT_EQ(Owned(gen_strndup("abcdef", 3)).str(), "abc");
    EXPECT_EQ(Owned(gen_strndup("ab", 5)).str(), "ab");
    EXPECT_EQ(gen_strndup("ab", -1), nullptr);
    EXPECT_EQ(Owned(gen_strdup_lower("AbC1")).str(), "abc1");
    char *moved = gen_strdup("x");
    gen_strreplace(&moved, "y");
    EXPECT_STREQ(moved, "y");
    gen_free_fn(moved);
}

TEST(Strings, Comparisons) {
    EXPECT_TRUE(gen_strequal(nullptr, nullptr));
    EXPECT_FALSE(gen_strequal("a", nullptr));
    EXPECT_TRUE(gen_strequal_nocase("ABC", "abc"));
    EXPECT_TRUE(gen_strnequal("abcX", "abcY", 3));
    EXPECT_TRUE(gen_strnequal("a", "b", 0));
    EXPECT_EQ(gen_strcmp(nullptr, ""), 0);
    EXPECT_EQ(gen_strncmp("abc", "abd", 3), -1);
    EXPECT_EQ(gen_strncmp("abc", "abd", 0), 0);
    EXPECT_EQ(gen_strcmp_nocase("B", "a"), 1);
    EXPECT_TRUE(gen_strprefix("abc", nullptr));
    EXPECT_FALSE(gen_strprefix(nullptr, "a"));
    EXPECT_TRUE(gen_strprefix_nocase("ABc", "ab"));
    EXPECT_TRUE(gen_strsuffix("file.EXE", ".EXE"));
    EXPECT_FALSE(gen_strsuffix("e", "exe"));
    EXPECT_STREQ(gen_basename("a/b\\c.o"), "c.o");
    EXPECT_STREQ(gen_basename("C:x.o"), "x.o");
    EXPECT_STREQ(gen_basename("plain"), "plain");
    EXPECT_EQ(gen_strtoul("0x10", nullptr, 0), 16u);
    EXPECT_EQ(gen_strtoul("010", nullptr, 0), 8u);
    EXPECT_EQ(gen_strtoul("4294967297", nullptr, 10), 1u);
    char *end = reinterpret_cast<char *>(1);
    EXPECT_EQ(gen_strtoul(nullptr, &end, 0), 0u);
    EXPECT_EQ(end, nullptr);
}

TEST(Strings, Vectors) {
    char **vec;
    int32_t count;
    gen_strvec_init(&vec, &count);
    gen_strvec_append(&vec, &count, "one");
    gen_strvec_append_n(&vec, &count, "twoXX", 3);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(gen_strvec_find(vec, count, "TWO", true), 1);
    EXPECT_EQ(gen_strvec_find(vec, count, "TWO", false), -1);
    gen_strvec_free(&vec, &count);
    EXPECT_EQ(vec, nullptr);
}

TEST(FilesDeathTest, OpenFailuresNameTheFileAndDirection) {
    std::string dir = make_temp_dir();
    gen_setprogname("prog");
    std::string is_dir = std::string("^prog: fatal: Unable to open input '") + dir + "' for input: " + std::strerror(EISDIR);
    EXPECT_EXIT(gen_fopen_or_die(dir.c_str(), "input", "rb"), testing::ExitedWithCode(1), is_dir);
    std::string missing = dir + "/none/x";
    EXPECT_EXIT(gen_fopen_or_die(missing.c_str(), nullptr, "ab"), testing::ExitedWithCode(1),
                "Unable to open .*/none/x for output: ");
    EXPECT_EXIT(gen_strtoll(nullptr, nullptr, 10), testing::ExitedWithCode(1), "gen_strtoll\\(\\): str is NULL");
    gen_setprogname(nullptr);
    EXPECT_EQ(gen_is_directory(dir.c_str()), 1);
    EXPECT_EQ(gen_is_directory((dir + "/").c_str()), 1);
    EXPECT_EQ(gen_is_directory(""), -1);
}

TEST(Files, AppendSeeksToEndAndCloseReports) {
    std::string path = make_temp_dir() + "/f";
    write_file(path, "abc");
    FILE *fp = gen_fopen_or_die(path.c_str(), "log", "ab");
    EXPECT_EQ(gen_ftell64(fp), 3);
    EXPECT_EQ(gen_safe_fwrite(path.c_str(), "de", 1, 2, fp), 2);
    EXPECT_EQ(gen_safe_fclose(path.c_str(), "log", fp), 0);
    EXPECT_EQ(testing_support::read_file(path), "abcde");
    EXPECT_EQ(gen_file_size(path.c_str()), 5);

    testing::internal::CaptureStderr();
    EXPECT_EQ(gen_safe_fclose("x", "archive", nullptr), -1);
    char buf[4];
    EXPECT_EQ(gen_safe_fread("x", nullptr, 1, 1, stdin), -1);
    EXPECT_EQ(gen_safe_fread("x", buf, 1, 0, stdin), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error: Attempt to close NULL file archive 'x'\nerror: internal: null buffer passed to gen_safe_fread\n");
}

// Writes an argument file and expands a command line that names it.
std::vector<std::string> expand(const std::vector<std::string> &args, const std::string &text, bool freeform = false) {
    std::string path = make_temp_dir() + "/args";
    write_file(path, text);
    std::vector<std::string> storage = {"prog"};
    if (freeform) storage.push_back("-freeform_atfile");
    for (const auto &a : args) storage.push_back(a == "@" ? "@" + path : a);
    std::vector<char *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = int(storage.size());
    char **out = gen_expand_argfiles(&argc, argv.data());
    std::vector<std::string> result;
    for (int i = 1; i < argc; ++i) result.emplace_back(out[i]);
    EXPECT_EQ(out[argc], nullptr);
    gen_set_atfile_syntax(0, 0, 0, 0);
    return result;
}

using Args = std::vector<std::string>;

TEST(ArgFiles, LineSyntax) {
    EXPECT_EQ(expand({"a", "@", "z"}, "one two\n\n  three  \n"), (Args{"a", "one two", "  three  ", "z"}));
    EXPECT_EQ(expand({"@"}, "x\r\ny\r\n"), (Args{"x", "y"}));
    EXPECT_EQ(expand({"a", "@", "b"}, ""), (Args{"a", "b"}));
    EXPECT_EQ(expand({"a", "@", "b"}, "\n\r\n\x1a"), (Args{"a", "b"}));
    // A switch read from a file is an ordinary argument.
    EXPECT_EQ(expand({"@"}, "-freeform_atfile\n#x\n"), (Args{"-freeform_atfile", "#x"}));
}

TEST(ArgFiles, FreeformSyntax) {
    EXPECT_EQ(expand({"@"}, "one two\nthree", true), (Args{"one", "two", "three"}));
    EXPECT_EQ(expand({"@"}, "# comment\n#tight\nx#y  # tail", true), (Args{"x#y"}));
    EXPECT_EQ(expand({"@"}, "\"a b # c\"\n", true), (Args{"a b # c"}));
    EXPECT_EQ(expand({"@"}, "\"a b\" c\n", true), (Args{"\"a", "b\"", "c"}));
    EXPECT_EQ(expand({"@"}, "\"\n", true), (Args{""}));
    EXPECT_EQ(expand({"@"}, "\"x\r\n\"y\"\r\n", true), (Args{"\"x", "y"}));
    EXPECT_EQ(expand({"a", "@", "b"}, "  \t# only a comment", true), (Args{"a", "b"}));
}

TEST(ArgFiles, SwitchesApplyToLaterFilesAndAreDropped) {
    std::string dir = make_temp_dir();
    write_file(dir + "/f", "p q\n");
    std::string at = "@" + dir + "/f";
    std::vector<std::string> storage = {"prog", at, "-freeform_atfile", at, "-no_freeform_atfile", at, "-freeform_atfile"};
    std::vector<char *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    int argc = int(storage.size());
    char **out = gen_expand_argfiles(&argc, argv.data());
    Args got(out + 1, out + argc);
    EXPECT_EQ(got, (Args{"p q", "p", "q", "p q"}));
    gen_set_atfile_syntax(0, 0, 0, 0);
}

TEST(ArgFilesDeathTest, MissingFile) {
    gen_setprogname("prog");
    std::vector<std::string> storage = {"prog", "@/nonexistent/file"};
    std::vector<char *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    int argc = 2;
    EXPECT_EXIT(gen_expand_argfiles(&argc, argv.data()), testing::ExitedWithCode(1),
                "^prog: fatal: Cannot open file '/nonexistent/file'\n$");
    gen_setprogname(nullptr);
}

TEST(Startup, ProgramNameFromPath) {
    gen_init("/opt/tools/FUNSIZE.EXE", 0, 0);
    EXPECT_STREQ(gen_getprogname(), "FUNSIZE");
    EXPECT_STREQ(gen_getprogpath(), "/opt/tools/FUNSIZE.EXE");
    gen_init("C:\\tools\\funsize.exe", 0, 0);
    EXPECT_STREQ(gen_getprogname(), "funsize");
    gen_init("/opt/tools/funsize.bin", 0, 0);
    EXPECT_STREQ(gen_getprogname(), "funsize.bin");
    // A relative path is replaced by the running executable's own path.
    gen_init("relative/name.exe", 0, 0);
    EXPECT_STREQ(gen_getprogname(), "unit_tests");
    EXPECT_TRUE(gen_path_is_absolute("~"));
    EXPECT_TRUE(gen_path_is_absolute("~/x"));
    EXPECT_FALSE(gen_path_is_absolute("~x"));
    gen_setprogname(nullptr);
}

void reenter_exit() { gen_exit(7); }

TEST(StartupDeathTest, ExitIsEnteredOnce) {
    // An exit handler that exits again ends the process with the second status.
    EXPECT_EXIT(
        {
            std::atexit(reenter_exit);
            gen_exit(3);
        },
        testing::ExitedWithCode(7), "");
    // After the exit has begun, frees do nothing.
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

}  // namespace
