// Runtime switches: defaults, the environment, the switch file, arguments,
// changes at run time and conflicting definitions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dbg_writer.h"
#include "gen_switch.h"
#include "indgen.h"
#include "run_program.h"
#include "st_var.h"

namespace {

using dbgw::MessageLog;
using Lines = std::vector<std::string>;

const std::string W = "4|";

class GenSwitch : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing_support::make_temp_dir();
        file_ = dir_ + "/prog.gsw";
        unsetenv("LKS_GSW_FixHostBt"), unsetenv("LKS_GSW_SampleGSwitch");
        gen_switch_use_file(file_.c_str());
        gen_switch_reset();
    }
    void TearDown() override {
        unsetenv("LKS_GSW_FixHostBt"), unsetenv("LKS_GSW_SampleGSwitch");
        gen_switch_use_file(nullptr);
        gen_switch_reset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void gsw(const std::string &text) { testing_support::write_file(file_, text); }
    void init(std::vector<std::string> args = {"prog"}) {
        args_ = args;
        argv_.clear();
        for (std::string &a : args_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
        argc_ = int(args_.size());
        gen_switch_init(&argc_, argv_.data());
    }
    Lines remaining() const { return Lines(argv_.begin(), argv_.begin() + argc_); }

    std::string dir_, file_;
    std::vector<std::string> args_;
    std::vector<char *> argv_;
    int argc_ = 0;
};

TEST_F(GenSwitch, DefaultsSwitchFileAndEnvironment) {
    MessageLog log;
    init();
    EXPECT_TRUE(gen_switch_get(&GSwitch_FixHostBt));
    EXPECT_EQ(gen_switch_find("fixhostbt")->source, GEN_SWITCH_COMPILED_IN);
    EXPECT_EQ(gen_switch_find("NoSuchSwitch"), nullptr);

    // Bad lines warn and change nothing; line ends may be CR, LF or both; a
    // name no switch has is reported after the file. (Comments and names in
    // any case are checked end to end.)
    gen_switch_reset();
    gsw("fixhostbt 0\rSampleGSwitch 1 extra\r\nSampleGSwitch\nSampleGSwitch x\nSampleGSwitch 2\nNoSuchName 1\n");
    init();
    EXPECT_FALSE(gen_switch_get(&GSwitch_FixHostBt));
    EXPECT_EQ(gen_switch_find("FixHostBt")->source, GEN_SWITCH_GSW_FILE);
    EXPECT_EQ(gen_switch_find("SampleGSwitch")->value, 0);
    EXPECT_EQ(log.all(), (Lines{W + "Trailing garbage after switch on line 2 for switch SampleGSwitch",
                                W + "Invalid switch format on line 3: SampleGSwitch",
                                W + "Invalid switch value format on line 4 for switch SampleGSwitch",
                                W + "Invalid switch value 2 on line 5 for switch SampleGSwitch",
                                W + "Unknown switch specified in .gsw file: NoSuchName"}));

    // The environment: only the single characters 0 and 1 count. (The switch
    // file coming after it is checked end to end.)
    gsw("");
    for (const char *v : {"0", "00", "true"}) {
        gen_switch_reset();
        setenv("LKS_GSW_FixHostBt", v, 1);
        init();
        EXPECT_EQ(gen_switch_get(&GSwitch_FixHostBt), v[1] != 0) << v;
        EXPECT_EQ(gen_switch_find("FixHostBt")->source, v[1] ? GEN_SWITCH_COMPILED_IN : GEN_SWITCH_ENVIRONMENT);
    }
}

TEST_F(GenSwitch, CommandLineArguments) {
    MessageLog log;
    init({"prog", "-LKSZFixHostBt", "keep", "-LKSArgXsamplegswitch", "-LKSXNoSuch", "-LKSArgZNoSuch", "-LKSX", "--",
          "-LKSXFixHostBt"});
    EXPECT_EQ(remaining(), (Lines{"prog", "keep", "--", "-LKSXFixHostBt"}));
    EXPECT_TRUE(!gen_switch_get(&GSwitch_FixHostBt) && gen_switch_get(gen_switch_find("SampleGSwitch")));
    EXPECT_EQ((std::vector<uint32_t>{gen_switch_find("FixHostBt")->source, gen_switch_find("SampleGSwitch")->source}),
              (std::vector<uint32_t>{GEN_SWITCH_COMMAND_LINE, GEN_SWITCH_COMMAND_LINE_ARG}));
    EXPECT_STREQ(std::getenv("LKS_GSW_FixHostBt"), "0");
    EXPECT_EQ(log.all(), (Lines{W + "No LKS switch found for NoSuch, ignoring",
                                                   W + "No LKS XSwitch name specified, ignoring argument."}));
    int argc = 2;
    char **argv = static_cast<char **>(gen_calloc_fn(3, sizeof(char *)));
    argv[0] = const_cast<char *>("child"), argv[1] = const_cast<char *>("in.o");
    gen_switch_add_child_args(&argc, &argv, true);
    ASSERT_EQ(argc, 4);
    EXPECT_EQ(std::vector<std::string>(argv, argv + 4),
              (Lines{"child", "-LKSArgZFixHostBt", "-LKSArgXSampleGSwitch", "in.o"}));
    EXPECT_EQ(argv[4], nullptr);
    gen_free_fn(argv[1]), gen_free_fn(argv[2]), gen_free_fn(argv);
}

TEST_F(GenSwitch, ChangesAtRunTime) {
    MessageLog log;
    EXPECT_FALSE(gen_switch_set_by_name("FixHostBt", false, false));
    gen_switch_get(&GSwitch_FixHostBt);  // read before initialisation
    init();
    gen_switch_set(&GSwitch_FixHostBt, false);
    EXPECT_TRUE(!gen_switch_get(&GSwitch_FixHostBt) && gen_switch_find("FixHostBt")->source == GEN_SWITCH_RUNTIME);
    EXPECT_EQ((std::vector<bool>{gen_switch_set_by_name("fixHOSTbt", true, false), gen_switch_get(&GSwitch_FixHostBt),
                                 gen_switch_set_by_name("Unknown", true, false), gen_switch_set_by_name("Unknown", true, true),
                                 gen_switch_set_by_name("", true, true)}),
              (std::vector<bool>{true, true, false, true, false}));
    EXPECT_EQ(log.all(), (Lines{"3|Attempted to modify switch by name before initialization is done.",
                                W + "Attempting to modify switch FixHostBt that was used before being initialized.",
                                W + "Changing switch FixHostBt which has been used in the past.",
                                W + "Unknown switch name Unknown, ignoring."}));
    int count = 0;
    const char *const *child = gen_switch_child_args(&count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::string(child[0]) + " " + child[1], "-LKSArgXFixHostBt -LKSArgXUnknown");
}

TEST_F(GenSwitch, ConflictingDefinitionsEndTheRun) {
    MessageLog log;
    init();
    // A record of a known name from the same file and line shares its value.
    gen_switch_reset();
    gen_switch_def *canon = gen_switch_find("FixHostBt");
    gen_switch_def twin = GSwitch_FixHostBt;
    twin.registered = 0;
    gen_switch_register(&twin);
    EXPECT_EQ(twin.canonical, canon);

    // The records stay alive for the rest of the test: a failed
    // registration may leave them in the name table.
    auto fatal_of = [&](gen_switch_def *def) {
        log.clear();
        try { gen_switch_register(def); } catch (const dbgw::Exited &e) {
            EXPECT_EQ(e.status, 1);
            return log.all().empty() ? std::string() : log.all().back();
        }
        return std::string("no exit");
    };
    gen_switch_def lines = twin, files = twin;
    lines.registered = files.registered = 0;
    lines.line = twin.line + 1, files.file = "elsewhere.h";
    EXPECT_EQ(fatal_of(&lines),
              "2|Error: GSwitch FixHostBt is defined on multiple lines of the same file: " + std::string(twin.file) +
                  "#(" + std::to_string(lines.line) + "," + std::to_string(twin.line) + ")");
    EXPECT_EQ(fatal_of(&files),
              "2|Error: GSwitch FixHostBt is defined in multiple files (elsewhere.h, " + std::string(twin.file) + ")");
    gen_switch_def fresh = {"FreshSwitch", 0, nullptr, 0, 0, 0, GEN_SWITCH_RUNTIME, "x.cpp", 1, 0, nullptr};
    EXPECT_EQ(fatal_of(&fresh), "2|Error: GSwitch FreshSwitch is not defined with the correct source.");
    init();
    gen_switch_def late = {"LateSwitch", 0, nullptr, 0, 0, 0, GEN_SWITCH_COMPILED_IN, "x.cpp", 1, 0, nullptr};
    EXPECT_EQ(fatal_of(&late), "2|Switch LateSwitch being registered after initialization is complete.");
    gen_switch_reset();
}

}  // namespace
