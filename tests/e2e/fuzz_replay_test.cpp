// Replays the inputs that the fuzzer once broke the program with
// (tests/data/fuzz/<family>/) through the real binary: each run must end
// within five seconds, by itself, without a sanitizer report (leaks
// included) and with a status the program may give for a bad input. A
// reproducer with a "<name>.expect" file beside it must also give exactly
// that status and standard error: the first line is "status N", the rest is
// the expected standard error, where "@FILE@" stands for the path of the
// input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::replace_all;

std::vector<fs::path> reproducers() {
    std::vector<fs::path> files;
    const fs::path root = fs::path(FUNSIZE_TEST_DATA) / "fuzz";
    if (!fs::exists(root)) return files;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && e.path().extension() != ".expect") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzReplay, EveryReproducerEndsCleanly) {
    // Statuses of a bad input: 0 (nothing or all found), 1 (fatal, or one
    // requested name missing), 2 (fatal COFF input), 3 (out of memory), 255
    // (an input no handler takes).
    const std::set<int> allowed = {0, 1, 2, 3, 255};
    const std::vector<fs::path> files = reproducers();
    ASSERT_FALSE(files.empty()) << "no reproducers under " << FUNSIZE_TEST_DATA << "/fuzz";
    for (const fs::path &file : files) {
        for (const char *mode : {"", "-func=main"}) {
            std::vector<std::string> args;
            if (*mode) args.push_back(mode);
            args.push_back(file.string());
            SCOPED_TRACE(file.string() + " " + mode);
            // A sanitized build also looks for leaks here, whatever the
            // suite as a whole was told: later options win.
            const char *asan = getenv("ASAN_OPTIONS");
            const auto o = testing_support::run_program(FUNSIZE_BINARY, args, "",
                                                        {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=1"}}, "", 5);
            EXPECT_FALSE(o.timed_out) << "still running after 5 seconds";
            EXPECT_EQ(o.signal, 0) << "killed by signal " << o.signal;
            EXPECT_TRUE(o.signal != 0 || allowed.count(o.status)) << "status " << o.status;
            EXPECT_EQ(o.err.find("Sanitizer"), std::string::npos) << o.err;
            EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err;

            fs::path expect = file;
            expect += ".expect";
            if (*mode || !fs::exists(expect)) continue;
            const std::string text = read_file(expect.string());
            const size_t eol = text.find('\n');
            ASSERT_EQ(text.compare(0, 7, "status "), 0) << expect;
            EXPECT_EQ(o.status, std::stoi(text.substr(7, eol - 7)));
            EXPECT_EQ(o.err, replace_all(text.substr(eol + 1), "@FILE@", file.string()));
        }
    }
}

}  // namespace
