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

// An extended regular expression matching `s` literally.
std::string literal(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
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

TEST(ArchiveReader, Arch64ElfaAndLargeSizes) {
    std::vector<Found> m = read_members(
        temp_file("wide.a", write_archive({{"w.o", "WIDE!"}, {"a_long_member_name_64.o", "LONG"}},
                                          {.form = ArForm::Arch64})),
        ArForm::Arch64);
    EXPECT_EQ(names_of(m), (Names{"w.o", "a_long_member_name_64.o"}));
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(std::tuple(m[0].data, m[1].data), std::tuple("WIDE!", "LONG"));

    // Elfa names of any length: "fifteen_chars.o/" fills 16 bytes exactly.
    const std::string long_name(100, 'n');
    m = read_members(temp_file("elfa.a", write_archive({{"fifteen_chars.o", "A"}, {"sixteen_chars.oo", "BB"},
                                                        {long_name, "CCC"}},
                                                       {.form = ArForm::Elfa})),
                     ArForm::Elfa);
    EXPECT_EQ(names_of(m), (Names{"fifteen_chars.o", "sixteen_chars.oo", long_name}));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(std::tuple(m[0].long_header, m[1].long_header, m[2].long_header, m[1].data, m[2].data),
              std::tuple(false, true, true, "BB", "CCC"));

    // More than 2 GB: kept in a 64-bit header, negative in a common one.
    const ArHeaderFields big = {.name = "big.o/", .size = "3000000000"};
    std::string path = temp_file("big64.a", ar_magic(ArForm::Arch64) + ar_header(big, ArForm::Arch64) + "xy");
    std::string err;
    m = read_members(path, ArForm::Arch64, &err);
    EXPECT_EQ(err, prefix() + "warning: member 'big.o' of archive file '" + path +
                       "' has size 3000000000, but only 2 bytes follow its header\n");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].size, 3000000000);
    m = read_members(temp_file("big.a", ar_magic(ArForm::Common) + ar_header(big) + "xy"), ArForm::Common, &err);
    EXPECT_EQ(err, prefix() + "warning: big.o has negative size (-1294967296)\n");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].size, -1294967296);
}

TEST(ArchiveReaderDeathTest, DamagedHeadersEndTheProgram) {
    const std::string read_error = "error: error reading archive file '@'";
    const auto one = [](const ArHeaderFields &h, ArForm form = ArForm::Common) { return ar_magic(form) + ar_header(h, form); };
    const struct {
        std::string bytes;
        ArForm form;
        std::string message;  // '@' for the path, if any
    } cases[] = {
        {one({.name = "x.o/", .size = "2", .terminator = "a\n"}) + "hi", ArForm::Common,
         "error: Unexpected chars in archive file header '@' at 0x44 '\\141' '\\012'"},
        // A high byte is shown as the sign-extended octal of a char.
        {one({.name = "x.o/", .size = "2", .terminator = "`\xe0"}) + "hi", ArForm::Common,
         "at 0x44 '\\140' '\\37777777740'"},
        {one({.name = "x.o/", .size = "12x4"}) + "hi", ArForm::Common,
         "error: Invalid member size '12x4' in archive file header '@' at 0x44"},
        {one({.name = "x.o/", .size = ""}, ArForm::Arch64) + "hi", ArForm::Arch64,
         "error: Invalid member size '' in archive file header '@' at 0x58"},
        // A header cut short, a long-name table shorter than its size, one
        // of an absurd size.
        {one({.name = "x.o/", .size = "2"}).substr(0, 38), ArForm::Common, read_error},
        {one({.name = "//", .size = "100"}) + "short/\n", ArForm::Common, read_error},
        {one({.name = "//", .size = "99999999999999999"}, ArForm::Arch64) + "x/\n", ArForm::Arch64, read_error},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string path = temp_file("damaged" + std::to_string(n++) + ".a", c.bytes);
        std::string message = c.message;
        if (size_t at = message.find('@'); at != std::string::npos) message.replace(at, 1, path);
        EXPECT_EXIT(
            {
                read_members(path, c.form);
                std::exit(0);
            },
            testing::ExitedWithCode(1), literal(message));
    }
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

// ---------------------------------------------------------------- walker

struct Call {
    int slot;
    std::string name, member_name, archive_name;
    uint32_t in_archive, file_type;
    uint64_t offset;
    int64_t size;  // -1 without a member header
    std::string head, head2;
};
std::vector<Call> calls;
bool move_stream;  // handlers run to the end of `f`

std::string head_of(FILE *f) {
    std::string head(4, '\0');
    head.resize(std::fread(head.data(), 1, 4, f));
    return head;
}

// Records the call and the first bytes both handles show at the member.
template <int Slot>
int record(FILE *f, FILE *f2, input_desc *d) {
    EXPECT_EQ(uint64_t(std::ftell(f)), d->member_offset) << d->name;
    std::fseek(f2, long(d->member_offset), SEEK_SET);
    calls.push_back({Slot, d->name, d->member_name ? d->member_name : "", d->archive_name ? d->archive_name : "",
                     d->in_archive, d->ident->file_type, d->member_offset,
                     d->member_header ? d->member_header->size : -1, head_of(f), head_of(f2)});
    while (move_stream && std::fgetc(f) != EOF) {
    }
    return 100 + int(calls.size());
}

class Walker : public testing::Test {
  protected:
    void SetUp() override {
        std::copy(handler_table, handler_table + HANDLER_SLOTS, saved);
        handler_table[0] = record<0>;
        handler_table[1] = record<1>;
        handler_table[2] = record<2>;
        handler_table[3] = record<3>;
        handler_table[4] = record<4>;
        calls.clear();
        move_stream = false;
    }
    void TearDown() override { std::copy(saved, saved + HANDLER_SLOTS, handler_table); }
    std::vector<int> slots() const {
        std::vector<int> out;
        for (const Call &c : calls) out.push_back(c.slot);
        return out;
    }
    format_handler saved[HANDLER_SLOTS];
};

// Members that identification tells apart by their leading bytes.
const std::string aout = std::string("\x07\x01\x00\x00", 4) + std::string(29, '\0');  // 33 bytes, odd
const std::string coff = std::string("\x4c\x01", 2) + std::string(18, '\0');
const std::string debug_info = std::string("\x7fLKS\0\0\0\1\0\0\0\2", 12);
const std::string text = "plain text, no magic\n";
const std::string not_pe = "MZ" + std::string(62, '\0');  // no "PE\0\0" header: not identifiable

TEST_F(Walker, ArchiveMembersAreNamedPositionedAndDispatched) {
    const std::string nested = write_archive({{"inner.o", "zz"}});
    const std::string path = temp_file("lib.a", write_archive({{"aout.o", aout},
                                                               {"coff_member_with_long_name.o", coff},
                                                               {"mz.o", not_pe},
                                                               {"notes.txt", text},
                                                               {"nested.a", nested},
                                                               {"debug.dbo", debug_info}},
                                                              {.symbol_table = true}));
    for (bool move : {false, true}) {
        SCOPED_TRACE(move);
        calls.clear();
        move_stream = move;
        // The result is that of the last member dispatched. The symbol table
        // and the unidentifiable member are not dispatched; a nested archive
        // goes to the handler of unrecognised files.
        EXPECT_EQ(walk_input_readonly(path.c_str()), 105);
        EXPECT_EQ(slots(), (std::vector<int>{1, 3, 4, 4, 0}));
        ASSERT_EQ(calls.size(), 5u);
        const std::string names[] = {"aout.o", "coff_member_with_long_name.o", "notes.txt", "nested.a", "debug.dbo"};
        const std::string *data[] = {&aout, &coff, &text, &nested, &debug_info};
        for (size_t i = 0; i < calls.size(); ++i) {
            const Call &c = calls[i];
            EXPECT_EQ(std::tuple(c.name, c.member_name, c.archive_name, c.in_archive, c.size, c.head, c.head2),
                      std::tuple(path + "(" + names[i] + ")", names[i], path, 1u, int64_t(data[i]->size()),
                                 data[i]->substr(0, 4), data[i]->substr(0, 4)));
        }
        EXPECT_EQ(calls[0].offset, 8u + 60 + 4 + 60 + 30 + 60);  // behind symbol table and "//" table
        EXPECT_EQ(calls[3].file_type, uint32_t(FT_ARCHIVE));
    }
    // A 64-bit archive; archives with nothing to dispatch.
    calls.clear();
    EXPECT_EQ(walk_input_readonly(temp_file("lib64.a", write_archive({{"c.o", coff}}, {.form = ArForm::Arch64})).c_str()),
              101);
    ASSERT_EQ(slots(), std::vector<int>{3});
    EXPECT_EQ(std::tuple(calls[0].offset, calls[0].head), std::tuple(10u + 78, coff.substr(0, 4)));
    calls.clear();
    for (const std::string &bytes : {write_archive({}, {.form = ArForm::Aix}), write_archive({}, {.symbol_table = true}),
                                     write_archive({{"mz.o", not_pe}}), std::string("!<arch>\n")})
        EXPECT_EQ(walk_input_readonly(temp_file("nothing.a", bytes).c_str()), 0);
    EXPECT_TRUE(calls.empty());
    // A negative size cannot be stepped over: the walk ends behind that member.
    testing::internal::CaptureStderr();
    EXPECT_EQ(walk_input_readonly(temp_file("neg.a", ar_magic(ArForm::Common) + ar_header({.name = "n.o/", .size = "-2"}) +
                                                         coff + ar_header({.name = "after.o/", .size = "20"}) + coff)
                                      .c_str()),
              101);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), prefix() + "warning: n.o has negative size (-2)\n");
    EXPECT_EQ(slots(), std::vector<int>{3});
}

}  // namespace
