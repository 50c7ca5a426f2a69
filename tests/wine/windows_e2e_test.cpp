// What only the Windows build does, run under wine: a program file named in
// capitals, operands with drive letters and '\', and the switch file beside
// the executable. wine maps this machine's root to drive Z:.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::read_file;
using testing_support::run_program;
using testing_support::write_file;

// The Windows spelling of a path of this machine.
std::string drive_path(const std::string &path) {
    std::string out = "Z:" + path;
    for (char &c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string crlf_to_lf(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

class WindowsE2E : public testing::Test {
protected:
    std::string dir, exe;

    void SetUp() override {
        dir = fs::canonical(make_temp_dir()).string();
        fs::create_directory(dir + "/bin");
        fs::create_directory(dir + "/in");
        exe = dir + "/bin/FUNSIZE.EXE";
        fs::copy_file(FUNSIZE_EXE, exe);
        write_file(dir + "/in/sample.o", read_file(std::string(FUNSIZE_TEST_DATA) + "/sample.o"));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

TEST_F(WindowsE2E, CapitalExeDriveLettersAndTheSwitchFile) {
    // The usual run (tests/e2e: funsize beside funsize.exe) is the reference.
    auto plain = run_program(FUNSIZE_BINARY, {"in/sample.o"}, dir);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_FALSE(plain.out.empty());

    // Started by its Windows path in capitals: the messages are those of
    // "FUNSIZE"; operands with a drive letter and '\' read the same file.
    const std::string operand = drive_path(dir + "/in/sample.o");
    auto r = run_program(FUNSIZE_WINE_RUN, {drive_path(exe), operand}, dir);
    EXPECT_EQ(crlf_to_lf(r.out), plain.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    r = run_program(FUNSIZE_WINE_RUN, {drive_path(exe), "in\\missing.o"}, dir);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(crlf_to_lf(r.err), "FUNSIZE: fatal: unable to open input file 'in\\missing.o'\n");
    EXPECT_EQ(r.status, 1);

    // "-file" shows the operand as it was written.
    r = run_program(FUNSIZE_WINE_RUN, {drive_path(exe), "-file", "-func=main", "in\\sample.o"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(crlf_to_lf(r.out).rfind("in\\sample.o", 0), 0u) << r.out;

    // The switch file is the program's path with ".gsw": beside FUNSIZE.EXE.
    write_file(dir + "/bin/FUNSIZE.gsw", "FixHostBt 2\r\n");
    r = run_program(FUNSIZE_WINE_RUN, {drive_path(exe), operand}, dir);
    EXPECT_EQ(crlf_to_lf(r.err), "FUNSIZE: warning: Invalid switch value 2 on line 1 for switch FixHostBt\n");
    EXPECT_EQ(crlf_to_lf(r.out), plain.out);
    EXPECT_EQ(r.status, 0);
}

}  // namespace
