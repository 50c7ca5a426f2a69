// Archives for tests, laid out byte by byte.
#include "ar_writer.h"

#include <cstddef>

namespace ar_writer {

namespace {

std::string field(const std::string &text, size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::string number(int64_t v, size_t width) { return field(std::to_string(v), width); }

std::string elfa_name_field(const std::string &name) {
    size_t width = name.size() < 16 ? 16 : (name.size() + 3) / 4 * 4;
    return field(name, width);
}

void append_data(std::string &out, const std::string &data, const ArOptions &o) {
    out += data;
    if (data.size() % 2 && o.pad_odd) out += o.pad_byte;
}

size_t padded(size_t n, const ArOptions &o) { return n + (n % 2 && o.pad_odd ? 1 : 0); }

// AIX big archive member: header, name, terminator, data.
constexpr size_t aix_header_size = 88;

size_t aix_member_size(const std::string &name, const std::string &data, const ArOptions &o) {
    return aix_header_size + name.size() + 2 + name.size() % 2 + padded(data.size(), o);
}

void aix_member(std::string &out, const std::string &name, const std::string &data, int64_t next, int64_t prev,
                const ArOptions &o) {
    out += number(int64_t(data.size()), 12);
    out += number(next, 12);
    out += number(prev, 12);
    out += number(0, 12);    // date
    out += number(0, 12);    // uid
    out += number(0, 12);    // gid
    out += number(644, 12);  // mode
    out += number(int64_t(name.size()), 4);
    out += name;
    out += "`\n";
    if (name.size() % 2) out += '\0';
    append_data(out, data, o);
}

std::string write_aix(const std::vector<ArMember> &members, const ArOptions &o) {
    const int64_t fixed_size = 68;
    int64_t pos = fixed_size;
    int64_t gst = 0;
    if (o.symbol_table) {
        gst = pos;
        pos += int64_t(aix_member_size("", o.symbol_table_data, o));
    }
    std::vector<int64_t> offsets;
    for (const ArMember &m : members) {
        offsets.push_back(pos);
        pos += int64_t(aix_member_size(m.name, m.data, o));
    }
    // The member table: a count, one offset per member, then the names.
    int64_t table = 0;
    std::string table_data;
    if (o.aix_member_table && !members.empty()) {
        table = pos;
        table_data = number(int64_t(members.size()), 12);
        for (int64_t off : offsets) table_data += number(off, 12);
        for (const ArMember &m : members) table_data += m.name + '\0';
    }
    const int64_t first = offsets.empty() ? 0 : offsets.front();
    const int64_t last = offsets.empty() ? 0 : offsets.back();

    std::string out = ar_magic(ArForm::Aix);
    out += number(table, 12);
    out += number(gst, 12);
    out += number(first, 12);
    out += number(last, 12);
    out += number(0, 12);  // free list
    if (o.symbol_table) aix_member(out, "", o.symbol_table_data, 0, 0, o);
    for (size_t i = 0; i < members.size(); ++i) {
        int64_t next = i + 1 < members.size() ? offsets[i + 1] : table;
        int64_t prev = i > 0 ? offsets[i - 1] : 0;
        aix_member(out, members[i].name, members[i].data, next, prev, o);
    }
    if (table) aix_member(out, "", table_data, 0, last, o);
    return out;
}

}  // namespace

std::string ar_magic(ArForm form) {
    switch (form) {
    case ArForm::Common: return "!<arch>\n";
    case ArForm::Arch64: return "!<arch64>\n";
    case ArForm::Elfa: return "!<elfa>\n";
    case ArForm::Aix: return "<aiaff>\n";
    }
    return "";
}

std::string ar_header(const ArHeaderFields &h, ArForm form) {
    const bool wide = form == ArForm::Arch64;
    std::string out = form == ArForm::Elfa ? elfa_name_field(h.name) : field(h.name, 16);
    out += field(h.date, wide ? 20 : 12);
    out += field(h.uid, 6);
    out += field(h.gid, 6);
    out += field(h.mode, 8);
    out += field(h.size, wide ? 20 : 10);
    out += h.terminator;
    return out;
}

std::string write_archive(const std::vector<ArMember> &members, const ArOptions &o) {
    if (o.form == ArForm::Aix) return write_aix(members, o);

    std::string out = ar_magic(o.form);
    // A long-name table gets blank date, owner and mode fields, as the usual
    // tools write it.
    auto add = [&](const std::string &name, const std::string &data, bool blank_fields) {
        ArHeaderFields h;
        h.name = name;
        h.size = std::to_string(data.size());
        if (blank_fields) h.date = h.uid = h.gid = h.mode = "";
        out += ar_header(h, o.form);
        append_data(out, data, o);
    };
    if (o.symbol_table) add(o.symbol_table_name, o.symbol_table_data, false);

    std::vector<std::string> fields;
    std::string table;
    for (const ArMember &m : members) {
        if (!m.header_name.empty()) {
            fields.push_back(m.header_name);
        } else if (o.form == ArForm::Elfa || m.name.size() <= 15) {
            fields.push_back(m.name + "/");
        } else {
            std::string offset = std::to_string(table.size());
            switch (o.long_names) {
            case ArLongNames::Slash:
                fields.push_back("/" + offset);
                table += m.name + "/\n";
                break;
            case ArLongNames::SlashNul:
                fields.push_back("/" + offset);
                table += m.name + '\0';
                break;
            case ArLongNames::ArFilenames:
                fields.push_back(" " + offset);
                table += m.name + "/\n";
                break;
            case ArLongNames::Filenames:
                fields.push_back(m.name.substr(0, 15) + "/");
                table += m.name + "/\n";
                break;
            case ArLongNames::None: fields.push_back(m.name.substr(0, 15) + "/"); break;
            }
        }
    }
    if (!table.empty()) {
        const char *table_name = o.long_names == ArLongNames::ArFilenames ? "ARFILENAMES/"
                                 : o.long_names == ArLongNames::Filenames ? "<filenames>"
                                                                          : "//";
        add(table_name, table, true);
    }
    for (size_t i = 0; i < members.size(); ++i) add(fields[i], members[i].data, false);
    return out;
}

}  // namespace ar_writer
