// Archives for tests, laid out byte by byte.
#include "ar_writer.h"

namespace ar_writer {

namespace {

std::string field(const std::string &text, size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::string number(int64_t v, size_t width) { return field(std::to_string(v), width); }

size_t padded(size_t n, const ArOptions &o) { return n + (n % 2 && o.pad_odd ? 1 : 0); }

std::string data_part(const std::string &data, const ArOptions &o) {
    return data + std::string(padded(data.size(), o) - data.size(), '\n');
}

// An AIX big archive member: size, next, previous, date, uid, gid, mode, name length, name, "`\n".
std::string aix_member(const std::string &name, const std::string &data, int64_t next, int64_t prev,
                       const ArOptions &o) {
    std::string out;
    for (int64_t v : {int64_t(data.size()), next, prev, int64_t(0), int64_t(0), int64_t(0), int64_t(644)})
        out += number(v, 12);
    out += number(int64_t(name.size()), 4) + name + "`\n";
    if (name.size() % 2) out += '\0';
    return out + data_part(data, o);
}

std::string write_aix(const std::vector<ArMember> &members, const ArOptions &o) {
    const std::string gst = o.symbol_table ? aix_member("", std::string(4, '\0'), 0, 0, o) : "";
    std::vector<int64_t> offsets;
    int64_t pos = 68 + int64_t(gst.size());
    for (const ArMember &m : members) offsets.push_back(pos), pos += int64_t(aix_member(m.name, m.data, 0, 0, o).size());
    // The member table: a count, one offset per member, then the names.
    const int64_t table = o.aix_member_table && !members.empty() ? pos : 0;
    std::string table_data = number(int64_t(members.size()), 12);
    for (int64_t off : offsets) table_data += number(off, 12);
    for (const ArMember &m : members) table_data += m.name + '\0';
    const int64_t first = offsets.empty() ? 0 : offsets.front(), last = offsets.empty() ? 0 : offsets.back();

    std::string out = ar_magic(ArForm::Aix);
    for (int64_t v : {table, gst.empty() ? int64_t(0) : int64_t(68), first, last, int64_t(0)}) out += number(v, 12);
    out += gst;
    for (size_t i = 0; i < members.size(); ++i)
        out += aix_member(members[i].name, members[i].data, i + 1 < members.size() ? offsets[i + 1] : table,
                          i > 0 ? offsets[i - 1] : 0, o);
    if (table) out += aix_member("", table_data, 0, last, o);
    return out;
}

}  // namespace

std::string ar_magic(ArForm form) {
    const char *magic[] = {"!<arch>\n", "!<arch64>\n", "!<elfa>\n", "<aiaff>\n"};
    return magic[int(form)];
}

std::string ar_header(const ArHeaderFields &h, ArForm form) {
    const size_t wide = form == ArForm::Arch64 ? 20 : 0;
    const size_t name = form == ArForm::Elfa && h.name.size() >= 16 ? (h.name.size() + 3) / 4 * 4 : 16;
    return field(h.name, name) + field(h.date, wide ? wide : 12) + field(h.uid, 6) + field(h.gid, 6) +
           field(h.mode, 8) + field(h.size, wide ? wide : 10) + h.terminator;
}

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &o) {
    if (o.form == ArForm::Aix) return write_aix(members, o);
    std::string out = ar_magic(o.form);
    // A long-name table gets blank date, owner and mode fields, as the usual
    // tools write it.
    auto add = [&](const std::string &name, const std::string &data, bool blank) {
        const std::string z = blank ? "" : "0";
        out += ar_header({name, z, z, z, blank ? "" : "644", std::to_string(data.size())}, o.form) + data_part(data, o);
    };
    if (o.symbol_table) add(o.symbol_table_name, std::string(4, '\0'), false);
    std::vector<std::string> fields;
    std::string table;
    for (const ArMember &m : members) {
        const std::string offset = std::to_string(table.size());
        if (!m.header_name.empty())
            fields.push_back(m.header_name);
        else if (o.form == ArForm::Elfa || m.name.size() <= 15)
            fields.push_back(m.name + "/");
        else if (o.long_names == ArLongNames::Filenames)
            fields.push_back(m.name.substr(0, 15) + "/"), table += m.name + "/\n";
        else
            fields.push_back((o.long_names == ArLongNames::ArFilenames ? " " : "/") + offset),
                table += o.long_names == ArLongNames::SlashNul ? m.name + '\0' : m.name + "/\n";
    }
    if (!table.empty())
        add(o.long_names == ArLongNames::ArFilenames ? "ARFILENAMES/"
            : o.long_names == ArLongNames::Filenames ? "<filenames>"
                                                     : "//",
            table, true);
    for (size_t i = 0; i < members.size(); ++i) add(fields[i], members[i].data, false);
    return out;
}

}  // namespace ar_writer
