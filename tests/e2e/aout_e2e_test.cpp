// The real binary on a.out files of every layout, alone and as archive
// members, written byte by byte (no tool chain at hand makes these).
// Each case states the input and the answer side by side: the expected
// lines are worked out from the symbols and text sizes written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "aout_writer.h"
#include "ar_writer.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::make_temp_dir;
using testing_support::RunResult;
using testing_support::run_program;
using testing_support::write_file;

// One report line with the default options. Every a.out target keeps the
// leading underscore, so names are printed as written in the file (a "." or
// "%" in front is shown as "_"), padded as the name without that character
// would be.
std::string line(const std::string &name, unsigned size) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%c%-20s %7u\n", '_', name.substr(1).c_str(), size);
    return buf;
}

// The same with "-addr -hex": the start in eight hexadecimal digits, the
// size in hexadecimal with its "0x".
std::string hex_line(const std::string &name, unsigned start, unsigned size) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%c%-20s 0x%08x %#7x\n", '_', name.substr(1).c_str(), start, size);
    return buf;
}

// The "-file" prefix: the name and a colon, padded to 31 columns.
std::string prefix(const std::string &file) {
    std::string p = file + ":";
    p.resize(31, ' ');
    return p;
}

// Every line of `report` behind `head`.
std::string prefixed(const std::string &head, const std::string &report) {
    std::string out;
    for (size_t at = 0; at < report.size();) {
        const size_t end = report.find('\n', at) + 1;
        out += head + report.substr(at, end - at);
        at = end;
    }
    return out;
}

class AoutE2E : public testing::Test {
  protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void put(const std::string &name, const std::string &bytes) { write_file(dir_ + "/" + name, bytes); }
    RunResult run(const std::vector<std::string> &args) { return run_program(FUNSIZE_BINARY, args, dir_); }

    std::string dir_;
};

// Function symbols with a data symbol and a plain-named label in between,
// out of address order; text 0x100 bytes from the lowest function (0x1020).
//   _helper 0x1020..0x1040, _main 0x1040..0x1080 ("letter" and the data
//   symbol do not end it), .local 0x1080..0x10a0, %pct 0x10a0..0x10c0 (the
//   local label ..L1 ends it), ..L1 not printed.
aoutw::AoutFile with_symbols(aoutw::AoutFile f) {
    f.text_size = 0x100;
    f.data_size = 0x10;
    f.symbols = {aoutw::text("_main", 0x1040),          aoutw::text("_helper", 0x1020, false),
                 aoutw::text("letter", 0x1060),         aoutw::symbol("_data", N_DATA | N_EXT, 0x1070),
                 aoutw::text(".local", 0x1080, false),  aoutw::text("%pct", 0x10a0),
                 aoutw::text("..L1", 0x10c0, false),    aoutw::symbol("_abs", N_ABS | N_EXT, 0x1000)};
    return f;
}
const std::string kReport = line("_helper", 0x20) + line("_main", 0x40) + line(".local", 0x20) + line("%pct", 0x20);

struct Named {
    const char *file;
    aoutw::AoutFile desc;
};
std::vector<Named> every_layout() {
    return {{"sparc.o", aoutw::sparc_dynamic()},   {"x86.o", aoutw::x86_omagic()},
            {"m68k_omagic.o", aoutw::m68k(OMAGIC)}, {"m68k_nmagic.o", aoutw::m68k(NMAGIC)},
            {"m68k_zmagic.o", aoutw::m68k(ZMAGIC)}, {"vax.o", aoutw::little_zmagic()}};
}

TEST_F(AoutE2E, EveryLayoutAlone) {
    for (const Named &n : every_layout()) {
        SCOPED_TRACE(n.file);
        put(n.file, aoutw::write_aout(with_symbols(n.desc)));
        RunResult r = run({n.file});
        EXPECT_EQ(r.out, kReport);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }

    // Two operands put the file name in front; "-addr -hex" show the start
    // and the size in hexadecimal. The text of this one is 0x2000 bytes
    // from 0x2020: _start ends at _main, _main at 0x4020.
    aoutw::AoutFile sparc = aoutw::sparc_dynamic();
    sparc.text_size = 0x2000;
    sparc.symbols = {aoutw::text("_main", 0x2080), aoutw::text("_start", 0x2020)};
    put("prog", aoutw::write_aout(sparc));
    put("x86.o", aoutw::write_aout(with_symbols(aoutw::x86_omagic())));
    RunResult r = run({"-addr", "-hex", "prog", "x86.o"});
    EXPECT_EQ(r.out, prefix("prog") + hex_line("_start", 0x2020, 0x60) +
                         prefix("prog") + hex_line("_main", 0x2080, 0x1fa0) +
                         prefix("x86.o") + hex_line("_helper", 0x1020, 0x20) +
                         prefix("x86.o") + hex_line("_main", 0x1040, 0x40) +
                         prefix("x86.o") + hex_line(".local", 0x1080, 0x20) +
                         prefix("x86.o") + hex_line("%pct", 0x10a0, 0x20));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // "-nounderscores" drops the restored underscore.
    r = run({"-nounderscores", "prog"});
    EXPECT_EQ(r.out, line("_start", 0x60).substr(1) + line("_main", 0x1fa0).substr(1));
    EXPECT_EQ(r.status, 0);
}

TEST_F(AoutE2E, MembersOfAnArchive) {
    std::vector<ar_writer::ArMember> members;
    for (const Named &n : every_layout()) members.emplace_back(n.file, aoutw::write_aout(with_symbols(n.desc)));
    // A member with no "main": "_start" fills its 0x40 bytes of text.
    aoutw::AoutFile other = aoutw::x86_omagic();
    other.text_size = 0x40;
    other.symbols = {aoutw::text("_start", 0x0)};
    members.emplace_back("start.o", aoutw::write_aout(other));
    ar_writer::ArOptions options;
    options.symbol_table = true;
    put("liba.a", ar_writer::write_archive(members, options));

    std::string expected, compared;
    for (const Named &n : every_layout()) {
        expected += prefixed(prefix(std::string("liba.a(") + n.file + ")"), kReport);
        compared += prefixed(std::string(n.file) + ":", kReport);
    }
    expected += prefix("liba.a(start.o)") + line("_start", 0x40);
    compared += "start.o:" + line("_start", 0x40);
    RunResult r = run({"-file", "liba.a"});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // "-gcompare" names the member alone, without padding.
    r = run({"-gcompare", "liba.a"});
    EXPECT_EQ(r.out, compared);
    EXPECT_EQ(r.status, 0);

    // A requested name missing from the last member: counted, not reported,
    // and the status; found in every other member.
    r = run({"-func=main", "liba.a"});
    std::string mains;
    for (size_t i = 0; i < every_layout().size(); ++i) mains += line("_main", 0x40);
    EXPECT_EQ(r.out, mains);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    // The same member as a plain file says so.
    put("start.o", members.back().data);
    r = run({"-func=main", "start.o"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: error: main not found in file start.o\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(AoutE2E, TablesRunningPastTheEnd) {
    aoutw::AoutLayout at;
    const std::string good = aoutw::write_aout(with_symbols(aoutw::sparc_dynamic()), &at);

    // a_syms claims 100 million entries (1.2 GB) in a file of a few KB.
    std::string bad = good;
    aoutw::put32(bad, aoutw::header_word(4), 1200000000, true);
    put("syms.o", bad);
    RunResult r = run({"syms.o"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: fatal: read failed, unexpected EOF\n");
    EXPECT_EQ(r.status, 1);

    // The symbol table cut short: the last entry is missing.
    put("cut.o", good.substr(0, at.sym_offset + 7 * 12 + 5));
    r = run({"cut.o"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "funsize: fatal: read failed, unexpected EOF\n");
    EXPECT_EQ(r.status, 1);

    // A string table larger than the file.
    bad = good;
    aoutw::put32(bad, at.str_offset, 0x7ffffff0, true);
    put("strs.o", bad);
    r = run({"strs.o"});
    EXPECT_EQ(r.err, "funsize: fatal: read failed, unexpected EOF\n");
    EXPECT_EQ(r.status, 1);

    // As the second member of an archive: the first member is reported, then
    // the run ends; nothing after the damaged member is looked at.
    aoutw::put32(bad, aoutw::header_word(4), 1200000000, true);
    put("x86.o", aoutw::write_aout(with_symbols(aoutw::x86_omagic())));
    put("libbad.a", ar_writer::write_archive({{"good.o", good}, {"bad.o", bad}, {"after.o", good}}));
    // (Two operands put the display name in front of each line.)
    r = run({"libbad.a", "x86.o"});
    EXPECT_EQ(r.out, prefixed(prefix("libbad.a(good.o)"), kReport));
    EXPECT_EQ(r.err, "funsize: fatal: read failed, unexpected EOF\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
