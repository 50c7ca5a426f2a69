// Runs the end-to-end cases kept as data in tests/e2e/cases/*.cases:
//
//   === define usage        a text; "@include usage" later in the file stands for it
//   === what the case shows
//   cwd: work               optional: the runs start in this subdirectory
//   program: bin/funsize    optional: the runs start a copy of the binary put there
//   tool: funsize-diff      optional: the runs start the comparison program
//   shell: sh               optional: each run is a script for /bin/sh, with
//                           the program as $0 (for pipes and redirections)
//   cut: x.o 120            optional, repeatable: input x.o cut to 120 bytes
//   absent: work/x.o        optional: a file the runs must not make
//   --- file args.txt       an input: the lines below, or with "from PATH" a copy
//   ...                     of PATH (unpacked if ".gz"); "--- elf x.o" and aout, ar,
//                           dbg, program build it from a description (case_inputs.h)
//   $ NAME=value -addr x.o  a run (environment, then arguments split at blanks);
//   ...                     then its standard output, "! " standard error lines
//   ! funsize: error: ...   and "? " its status (0 when not given)
//   ? 1
//   --- output report.txt   a file the runs write in text mode
//
// A case runs in a fresh directory with all its inputs, made before its first
// run, and a link "data" to the committed test inputs; "@DIR@" stands for that
// directory, and "@HOST{/x}" its subpath x as a full path name of the
// program's host. In expected text "@windows TEXT" is a line only the
// Windows build writes. Everything is compared byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "case_inputs.h"
#include "run_program.h"

// The line end of files opened in text mode, and the drive that maps this
// machine's root: set where the Windows build runs.
#ifndef FUNSIZE_TEXT_LINE_END
#define FUNSIZE_TEXT_LINE_END "\n"
#endif
#ifndef FUNSIZE_HOST_DRIVE
#define FUNSIZE_HOST_DRIVE ""
#endif

namespace {

namespace fs = std::filesystem;
using testing_support::replace_all;
using Lines = std::vector<std::string>;

struct Input {
    std::string kind, name, from;
    Lines lines;
};

struct Step {
    std::string args;
    std::string out, err;
    int status = 0;
};

struct Case {
    std::string file, title;
    std::map<std::string, std::string> settings;  // "cwd:", "program:", "tool:", "shell:", "absent:"
    std::vector<std::pair<std::string, uint64_t>> cuts;
    std::vector<Input> inputs;
    std::vector<Step> runs;
    std::map<std::string, std::string> outputs;
};

void load_file(const std::string &name, std::vector<Case> &cases) {
    std::ifstream in(std::string(FUNSIZE_CASES) + "/" + name, std::ios::binary);
    std::map<std::string, Lines> texts;
    Lines *lines = nullptr;         // the text or input being read
    std::string *output = nullptr;  // the output file being read
    Step *run = nullptr;
    auto take = [&](const std::string &line) {
        if (lines)
            lines->push_back(line);
        else if (output)
            *output += line + "\n";
        else if (line.rfind("! ", 0) == 0)
            run->err += line.substr(2) + "\n";
        else if (line.rfind("? ", 0) == 0)
            run->status = std::stoi(line.substr(2));
        else
            run->out += line + "\n";
    };
    for (std::string line; std::getline(in, line);) {
        const bool new_case = line.rfind("=== ", 0) == 0, new_run = line.rfind("$", 0) == 0;
        if (new_case || new_run || line.rfind("--- ", 0) == 0) lines = nullptr, output = nullptr, run = nullptr;
        if (new_case && line.rfind("=== define ", 0) == 0) {
            lines = &texts[line.substr(11)];
        } else if (new_case) {
            cases.emplace_back().file = name;
            cases.back().title = line.substr(4);
        } else if (new_run && !cases.empty()) {
            run = &cases.back().runs.emplace_back();
            run->args = line.substr(std::min<size_t>(2, line.size()));
        } else if (lines || output || run) {
            if (line.rfind("@include ", 0) == 0)
                for (const std::string &l : texts[line.substr(9)]) take(l);
            else
                take(line);
        } else if (!cases.empty()) {
            Case &c = cases.back();
            std::istringstream in_words(line);
            Lines w;
            for (std::string word; in_words >> word;) w.push_back(word);
            w.resize(std::max<size_t>(w.size(), 5));
            if (w[0] == "---" && w[1] == "output")
                output = &c.outputs[w[2]];
            else if (w[0] == "---")
                lines = &c.inputs.emplace_back(Input{w[1], w[2], w[3] == "from" ? w[4] : "", {}}).lines;
            else if (w[0] == "cut:")
                c.cuts.emplace_back(w[1], std::stoull(w[2], nullptr, 0));
            else
                c.settings[w[0]] = w[1];
        }
    }
}

std::vector<Case> load_cases() {
    std::vector<Case> cases;
    std::set<std::string> names;  // in name order
    for (const auto &e : fs::directory_iterator(FUNSIZE_CASES))
        if (e.path().extension() == ".cases") names.insert(e.path().filename().string());
    for (const std::string &n : names) load_file(n, cases);
    return cases;
}

// A line with the case's directory and its host paths put in.
std::string with_paths(std::string line, const std::string &dir) {
    const std::string drive = FUNSIZE_HOST_DRIVE;
    for (size_t at, end; (at = line.find("@HOST{")) != std::string::npos && (end = line.find('}', at)) != std::string::npos;) {
        std::string path = dir + line.substr(at + 6, end - at - 6);
        if (!drive.empty()) path = drive + replace_all(path, "/", "\\");
        line.replace(at, end + 1 - at, path);
    }
    return replace_all(line, "@DIR@", dir);
}

// Expected text as the program writes it on its host.
std::string expected(const std::string &text, const std::string &dir) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("@windows ", 0) == 0) {
            if (*FUNSIZE_HOST_DRIVE == '\0') continue;
            line = line.substr(9);
        }
        out += with_paths(line, dir) + "\n";
    }
    return out;
}

// The inputs of a case in its directory; what went wrong, or "".
std::string make_inputs(const Case &c, const std::string &dir) {
    for (const Input &in : c.inputs) {
        const std::string path = dir + "/" + in.name, from = dir + "/" + in.from;
        fs::create_directories(fs::path(path).parent_path());
        if (in.kind != "file") {
            if (std::string bad = e2e_cases::build_input(in.kind, in.name, in.lines, dir); !bad.empty()) return bad;
        } else if (in.from.size() > 3 && in.from.substr(in.from.size() - 3) == ".gz") {
            if (std::system(("gzip -dc '" + from + "' > '" + path + "'").c_str()) != 0) return "cannot unpack " + from;
        } else if (!in.from.empty()) {
            fs::copy_file(from, path);
        } else {
            std::string text;
            for (const std::string &l : in.lines) text += l + "\n";
            testing_support::write_file(path, text);
        }
    }
    for (const auto &[name, size] : c.cuts) fs::resize_file(dir + "/" + name, size);
    return "";
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.file << ": " << c.title; }

class CaseTest : public testing::TestWithParam<Case> {};

TEST_P(CaseTest, MatchesExpectedOutput) {
    const Case &c = GetParam();
    if (c.settings.count("shell:")) SKIP_BEHIND_WRAPPER();
    // Nothing of a view path may leak in from the environment of the tests.
    for (const char *v : {"NVPATH", "NVSRPATH", "LKS_VP_XSW", "LKS_VP_DEBUG", "LKS_VP_OFF", "LKS_VP_SLOW"}) unsetenv(v);
    const std::string dir = fs::canonical(testing_support::make_temp_dir()).string();
    ASSERT_EQ(symlink(FUNSIZE_TEST_DATA, (dir + "/data").c_str()), 0);
    ASSERT_FALSE(c.runs.empty());
    ASSERT_EQ(make_inputs(c, dir), "");
    auto setting = [&](const char *key) { return c.settings.count(key) ? c.settings.at(key) : ""; };
    std::string program = FUNSIZE_BINARY, argv0 = "funsize", cwd = dir + "/" + setting("cwd:");
    if (setting("tool:") == "funsize-diff") program = argv0 = FUNSIZE_DIFF_BINARY;
    if (!setting("program:").empty()) {
        program = argv0 = dir + "/" + setting("program:");
        fs::create_directories(fs::path(program).parent_path());
        fs::copy_file(FUNSIZE_BINARY, program);
    }
    fs::create_directories(cwd);
    for (const Step &run : c.runs) {
        SCOPED_TRACE("$ " + run.args);
        std::istringstream words(with_paths(run.args, dir));
        Lines args;
        for (std::string word; words >> word;) args.push_back(word);
        std::vector<std::pair<std::string, std::string>> env;
        for (size_t eq; !args.empty() && std::isupper(static_cast<unsigned char>(args[0][0])) &&
                        (eq = args[0].find('=')) != std::string::npos;
             args.erase(args.begin()))
            env.emplace_back(args[0].substr(0, eq), args[0].substr(eq + 1));
        auto r = setting("shell:").empty()
                     ? testing_support::run_program(program, args, cwd, env, argv0)
                     : testing_support::run_program("/bin/sh", {"-c", with_paths(run.args, dir), program}, cwd);
        EXPECT_EQ(r.out, expected(run.out, dir));
        EXPECT_EQ(r.err, expected(run.err, dir));
        EXPECT_EQ(r.status, run.status);
    }
    for (const auto &[name, text] : c.outputs)
        EXPECT_EQ(testing_support::read_file(dir + "/" + name), replace_all(text, "\n", FUNSIZE_TEXT_LINE_END));
    EXPECT_TRUE(setting("absent:").empty() || !fs::exists(dir + "/" + setting("absent:"))) << setting("absent:");
    std::error_code ec;
    fs::remove_all(dir, ec);
}

std::string case_name(const testing::TestParamInfo<Case> &info) {
    std::string n = info.param.file.substr(0, info.param.file.size() - 6) + "_" + std::to_string(info.index);
    for (char &ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, testing::ValuesIn(load_cases()), case_name);

}  // namespace
