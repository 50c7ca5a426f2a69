// Runs a program to completion and captures what it wrote.
#pragma once

#include <string>
#include <utility>
#include <vector>

// The Windows build runs behind a script that collects its streams in files
// and has its standard input closed, so redirections and pipes around it
// reach the script, not the program: tests of those skip there.
#ifdef FUNSIZE_WINE_RUN
#define SKIP_BEHIND_WRAPPER() GTEST_SKIP() << "the program's streams are not its own here"
#else
#define SKIP_BEHIND_WRAPPER() (void)0
#endif

namespace testing_support {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
    int signal = 0;   // the signal that ended the run
    bool timed_out = false;
};

// Runs `program` with `args` (argv[0] is `argv0`, or the program's path when
// empty) in directory `cwd` (unchanged when empty), with `env` added to the
// environment and standard input closed. With a `limit` in seconds, the
// program and what it started are killed when it runs longer.
RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd = "",
                      const std::vector<std::pair<std::string, std::string>> &env = {}, const std::string &argv0 = "",
                      int limit = 0);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
// `text` with every `from` replaced by `to`, left to right.
std::string replace_all(std::string text, const std::string &from, const std::string &to);

}  // namespace testing_support
