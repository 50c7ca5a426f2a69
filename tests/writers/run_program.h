// Runs a program to completion and captures what it wrote.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
};

// Runs `program` with `args` (argv[0] is `argv0`, or the program's path when
// empty) in directory `cwd` (unchanged when empty), with `env` added to the
// environment and standard input closed.
RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd = "",
                      const std::vector<std::pair<std::string, std::string>> &env = {}, const std::string &argv0 = "");

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);

}  // namespace testing_support
