// View paths in temporary directory trees: lookup in lower nodes, copy on
// write, the switches and their messages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dbg_writer.h"
#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "run_program.h"
#include "test_files.h"
#include "viewpath.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::take;
using Strings = std::vector<std::string>;
using Ints = std::vector<int>;
using Env = std::vector<std::pair<const char *, std::string>>;

constexpr const char *vp_variables[] = {"NVPATH", "NVSRPATH", "LKS_VP_XSW", "LKS_VP_DEBUG", "LKS_VP_OFF", "LKS_VP_SLOW"};

std::string resolve(const std::string &p, int intent = GEN_VP_INTENT_READ) { return take(gen_vp_resolve(p.c_str(), intent)); }
std::string relative(const std::string &path) { return take(gen_vp_relative(path.c_str())); }

// Opens through the view and writes text; false when the open failed.
bool put_via(const std::string &path, const char *mode, const char *text = "") {
    FILE *fp = gen_fopen(path.c_str(), mode);
    return fp && std::fputs(text, fp) >= 0 && std::fclose(fp) == 0;
}
// The contents read through the view; "<none>" when it cannot be opened.
std::string read_via(const std::string &path) {
    FILE *fp = gen_fopen(path.c_str(), "rb");
    std::string s = fp ? "" : "<none>";
    for (int c; fp && (c = std::fgetc(fp)) != EOF;) s += char(c);
    if (fp) std::fclose(fp);
    return s;
}
bool open_via(const std::string &path, int flags, int mode = 0) {
    int fd = gen_vp_open(path.c_str(), flags, mode);
    return fd >= 0 && close(fd) == 0;
}
// What gen_vp_stat finds for a path (the size, or errno) and in which node.
std::string stat_via(const std::string &path) {
    struct stat st;
    errno = 0;
    const bool found = gen_vp_stat(path.c_str(), &st) == 0;
    return (found ? std::to_string(st.st_size) + " bytes" : "errno " + std::to_string(errno)) + " in node " +
           std::to_string(gen_vp_found_node());
}
// Files with their contents (and their directories), with permissions when
// given.
void files(const std::vector<std::pair<std::string, std::string>> &list, int mode = -1) {
    for (const auto &[path, text] : list) {
        fs::create_directories(fs::path(path).parent_path());
        testing_support::write_file(path, text);
        if (mode >= 0) chmod(path.c_str(), mode_t(mode));
    }
}
int mode_of(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

class ViewPath : public testing::Test {
  protected:
    std::string root, n0, n1, n2, saved_cwd;
    mode_t saved_umask = 0;
    std::optional<dbgw::MessageLog> log;

    void SetUp() override {
        saved_cwd = fs::current_path().string();
        saved_umask = umask(022);
        root = fs::canonical(make_temp_dir()).string();
        n0 = root + "/n0", n1 = root + "/n1", n2 = root + "/n2";
        for (const std::string &d : {n0, n1, n2}) fs::create_directory(d);
        activate(Env{}, 0);
    }
    void TearDown() override {
        activate(Env{}, 0);
        gen_vp_ignore_alternate_root = false;
        log.reset();
        umask(saved_umask);
        fs::current_path(saved_cwd);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Sets the variables (NVPATH and LKS_VP_DEBUG when only a list is given)
    // and reads them again through a fresh activation; the messages are
    // caught anew.
    void activate(const Env &env, int mode = 1) {
        for (const char *v : vp_variables) unsetenv(v);
        for (const auto &[k, v] : env) setenv(k, v.c_str(), 1);
        gen_viewpathing(0);
        log.emplace();
        gen_viewpathing(mode);
    }
    void activate(const std::string &nodes, int mode = 1) { activate({{"NVPATH", nodes}, {"LKS_VP_DEBUG", "1"}}, mode); }

    Strings infos() const {
        const std::string info = std::to_string(GEN_MSG_INFO) + "|";
        Strings r;
        for (const std::string &m : log->all())
            if (m.rfind(info, 0) == 0) r.push_back(m.substr(info.size()));
        return r;
    }
    bool said(int code, const std::string &text) const { return log->has(std::to_string(code) + "|" + text); }
};

TEST_F(ViewPath, ReadLookupAccessAndStatusGoThroughLowerNodesInOrder) {
    files({{n1 + "/only1.txt", "from node 1"}, {n2 + "/only1.txt", "from node 2"}, {n2 + "/only2.txt", "from node 2"},
           {n0 + "/both.txt", "top"}, {n1 + "/both.txt", "lower"}, {n1 + "/sub/inner/deep.txt", "12345"},
           {n0 + "/blocker", ""}, {n1 + "/blocker/in.txt", "in"}, {n0 + "/plain.txt", "p"}});
    files({{n1 + "/ro.txt", "r"}}, 0444);
    fs::current_path(n0);
    // Execute is asked as it is while inactive, as read while active.
    EXPECT_EQ(gen_vp_access("plain.txt", GEN_VP_EXECUTE), -1);
    activate(n0 + ":" + n1 + ";" + n2);
    ASSERT_TRUE(gen_viewpath_active());
    EXPECT_EQ(gen_vp_access("plain.txt", GEN_VP_EXECUTE), 0);

    EXPECT_EQ(read_via("only1.txt"), "from node 1");
    // A path outside the view is not looked up.
    EXPECT_EQ((Strings{resolve(n0 + "/only2.txt"), resolve("both.txt"), resolve("only1.txt", GEN_VP_INTENT_WRITE),
                       resolve(root + "/only1.txt")}),
              (Strings{n2 + "/only2.txt", "both.txt", "only1.txt", root + "/only1.txt"}));
    // A missing directory of node 0 is found below, and so is a file below a
    // plain file of node 0: not-a-directory goes on.
    EXPECT_EQ((Strings{stat_via("both.txt"), stat_via("only2.txt"), stat_via("nowhere.txt"), stat_via("blocker/in.txt")}),
              (Strings{"3 bytes in node 0", "11 bytes in node 2", "errno " + std::to_string(ENOENT) + " in node -1",
                       "2 bytes in node 1"}));
    EXPECT_EQ((Ints{int(gen_file_size("sub/inner/deep.txt")), gen_is_directory("sub/inner"),
                    gen_vp_access("blocker/in.txt", GEN_VP_READ)}),
              (Ints{5, 1, 0}));

    // A lower file counts as writable: it is copied up when opened.
    for (int mode : {int(GEN_VP_EXISTS), GEN_VP_READ | GEN_VP_WRITE}) EXPECT_EQ(gen_vp_access("ro.txt", mode), 0);
    errno = 0;
    EXPECT_TRUE(gen_vp_access("none.txt", GEN_VP_WRITE) == -1 && errno == ENOENT);

    // Reads never create anything in node 0.
    EXPECT_FALSE(fs::exists(n0 + "/only1.txt") || fs::exists(n0 + "/sub") || fs::exists(n0 + "/ro.txt"));
}

TEST_F(ViewPath, UpdateAndWriteOpens) {
    files({{n1 + "/log.txt", "old;"}}, 0640);
    files({{n1 + "/a/b/data.bin", std::string(20000, 'x') + "end"}}, 0444);
    files({{n1 + "/w.txt", "lower"}}, 0600);
    chmod((n1 + "/a").c_str(), 0750), chmod((n1 + "/a/b").c_str(), 0711);
    fs::current_path(n0);
    activate(n0 + ":" + n1);
    const std::pair<const char *, int> slow[] = {{"rbtnc", GEN_VP_INTENT_READ}, {"wb", GEN_VP_INTENT_UPDATE},
                                                 {"a", GEN_VP_INTENT_UPDATE},     {"r+", GEN_VP_INTENT_UPDATE}};
    for (const auto &[mode, intent] : slow) EXPECT_EQ(gen_vp_fopen_intent(mode), intent) << mode;

    // The copy takes the lower permissions plus write for everyone.
    ASSERT_TRUE(put_via("log.txt", "ab", "new"));
    EXPECT_EQ(read_file(n0 + "/log.txt") + read_file(n1 + "/log.txt"), "old;newold;");
    EXPECT_TRUE(mode_of(n0 + "/log.txt") == 0662 && said(GEN_MSG_INFO, "Copied file to log.txt"));
    // Missing directories are made with the lower directories' permissions;
    // the copy runs over several blocks.
    ASSERT_TRUE(open_via(n0 + "/a/b/data.bin", O_RDWR));
    EXPECT_EQ(read_file(n0 + "/a/b/data.bin"), std::string(20000, 'x') + "end");
    EXPECT_EQ((Ints{mode_of(n0 + "/a/b/data.bin"), mode_of(n0 + "/a"), mode_of(n0 + "/a/b")}), (Ints{0666, 0750, 0711}));
    // Once in node 0 the copy is used as it is.
    testing_support::write_file(n1 + "/log.txt", "changed below");
    EXPECT_TRUE(put_via("log.txt", "r+b") && read_file(n0 + "/log.txt") == "old;new");
    // Nothing to copy: the update opens the path as it stands.
    EXPECT_TRUE(put_via("fresh.txt", "ab") && mode_of(n0 + "/fresh.txt") == 0644);
    EXPECT_FALSE(open_via("nodir/x.txt", O_WRONLY | O_APPEND | O_CREAT, 0666) || fs::exists(n0 + "/nodir"));
    // Slow mode: a write open copies first, so the file keeps the lower
    // permissions (plus write) even though its contents are then dropped.
    EXPECT_TRUE(put_via("w.txt", "wb") && mode_of(n0 + "/w.txt") == 0622 && read_file(n0 + "/w.txt").empty());

    // Fast mode: a write open creates the file without looking below; an
    // append open still copies.
    activate(n0 + ":" + n1, 2);
    EXPECT_EQ((Ints{gen_vp_fopen_intent("wb"), gen_vp_fopen_intent("w+b")}), (Ints{GEN_VP_INTENT_WRITE, GEN_VP_INTENT_UPDATE}));
    fs::remove(n0 + "/w.txt");
    EXPECT_TRUE(put_via("w.txt", "wb") && mode_of(n0 + "/w.txt") == 0644);
    fs::remove(n0 + "/w.txt");
    EXPECT_TRUE(open_via("w.txt", O_WRONLY | O_CREAT, 0600) && mode_of(n0 + "/w.txt") == 0600);
    fs::remove(n0 + "/w.txt");
    EXPECT_TRUE(open_via("w.txt", O_WRONLY | O_APPEND) && read_file(n0 + "/w.txt") == "lower");
}

TEST_F(ViewPath, SpellingsOfPathsWithinTheView) {
    const std::string top = root + "/Work", upper = root + "/WORK";
    files({{n1 + "/sub/f.txt", "f"}, {top + "/top0.txt", "0"}});
    fs::create_directories(top + "/deep");
    fs::current_path(top + "/deep");
    activate(top + ":" + n1);

    // Letters in either case, either separator, "." and ".."; relative
    // paths start from the directory current at activation. "^" is node 0
    // whatever the current directory; "^x" is an ordinary name.
    const std::pair<std::string, std::string> cases[] = {
        {upper + "///", "."},           {upper + "/sub\\f.txt", "sub/f.txt"}, {root + "\\work\\\\sub/f.txt", "sub/f.txt"},
        {top + "x/f.txt", "<null>"},    {root + "/other", "<null>"},       {top + "/sub/../sub/./f.txt", "sub/f.txt"},
        {"x\\y/", "deep/x/y"},          {"..//sub/./f.txt", "sub/f.txt"},  {"../..", "<null>"},
        {".", "deep"},                  {"^", "."},                        {"^top0.txt", "deep/^top0.txt"},
    };
    for (const auto &[path, rel] : cases) EXPECT_EQ(relative(path), rel) << path;

    // The differently spelled name is looked up below with the relative path.
    EXPECT_EQ((Strings{resolve(upper + "/sub/f.txt"), read_via("^/sub/f.txt"), read_via("^\\top0.txt"), resolve("^")}),
              (Strings{n1 + "/sub/f.txt", "f", "0", top}));
    EXPECT_EQ(gen_is_directory("^"), 1);
}

TEST_F(ViewPath, SwitchesNodesAndTheirMessages) {
    // (Switching off and the plain slow mode say what they do end to end.)
    activate({{"NVPATH", n0 + ":" + n1}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_SLOW", "1"}}, 2);
    EXPECT_TRUE(gen_viewpath_active());
    EXPECT_EQ(infos(), (Strings{"Disabling FAST viewpathing mode \n\tbecause environment variable (LKS_VP_SLOW) is set.",
                                "Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                                "Adding viewpath node 2: " + n1}));
    EXPECT_EQ(gen_vp_fopen_intent("w"), GEN_VP_INTENT_UPDATE);
    activate({{"NVPATH", n0}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_XSW", "42"}}, 2);
    EXPECT_EQ(infos(), (Strings{"Viewpathing support is ON (FAST).", "Adding viewpath node 1: " + n0}));
    EXPECT_EQ(gen_vp_tuning(), 42);

    // Without debug nothing is said; a bad mode is an error and leaves the
    // mode off; errno is kept.
    activate({{"NVPATH", n0}});
    EXPECT_TRUE(log->all().empty());
    errno = EDOM;
    gen_viewpathing(7);
    EXPECT_TRUE(errno == EDOM && !gen_viewpath_active());
    EXPECT_TRUE(said(GEN_MSG_ERROR, "Illegal viewpath option passed to gen_viewpathing"));

    // A second activation keeps the nodes it has.
    activate(n0 + ":" + n1);
    setenv("NVPATH", n2.c_str(), 1);
    gen_viewpathing(1);
    testing_support::write_file(n1 + "/kept.txt", "");
    EXPECT_EQ(resolve(n0 + "/kept.txt"), n1 + "/kept.txt");

    char *placeholder[1] = {nullptr}, **nodes = placeholder;
    int count = 5;
    EXPECT_TRUE(gen_getviewpathnodes(&nodes, &count) == -1 && nodes == nullptr && count == 0);
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[gen_getviewpathnodes]: not implemented"));

    // Node 0 spelled through a link: resolved for the list, the spelling
    // kept as a second name of node 0.
    fs::create_directory_symlink(n0, root + "/link0");
    testing_support::write_file(n1 + "/f.txt", "");
    fs::current_path(n0);
    activate(root + "/link0:" + root + "/./n1/");
    EXPECT_EQ(infos(), (Strings{"Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                                "Using alternate root: " + root + "/link0", "Adding viewpath node 2: " + n1}));
    EXPECT_EQ(resolve(root + "/LINK0/f.txt"), n1 + "/f.txt");
    gen_vp_ignore_alternate_root = true;
    activate(root + "/link0:" + n1);
    EXPECT_TRUE(said(GEN_MSG_INFO, "Ignoring alternate root: " + root + "/link0") && relative(root + "/link0/f.txt") == "<null>");
    // A relative node is resolved from the current directory; as written it
    // is no alternate root.
    fs::current_path(root);
    activate("n0:n1");
    EXPECT_EQ(infos(), (Strings{"Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                                "Adding viewpath node 2: " + n1}));
}

TEST_F(ViewPath, AtMost128NodesAndComponents) {
    std::string list = n0;
    for (int i = 1; i < 130; ++i) list += ":" + root + "/node" + std::to_string(i);
    files({{root + "/node127/last.txt", ""}, {root + "/node128/past.txt", ""}});
    fs::current_path(n0);
    activate(list);
    ASSERT_EQ(infos().size(), 129u);
    EXPECT_EQ(infos().back(), "Adding viewpath node 128: " + root + "/node127");
    EXPECT_EQ((Strings{resolve("last.txt"), resolve("past.txt")}), (Strings{root + "/node127/last.txt", "past.txt"}));

    activate({{"NVPATH", n0 + ":" + n1}});
    std::string deep;
    for (int i = 0; i < 128; ++i) deep += "/a";
    const std::string too_deep = deep + "/a";
    EXPECT_EQ(resolve(deep), deep);
    EXPECT_TRUE(log->all().empty());
    EXPECT_EQ(resolve(too_deep), too_deep);
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[V2_compath]: too many directory components for \"" + too_deep + "\""));
    EXPECT_EQ(relative(too_deep.substr(1)), "<null>");
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[V_compath]: too many directory components for \"" + too_deep.substr(1) + "\""));
}

TEST_F(ViewPath, RemapModeUsesReplacementsFirst) {
    const std::string a = root + "/a", b = root + "/b";
    files({{a + "/both.txt", "a"}, {b + "/both.txt", "b"}, {a + "/aonly.txt", "a"}, {n1 + "/n1only.txt", "n"}});
    activate({{"NVSRPATH", a + ";" + b + ";" + n0 + ";" + n1}, {"LKS_VP_DEBUG", "1"}});
    ASSERT_TRUE(gen_viewpath_active());
    EXPECT_EQ((Strings{resolve(a + "/both.txt"), resolve(a + "/aonly.txt"), resolve(n0 + "/n1only.txt"),
                       resolve(root + "/x.txt"), stat_via(a + "/both.txt")}),
              (Strings{b + "/both.txt", a + "/aonly.txt", n1 + "/n1only.txt", root + "/x.txt", "1 bytes in node 1"}));
    EXPECT_TRUE(said(GEN_MSG_INFO, "Located file: " + b + "/both.txt"));
    // NVPATH, when set, wins over NVSRPATH.
    activate({{"NVSRPATH", a + ";" + b}, {"NVPATH", a + ":" + b}});
    EXPECT_EQ(resolve(a + "/both.txt"), a + "/both.txt");
}

// Copies path up with files limited to limit bytes; exits 0 when the copy
// failed and left nothing behind.
[[noreturn]] void copy_with_file_size_limit(const char *path, rlim_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    std::exit(resolve(path, GEN_VP_INTENT_UPDATE) == path && access(path, F_OK) != 0 ? 0 : 1);
}

using ViewPathDeathTest = ViewPath;

TEST_F(ViewPathDeathTest, FailedCopyAndStartDirectoryGone) {
    // A short write removes the partial copy.
    files({{n1 + "/big.bin", std::string(30000, 'b')}});
    fs::current_path(n0);
    activate(n0 + ":" + n1);
    log.reset();  // the messages and exits of the program itself
    EXPECT_EXIT(copy_with_file_size_limit("big.bin", 10000), testing::ExitedWithCode(0),
                "fatal: Unable to copy file to big.bin: File too large\n");

    // A relative path without a start directory is an internal error.
    const std::string gone = root + "/gone";
    fs::create_directory(gone);
    EXPECT_EXIT(
        {
            if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) std::exit(2);
            setenv("NVPATH", n0.c_str(), 1);
            gen_viewpathing(0);
            gen_viewpathing(1);
            gen_vp_relative("x/y");
        },
        testing::ExitedWithCode(1), "fatal: INTERNAL ERROR: libvp: chdir: compath2: \\(1\\) \\[x/y\\] not absolute path\n");
}

}  // namespace
