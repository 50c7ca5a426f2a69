// Where the report goes when its reader cannot take it: a full device ends
// the run with a fatal message, a reader that went away early ends it quietly.
// Both need a shell around the binary for the redirection and the pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "elf_writer.h"
#include "run_program.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::RunResult;
using testing_support::run_program;
using testing_support::write_file;

// Runs `script` under /bin/sh with the binary as $0 and `file` as $1.
RunResult shell(const std::string &script, const std::string &file) {
    return run_program("/bin/sh", {"-c", script, FUNSIZE_BINARY, file});
}

// An object of `count` functions whose report is many times a pipe's buffer.
std::string big_object(const std::string &dir, int count) {
    elfw::ElfFile f;
    f.sections = {elfw::code_section(".text", 0x1000, uint64_t(count) * 16)};
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "a_function_with_a_long_name_%06d", i);
        f.symbols.push_back(elfw::func(name, 0x1000 + uint64_t(i) * 16, 16, 1));
    }
    std::string path = dir + "/big.o";
    write_file(path, elfw::write_elf(f));
    return path;
}

TEST(OutputE2E, FullDeviceIsAFatalError) {
    SKIP_BEHIND_WRAPPER();
    const std::string sample = std::string(FUNSIZE_TEST_DATA) + "/sample.o";
    RunResult r = shell("exec \"$0\" \"$1\" >/dev/full", sample);
    EXPECT_EQ(r.err, "funsize: fatal: can't write output to standard output\n");
    EXPECT_EQ(r.status, 1);

    // A report larger than the stream's buffer fails while it is written,
    // not only at the end; the message still comes once.
    const std::string dir = make_temp_dir();
    r = shell("exec \"$0\" \"$1\" >/dev/full", big_object(dir, 20000));
    EXPECT_EQ(r.err, "funsize: fatal: can't write output to standard output\n");
    EXPECT_EQ(r.status, 1);

    // Nothing to write, nothing lost: the status is the run's own.
    r = shell("exec \"$0\" -func=no_such_function \"$1\" >/dev/full", sample);
    EXPECT_EQ(r.err.find("can't write"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 1);
    std::remove((dir + "/big.o").c_str());
    std::remove(dir.c_str());
}

TEST(OutputE2E, ClosedPipeStaysQuiet) {
    SKIP_BEHIND_WRAPPER();
    const std::string dir = make_temp_dir();
    const std::string big = big_object(dir, 20000);

    // The reader takes one line and goes; the writer ends without a word.
    RunResult r = shell("\"$0\" \"$1\" | head -1", big);
    EXPECT_EQ(r.out, "a_function_with_a_long_name_000000      16\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // Where the broken pipe is not a signal but a failed write, the run
    // still ends quietly and with its own status.
    r = shell("trap '' PIPE; { \"$0\" \"$1\"; echo \"status $?\" >&2; } | head -1", big);
    EXPECT_EQ(r.out, "a_function_with_a_long_name_000000      16\n");
    EXPECT_EQ(r.err, "status 0\n");
    EXPECT_EQ(r.status, 0);
    std::remove(big.c_str());
    std::remove(dir.c_str());
}

}  // namespace
