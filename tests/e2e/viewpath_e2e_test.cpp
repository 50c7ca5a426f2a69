// The real binary reading its input through a view path: an object that
// exists only in the lower node of a two-node view.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::RunResult;
using testing_support::run_program;
using testing_support::write_file;

using Env = std::vector<std::pair<std::string, std::string>>;

// The program reports view-path nodes as the host's full path names. The
// Windows build, run under wine (FUNSIZE_HOST_DRIVE set to the drive that
// maps this machine's root), writes them with that drive and '\\'; a node
// written differently from its full path name is then also reported as the
// alternate root.
#ifndef FUNSIZE_HOST_DRIVE
#define FUNSIZE_HOST_DRIVE ""
#endif

std::string host_path(const std::string &path) {
    const std::string drive = FUNSIZE_HOST_DRIVE;
    if (drive.empty()) return path;
    std::string out = drive + path;
    for (char &c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string alternate_root_line(const std::string &node) {
    return host_path(node) == node ? std::string() : "funsize: info: Using alternate root: " + node + "\n";
}

class ViewPathE2E : public testing::Test {
protected:
    std::string root, n0, n1;

    void SetUp() override {
        // The children inherit this environment; nothing of a view may leak in.
        for (const char *v : {"NVPATH", "NVSRPATH", "LKS_VP_XSW", "LKS_VP_DEBUG", "LKS_VP_OFF", "LKS_VP_SLOW"}) unsetenv(v);
        root = fs::canonical(make_temp_dir()).string();
        n0 = root + "/work";
        n1 = root + "/base";
        fs::create_directory(n0);
        fs::create_directory(n1);
        write_file(n1 + "/sample.o", read_file(std::string(FUNSIZE_TEST_DATA) + "/sample.o"));
    }

    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    RunResult run_in(const std::string &cwd, const std::vector<std::string> &args, const Env &env = {}) {
        return run_program(FUNSIZE_BINARY, args, cwd, env);
    }
};

TEST_F(ViewPathE2E, ObjectInTheLowerNodeReadsAsIfItWereHere) {
    RunResult direct = run_in(n1, {"sample.o"});
    ASSERT_EQ(direct.status, 0) << direct.err;

    Env view = {{"NVPATH", n0 + ":" + n1}};
    RunResult viewed = run_in(n0, {"sample.o"}, view);
    EXPECT_EQ(viewed.status, 0);
    EXPECT_EQ(viewed.out, direct.out);
    EXPECT_EQ(viewed.err, direct.err);
    // Reading copies nothing into the working node.
    EXPECT_FALSE(fs::exists(n0 + "/sample.o"));

    // Without the view the same run cannot find its input.
    RunResult plain = run_in(n0, {"sample.o"});
    EXPECT_NE(plain.status, 0);
    EXPECT_EQ(plain.out, "");
    EXPECT_NE(plain.err.find("sample.o"), std::string::npos) << plain.err;
}

TEST_F(ViewPathE2E, DebugReportsTheDecisionsAndTheFind) {
    RunResult direct = run_in(n1, {"sample.o"});
    ASSERT_EQ(direct.status, 0) << direct.err;

    RunResult debug = run_in(n0, {"sample.o"}, {{"NVPATH", n0 + ";" + n1}, {"LKS_VP_DEBUG", "1"}});
    EXPECT_EQ(debug.status, 0);
    EXPECT_EQ(debug.out, direct.out);
    const std::string head = "funsize: info: Viewpathing support is ON (SLOW).\n"
                             "funsize: info: Adding viewpath node 1: " + host_path(n0) + "\n" +
                             alternate_root_line(n0) +
                             "funsize: info: Adding viewpath node 2: " + host_path(n1) + "\n";
    ASSERT_GE(debug.err.size(), head.size());
    EXPECT_EQ(debug.err.substr(0, head.size()), head);
    const std::string located = "funsize: info: Located file: " + host_path(n1) + "/sample.o\n";
    EXPECT_NE(debug.err.find(located, head.size()), std::string::npos) << debug.err;

    RunResult off = run_in(n0, {"sample.o"}, {{"NVPATH", n0 + ":" + n1}, {"LKS_VP_DEBUG", "1"}, {"LKS_VP_OFF", "1"}});
    EXPECT_NE(off.status, 0);
    const std::string off_head = "funsize: info: Disabling viewpathing mode \n"
                                 "\tbecause environment variable (LKS_VP_OFF) is set.\n"
                                 "funsize: info: Viewpathing support is OFF.\n";
    EXPECT_EQ(off.err.substr(0, off_head.size()), off_head);
    EXPECT_EQ(off.err.find("Located file"), std::string::npos);
}

}  // namespace
