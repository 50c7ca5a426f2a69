// Replays the inputs that the fuzzer once broke the program with
// (tests/data/fuzz/<family>/) through the real binary: each run must end
// within five seconds, by itself, without a sanitizer report (leaks
// included) and with a status the program may give for a bad input. A
// reproducer with a "<name>.expect" file beside it must also give exactly
// that status and standard error: the first line is "status N", the rest is
// the expected standard error, where "@FILE@" stands for the path of the
// input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::replace_all;

struct Outcome {
    bool timed_out = false;
    int signal = 0;   // the signal that ended the run, 0 when it exited
    int status = -1;  // exit status
    std::string err;
};

// Runs the binary on `args` with a time limit; standard output is dropped.
Outcome run_limited(const std::vector<std::string> &args, std::chrono::seconds limit) {
    static const std::string dir = make_temp_dir();
    const std::string err_path = dir + "/stderr";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out = open("/dev/null", O_WRONLY);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        // A sanitized build also looks for leaks here, whatever the suite
        // as a whole was told: later options win.
        const char *asan = getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan ? asan : "") + ":detect_leaks=1";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(FUNSIZE_BINARY));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(FUNSIZE_BINARY, argv.data());
        _exit(127);
    }
    Outcome o;
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            o.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(wstatus))
        o.status = WEXITSTATUS(wstatus);
    else
        o.signal = WTERMSIG(wstatus);
    o.err = read_file(err_path);
    return o;
}

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
            const Outcome o = run_limited(args, std::chrono::seconds(5));
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
