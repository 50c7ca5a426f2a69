// View paths: lookup in lower nodes, copy on write, the switches and their
// messages, all in temporary directory trees.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "run_program.h"
#include "viewpath.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::write_file;

constexpr const char *vp_variables[] = {"NVPATH", "NVSRPATH", "LKS_VP_XSW", "LKS_VP_DEBUG", "LKS_VP_OFF", "LKS_VP_SLOW"};

struct Message {
    int code;
    std::string text;
};
std::vector<Message> messages;

void capture(int code, const char *fmt, va_list args) {
    char buf[4096];
    gen_vsnprintf(buf, sizeof buf, fmt, args);
    messages.push_back({code, buf});
}

std::string take(char *s) {
    std::string r = s ? s : "<null>";
    gen_free_fn(s);
    return r;
}

int mode_of(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

class ViewPath : public testing::Test {
protected:
    std::string root, n0, n1, n2, saved_cwd;
    mode_t saved_umask = 0;

    void SetUp() override {
        saved_cwd = fs::current_path().string();
        saved_umask = umask(022);
        for (const char *v : vp_variables) unsetenv(v);
        gen_viewpathing(0);
        root = fs::canonical(make_temp_dir()).string();
        n0 = root + "/n0";
        n1 = root + "/n1";
        n2 = root + "/n2";
        for (const std::string &d : {n0, n1, n2}) fs::create_directory(d);
        messages.clear();
        gen_message_hook = capture;
    }

    void TearDown() override {
        gen_message_hook = capture;
        for (const char *v : vp_variables) unsetenv(v);
        gen_viewpathing(0);
        gen_vp_ignore_alternate_root = false;
        gen_message_hook = gen_domessage;
        umask(saved_umask);
        fs::current_path(saved_cwd);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Sets the variables and reads them again through a fresh activation.
    void activate(const std::vector<std::pair<const char *, std::string>> &env, int mode = 1) {
        for (const char *v : vp_variables) unsetenv(v);
        for (const auto &[k, v] : env) setenv(k, v.c_str(), 1);
        gen_viewpathing(0);
        messages.clear();
        gen_viewpathing(mode);
    }

    void activate_nodes(const std::string &list, int mode = 1) { activate({{"NVPATH", list}}, mode); }

    std::vector<std::string> infos() const {
        std::vector<std::string> r;
        for (const Message &m : messages)
            if (m.code == GEN_MSG_INFO) r.push_back(m.text);
        return r;
    }

    bool said(int code, const std::string &text) const {
        for (const Message &m : messages)
            if (m.code == code && m.text == text) return true;
        return false;
    }
};

TEST_F(ViewPath, InactiveWithoutVariablesOrWithEmptyValues) {
    write_file(n1 + "/only1.txt", "lower");
    fs::current_path(n0);
    for (const std::string &value : {std::string(), std::string("set-empty")}) {
        if (value == "set-empty") activate({{"NVPATH", ""}, {"NVSRPATH", ""}, {"LKS_VP_DEBUG", ""}});
        EXPECT_FALSE(gen_viewpath_active());
        errno = 0;
        EXPECT_EQ(gen_fopen("only1.txt", "rb"), nullptr);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(gen_file_size("only1.txt"), -1);
        EXPECT_EQ(gen_is_directory("only1.txt"), 0);
        EXPECT_EQ(take(gen_vp_resolve("only1.txt", GEN_VP_INTENT_READ)), "only1.txt");
        EXPECT_EQ(gen_vp_relative(n0.c_str()), nullptr);
        struct stat st;
        EXPECT_EQ(gen_vp_stat("only1.txt", &st), -1);
        EXPECT_EQ(gen_vp_access("only1.txt", GEN_VP_EXISTS), -1);
        // An update open creates an empty file; nothing is copied.
        FILE *fp = gen_fopen("only1.txt", "ab");
        ASSERT_NE(fp, nullptr);
        std::fclose(fp);
        EXPECT_EQ(read_file(n0 + "/only1.txt"), "");
        fs::remove(n0 + "/only1.txt");
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(ViewPath, ReadLookupGoesThroughLowerNodesInOrder) {
    write_file(n1 + "/only1.txt", "from node 1");
    write_file(n2 + "/only1.txt", "from node 2");
    write_file(n2 + "/only2.txt", "from node 2");
    write_file(n0 + "/both.txt", "top");
    write_file(n1 + "/both.txt", "lower");
    fs::create_directories(n1 + "/sub/inner");
    write_file(n1 + "/sub/inner/deep.txt", "12345");
    fs::current_path(n0);
    activate({{"NVPATH", n0 + ":" + n1 + ";" + n2}, {"LKS_VP_DEBUG", "1"}});
    ASSERT_TRUE(gen_viewpath_active());

    FILE *fp = gen_fopen("only1.txt", "rb");
    ASSERT_NE(fp, nullptr);
    char buf[32] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, fp), 11u);
    std::fclose(fp);
    EXPECT_STREQ(buf, "from node 1");
    EXPECT_TRUE(said(GEN_MSG_INFO, "Located file: " + n1 + "/only1.txt"));

    EXPECT_EQ(take(gen_vp_resolve("only2.txt", GEN_VP_INTENT_READ)), n2 + "/only2.txt");
    EXPECT_EQ(take(gen_vp_resolve((n0 + "/only2.txt").c_str(), GEN_VP_INTENT_READ)), n2 + "/only2.txt");
    EXPECT_EQ(take(gen_vp_resolve("both.txt", GEN_VP_INTENT_READ)), "both.txt");
    EXPECT_EQ(take(gen_vp_resolve("only1.txt", GEN_VP_INTENT_WRITE)), "only1.txt");
    EXPECT_EQ(take(gen_vp_resolve("nowhere.txt", GEN_VP_INTENT_READ)), "nowhere.txt");
    // A path outside the view is not looked up.
    EXPECT_EQ(take(gen_vp_resolve((root + "/only1.txt").c_str(), GEN_VP_INTENT_READ)), root + "/only1.txt");

    // A missing directory of node 0 is found below as well.
    EXPECT_EQ(gen_file_size("sub/inner/deep.txt"), 5);
    EXPECT_EQ(gen_is_directory("sub/inner"), 1);
    EXPECT_EQ(gen_is_directory("sub/inner/deep.txt"), 0);

    struct stat st;
    EXPECT_EQ(gen_vp_stat("both.txt", &st), 0);
    EXPECT_EQ(gen_vp_found_node(), 0);
    EXPECT_EQ(st.st_size, 3);
    EXPECT_EQ(gen_vp_stat("only2.txt", &st), 0);
    EXPECT_EQ(gen_vp_found_node(), 2);
    errno = 0;
    EXPECT_EQ(gen_vp_stat("nowhere.txt", &st), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(gen_vp_found_node(), -1);

    // Argument files are sized and read through the view too.
    write_file(n1 + "/args.txt", "one\ntwo\n");
    char prog[] = "prog", at[] = "@args.txt";
    char *argv[] = {prog, at, nullptr};
    int argc = 2;
    char **expanded = gen_expand_argfiles(&argc, argv);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(expanded[1], "one");
    EXPECT_STREQ(expanded[2], "two");
    gen_free_fn(expanded[1]);  // the start of the file's text
    gen_free_fn(expanded);

    // Reads never create anything in node 0.
    EXPECT_FALSE(fs::exists(n0 + "/only1.txt"));
    EXPECT_FALSE(fs::exists(n0 + "/sub"));
    errno = 0;
    EXPECT_EQ(gen_fopen("nowhere.txt", "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ViewPath, UpdateCopiesTheLowerFileIntoNodeZero) {
    write_file(n1 + "/log.txt", "old;");
    chmod((n1 + "/log.txt").c_str(), 0640);
    fs::create_directories(n1 + "/a/b");
    chmod((n1 + "/a").c_str(), 0750);
    chmod((n1 + "/a/b").c_str(), 0711);
    write_file(n1 + "/a/b/data.bin", std::string(20000, 'x') + "end");
    chmod((n1 + "/a/b/data.bin").c_str(), 0444);
    fs::current_path(n0);
    activate({{"NVPATH", n0 + ":" + n1}, {"LKS_VP_DEBUG", "1"}});

    FILE *fp = gen_fopen("log.txt", "ab");
    ASSERT_NE(fp, nullptr);
    std::fputs("new", fp);
    std::fclose(fp);
    EXPECT_EQ(read_file(n0 + "/log.txt"), "old;new");
    EXPECT_EQ(read_file(n1 + "/log.txt"), "old;");
    EXPECT_EQ(mode_of(n0 + "/log.txt"), 0662);
    EXPECT_TRUE(said(GEN_MSG_INFO, "Copied file to log.txt"));

    // Missing directories are made with the lower directories' permissions;
    // the copy runs over several blocks.
    int fd = gen_vp_open((n0 + "/a/b/data.bin").c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(read_file(n0 + "/a/b/data.bin"), std::string(20000, 'x') + "end");
    EXPECT_EQ(mode_of(n0 + "/a/b/data.bin"), 0666);
    EXPECT_EQ(mode_of(n0 + "/a"), 0750);
    EXPECT_EQ(mode_of(n0 + "/a/b"), 0711);

    // Once in node 0 the copy is used as it is.
    write_file(n1 + "/log.txt", "changed below");
    fp = gen_fopen("log.txt", "r+b");
    ASSERT_NE(fp, nullptr);
    std::fclose(fp);
    EXPECT_EQ(read_file(n0 + "/log.txt"), "old;new");

    // Nothing to copy: the update opens the path as it stands.
    fp = gen_fopen("fresh.txt", "ab");
    ASSERT_NE(fp, nullptr);
    std::fclose(fp);
    EXPECT_EQ(mode_of(n0 + "/fresh.txt"), 0644);
    EXPECT_EQ(gen_vp_open("nodir/x.txt", O_WRONLY | O_APPEND | O_CREAT, 0666), -1);
    EXPECT_FALSE(fs::exists(n0 + "/nodir"));
}

TEST_F(ViewPath, OpenModesAreClassedAsReadUpdateOrWrite) {
    fs::current_path(n0);
    activate_nodes(n0 + ":" + n1, 1);
    EXPECT_EQ(gen_vp_fopen_intent("rb"), GEN_VP_INTENT_READ);
    EXPECT_EQ(gen_vp_fopen_intent("rbtnc"), GEN_VP_INTENT_READ);
    EXPECT_EQ(gen_vp_fopen_intent("wb"), GEN_VP_INTENT_UPDATE);
    EXPECT_EQ(gen_vp_fopen_intent("a"), GEN_VP_INTENT_UPDATE);
    EXPECT_EQ(gen_vp_fopen_intent("r+"), GEN_VP_INTENT_UPDATE);
    EXPECT_EQ(gen_vp_fopen_intent("w+b"), GEN_VP_INTENT_UPDATE);

    // Slow mode: a write open copies first, so the file keeps the lower
    // permissions (plus write) even though its contents are then dropped.
    write_file(n1 + "/w.txt", "lower");
    chmod((n1 + "/w.txt").c_str(), 0600);
    FILE *fp = gen_fopen("w.txt", "wb");
    ASSERT_NE(fp, nullptr);
    std::fclose(fp);
    EXPECT_EQ(mode_of(n0 + "/w.txt"), 0622);
    EXPECT_EQ(read_file(n0 + "/w.txt"), "");

    // Fast mode: a write open creates the file without looking below.
    fs::remove(n0 + "/w.txt");
    activate_nodes(n0 + ":" + n1, 2);
    EXPECT_EQ(gen_vp_fopen_intent("wb"), GEN_VP_INTENT_WRITE);
    EXPECT_EQ(gen_vp_fopen_intent("w+b"), GEN_VP_INTENT_UPDATE);
    fp = gen_fopen("w.txt", "wb");
    ASSERT_NE(fp, nullptr);
    std::fclose(fp);
    EXPECT_EQ(mode_of(n0 + "/w.txt"), 0644);
    fs::remove(n0 + "/w.txt");
    int fd = gen_vp_open("w.txt", O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(mode_of(n0 + "/w.txt"), 0600);
    fs::remove(n0 + "/w.txt");
    fd = gen_vp_open("w.txt", O_WRONLY | O_APPEND, 0);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(read_file(n0 + "/w.txt"), "lower");
}

TEST_F(ViewPath, SpellingsOfPathsWithinTheView) {
    std::string top = root + "/Work";
    fs::create_directories(top + "/deep");
    fs::create_directories(n1 + "/sub");
    write_file(n1 + "/sub/f.txt", "f");
    fs::current_path(top + "/deep");
    activate_nodes(top + ":" + n1);

    std::string upper = root + "/WORK";
    EXPECT_EQ(take(gen_vp_relative(top.c_str())), ".");
    EXPECT_EQ(take(gen_vp_relative((upper + "///").c_str())), ".");
    EXPECT_EQ(take(gen_vp_relative((upper + "/sub\\f.txt").c_str())), "sub/f.txt");
    EXPECT_EQ(take(gen_vp_relative((root + "\\work\\\\sub/f.txt").c_str())), "sub/f.txt");
    EXPECT_EQ(take(gen_vp_relative((top + "x/f.txt").c_str())), "<null>");
    EXPECT_EQ(take(gen_vp_relative((root + "/other").c_str())), "<null>");
    EXPECT_EQ(take(gen_vp_relative((top + "/sub/../sub/./f.txt").c_str())), "sub/f.txt");
    // Relative paths start from the directory current at activation.
    EXPECT_EQ(take(gen_vp_relative("x\\y/")), "deep/x/y");
    EXPECT_EQ(take(gen_vp_relative("..//sub/./f.txt")), "sub/f.txt");
    EXPECT_EQ(take(gen_vp_relative("../..")), "<null>");
    EXPECT_EQ(take(gen_vp_relative(".")), "deep");

    // The differently spelled name is looked up below with the relative path.
    EXPECT_EQ(take(gen_vp_resolve((upper + "/sub/f.txt").c_str(), GEN_VP_INTENT_READ)), n1 + "/sub/f.txt");
    EXPECT_EQ(take(gen_vp_resolve("..\\sub\\f.txt", GEN_VP_INTENT_READ)), n1 + "/sub/f.txt");

    // "^" is node 0 whatever the current directory; "^x" is an ordinary name.
    write_file(top + "/top0.txt", "0");
    FILE *fp = gen_fopen("^/sub/f.txt", "rb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(std::fgetc(fp), 'f');
    std::fclose(fp);
    fp = gen_fopen("^\\top0.txt", "rb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(std::fgetc(fp), '0');
    std::fclose(fp);
    EXPECT_EQ(take(gen_vp_resolve("^", GEN_VP_INTENT_READ)), top);
    EXPECT_EQ(take(gen_vp_relative("^")), ".");
    EXPECT_EQ(gen_is_directory("^"), 1);
    EXPECT_EQ(take(gen_vp_relative("^top0.txt")), "deep/^top0.txt");
}

TEST_F(ViewPath, AccessAndStatusThroughTheView) {
    write_file(n0 + "/plain.txt", "p");
    chmod((n0 + "/plain.txt").c_str(), 0644);
    write_file(n1 + "/ro.txt", "r");
    chmod((n1 + "/ro.txt").c_str(), 0444);
    fs::current_path(n0);

    // Inactive: execute is asked as it is.
    EXPECT_EQ(gen_vp_access("plain.txt", GEN_VP_EXECUTE), -1);
    activate_nodes(n0 + ":" + n1);
    // Active: execute is asked as read.
    EXPECT_EQ(gen_vp_access("plain.txt", GEN_VP_EXECUTE), 0);
    EXPECT_EQ(gen_vp_access("ro.txt", GEN_VP_READ), 0);
    EXPECT_EQ(gen_vp_access("ro.txt", GEN_VP_EXISTS), 0);
    // A lower file counts as writable: it is copied up when opened.
    EXPECT_EQ(gen_vp_access("ro.txt", GEN_VP_WRITE), 0);
    EXPECT_EQ(gen_vp_access("ro.txt", GEN_VP_READ | GEN_VP_WRITE), 0);
    EXPECT_FALSE(fs::exists(n0 + "/ro.txt"));
    errno = 0;
    EXPECT_EQ(gen_vp_access("none.txt", GEN_VP_WRITE), -1);
    EXPECT_EQ(errno, ENOENT);
    // A file below a plain file of node 0: not-a-directory goes on below.
    write_file(n0 + "/blocker", "");
    fs::create_directories(n1 + "/blocker");
    write_file(n1 + "/blocker/in.txt", "in");
    EXPECT_EQ(gen_vp_access("blocker/in.txt", GEN_VP_READ), 0);
    struct stat st;
    EXPECT_EQ(gen_vp_stat("blocker/in.txt", &st), 0);
    EXPECT_EQ(gen_vp_found_node(), 1);
    EXPECT_EQ(st.st_size, 2);
}

TEST_F(ViewPath, SwitchesAndTheirMessages) {
    activate({{"NVPATH", n0}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_OFF", "1"}});
    EXPECT_FALSE(gen_viewpath_active());
    EXPECT_EQ(infos(), (std::vector<std::string>{
                           "Disabling viewpathing mode \n\tbecause environment variable (LKS_VP_OFF) is set.",
                           "Viewpathing support is OFF."}));

    activate({{"NVPATH", n0 + ":" + n1}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_SLOW", "1"}}, 2);
    EXPECT_TRUE(gen_viewpath_active());
    EXPECT_EQ(infos(), (std::vector<std::string>{
                           "Disabling FAST viewpathing mode \n\tbecause environment variable (LKS_VP_SLOW) is set.",
                           "Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                           "Adding viewpath node 2: " + n1}));
    EXPECT_EQ(gen_vp_fopen_intent("w"), GEN_VP_INTENT_UPDATE);

    activate({{"NVPATH", n0}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_XSW", "42"}}, 2);
    EXPECT_EQ(infos(), (std::vector<std::string>{"Viewpathing support is ON (FAST).", "Adding viewpath node 1: " + n0}));
    EXPECT_EQ(gen_vp_tuning(), 42);

    // Without debug nothing is said; a bad mode is an error and leaves the
    // mode off; errno is kept.
    activate({{"NVPATH", n0}});
    EXPECT_TRUE(messages.empty());
    errno = EDOM;
    gen_viewpathing(7);
    EXPECT_EQ(errno, EDOM);
    EXPECT_FALSE(gen_viewpath_active());
    EXPECT_TRUE(said(GEN_MSG_ERROR, "Illegal viewpath option passed to gen_viewpathing"));

    // A second activation keeps the nodes it has.
    activate({{"NVPATH", n0 + ":" + n1}});
    setenv("NVPATH", n2.c_str(), 1);
    gen_viewpathing(1);
    write_file(n1 + "/kept.txt", "");
    EXPECT_EQ(take(gen_vp_resolve((n0 + "/kept.txt").c_str(), GEN_VP_INTENT_READ)), n1 + "/kept.txt");

    messages.clear();
    char *placeholder[1] = {nullptr};
    char **nodes = placeholder;
    int count = 5;
    EXPECT_EQ(gen_getviewpathnodes(&nodes, &count), -1);
    EXPECT_EQ(nodes, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[gen_getviewpathnodes]: not implemented"));
}

TEST_F(ViewPath, NodesAreResolvedAndAnAlternateRootIsKept) {
    fs::create_directory_symlink(n0, root + "/link0");
    write_file(n1 + "/f.txt", "");
    fs::current_path(n0);
    // Node 0 spelled through a link: resolved for the list, the spelling
    // kept as a second name of node 0.
    activate({{"NVPATH", root + "/link0:" + root + "/./n1/"}, {"LKS_VP_DEBUG", "1"}});
    EXPECT_EQ(infos(), (std::vector<std::string>{"Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                                                 "Using alternate root: " + root + "/link0",
                                                 "Adding viewpath node 2: " + n1}));
    EXPECT_EQ(take(gen_vp_relative((root + "/link0/f.txt").c_str())), "f.txt");
    EXPECT_EQ(take(gen_vp_resolve((root + "/LINK0/f.txt").c_str(), GEN_VP_INTENT_READ)), n1 + "/f.txt");
    EXPECT_EQ(take(gen_vp_relative("f.txt")), "f.txt");

    gen_vp_ignore_alternate_root = true;
    activate({{"NVPATH", root + "/link0:" + n1}, {"LKS_VP_DEBUG", "1"}});
    EXPECT_TRUE(said(GEN_MSG_INFO, "Ignoring alternate root: " + root + "/link0"));
    EXPECT_EQ(take(gen_vp_relative((root + "/link0/f.txt").c_str())), "<null>");

    // A relative node is resolved from the current directory; as written it
    // is no alternate root.
    fs::current_path(root);
    activate({{"NVPATH", "n0:n1"}, {"LKS_VP_DEBUG", "1"}});
    EXPECT_EQ(infos(), (std::vector<std::string>{"Viewpathing support is ON (SLOW).", "Adding viewpath node 1: " + n0,
                                                 "Adding viewpath node 2: " + n1}));
}

TEST_F(ViewPath, AtMost128NodesAndComponents) {
    std::string list = n0;
    for (int i = 1; i < 130; ++i) list += ":" + root + "/node" + std::to_string(i);
    fs::current_path(n0);
    activate({{"NVPATH", list}, {"LKS_VP_DEBUG", "1"}});
    std::vector<std::string> said_infos = infos();
    ASSERT_EQ(said_infos.size(), 129u);
    EXPECT_EQ(said_infos.back(), "Adding viewpath node 128: " + root + "/node127");
    fs::create_directory(root + "/node127");
    fs::create_directory(root + "/node128");
    write_file(root + "/node127/last.txt", "");
    write_file(root + "/node128/past.txt", "");
    EXPECT_EQ(take(gen_vp_resolve("last.txt", GEN_VP_INTENT_READ)), root + "/node127/last.txt");
    EXPECT_EQ(take(gen_vp_resolve("past.txt", GEN_VP_INTENT_READ)), "past.txt");

    activate_nodes(n0 + ":" + n1);
    std::string deep = "/a";
    for (int i = 1; i < 128; ++i) deep += "/a";
    EXPECT_EQ(take(gen_vp_resolve(deep.c_str(), GEN_VP_INTENT_READ)), deep);
    EXPECT_TRUE(messages.empty());
    std::string too_deep = deep + "/a";
    EXPECT_EQ(take(gen_vp_resolve(too_deep.c_str(), GEN_VP_INTENT_READ)), too_deep);
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[V2_compath]: too many directory components for \"" + too_deep + "\""));
    messages.clear();
    std::string relative = too_deep.substr(1);
    EXPECT_EQ(take(gen_vp_relative(relative.c_str())), "<null>");
    EXPECT_TRUE(said(GEN_MSG_ERROR, "[V_compath]: too many directory components for \"" + relative + "\""));
}

TEST_F(ViewPath, RemapModeUsesReplacementsFirst) {
    std::string a = root + "/a", b = root + "/b";
    fs::create_directories(a);
    fs::create_directories(b);
    write_file(a + "/both.txt", "a");
    write_file(b + "/both.txt", "b");
    write_file(a + "/aonly.txt", "a");
    write_file(n1 + "/n1only.txt", "n");
    activate({{"NVSRPATH", a + ";" + b + ";" + n0 + ";" + n1}, {"LKS_VP_DEBUG", "1"}});
    ASSERT_TRUE(gen_viewpath_active());
    EXPECT_EQ(take(gen_vp_resolve((a + "/both.txt").c_str(), GEN_VP_INTENT_READ)), b + "/both.txt");
    EXPECT_TRUE(said(GEN_MSG_INFO, "Located file: " + b + "/both.txt"));
    EXPECT_EQ(take(gen_vp_resolve((a + "/aonly.txt").c_str(), GEN_VP_INTENT_READ)), a + "/aonly.txt");
    EXPECT_EQ(take(gen_vp_resolve((n0 + "/n1only.txt").c_str(), GEN_VP_INTENT_READ)), n1 + "/n1only.txt");
    EXPECT_EQ(take(gen_vp_resolve((root + "/x.txt").c_str(), GEN_VP_INTENT_READ)), root + "/x.txt");
    struct stat st;
    EXPECT_EQ(gen_vp_stat((a + "/both.txt").c_str(), &st), 0);
    EXPECT_EQ(gen_vp_found_node(), 1);
    // NVPATH, when set, wins over NVSRPATH.
    activate({{"NVSRPATH", a + ";" + b}, {"NVPATH", a + ":" + b}});
    EXPECT_EQ(take(gen_vp_resolve((a + "/both.txt").c_str(), GEN_VP_INTENT_READ)), a + "/both.txt");
}

// Copies path up with files limited to limit bytes; exits 0 when the copy
// failed and left nothing behind.
[[noreturn]] void copy_with_file_size_limit(const char *path, rlim_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r;
    r.rlim_cur = r.rlim_max = limit;
    setrlimit(RLIMIT_FSIZE, &r);
    std::string resolved = take(gen_vp_resolve(path, GEN_VP_INTENT_UPDATE));
    std::exit(resolved == path && access(path, F_OK) != 0 ? 0 : 1);
}

using ViewPathDeathTest = ViewPath;

TEST_F(ViewPathDeathTest, ShortWriteRemovesThePartialCopy) {
    write_file(n1 + "/big.bin", std::string(30000, 'b'));
    fs::current_path(n0);
    activate({{"NVPATH", n0 + ":" + n1}, {"LKS_VP_DEBUG", "1"}});
    gen_message_hook = gen_domessage;
    EXPECT_EXIT(copy_with_file_size_limit("big.bin", 10000), testing::ExitedWithCode(0),
                "fatal: Unable to copy file to big.bin: File too large\n");
}

TEST_F(ViewPathDeathTest, RelativePathWithoutStartDirectoryIsAnInternalError) {
    std::string gone = root + "/gone";
    fs::create_directory(gone);
    gen_message_hook = gen_domessage;
    EXPECT_EXIT(
        {
            if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) std::exit(2);
            setenv("NVPATH", n0.c_str(), 1);
            gen_viewpathing(1);
            gen_vp_relative("x/y");
        },
        testing::ExitedWithCode(1), "fatal: INTERNAL ERROR: libvp: chdir: compath2: \\(1\\) \\[x/y\\] not absolute path\n");
}

}  // namespace
