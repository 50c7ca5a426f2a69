// End-to-end runs on the tool chain's debug-information files: a synthetic
// program (name file, .dla of three debug objects, the same objects as plain
// .dbo files) and stand-alone .dbg files, written with the symbol-table
// library's writer. The expected lines follow from the descriptions below.
// A .dla walked member by member reads its name file for every member; the
// library may keep it between members (checked by its bytes while the file
// is new, by its times once it has aged), so those runs are repeated after
// the files have aged, with the same results.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "dla_writer.h"
#include "elf_writer.h"
#include "run_program.h"

namespace {

using testing_support::make_temp_dir;
using testing_support::run_program;
using testing_support::write_file;

std::string line(const std::string &name, unsigned long long size) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-20s %7llu\n", name.c_str(), size);
    return buf;
}

std::string line_addr(const std::string &name, unsigned long long addr, unsigned long long size) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-20s 0x%08llx %7llu\n", name.c_str(), addr, size);
    return buf;
}

// The file prefix of "-file": the name and a colon in 31 columns, or the
// name, a colon and a blank when it is longer.
std::string with_file(const std::string &file, const std::string &lines) {
    std::string prefix = file + ":";
    if (prefix.size() < 31)
        prefix.resize(31, ' ');
    else
        prefix += ' ';
    std::string out;
    for (size_t at = 0; at < lines.size();) {
        size_t end = lines.find('\n', at);
        out += prefix + lines.substr(at, end + 1 - at);
        at = end + 1;
    }
    return out;
}

std::string error(const std::string &text) { return "funsize: error: " + text + "\n"; }
std::string fatal(const std::string &text) { return "funsize: fatal: " + text + "\n"; }

std::string text(const dbgw::Bytes &b) { return std::string(b.begin(), b.end()); }

// The program: three objects in a 32-bit address space with two sections.
//   a.dbo: main [0x1000,0x1040), helper at 0x1040 without an end of its
//          own, a decorated local name [0x1060,0x1080)
//   b.dbo: f [0x1080,0x10c0), g [0x10c0,0x10d0) named in the name file,
//          an ignored "..lin" label, k at 0x10d0 without an end, and a
//          local label at 0x10e0 that only ends k
//   c.dbo: h at 0x8000 without an end, the last procedure of the program
dlaw::ProgramDesc program() {
    dlaw::ProgramDesc p;
    p.sections = {{".text", 0x1000, 0x2000}, {".text2", 0x8000, 0x9000}};
    p.objects = {
        {"a.dbo",
         "magic a",
         {{"main", 0x1000, 0x1040}, {"helper", 0x1040, 0x1040}, {"count.3.util.2ec", 0x1060, 0x1080}}},
        {"b.dbo",
         "magic b",
         {{"f", 0x1080, 0x10c0},
          {"g", 0x10c0, 0x10d0, true},
          {"..lin7", 0x10d0, 0x10d0},
          {"k", 0x10d0, 0x10d0},
          {"..L2", 0x10e0, 0x10e0}}},
        {"c.dbo", "magic c", {{"h", 0x8000, 0x8000}}},
    };
    return p;
}

struct Fixture {
    std::string dir = make_temp_dir();
    dlaw::ProgramDesc desc;
    dlaw::Program prog;

    explicit Fixture(dlaw::ProgramDesc d = program()) : desc(std::move(d)), prog(dlaw::write_program(desc)) {
        dlaw::write_files(prog, desc, dir, "prog");
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    testing_support::RunResult run(const std::vector<std::string> &args,
                                   const std::vector<std::pair<std::string, std::string>> &env = {}) const {
        return run_program(FUNSIZE_BINARY, args, dir, env);
    }
};

// Per object, in all-functions mode without a range table: helper ends at
// the next procedure, k at the local label, h (last of its object) has
// nothing after it.
const std::string object_a = line("main", 0x40) + line("helper", 0x20) + line("count(util.c.o)", 0x20);
const std::string object_b = line("f", 0x40) + line("g", 0x10) + line("k", 0x10);
const std::string object_c = line("h", 0);

TEST(DebugE2E, NameFileReportsEveryObjectOfTheProgram) {
    Fixture fx;
    // The whole program at once: h is the last procedure and ends with the
    // name file's section that holds it.
    const std::string all = object_a + object_b + line("h", 0x1000);
    auto r = fx.run({"prog.dnm"});
    EXPECT_EQ(r.out, all);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    r = fx.run({"-file", "prog.dnm"});
    EXPECT_EQ(r.out, with_file("prog.dnm", all));

    r = fx.run({"-addr", "prog.dnm"});
    EXPECT_EQ(r.out, line_addr("main", 0x1000, 0x40) + line_addr("helper", 0x1040, 0x20) +
                         line_addr("count(util.c.o)", 0x1060, 0x20) + line_addr("f", 0x1080, 0x40) +
                         line_addr("g", 0x10c0, 0x10) + line_addr("k", 0x10d0, 0x10) + line_addr("h", 0x8000, 0x1000));

    // -gcompare names the input by its member name, which for a plain file
    // is its own name; without -file nothing is put in front.
    r = fx.run({"-gcompare", "prog.dnm"});
    EXPECT_EQ(r.out, all);
}

TEST(DebugE2E, RequestedFunctionsAreClosedByTheSections) {
    Fixture fx;
    // helper: no end of its own, so the section's end, then the next
    // procedure above it (count at 0x1060); h: the end of .text2.
    auto r = fx.run({"-func=helper", "-func=h", "-func=gone", "prog.dnm"});
    EXPECT_EQ(r.out, line("helper", 0x20) + line("h", 0x1000));
    EXPECT_EQ(r.err, error("gone not found in file prog.dnm"));
    EXPECT_EQ(r.status, 1);

    // A name kept in the name file's strings is found by that name.
    r = fx.run({"-addr", "-func=g", "prog.dnm"});
    EXPECT_EQ(r.out, line_addr("g", 0x10c0, 0x10));
    EXPECT_EQ(r.status, 0);

    // Member by member there is no range table: a requested procedure
    // without an end keeps size 0, and the members' missing names are
    // counted without a message. The last member lacks helper.
    r = fx.run({"-func=helper", "-func=h", "prog.dla"});
    EXPECT_EQ(r.out, line("helper", 0) + line("h", 0));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST(DebugE2E, ArchiveIsReportedMemberByMember) {
    Fixture fx;
    auto r = fx.run({"prog.dla"});
    EXPECT_EQ(r.out, object_a + object_b + object_c);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    r = fx.run({"-file", "prog.dla"});
    EXPECT_EQ(r.out, with_file("prog.dla(a.dbo)", object_a) + with_file("prog.dla(b.dbo)", object_b) +
                         with_file("prog.dla(c.dbo)", object_c));

    r = fx.run({"-gcompare", "prog.dla"});
    auto gcompare = [](const std::string &member, const std::string &lines) {
        std::string out;
        for (size_t at = 0; at < lines.size();) {
            size_t end = lines.find('\n', at);
            out += member + ":" + lines.substr(at, end + 1 - at);
            at = end + 1;
        }
        return out;
    };
    EXPECT_EQ(r.out, gcompare("a.dbo", object_a) + gcompare("b.dbo", object_b) + gcompare("c.dbo", object_c));
}

TEST(DebugE2E, PlainDebugObjectsHaveNoNameFile) {
    Fixture fx;
    // Without the archive there is no name file, so the one name that lives
    // there cannot be resolved. Several operands put the file in front.
    const std::string b_alone = line("f", 0x40) + line("<DBG_BAD_ISS_DNM_NOT_LOADED>", 0x10) + line("k", 0x10);
    auto r = fx.run({"a.dbo", "b.dbo", "c.dbo"});
    EXPECT_EQ(r.out, with_file("a.dbo", object_a) + with_file("b.dbo", b_alone) + with_file("c.dbo", object_c));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    r = fx.run({"-func=main", "-addr", "a.dbo"});
    EXPECT_EQ(r.out, line_addr("main", 0x1000, 0x40));
    EXPECT_EQ(r.status, 0);
    r = fx.run({"-func=main", "b.dbo"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, error("main not found in file b.dbo"));
    EXPECT_EQ(r.status, 1);
}

// A program in the 64-bit address space, and a stand-alone 64-bit .dbg.
TEST(DebugE2E, SixtyFourBitAddressesKeepAllTheirDigits) {
    dlaw::ProgramDesc p;
    p.mode = GADR_MODE_64BIT;
    p.sections = {{".text", 0x100000000ull, 0x100001000ull}};
    p.objects = {
        {"hi.dbo", "magic hi", {{"low", 0x100000000ull, 0x100000100ull}, {"open", 0x100000100ull, 0x100000100ull}}},
        {"wide.dbo", "magic wide", {{"wide", 0x1fffffff0ull, 0x200000010ull}}}};
    Fixture fx(p);
    auto r = fx.run({"-addr", "prog.dnm"});
    // open runs to the next procedure (wide) in 64-bit arithmetic; wide
    // crosses a 4 GiB boundary and keeps its 0x20 bytes.
    EXPECT_EQ(r.out, line_addr("low", 0x100000000ull, 0x100) + line_addr("open", 0x100000100ull, 0xfffffef0ull) +
                         line_addr("wide", 0x1fffffff0ull, 0x20));
    EXPECT_EQ(r.status, 0);

    r = fx.run({"-addr", "-hex", "prog.dla"});
    EXPECT_EQ(r.out,
              "low                  0x100000000   0x100\n"
              "open                 0x100000100       0\n"
              "wide                 0x1fffffff0    0x20\n");

    // Requested, open ends with its section (wide lies above it).
    r = fx.run({"-func=open", "-addr", "prog.dnm"});
    EXPECT_EQ(r.out, line_addr("open", 0x100000100ull, 0x100001000ull - 0x100000100ull));

    dbgw::DbgDesc d;
    d.enc.mode = GADR_MODE_64BIT;
    d.procs = {{"start", 0xffffffff00ull, 0xffffffff40ull, ""}, {"next", 0x10000000000ull, 0x10000000010ull, ""}};
    write_file(fx.dir + "/solo.dbg", text(dbgw::write_dbg(d)));
    r = fx.run({"-addr", "solo.dbg"});
    EXPECT_EQ(r.out, line_addr("start", 0xffffffff00ull, 0x40) + line_addr("next", 0x10000000000ull, 0x10));
}

TEST(DebugE2E, ObjectFileAfterASixtyFourBitDebugFileKeepsTheMode) {
    std::string dir = make_temp_dir();
    // Two functions without sizes in a section that ends 4 GiB above them:
    // f1 runs to f2, and f2 to the end of the section.
    elfw::ElfFile f;
    elfw::Section code = elfw::code_section(".text", 0, 0);
    code.type = SHT_NOBITS;
    code.size = 0x100000040ull;
    f.sections = {code};
    f.symbols = {elfw::func("f1", 0x10, 0, 1), elfw::func("f2", 0x20, 0, 1)};
    write_file(dir + "/two.o", elfw::write_elf(f));
    dbgw::DbgDesc d;
    d.enc.mode = GADR_MODE_64BIT;
    d.procs = {{"start", 0x1000, 0x1040, ""}};
    write_file(dir + "/solo.dbg", text(dbgw::write_dbg(d)));
    dbgw::DbgDesc d32;
    d32.procs = {{"start", 0x1000, 0x1040, ""}};
    write_file(dir + "/solo32.dbg", text(dbgw::write_dbg(d32)));

    // Alone, the object is measured in the initial 32-bit mode: only the low
    // words of the addresses count.
    auto r = run_program(FUNSIZE_BINARY, {"two.o"}, dir);
    EXPECT_EQ(r.out, line("f1", 0x10) + line("f2", 0x20));
    // After a 64-bit debug file the whole addresses count.
    r = run_program(FUNSIZE_BINARY, {"solo.dbg", "two.o"}, dir);
    EXPECT_EQ(r.out, with_file("solo.dbg", line("start", 0x40)) +
                         with_file("two.o", line("f1", 0x10) + line("f2", 0x100000040ull - 0x20)));
    // A 32-bit debug file sets the 32-bit mode again.
    r = run_program(FUNSIZE_BINARY, {"solo.dbg", "solo32.dbg", "two.o"}, dir);
    EXPECT_EQ(r.out, with_file("solo.dbg", line("start", 0x40)) + with_file("solo32.dbg", line("start", 0x40)) +
                         with_file("two.o", line("f1", 0x10) + line("f2", 0x20)));
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

TEST(DebugE2E, MissingArchiveIsReportedPerObject) {
    Fixture fx;
    std::filesystem::remove(fx.dir + "/prog.dla");
    const std::string reason = " (errno 2, No such file or directory)";
    std::string expected;
    for (const char *member : {"a.dbo", "b.dbo", "c.dbo"})
        expected +=
            error("<libst>: could not open \"prog.dla\"" + reason) +
            error("<libst>: .dlo load failed, could not open \"prog.dla(" + std::string(member) + ")\"" + reason);
    auto r = fx.run({"prog.dnm"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.status, 0);

    r = fx.run({"-func=main", "prog.dnm"});
    EXPECT_EQ(r.err, expected + error("main not found in file prog.dnm"));
    EXPECT_EQ(r.status, 1);

    // The runtime switch drops the reason, from the environment ...
    std::string plain;
    for (const char *member : {"a.dbo", "b.dbo", "c.dbo"})
        plain += error("<libst>: could not open \"prog.dla\"") +
                 error("<libst>: .dlo load failed, could not open \"prog.dla(" + std::string(member) + ")\"");
    r = fx.run({"prog.dnm"}, {{"LKS_GSW_ShowReasonForFileOpenErrorInSymTab", "0"}});
    EXPECT_EQ(r.err, plain);
    // ... only for exactly "0" or "1" ...
    r = fx.run({"prog.dnm"}, {{"LKS_GSW_ShowReasonForFileOpenErrorInSymTab", "no"}});
    EXPECT_EQ(r.err, expected);

    // ... and from the switch file beside the executable, which is applied
    // after the environment.
    std::string bin = fx.dir + "/bin";
    std::filesystem::create_directory(bin);
    std::filesystem::copy_file(FUNSIZE_BINARY, bin + "/funsize");
    write_file(bin + "/funsize.gsw", "# settings\n  showreasonforfileopenerrorinsymtab 0\r\n");
    r = run_program(bin + "/funsize", {"prog.dnm"}, fx.dir, {{"LKS_GSW_ShowReasonForFileOpenErrorInSymTab", "1"}});
    EXPECT_EQ(r.err, plain);
    write_file(bin + "/funsize.gsw", "ShowReasonForFileOpenErrorInSymTab 2\nNoSuchSwitch 1\n");
    r = run_program(bin + "/funsize", {"prog.dnm"}, fx.dir);
    EXPECT_EQ(r.err,
              "funsize: warning: Invalid switch value 2 on line 1 for switch ShowReasonForFileOpenErrorInSymTab\n"
              "funsize: warning: Unknown switch specified in .gsw file: NoSuchSwitch\n" +
                  expected);
}

TEST(DebugE2E, MemberOffsetPastTheEndOfTheArchive) {
    dlaw::ProgramDesc p = program();
    p.tweak_entry = [](size_t k, STDnm_DloFile &e) {
        if (k == 1) e.offset = 0x40000000;
    };
    Fixture fx(p);
    // Through the name file the object cannot be reached; the others are.
    auto r = fx.run({"prog.dnm"});
    EXPECT_EQ(r.out, object_a + line("h", 0x1000));
    EXPECT_EQ(r.err, error("<libst>: .dlo load failed, could not seek to \"prog.dla(b.dbo)\""));
    EXPECT_EQ(r.status, 0);

    // Walking the archive finds the member by its magic string.
    r = fx.run({"prog.dla"});
    EXPECT_EQ(r.out, object_a + object_b + object_c);
    EXPECT_EQ(r.err, "funsize: warning: <libst>: .dnm file offset for \"b.dbo\" is out of sync with .dla archive\n");
    EXPECT_EQ(r.status, 0);
}

TEST(DebugE2E, ObjectWithoutAddressesStopsTheRun) {
    dlaw::ProgramDesc p = program();
    p.objects[2].located = false;
    Fixture fx(p);
    auto r = fx.run({"prog.dla", "a.dbo"});
    EXPECT_EQ(r.out, with_file("prog.dla(a.dbo)", object_a) + with_file("prog.dla(b.dbo)", object_b));
    EXPECT_EQ(r.err, fatal("File prog.dla(c.dbo) is not an address located dbo file."));
    EXPECT_EQ(r.status, 1);

    r = fx.run({"c.dbo"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, fatal("File c.dbo is not an address located dbo file."));
    EXPECT_EQ(r.status, 1);
}

TEST(DebugE2E, UnknownKindsAndDamagedFiles) {
    std::string dir = make_temp_dir();
    dbgw::DbgDesc d;
    d.procs = {{"main", 0x1000, 0x1040, ""}};
    dbgw::Bytes good = dbgw::write_dbg(d);
    // Kinds 4 to 7 are files of the tool chain this tool does not read;
    // beyond 7 the magic alone does not make a known format.
    for (uint32_t kind : {4u, 7u}) {
        dbgw::Bytes b = good;
        dbgw::patch32(b, 8, kind);
        write_file(dir + "/other.lks", text(b));
        auto r = run_program(FUNSIZE_BINARY, {"other.lks", "other.lks"}, dir);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, fatal("Unknown LKS file type"));
        EXPECT_EQ(r.status, 1);
    }
    dbgw::Bytes b = good;
    dbgw::patch32(b, 8, 8);
    write_file(dir + "/eight.lks", text(b));
    auto r = run_program(FUNSIZE_BINARY, {"eight.lks"}, dir);
    EXPECT_EQ(r.err, error("'eight.lks' is not in a recognized format"));
    EXPECT_EQ(r.status, 0);

    // Truncated anywhere, a debug object ends the run with a message and
    // without a crash; a name file the same.
    // About two dozen cut points each, so that the run stays short where
    // every start of the program is slow (under an emulator).
    for (size_t cut = 4; cut < good.size(); cut += std::max<size_t>(7, good.size() / 24)) {
        write_file(dir + "/cut.dbg", text(dbgw::Bytes(good.begin(), good.begin() + std::ptrdiff_t(cut))));
        r = run_program(FUNSIZE_BINARY, {"cut.dbg"}, dir);
        EXPECT_LT(r.status, 128) << cut;
        if (cut >= 12) {
            EXPECT_EQ(r.status, 1) << cut;
            EXPECT_NE(r.err.find("funsize: fatal: File cut.dbg is not a readable dbo file."), std::string::npos) << cut;
        }
    }
    Fixture fx;
    for (size_t cut = 12; cut < fx.prog.dnm.size(); cut += std::max<size_t>(11, fx.prog.dnm.size() / 24)) {
        write_file(fx.dir + "/cut.dnm",
                   text(dbgw::Bytes(fx.prog.dnm.begin(), fx.prog.dnm.begin() + std::ptrdiff_t(cut))));
        r = fx.run({"cut.dnm"});
        EXPECT_EQ(r.status, 1) << cut;
        EXPECT_NE(r.err.find("funsize: fatal: Read DNM file error\n"), std::string::npos) << cut;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

TEST(DebugE2E, EveryMemberReadsTheNameFileAgain) {
    const std::string warning = "funsize: warning: <libst>: ";
    // Update links: each member's name file warns when it is released.
    Fixture links;
    ASSERT_TRUE(dbgw::rewrite_dnm(links.dir + "/prog.dnm", [](STDnm *d) {
        int32_t v[1] = {2};
        STDnm_SetIndexTable(d, STDNM_DLO_FILE_UPDATE_LINKS, v, 1);
    }));
    const std::string released = warning + "[STDnm_Free]: update links present for \"prog.dnm\"\n";
    // The development version: each member's read warns.
    Fixture dev;
    ASSERT_TRUE(dbgw::rewrite_dnm(dev.dir + "/prog.dnm", [](STDnm *d) { d->version = STDNM_DEV_VERSION; }));
    const std::string devVersion = warning + "\"prog.dnm\" has version 44, which is the development version\n";
    // Every offset wrong: each member is found by its magic string; c's entry
    // matches neither, so c has no name file.
    dlaw::ProgramDesc shifted = program();
    shifted.tweak_entry = [](size_t k, STDnm_DloFile &e) {
        e.offset += 2;
        if (k == 2) e.magic = e.name;
    };
    Fixture sync(shifted);
    auto outOfSync = [&](const char *m) {
        return warning + ".dnm file offset for \"" + m + "\" is out of sync with .dla archive\n";
    };

    struct Run {
        const Fixture *fx;
        std::vector<std::string> args;
        std::string out, err;
        int status;
    };
    const std::string all = object_a + object_b + object_c;
    const std::string filed = with_file("prog.dla(a.dbo)", object_a) + with_file("prog.dla(b.dbo)", object_b) +
                              with_file("prog.dla(c.dbo)", object_c);
    const std::vector<Run> runs = {
        {&links, {"prog.dla"}, all, released + released + released, 0},
        {&links, {"-file", "prog.dla"}, filed, released + released + released, 0},
        // Names missing from some member count without a message.
        {&links, {"-func=g", "-func=h", "prog.dla"}, line("g", 0x10) + line("h", 0), released + released + released, 1},
        {&dev, {"prog.dla"}, all, devVersion + devVersion + devVersion, 0},
        {&dev, {"prog.dla", "prog.dla"}, filed + filed, devVersion + devVersion + devVersion + devVersion + devVersion +
             devVersion, 0},
        {&sync, {"prog.dla"}, all, outOfSync("a.dbo") + outOfSync("b.dbo"), 0},
    };
    auto check = [&](const char *when) {
        for (const Run &run : runs) {
            auto r = run.fx->run(run.args);
            std::string what = when;
            for (const std::string &a : run.args) what += " " + a;
            EXPECT_EQ(r.out, run.out) << what;
            EXPECT_EQ(r.err, run.err) << what;
            EXPECT_EQ(r.status, run.status) << what;
        }
    };
    check("just written");
    // Files whose times lie a few seconds back are known by their times.
    const std::time_t written = std::time(nullptr);
    while (std::time(nullptr) < written + 4) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    check("aged");
}

}  // namespace
