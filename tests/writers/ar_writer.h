// Builds archives for tests from a list of (name, bytes) members.
//
//   std::string lib = ar_writer::write_archive({{"foo.o", obj1}, {"a_long_member_name.o", obj2}},
//                                              {.symbol_table = true});
//
// Forms (ArOptions::form):
//   Common  "!<arch>\n", 60-byte headers: name 16, date 12, uid 6, gid 6,
//           mode 8, size 10, then "`\n".
//   Arch64  "!<arch64>\n", 78-byte headers: date and size 20 wide.
//   Elfa    "!<elfa>\n": the name field holds "name/" padded with blanks to
//           16 bytes or to the next multiple of 4; the other fields as Common.
//   Aix     "<aiaff>\n" big archive: 68-byte fixed header, members chained by
//           decimal offsets, each header 88 bytes + name + "`\n" (+ one byte
//           when the name length is odd); a member table ends the chain.
// Every data part of odd size is followed by ArOptions::pad_byte unless
// pad_odd is false (a damaged archive).
//
// Names in Common and Arch64 archives: a name of at most 15 characters is
// written as "name/". A longer one goes into a long-name table placed before
// the first object, in the flavour ArOptions::long_names selects:
//   Slash        "//" table, entries "name/\n", header names "/offset"
//   SlashNul     "//" table, entries "name\0", header names "/offset"
//   ArFilenames  "ARFILENAMES/" table, entries "name/\n", header names
//                " offset" (a blank in place of the slash)
//   Filenames    "<filenames>" table, one line "name/\n" per long name in
//                member order; the header carries the first 15 characters
//   None         no table; the name is cut to 15 characters
// ArMember::header_name, when not empty, is written into the name field as
// it stands (padded with blanks) and bypasses all of the above.
//
// With ArOptions::symbol_table a symbol-table member (name field
// symbol_table_name, data symbol_table_data) comes first; in an AIX archive
// it is the global symbol table, outside the member chain.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ar_writer {

enum class ArForm { Common, Arch64, Elfa, Aix };
enum class ArLongNames { Slash, SlashNul, ArFilenames, Filenames, None };

struct ArMember {
    ArMember(std::string name_, std::string data_, std::string header_name_ = "")
        : name(std::move(name_)), data(std::move(data_)), header_name(std::move(header_name_)) {}
    std::string name;
    std::string data;
    std::string header_name;  // raw name field, overrides the name rules
};

struct ArOptions {
    ArForm form = ArForm::Common;
    ArLongNames long_names = ArLongNames::Slash;
    bool symbol_table = false;
    std::string symbol_table_name = "/";
    std::string symbol_table_data = std::string(4, '\0');
    bool pad_odd = true;
    char pad_byte = '\n';
    bool aix_member_table = true;  // Aix: chain a member table behind the last member
};

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &options = {});

// The fields of one Common, Arch64 or Elfa member header as text; each is
// padded with blanks to its width (and cut when longer), except that an Elfa
// name grows in steps of 4 bytes.
struct ArHeaderFields {
    std::string name;
    std::string date = "0";
    std::string uid = "0";
    std::string gid = "0";
    std::string mode = "644";
    std::string size;
    std::string terminator = "`\n";
};
std::string ar_header(const ArHeaderFields &fields, ArForm form = ArForm::Common);

// The magic string of a form.
std::string ar_magic(ArForm form);

}  // namespace ar_writer
