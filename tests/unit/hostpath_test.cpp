// Host paths on this host's separator: normalising, joining, full paths,
// file identity, temporary names and directories, file routines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "indgen.h"
#include "indgeninit.h"
#include "indgensys.h"
#include "platform.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using Strings = std::vector<std::string>;
using Ints = std::vector<int>;
using testing_support::take;

// A path with '/' written in the host's native separator.
std::string N(std::string s) {
    for (char &c : s)
        if (c == '/') c = plat::native_separator();
    return s;
}

std::string normalized(const char *in, bool native = true) {
    std::string s(in);
    gen_path_normalize(s.data(), native);
    return s.c_str();
}

class HostPath : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing_support::make_temp_dir();
        for (const char *v : {"TMP", "TEMP", "BUILDER_TEMPORARY_NAME", "HOME", "PATH", "APPDATA", "USERPROFILE"})
            saved_.emplace_back(v, std::getenv(v) ? std::optional<std::string>(std::getenv(v)) : std::nullopt);
        gen_hostpath_clear_caches();
    }
    void TearDown() override {
        for (const auto &[name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
        gen_hostpath_clear_caches();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::vector<std::pair<const char *, std::optional<std::string>>> saved_;
    std::string dir_;
};

TEST_F(HostPath, NormaliseAndJoin) {
    // Expected results are written with '/' and compared in native form.
    const std::pair<const char *, const char *> normal[] = {
        {"a/./b/../c", "a/c"}, {"../x/../../y", "../../y"}, {"/../x", "/x"}, {"/..", "/"}, {"a//b/", "a/b/"}, {"a/b/..", "a"},
        {"./..", ".."}, {"c:\\a\\..\\b", "C:/b"}, {"//server/share/../x", "//server/x"}, {"x\\y.z", "x/y.z"}};
    for (const auto &[in, out] : normal) EXPECT_EQ(normalized(in), N(out)) << in;
    EXPECT_EQ(normalized("a/./b", false), "a/b");

    // An absolute second part is copied as it is.
    struct Join { char *(*fn)(const char *, const char *); const char *a, *b, *out; bool native; };
    const Join joins[] = {
        {gen_path_join, "c:\\a", "..\\b", "C:/b", true},      {gen_path_join, "a/", "b", "a/b", true},
        {gen_path_join, "a", "/x/../y", "/x/../y", false},     {gen_path_join, "a", "~/x", "a/~/x", true},
        {gen_path_join, "a", "..", ".", false},                {gen_path_join, "", "b", "b", false},
        {gen_path_join, nullptr, nullptr, "<null>", false},    {gen_path_join_relative, "a", nullptr, "a", false},
        {gen_path_join_relative, "a", "~/x", "~/x", false},    {gen_path_join_relative, nullptr, "b", "b", false},
        {gen_path_join_relative, "a", "b", "a/b", true},
    };
    for (const Join &j : joins)
        EXPECT_EQ(take(j.fn(j.a, j.b)), j.native ? N(j.out) : j.out) << (j.a ? j.a : "null") << " + " << (j.b ? j.b : "null");

    const std::pair<const char *, const char *> dirs[] = {
        {"a/b/c", "a/b"}, {"/a", "/"}, {"c:a", "c:"}, {"c:/a", "c:/"}, {"a", "<null>"}};
    for (const auto &[in, out] : dirs) EXPECT_EQ(take(gen_dirname(in)), out) << in;
    EXPECT_EQ(std::string(gen_path_tail("c:dir\\f.o")) + gen_path_tail("f.o"), "f.of.o");
}

TEST_F(HostPath, FullPathsAndFileIdentity) {
    char *cwd = getcwd(nullptr, 0);
    EXPECT_STREQ(gen_getcwd(), cwd);
    EXPECT_EQ((Strings{take(gen_full_path("http://host/a/../b")), take(gen_full_path("")), take(gen_full_path("x/../y.o"))}),
              (Strings{"http://host/a/../b", "", N(std::string(cwd) + "/y.o")}));
    std::free(cwd);
    setenv("HOME", dir_.c_str(), 1);
    gen_hostpath_clear_caches();
    EXPECT_EQ((Strings{take(gen_full_path("~//sub/f")), take(gen_full_path("~"))}), (Strings{N(dir_ + "/sub/f"), N(dir_)}));
    unsetenv("HOME");
    gen_hostpath_clear_caches();
    EXPECT_EQ(gen_gethome(), nullptr);

    std::string f = dir_ + "/File.o";
    testing_support::write_file(f, "x");
    EXPECT_TRUE(gen_same_file(nullptr, nullptr) && !gen_same_file(f.c_str(), nullptr));
    EXPECT_TRUE(gen_same_file(f.c_str(), (dir_ + "/./sub/../File.o").c_str()));
    EXPECT_FALSE(gen_same_file(f.c_str(), (dir_ + "/Other.o").c_str()));
    // Spellings that differ in letter case name one file only where the host
    // ignores case.
    EXPECT_EQ(gen_same_file(f.c_str(), (dir_ + "/file.o").c_str()), plat::file_names_ignore_case());
    // Through a link the full names meet.
    std::string link = dir_ + "/link";
    ASSERT_EQ(symlink(dir_.c_str(), link.c_str()), 0);
    EXPECT_TRUE(gen_same_file(f.c_str(), (link + "/File.o").c_str()));
}

TEST_F(HostPath, TemporaryDirectoryAndNames) {
    setenv("TMP", (dir_ + "/missing").c_str(), 1);
    setenv("TEMP", dir_.c_str(), 1);
    EXPECT_EQ(std::string(gen_tmpdir(nullptr)), dir_);
    unsetenv("TEMP");
    // Cached; a directory given is used.
    EXPECT_EQ((Strings{gen_tmpdir(nullptr), gen_tmpdir(dir_.c_str())}), (Strings{dir_, dir_}));
    gen_hostpath_clear_caches();

    // Default names: lk_, the process in seven digits, a counter, a dot.
    char *name = gen_tmpname_in(dir_.c_str(), nullptr, ".tmp");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(std::regex_match(name, std::regex(dir_ + "/lk_[0-9a-v]{7}1\\.tmp"))) << name;
    testing_support::write_file(name, "taken");
    char second[256], third[256];
    ASSERT_GE(sizeof second, gen_tmpname_size(dir_.c_str(), "tmp"));
    EXPECT_EQ(gen_tmpname_in(dir_.c_str(), second, "tmp", third, "log"), second);
    EXPECT_TRUE(std::regex_match(second, std::regex(dir_ + "/lk_[0-9a-v]{7}2\\.tmp"))) << second;
    EXPECT_EQ(std::string(third), std::string(second).substr(0, std::strlen(second) - 3) + "log");
    gen_free_fn(name);

    // A fixed stem ends in one dot; once taken, the counter stands in for it.
    setenv("BUILDER_TEMPORARY_NAME", "fixed.", 1);
    EXPECT_EQ(take(gen_tmpname_in(dir_.c_str(), nullptr, "o")), N(dir_ + "/fixed.o"));
    setenv("BUILDER_TEMPORARY_NAME", "fixed", 1);
    testing_support::write_file(dir_ + "/fixed.o", "taken");
    name = gen_tmpname_in(dir_.c_str(), nullptr, "o");
    EXPECT_TRUE(std::regex_match(name, std::regex(dir_ + "/[0-9a-v]{1,4}\\.o"))) << name;
    gen_free_fn(name);
    unsetenv("BUILDER_TEMPORARY_NAME");
    EXPECT_TRUE(std::regex_match(take(gen_tmpname_beside("rel.o", "x")), std::regex("lk_[0-9a-v]{7}[0-9a-v]+\\.x")));

    // Temporary directories: lk, the process in four hex digits, two
    // characters counting through a cycle that can run out.
    setenv("TMP", dir_.c_str(), 1);
    gen_hostpath_clear_caches();
    char stem[16];
    std::snprintf(stem, sizeof stem, "lk%04X", unsigned(plat::process_id() & 0xFFFF));
    EXPECT_EQ(take(gen_make_tmpdir(nullptr, 0755)), N(dir_ + "/" + stem + "aa"));
    EXPECT_EQ(gen_is_directory((dir_ + "/" + stem + "aa").c_str()), 1);
    EXPECT_EQ(take(gen_make_tmpdir(nullptr, 0755)), N(dir_ + "/" + stem + "ab"));
    // Every name of the cycle taken: none is left.
    const std::string cycle = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (char a : cycle)
        for (char b : cycle) testing_support::write_file(dir_ + "/" + stem + a + b, "");
    EXPECT_EQ(gen_make_tmpdir(nullptr, 0755), nullptr);
    std::filesystem::remove(dir_ + "/" + stem + "99");
    EXPECT_EQ(take(gen_make_tmpdir(nullptr, 0755)), N(dir_ + "/" + stem + "99"));
}

TEST_F(HostPath, FileRoutines) {
    const std::string f = dir_ + "/f.o", g = dir_ + "/g.o", sub = dir_ + "/sub";
    const char *F = f.c_str(), *G = g.c_str(), *S = sub.c_str();
    testing_support::write_file(f, "f");
    errno = 1234;
    EXPECT_TRUE(gen_file_exists(F) && !gen_file_exists(G) && errno == 1234);

    EXPECT_EQ((Ints{gen_mkdir((sub + "/").c_str(), 0755), gen_mkdir(S, 0755), gen_mkdir(F, 0755)}), (Ints{0, 0, -1}));
    EXPECT_EQ((Ints{gen_program_exists(nullptr), gen_program_exists(S), gen_program_exists(F), gen_program_exists(G)}),
              (Ints{-1, 0, 1, -1}));
    // Sizes of a file, of a directory (none) and of a device (asked of the
    // stream).
    EXPECT_EQ((std::vector<int64_t>{gen_file_size(F), gen_file_size(S), gen_file_size("/dev/null")}),
              (std::vector<int64_t>{1, -1, 0}));

    testing_support::write_file(g, "g");
    EXPECT_TRUE(gen_rename(F, G) == 0 && testing_support::read_file(g) == "f");
    EXPECT_EQ((Ints{gen_rename(G, S), gen_rename(S, F), gen_rename("", F), gen_remove_file(S), gen_remove_file(G),
                    gen_remove_file(G)}), (Ints{-1, -1, -1, -1, 0, -1}));

    int64_t t = 0;
    testing_support::write_file(f, "again");
    EXPECT_TRUE(gen_file_mtime(F, &t) == 0 && t > 0 && gen_file_mtime(G, &t) == -1);

    // Programs along the search path; a name with a directory part is not
    // searched for.
    const std::string bin = dir_ + "/bin";
    ASSERT_EQ(gen_mkdir(bin.c_str(), 0755), 0);
    testing_support::write_file(bin + "/tool", "#!/bin/sh\n");
    setenv("PATH", (std::string("/nonexistent") + plat::search_path_separator() + bin).c_str(), 1);
    EXPECT_EQ((Strings{take(gen_find_program("tool", false, false)), take(gen_find_program("absent", false, false)),
                       take(gen_find_program("x/tool", false, false)),
                       take(gen_find_program((bin + "/../bin/tool").c_str(), false, true))}),
              (Strings{N(bin + "/tool"), "<null>", "<null>", N(bin + "/tool")}));
}

// Without APPDATA or USERPROFILE the folder for application data is the
// user's own under a "Users" folder beside the program's, when both folders
// can be made.
TEST_F(HostPath, ApplicationDataBesideTheProgram) {
    const std::string bin = dir_ + "/bin";
    ASSERT_EQ(gen_mkdir(bin.c_str(), 0755), 0);
    testing_support::write_file(bin + "/prog", "");
    unsetenv("APPDATA"), unsetenv("USERPROFILE");
    gen_init((bin + "/prog").c_str(), 0, 0);
    const std::string user = take(gen_getusername());
    const std::string mine = dir_ + "/Users/" + (user == "<null>" ? "default" : user);
    const char *appdata = gen_getappdata();
    EXPECT_TRUE(appdata && std::filesystem::equivalent(appdata, mine)) << (appdata ? appdata : "<null>");
    // A file in the way of the user's folder: none.
    std::filesystem::remove(mine);
    testing_support::write_file(mine, "");
    gen_hostpath_clear_caches();
    EXPECT_EQ(gen_getappdata(), nullptr);
    gen_setprogname(nullptr);
}

}  // namespace
