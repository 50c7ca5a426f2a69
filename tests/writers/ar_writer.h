// Builds archives for tests from a list of (name, bytes) members.
//
//   std::string lib = ar_writer::write_archive({{"foo.o", obj1}, {"a_long_member_name.o", obj2}},
//                                              {.symbol_table = true});
//
// Forms: Common "!<arch>\n" with 60-byte headers (name 16, date 12, uid 6,
// gid 6, mode 8, size 10, "`\n"); Arch64 "!<arch64>\n" with date and size 20
// wide; Elfa "!<elfa>\n", whose name field holds "name/" padded to 16 bytes or
// the next multiple of 4; Aix "<aiaff>\n", the big archive: a 68-byte fixed
// header, members chained by decimal offsets, each header 88 bytes + name +
// "`\n" (+ a NUL for an odd name length), and a member table at the end.
// Odd data sizes are followed by "\n" unless pad_odd is false.
//
// Common and Arch64 names of at most 15 characters are written as "name/";
// longer ones go into a table before the first member: Slash "//" with
// "name/\n" entries and "/offset" fields, SlashNul the same with "name\0",
// ArFilenames "ARFILENAMES/" with " offset" fields, Filenames "<filenames>"
// with a line per long name and the first 15 characters in the field.
// ArMember::header_name, when given, is the name field as it stands. With
// symbol_table a member named symbol_table_name (4 zero bytes) comes first; in
// an AIX archive it is the global symbol table, outside the chain.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ar_writer {

enum class ArForm { Common, Arch64, Elfa, Aix };
enum class ArLongNames { Slash, SlashNul, ArFilenames, Filenames };

struct ArMember {
    ArMember(std::string name_, std::string data_, std::string header_name_ = "")
        : name(std::move(name_)), data(std::move(data_)), header_name(std::move(header_name_)) {}
    std::string name, data, header_name;
};

struct ArOptions {
    ArForm form = ArForm::Common;
    ArLongNames long_names = ArLongNames::Slash;
    bool symbol_table = false;
    std::string symbol_table_name = "/";
    bool pad_odd = true;
    bool aix_member_table = true;  // Aix: chain a member table behind the last member
};

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &options = {});

// One Common, Arch64 or Elfa member header; each field padded with blanks to
// its width (and cut when longer).
struct ArHeaderFields {
    std::string name, date = "0", uid = "0", gid = "0", mode = "644", size, terminator = "`\n";
};
std::string ar_header(const ArHeaderFields &fields, ArForm form = ArForm::Common);

std::string ar_magic(ArForm form);

}  // namespace ar_writer
