// Runs the end-to-end cases kept as data under tests/e2e/cases.
//
// A case file holds cases one after the other:
//
//   === what the case shows
//   args: -func=main data/elf/x86_64.o
//   env: NAME=value            (optional, repeatable)
//   status: 0
//   --- file args.txt          (optional: a file made in the case's directory)
//   ...
//   --- stdout
//   ...
//   --- stderr
//   ...
//
// Each case runs the real binary in a fresh directory that holds the files
// of the case and a link "data" to the committed test inputs. Arguments are
// split at blanks; single quotes keep blanks; '' is an empty argument.
// Standard output, standard error and the status are compared exactly.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "run_program.h"

namespace {

using testing_support::run_program;

struct Case {
    std::string file;
    std::string title;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    int status = 0;
    std::map<std::string, std::string> files;
    std::string out, err;
};

std::vector<std::string> split_args(const std::string &text) {
    std::vector<std::string> args;
    std::string cur;
    bool in_arg = false, quoted = false;
    for (char c : text) {
        if (quoted) {
            if (c == '\'')
                quoted = false;
            else
                cur += c;
        } else if (c == '\'') {
            quoted = in_arg = true;
        } else if (c == ' ') {
            if (in_arg) args.push_back(cur);
            cur.clear();
            in_arg = false;
        } else {
            cur += c;
            in_arg = true;
        }
    }
    if (in_arg) args.push_back(cur);
    return args;
}

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    std::vector<std::string> names;
    if (DIR *dir = opendir(FUNSIZE_CASES)) {
        while (dirent *e = readdir(dir)) {
            std::string n = e->d_name;
            if (n.size() > 6 && n.substr(n.size() - 6) == ".cases") names.push_back(n);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
        std::ifstream in(std::string(FUNSIZE_CASES) + "/" + n, std::ios::binary);
        std::string line;
        std::string *block = nullptr;
        while (std::getline(in, line)) {
            if (line.rfind("=== ", 0) == 0) {
                cases.push_back(Case{});
                cases.back().file = n;
                cases.back().title = line.substr(4);
                block = nullptr;
                continue;
            }
            if (cases.empty()) continue;
            Case &c = cases.back();
            if (line == "--- stdout") {
                block = &c.out;
            } else if (line == "--- stderr") {
                block = &c.err;
            } else if (line.rfind("--- file ", 0) == 0) {
                block = &c.files[line.substr(9)];
            } else if (block) {
                *block += line + "\n";
            } else if (line.rfind("args:", 0) == 0) {
                c.args = split_args(line.substr(5));
            } else if (line.rfind("env: ", 0) == 0) {
                size_t eq = line.find('=');
                c.env.emplace_back(line.substr(5, eq - 5), line.substr(eq + 1));
            } else if (line.rfind("status: ", 0) == 0) {
                c.status = std::stoi(line.substr(8));
            }
        }
    }
    return cases;
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.file << ": " << c.title; }

class CaseTest : public testing::TestWithParam<Case> {};

TEST_P(CaseTest, MatchesExpectedOutput) {
    const Case &c = GetParam();
    std::string dir = testing_support::make_temp_dir();
    ASSERT_EQ(symlink(FUNSIZE_TEST_DATA, (dir + "/data").c_str()), 0);
    for (const auto &[name, text] : c.files) testing_support::write_file(dir + "/" + name, text);
    auto r = run_program(FUNSIZE_BINARY, c.args, dir, c.env, "funsize");
    EXPECT_EQ(r.out, c.out) << c.file << ": " << c.title;
    EXPECT_EQ(r.err, c.err) << c.file << ": " << c.title;
    EXPECT_EQ(r.status, c.status) << c.file << ": " << c.title;
    std::string cleanup = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

std::string case_name(const testing::TestParamInfo<Case> &info) {
    std::string n = info.param.file.substr(0, info.param.file.size() - 6) + "_" + std::to_string(info.index);
    for (char &ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, testing::ValuesIn(load_cases()), case_name);

}  // namespace
