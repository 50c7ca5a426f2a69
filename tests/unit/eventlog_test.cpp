// The crash and event log: written only where LKS_RNE_DUMP_PATH says, when
// the program dies of an assertion failure or a fatal signal, holding the
// most recent notifications in the order they came.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "genout.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;

// The files a dying child left in `dir`, with their contents.
std::vector<std::string> logs_in(const std::string &dir) {
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        EXPECT_EQ(e.path().filename().string().rfind("prog-", 0), 0u) << e.path();
        EXPECT_EQ(e.path().extension(), ".log");
        std::stringstream text;
        text << std::ifstream(e.path()).rdbuf();
        out.push_back(text.str());
    }
    return out;
}

void die_of_assertion(const char *folder, int notes) {
    folder ? setenv("LKS_RNE_DUMP_PATH", folder, 1) : unsetenv("LKS_RNE_DUMP_PATH");
    gen_eventlog_init("prog");
    for (int i = 1; i <= notes; ++i) gen_eventlog_note("GSWITCH", ("entry " + std::to_string(i) + "\n").c_str());
    gen_assert(false, "x", "f", 3, 0);
}

TEST(EventLog, AssertionFailureWritesTheRecentEntriesWhereTheSettingSays) {
    const std::string dir = testing_support::make_temp_dir();
    EXPECT_EXIT(die_of_assertion(dir.c_str(), 70), testing::ExitedWithCode(1), "Assertion failed");
    const auto logs = logs_in(dir);
    ASSERT_EQ(logs.size(), 1u);
    ASSERT_EQ(logs[0].rfind("event log of prog, process ", 0), 0u) << logs[0];
    // The last 64 entries, oldest first, one line each: the assertion's own
    // message is the newest.
    std::string entries;
    for (int i = 8; i <= 70; ++i) entries += "GSWITCH: entry " + std::to_string(i) + "\n";
    entries += "DOMESSAGE Unknown Code: Assertion failed in 'f' on line 3\n";
    EXPECT_EQ(logs[0].substr(logs[0].find(", ended by: ")), ", ended by: encountered an assertion failure\n" + entries);

    // Unset or empty, the setting names no folder: not even the current one.
    const std::string empty = testing_support::make_temp_dir();
    const fs::path here = fs::current_path();
    fs::current_path(empty);
    EXPECT_EXIT(die_of_assertion(nullptr, 1), testing::ExitedWithCode(1), "Assertion failed");
    EXPECT_EXIT(die_of_assertion("", 1), testing::ExitedWithCode(1), "Assertion failed");
    fs::current_path(here);
    EXPECT_TRUE(fs::is_empty(empty));
}

TEST(EventLog, FatalSignalWritesTheLogAndStillEndsBySignal) {
    const std::string dir = testing_support::make_temp_dir();
    EXPECT_EXIT(
        {
            setenv("LKS_RNE_DUMP_PATH", dir.c_str(), 1);
            gen_eventlog_init("prog");
            gen_eventlog_note("libst", "loaded a.dnm");
            std::raise(SIGSEGV);
        },
        testing::KilledBySignal(SIGSEGV), "");
    const auto logs = logs_in(dir);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find(", ended by: SIGSEGV\n"), std::string::npos) << logs[0];
    EXPECT_TRUE(logs[0].ends_with("\nlibst: loaded a.dnm\n")) << logs[0];
}

}  // namespace
