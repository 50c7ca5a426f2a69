// Builds archives for tests from a list of (name, bytes) members.
//
//   std::string lib = ar_writer::write_archive({{"foo.o", obj1}, {"a_long_member_name.o", obj2}},
//                                              {.symbol_table = true});
//
// Common form: "!<arch>\n" and 60-byte headers (name 16, date 12, uid 6, gid
// 6, mode 8, size 10, "`\n"); odd data sizes are followed by "\n". Names of at
// most 15 characters are written as "name/"; longer ones go into a "//" table
// before the first member, as "name/\n" (Slash) or "name\0" (SlashNul)
// entries, and the field holds "/offset". ArMember::header_name, when given,
// is the name field as it stands. With symbol_table a member "/" of 4 zero
// bytes comes first. Aix form: "<aiaff>\n", a 68-byte fixed header, members
// chained by decimal offsets, each header 88 bytes + name + "`\n" (+ a NUL for
// an odd name length), and a member table at the end unless aix_member_table
// is false; the symbol table is the global one, outside the chain.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ar_writer {

enum class ArForm { Common, Aix };
enum class ArLongNames { Slash, SlashNul };

struct ArMember {
    ArMember(std::string name_, std::string data_, std::string header_name_ = "")
        : name(std::move(name_)), data(std::move(data_)), header_name(std::move(header_name_)) {}
    std::string name, data, header_name;
};

struct ArOptions {
    ArForm form = ArForm::Common;
    ArLongNames long_names = ArLongNames::Slash;
    bool symbol_table = false;
    bool aix_member_table = true;
};

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &options = {});

// One Common member header: the name field (padded with blanks), the size.
std::string ar_header(const std::string &name, size_t size);

}  // namespace ar_writer
