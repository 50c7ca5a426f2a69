// Archives for tests, laid out byte by byte.
#include "ar_writer.h"

#include <cstdint>

namespace ar_writer {

namespace {

std::string field(const std::string &text, size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::string number(int64_t v, size_t width) { return field(std::to_string(v), width); }

std::string padded(const std::string &data) { return data.size() % 2 ? data + '\n' : data; }

// An AIX big archive member: size, next, previous, date, uid, gid, mode, name length, name, "`\n".
std::string aix_member(const std::string &name, const std::string &data, int64_t next, int64_t prev) {
    std::string out;
    for (int64_t v : {int64_t(data.size()), next, prev, int64_t(0), int64_t(0), int64_t(0), int64_t(644)})
        out += number(v, 12);
    out += number(int64_t(name.size()), 4) + name + "`\n";
    if (name.size() % 2) out += '\0';
    return out + padded(data);
}

std::string write_aix(const std::vector<ArMember> &members, const ArOptions &o) {
    const std::string gst = o.symbol_table ? aix_member("", std::string(4, '\0'), 0, 0) : "";
    std::vector<int64_t> offsets;
    int64_t pos = 68 + int64_t(gst.size());
    for (const ArMember &m : members) offsets.push_back(pos), pos += int64_t(aix_member(m.name, m.data, 0, 0).size());
    // The member table: a count, one offset per member, then the names.
    const int64_t table = o.aix_member_table && !members.empty() ? pos : 0;
    std::string table_data = number(int64_t(members.size()), 12);
    for (int64_t off : offsets) table_data += number(off, 12);
    for (const ArMember &m : members) table_data += m.name + '\0';
    const int64_t first = offsets.empty() ? 0 : offsets.front(), last = offsets.empty() ? 0 : offsets.back();

    std::string out = "<aiaff>\n";
    for (int64_t v : {table, gst.empty() ? int64_t(0) : int64_t(68), first, last, int64_t(0)}) out += number(v, 12);
    out += gst;
    for (size_t i = 0; i < members.size(); ++i)
        out += aix_member(members[i].name, members[i].data, i + 1 < members.size() ? offsets[i + 1] : table,
                          i > 0 ? offsets[i - 1] : 0);
    if (table) out += aix_member("", table_data, 0, last);
    return out;
}

}  // namespace

std::string ar_header(const std::string &name, size_t size) {
    return field(name, 16) + field("0", 12) + field("0", 6) + field("0", 6) + field("644", 8) +
           field(std::to_string(size), 10) + "`\n";
}

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &o) {
    if (o.form == ArForm::Aix) return write_aix(members, o);
    std::string out = "!<arch>\n";
    auto add = [&](const std::string &name, const std::string &data) { out += ar_header(name, data.size()) + padded(data); };
    if (o.symbol_table) add("/", std::string(4, '\0'));
    std::vector<std::string> fields;
    std::string table;
    for (const ArMember &m : members) {
        if (!m.header_name.empty())
            fields.push_back(m.header_name);
        else if (m.name.size() <= 15)
            fields.push_back(m.name + "/");
        else
            fields.push_back("/" + std::to_string(table.size())),
                table += o.long_names == ArLongNames::SlashNul ? m.name + '\0' : m.name + "/\n";
    }
    // The long-name table's date, owner and mode fields are blank, as the usual tools write them.
    if (!table.empty()) out += field("//", 48) + field(std::to_string(table.size()), 10) + "`\n" + padded(table);
    for (size_t i = 0; i < members.size(); ++i) add(fields[i], members[i].data);
    return out;
}

}  // namespace ar_writer
