// Operands that can be read only once: a pipe and a FIFO are copied to a
// temporary file, reported under the name given, and the copy is removed at
// the end, also when the run ends with a fatal message.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::RunResult;
using testing_support::run_program;

const std::string sample = std::string(FUNSIZE_TEST_DATA) + "/sample.o";

// Runs `script` under /bin/sh in `dir` with the binary as $0 and the sample
// as $1; temporary files go to `tmp`.
RunResult shell(const std::string &script, const std::string &dir, const std::string &tmp) {
    return run_program("/bin/sh", {"-c", script, FUNSIZE_BINARY, sample}, dir, {{"TMP", tmp}, {"TEMP", tmp}});
}

std::vector<std::string> entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

void remove_tree(const std::string &dir) { EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0); }

TEST(PipeE2E, PipeOperandReadsLikeTheFile) {
    SKIP_BEHIND_WRAPPER();
    const std::string dir = make_temp_dir(), tmp = make_temp_dir();
    const RunResult direct = run_program(FUNSIZE_BINARY, {"-addr", sample});
    ASSERT_EQ(direct.status, 0);
    ASSERT_NE(direct.out, "");

    RunResult r = shell("cat \"$1\" | \"$0\" -addr /dev/stdin", dir, tmp);
    EXPECT_EQ(r.out, direct.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(entries(tmp), std::vector<std::string>{});

    // Messages and file prefixes name the operand as given.
    r = shell("cat \"$1\" | \"$0\" -file -func=main -func=nothere /dev/stdin", dir, tmp);
    EXPECT_EQ(r.out, "/dev/stdin:                    main                      40\n");
    EXPECT_EQ(r.err, "funsize: error: nothere not found in file /dev/stdin\n");
    EXPECT_EQ(r.status, 1);

    // A fatal end on a later operand still removes the copy.
    r = shell("cat \"$1\" | \"$0\" /dev/stdin no_such_file", dir, tmp);
    EXPECT_EQ(r.err, "funsize: fatal: unable to open input file 'no_such_file'\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(entries(tmp), std::vector<std::string>{});
    remove_tree(dir);
    remove_tree(tmp);
}

TEST(PipeE2E, FifoWhoseWriterHasGoneDoesNotBlock) {
    SKIP_BEHIND_WRAPPER();
    const std::string dir = make_temp_dir(), tmp = make_temp_dir();
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const RunResult direct = run_program(FUNSIZE_BINARY, {sample});

    // The writer fills the FIFO and leaves; the run must end on its own
    // well within the limit (status 124 when the limit stopped it).
    RunResult r = shell("cat \"$1\" >fifo & timeout 20 \"$0\" fifo; status=$?; wait; exit $status", dir, tmp);
    EXPECT_EQ(r.out, direct.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(entries(tmp), std::vector<std::string>{});
    remove_tree(dir);
    remove_tree(tmp);
}

}  // namespace
