// Archive member headers and the input walker, on archives built by
// ar_writer. Archives of real objects and the fuzzer's damaged archives run
// end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "ar_writer.h"
#include "archive.h"
#include "indgen.h"
#include "indgeninit.h"
#include "objfile.h"
#include "run_program.h"

using namespace ar_writer;

namespace {

using Names = std::vector<std::string>;

std::string prefix() {
    const char *p = gen_getprogname();
    return p && *p ? std::string(p) + ": " : "";
}

std::string temp_file(const std::string &name, const std::string &bytes) {
    static const std::string dir = testing_support::make_temp_dir();
    std::string path = dir + "/" + name;
    testing_support::write_file(path, bytes);
    return path;
}

struct Found {
    std::string name;
    int64_t size;
    bool symbol_table, long_header;
    std::string data;  // up to 64 bytes at the position the reader left
    archive_member header{};
};

// Every member of an archive, stepping over the data as the walker does;
// what the reader wrote to standard error in `err`.
std::vector<Found> read_members(const std::string &path, ArForm form = ArForm::Common, std::string *err = nullptr) {
    archive_is_elfa = form == ArForm::Elfa;
    archive_is_arch64 = form == ArForm::Arch64;
    FILE *f = std::fopen(path.c_str(), "rb");
    std::fseek(f, long(ar_magic(form).size()), SEEK_SET);
    std::vector<Found> out;
    if (err) testing::internal::CaptureStderr();
    while (archive_member *m = read_archive_member(f, path.c_str())) {
        Found x{m->name, m->size, m->is_symbol_table != 0, m->has_long_header_name != 0, "", *m};
        long pos = std::ftell(f);
        x.data.resize(size_t(std::clamp<int64_t>(x.size, 0, 64)));
        x.data.resize(std::fread(x.data.data(), 1, x.data.size(), f));
        out.push_back(x);
        if (x.size < 0) break;
        std::fseek(f, long(pos + x.size + (x.size & 1)), SEEK_SET);
    }
    if (err) *err = testing::internal::GetCapturedStderr();
    std::fclose(f);
    return out;
}
Names names_of(const std::vector<Found> &found) {
    Names out;
    for (const Found &x : found) out.push_back(x.name);
    return out;
}
Names member_names(const std::vector<ArMember> &members, const ArOptions &options = {}) {
    return names_of(read_members(temp_file("names.a", write_archive(members, options)), options.form));
}

TEST(ArchiveReader, NamesSizesAndData) {
    // The symbol table keeps its raw name field and comes before the "//"
    // table, which is consumed silently; odd sizes are followed by padding.
    std::vector<Found> m = read_members(temp_file(
        "common.a", write_archive({{"a.o", "abc"}, {"fifteen_chars.o", "0123456789"}, {"a_long_member_name.o", "L1"}},
                                  {.symbol_table = true})));
    EXPECT_EQ(names_of(m), (Names{"/               ", "a.o", "fifteen_chars.o", "a_long_member_name.o"}));
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(std::tuple(m[0].symbol_table, m[0].size, m[1].data, m[2].data, m[3].data, m[3].symbol_table),
              std::tuple(true, 4, "abc", "0123456789", "L1", false));
    // Numeric fields; a name without its slash, padded with blanks.
    m = read_members(temp_file("fields.a", ar_magic(ArForm::Common) +
                                               ar_header({.name = "x.o", .date = "1700000000", .uid = "1000",
                                                          .gid = "100", .mode = "100644", .size = "2"}) +
                                               "hi"));
    ASSERT_EQ(m.size(), 1u);
    const archive_member &h = m[0].header;
    EXPECT_EQ(std::tuple(m[0].name, h.date, h.uid, h.gid, h.mode, h.size, m[0].data),
              std::tuple("x.o", 1700000000, 1000, 100, 0100644u, 2, "hi"));

    // NUL-terminated long names may contain '/'; beside an "ARFILENAMES/"
    // table a blank may stand for the slash.
    EXPECT_EQ(member_names({{"sub/dir_long_name.o", "1"}, {"second_long_name_x.o", "2"}},
                           {.long_names = ArLongNames::SlashNul}),
              (Names{"sub/dir_long_name.o", "second_long_name_x.o"}));
    EXPECT_EQ(member_names({{"first_long_name.obj", "1"}}, {.long_names = ArLongNames::ArFilenames}),
              Names{"first_long_name.obj"});
    // Names ended by a line end alone; a NUL behind a line end is padding,
    // not a sign of NUL-terminated names.
    const std::string table = std::string("abc_long_name.o\nxyz_long_name.o\n\0", 33);
    EXPECT_EQ(names_of(read_members(temp_file("newlines.a", ar_magic(ArForm::Common) +
                                                                ar_header({.name = "//", .size = "33"}) + table + "\n" +
                                                                ar_header({.name = "/0", .size = "1"}) + "a\n" +
                                                                ar_header({.name = "/16", .size = "1"}) + "b\n"))),
              (Names{"abc_long_name.o", "xyz_long_name.o"}));
    // "<filenames>": the k-th cut ".obj" name is completed from line k - 1
    // when the line starts with it; otherwise the cut name stays.
    EXPECT_EQ(member_names({{"c_startup_a.obj.bak", "1"},
                            {"c_startup_b.obj.bak", "2"},
                            {"plain.o", "3"},
                            {"unlisted", "4", "c_startup_x.obj/"}},
                           {.long_names = ArLongNames::Filenames}),
              (Names{"c_startup_a.obj.bak", "c_startup_b.obj.bak", "plain.o", "c_startup_x.obj"}));
    // An offset outside the table is warned about and the field is the name.
    std::string path = temp_file("outside.a", write_archive({{"a_long_member_name.o", "1"}, {"x", "2", "/999"}}));
    std::string err;
    EXPECT_EQ(names_of(read_members(path, ArForm::Common, &err)), (Names{"a_long_member_name.o", "/999"}));
    EXPECT_EQ(err, prefix() + "warning: archive file '" + path +
                       "': member name offset 999 lies outside the long-name table (22 bytes)\n");

    // Symbol tables by their names; "/SYM64/" is an ordinary member.
    for (const std::string name : {"/", "__.SYMDEF SORTED", "__________ELEL_", "________64ELEL_"}) {
        m = read_members(temp_file("symdef.a", write_archive({{"m.o", "data"}},
                                                             {.symbol_table = true, .symbol_table_name = name})));
        ASSERT_EQ(m.size(), 2u) << name;
        EXPECT_TRUE(m[0].symbol_table && !m[1].symbol_table && m[1].name == "m.o") << name;
    }
    m = read_members(temp_file("sym64.a", write_archive({{"x", "1", "/SYM64/"}})));
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(std::tuple(m[0].symbol_table, m[0].name), std::tuple(false, "/SYM64"));
}

// Names are cut at 4096 bytes, with one warning per table; a "<filenames>"
// table is walked line by line once, and a new table starts at line 0.
TEST(ArchiveReader, LongNamesAreCutAt4096Bytes) {
    const std::string fits(4096, 'f'), over(5000, 'o');
    for (ArLongNames flavour : {ArLongNames::Slash, ArLongNames::SlashNul}) {
        std::string path = temp_file("cut.a", write_archive({{fits, "1"}, {over, "2"}, {over, "3", "/4098"}},
                                                            {.long_names = flavour}));
        std::string err;
        std::vector<Found> m = read_members(path, ArForm::Common, &err);
        const char *second = flavour == ArLongNames::Slash ? "4098" : "4097";  // behind "f.../\n" or "f...\0"
        EXPECT_EQ(err, prefix() + "warning: archive file '" + path + "': member name at offset " + second +
                           " of the long-name table is longer than 4096 bytes; it is cut there\n");
        EXPECT_EQ(names_of(m), (Names{fits, over.substr(0, 4096), over.substr(0, 4096)}));
        ASSERT_EQ(m.size(), 3u);
        EXPECT_EQ(m[2].data, "3");
    }
    const std::string table = "\nname_numb_0.obj.x/\nname_numb_1.obj.x/\nname_numb_2.obj.x";
    const std::string filenames = ar_header({.name = "<filenames>", .size = std::to_string(table.size())}) + table +
                                  (table.size() % 2 ? "\n" : "");
    std::string archive = ar_magic(ArForm::Common) + filenames;
    for (int i = 0; i < 4; ++i)
        archive += ar_header({.name = "name_numb_" + std::to_string(i) + ".obj", .size = "2"}) + "xy";
    archive += filenames + ar_header({.name = "name_numb_0.obj", .size = "2"}) + "xy";
    EXPECT_EQ(names_of(read_members(temp_file("filenames_lines.a", archive))),
              (Names{"name_numb_0.obj.x", "name_numb_1.obj.x", "name_numb_2.obj.x", "name_numb_3.obj",
                     "name_numb_0.obj.x"}));
}

// AIX members as first_aix_member / next_aix_member yield them. A
// well-formed AIX archive of real objects is walked end to end; here the
// chains that are empty, loop or break off.
Names aix_members(const std::string &bytes) {
    FILE *f = std::fopen(temp_file("lib.aix", bytes).c_str(), "rb");
    char fixed[AIAFF_FL_HSZ];
    char header[AIAFF_AR_HBUF];
    Names out;
    if (read_aix_fixed_header(f, fixed)) {
        for (char *name = first_aix_member(f, fixed, header); name; name = next_aix_member(f, fixed, header)) {
            out.push_back(name);
            gen_free_fn(name);
        }
    }
    std::fclose(f);
    return out;
}

TEST(ArchiveAix, EmptyLoopingAndBrokenChains) {
    EXPECT_TRUE(aix_members(write_archive({}, {.form = ArForm::Aix})).empty());
    // A member whose next-member offset points back at itself.
    std::string bytes = write_archive({{"self.o", "S"}}, {.form = ArForm::Aix, .aix_member_table = false});
    bytes.replace(68 + 12, 12, "68          ");
    EXPECT_EQ(aix_members(bytes), Names{"self.o"});
    // The file ends inside the second member's name.
    bytes = write_archive({{"first.o", "1"}, {"second_member.o", "2"}}, {.form = ArForm::Aix});
    bytes.resize(bytes.find("second_member.o") + 4);
    EXPECT_EQ(aix_members(bytes), Names{"first.o"});
    // A fixed header cut short is cleared.
    FILE *f = std::fopen(temp_file("short.aix", "<aiaff>\n0   ").c_str(), "rb");
    char fixed[AIAFF_FL_HSZ];
    EXPECT_FALSE(read_aix_fixed_header(f, fixed));
    EXPECT_EQ(std::count(fixed, fixed + sizeof fixed, '\0'), long(sizeof fixed));
    std::fclose(f);
}

}  // namespace
