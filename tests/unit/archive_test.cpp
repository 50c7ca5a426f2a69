// Long member names and AIX member chains, on archives built by ar_writer.
// Archives of real objects, damaged member headers and the fuzzer's damaged
// archives run end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ar_writer.h"
#include "archive.h"
#include "indgen.h"
#include "indgeninit.h"
#include "objfile.h"
#include "run_program.h"
#include "test_files.h"

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

// Every member of an archive as "name=data" (up to 64 bytes of data read
// where the reader left the handle), stepping over the data as the walker
// does; what the reader wrote to standard error in `err`.
Names read_members(const std::string &path, std::string *err = nullptr) {
    FILE *f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 8, SEEK_SET);
    Names out;
    if (err) testing::internal::CaptureStderr();
    while (archive_member *m = read_archive_member(f, path.c_str())) {
        const long pos = std::ftell(f);
        std::string data(size_t(std::clamp<int64_t>(m->size, 0, 64)), '\0');
        data.resize(std::fread(data.data(), 1, data.size(), f));
        out.push_back(std::string(m->name) + "=" + data);
        if (m->size < 0) break;
        std::fseek(f, long(pos + m->size + (m->size & 1)), SEEK_SET);
    }
    if (err) *err = testing::internal::GetCapturedStderr();
    std::fclose(f);
    return out;
}

// Names are cut at 4096 bytes, with one warning per table; a "<filenames>"
// table is walked line by line once, a line completes only the name it
// starts with, and a new table starts at line 0.
TEST(ArchiveReader, LongNamesAreCutAt4096Bytes) {
    const std::string fits(4096, 'f'), over(5000, 'o');
    for (ArLongNames flavour : {ArLongNames::Slash, ArLongNames::SlashNul}) {
        std::string path = temp_file("cut.a", write_archive({{fits, "1"}, {over, "2"}, {over, "3", "/4098"}},
                                                            {.long_names = flavour}));
        std::string err;
        EXPECT_EQ(read_members(path, &err), (Names{fits + "=1", over.substr(0, 4096) + "=2", over.substr(0, 4096) + "=3"}));
        const char *second = flavour == ArLongNames::Slash ? "4098" : "4097";  // behind "f.../\n" or "f...\0"
        EXPECT_EQ(err, prefix() + "warning: archive file '" + path + "': member name at offset " + second +
                           " of the long-name table is longer than 4096 bytes; it is cut there\n");
    }
    // In a table of NUL-terminated names a '/' belongs to the name.
    EXPECT_EQ(read_members(temp_file("nul.a", write_archive({{"dir/a_long_member_name.o", "4"}},
                                                            {.long_names = ArLongNames::SlashNul}))),
              Names{"dir/a_long_member_name.o=4"});
    const std::string table = "\nname_numb_0.obj.x/\nname_nomb_1.obj.x/\nname_numb_2.obj.x";
    const std::string filenames = ar_header("<filenames>", table.size()) + table + (table.size() % 2 ? "\n" : "");
    std::string archive = "!<arch>\n" + filenames;
    for (int i = 0; i < 4; ++i) archive += ar_header("name_numb_" + std::to_string(i) + ".obj", 2) + "xy";
    archive += filenames + ar_header("name_numb_0.obj", 2) + "xy";
    EXPECT_EQ(read_members(temp_file("filenames_lines.a", archive)),
              (Names{"name_numb_0.obj.x=xy", "name_numb_1.obj=xy", "name_numb_2.obj.x=xy", "name_numb_3.obj=xy",
                     "name_numb_0.obj.x=xy"}));
}

// An elfa archive's name field grows in steps of four bytes until the name
// in it ends in '/'.
TEST(ArchiveReader, ElfaNames) {
    const std::string rest = ar_header("", 2).substr(AR_NAME_SIZE);
    archive_is_elfa = 1;
    EXPECT_EQ(read_members(temp_file("names.a", "!<elfa>\na_long_elfa_member_name.o/  " + rest + "xy" +
                                                    ar_header("short.o/", 2) + "zw")),
              (Names{"a_long_elfa_member_name.o=xy", "short.o=zw"}));
    archive_is_elfa = 0;
}

// AIX members as first_aix_member / next_aix_member yield them. A
// well-formed AIX archive of real objects is walked end to end; here the
// chains that are empty, loop or break off.
Names aix_members(const std::string &bytes) {
    testing_support::File f = testing_support::open_bytes(bytes);
    char fixed[AIAFF_FL_HSZ], header[AIAFF_AR_HBUF];
    Names out;
    if (!read_aix_fixed_header(f.get(), fixed)) return out;
    for (char *name = first_aix_member(f.get(), fixed, header); name; name = next_aix_member(f.get(), fixed, header)) {
        out.push_back(name);
        gen_free_fn(name);
    }
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
    testing_support::File f = testing_support::open_bytes("<aiaff>\n0   ");
    char fixed[AIAFF_FL_HSZ];
    EXPECT_FALSE(read_aix_fixed_header(f.get(), fixed));
    EXPECT_EQ(std::count(fixed, fixed + sizeof fixed, '\0'), long(sizeof fixed));
}

}  // namespace
