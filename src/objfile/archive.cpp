// Member headers of the common, 64-bit, elfa and AIX big archive layouts.
#include "archive.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "instream.h"
#include "objfile.h"
#include "platform.h"

namespace {

// Widths of the fields behind the name field; the two terminator bytes end
// the header.
struct Layout {
    size_t date, uid, gid, mode, size;
    bool wide;  // 64-bit date and size
    constexpr size_t rest() const { return date + uid + gid + mode + size + 2; }
};
constexpr Layout common_layout{12, 6, 6, 8, 10, false};
constexpr Layout wide_layout{20, 6, 6, 8, 20, true};
static_assert(AR_NAME_SIZE + common_layout.rest() == AR_HDR_SIZE);
static_assert(AR_NAME_SIZE + wide_layout.rest() == AR_HDR64_SIZE);

archive_member member;
// Short names, elfa names and raw symbol-table fields live here; long names
// point into the table.
std::string name_text;

// Longest member name taken from a long-name table; a longer one is cut.
constexpr uint64_t MAX_LONG_NAME = 4096;

// The current long-name table and what is known about its names.
struct LongNames {
    std::vector<char> text = std::vector<char>(1, '\0');  // the table and a NUL behind it
    uint64_t size = 0;
    bool arfilenames = false;  // read from an "ARFILENAMES/" member
    bool filenames = false;    // read from a "<filenames>" member
    bool nul_terminated = false;
    bool last_ended_in_slash = false;
    bool cut_reported = false;  // a name of this table was cut and a warning given
    uint32_t truncated_count = UINT32_MAX;
    // Where the search for line `line_index` of a "<filenames>" table
    // stands: the truncated names ask for lines 0, 1, 2, ... in turn, so
    // each lookup goes on from the previous one. `last_line` is the index
    // of the table's last line once it is known.
    uint64_t line_index = 0;
    size_t line_start = 0;
    uint64_t last_line = UINT64_MAX;
};
LongNames names;

// Offsets of the AIX members seen in the current iteration; a chain that
// comes back to one of them ends there.
std::unordered_set<int64_t> aix_seen;

[[noreturn]] void end_program() {
    gen_exit_fn(1);
    plat::exit_now(1);
}

[[noreturn]] void read_failed(const char *archive_name) {
    gen_error("error reading archive file '%s'", archive_name);
    end_program();
}

bool blank(char c) { return c == ' ' || c == '\t'; }
bool white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim_trailing_white(std::string_view s) {
    while (!s.empty() && white(s.back())) s.remove_suffix(1);
    return s;
}

// A decimal field read the way the C library's unsigned conversions read
// one: leading blanks, an optional sign, digits up to the first other
// character. A value beyond `max` gives `max`; a minus sign negates in
// unsigned arithmetic of that width.
struct Decimal {
    uint64_t value = 0;
    size_t end = 0;  // index behind the last digit
    bool any = false;
};

Decimal decimal(std::string_view s, uint64_t max) {
    Decimal d;
    size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    bool minus = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) minus = s[i++] == '-';
    bool over = false;
    uint64_t v = 0;
    for (; i < s.size() && digit(s[i]); ++i) {
        d.any = true;
        uint64_t dv = uint64_t(s[i] - '0');
        if (over || v > (max - dv) / 10)
            over = true;
        else
            v = v * 10 + dv;
    }
    d.end = i;
    d.value = over ? max : minus ? (0 - v) & max : v;
    return d;
}

int64_t as_signed(uint64_t v, bool wide) { return wide ? int64_t(v) : int64_t(int32_t(uint32_t(v))); }

int64_t decimal_field(std::string_view s, bool wide) {
    return as_signed(decimal(s, wide ? UINT64_MAX : UINT32_MAX).value, wide);
}

// The size must be a number: blanks, an optional sign, digits, blanks.
bool size_field(std::string_view s, bool wide, int64_t &size) {
    Decimal d = decimal(s, wide ? UINT64_MAX : UINT32_MAX);
    if (!d.any) return false;
    for (size_t i = d.end; i < s.size(); ++i)
        if (!blank(s[i])) return false;
    size = as_signed(d.value, wide);
    return true;
}

// Each leading digit adds its value to eight times the running value.
uint32_t mode_field(std::string_view s) {
    uint32_t v = 0;
    for (char c : s) {
        if (!digit(c)) break;
        v = v * 8 + uint32_t(c - '0');
    }
    return v;
}

// Up to n bytes; the count read. A read error other than the end of the file
// ends the program.
size_t read_upto(void *buf, size_t n, FILE *f, const char *archive_name) {
    InStream in(f);
    size_t got = in.read(buf, n);
    if (got < n && in.error()) read_failed(archive_name);
    return got;
}

// One piece of a member header. Nothing at all where a header starts is the
// end of the archive; a header cut short is a damaged archive.
bool read_header_part(char *buf, size_t n, bool at_start, FILE *f, const char *archive_name) {
    size_t got = read_upto(buf, n, f, archive_name);
    if (got == n) return true;
    if (got == 0 && at_start) return false;
    read_failed(archive_name);
}

bool ends_in_slash(std::string_view field) {
    std::string_view s = trim_trailing_white(field);
    return !s.empty() && s.back() == '/';
}

struct Header {
    std::string field;              // the name field (longer than 16 bytes only in elfa archives)
    char rest[AR_HDR64_SIZE] = {};  // the fields behind it
    Layout layout = common_layout;
};

bool read_header(FILE *f, const char *archive_name, Header &h) {
    h.layout = archive_is_arch64 ? wide_layout : common_layout;
    char first[AR_NAME_SIZE];
    if (!read_header_part(first, sizeof first, true, f, archive_name)) return false;
    h.field.assign(first, sizeof first);
    if (archive_is_elfa) {
        // The name field grows until the name ends in '/'.
        while (!ends_in_slash(h.field) && h.field.size() < AR_ELFA_NAME_MAX) {
            char step[AR_ELFA_NAME_STEP];
            read_header_part(step, sizeof step, false, f, archive_name);
            h.field.append(step, sizeof step);
        }
    }
    read_header_part(h.rest, h.layout.rest(), false, f, archive_name);
    return true;
}

bool starts(std::string_view field, std::string_view prefix) { return field.substr(0, prefix.size()) == prefix; }

// Reads a long-name table of `size` bytes and works out how its names end.
void read_long_names(FILE *f, const char *archive_name, int64_t size, std::string_view field) {
    if (size < 0) read_failed(archive_name);
    names.text.clear();
    names.text.shrink_to_fit();
    // Read in bounded steps: a size beyond the end of the file costs no
    // more memory than the file holds.
    constexpr uint64_t step = uint64_t(1) << 20;
    const uint64_t want = uint64_t(size);
    while (names.text.size() < want) {
        size_t n = size_t(std::min(step, want - names.text.size()));
        size_t old = names.text.size();
        names.text.resize(old + n);
        if (read_upto(names.text.data() + old, n, f, archive_name) != n) read_failed(archive_name);
    }
    names.text.push_back('\0');
    names.size = want;
    names.arfilenames = starts(field, "ARFILENAMES/");
    names.filenames = starts(field, "<filenames>");
    names.nul_terminated = false;
    names.cut_reported = false;
    names.line_index = 0;
    names.line_start = !names.text.empty() && names.text[0] == '\n' && want > 0 ? 1 : 0;
    names.last_line = UINT64_MAX;
    char *t = names.text.data();
    if (names.filenames) {
        for (uint64_t i = 0; i + 1 < want; ++i)
            if (t[i] == '/' && t[i + 1] == '\n') t[i] = '\0';
        names.truncated_count = 0;
        return;
    }
    bool nul_seen = false;
    for (uint64_t i = 1; i < want; ++i) {
        char c = t[i], before = t[i - 1];
        if ((c == '\n' || c == '\0') && before == '/') {
            nul_seen = false;  // names end in '/'
            break;
        }
        if (c == '\0' && before != '\0' && before != '\n') nul_seen = true;
    }
    names.nul_terminated = nul_seen;
}

// "/123" (or " 123" beside an "ARFILENAMES/" table) is the name at offset
// 123 of the long-name table.
bool long_name_reference(std::string_view field, const char *archive_name) {
    if (field.size() < 2 || !digit(field[1])) return false;
    if (field[0] != '/' && !(field[0] == ' ' && names.arfilenames)) return false;
    uint64_t offset = decimal(field.substr(1), UINT64_MAX).value;
    if (offset >= names.size) {
        gen_warning("archive file '%s': member name offset %I64u lies outside the long-name table (%I64u bytes)",
                    archive_name, offset, names.size);
        return false;
    }
    char *t = names.text.data();
    names.last_ended_in_slash = false;
    // No real name comes near this length; the limit keeps a table without
    // terminators from costing its whole length for every member that
    // refers to it.
    const uint64_t room = std::min<uint64_t>(names.size - offset, MAX_LONG_NAME + 1);
    uint64_t length = room;
    if (names.nul_terminated) {
        length = uint64_t(strnlen(t + offset, size_t(room)));
    } else {
        for (uint64_t i = offset; i < offset + room; ++i) {
            char c = t[i];
            if (c == '\0' || c == '/' || c == '\n') {
                names.last_ended_in_slash = c == '/';
                t[i] = '\0';
                length = i - offset;
                break;
            }
        }
    }
    if (length > MAX_LONG_NAME) {
        if (!names.cut_reported)
            gen_warning("archive file '%s': member name at offset %I64u of the long-name table is longer than %u bytes; "
                        "it is cut there",
                        archive_name, offset, unsigned(MAX_LONG_NAME));
        names.cut_reported = true;
        name_text.assign(t + offset, size_t(MAX_LONG_NAME));
        member.name = name_text.data();
        return true;
    }
    member.name = t + offset;
    return true;
}

// Line `index` of a "<filenames>" table, up to the NUL that replaced its '/'.
std::string_view table_line(uint64_t index) {
    const std::string_view all(names.text.data(), size_t(names.size));
    if (index > names.last_line) return {};
    if (index < names.line_index) {
        names.line_index = 0;
        names.line_start = !all.empty() && all.front() == '\n' ? 1 : 0;
    }
    std::string_view t = all.substr(std::min(names.line_start, all.size()));
    for (; names.line_index < index; ++names.line_index) {
        size_t nl = t.find('\n');
        if (nl == std::string_view::npos) {
            names.last_line = names.line_index;
            return {};
        }
        t.remove_prefix(nl + 1);
        names.line_start += nl + 1;
    }
    t = t.substr(0, t.find('\n'));
    return t.substr(0, t.find('\0'));
}

void short_name(std::string_view field) {
    std::string_view n = trim_trailing_white(field.substr(0, AR_NAME_SIZE));
    names.last_ended_in_slash = !n.empty() && n.back() == '/';
    if (names.last_ended_in_slash) n.remove_suffix(1);
    name_text.assign(n);
    // A 15-character ".obj" name beside a "<filenames>" table was cut short;
    // the k-th such name is completed from line k - 1 of the table.
    constexpr size_t cut = 15;
    if (names.filenames && n.size() == cut && n.substr(cut - 4) == ".obj") {
        uint32_t k = ++names.truncated_count;
        if (k > 0) {
            std::string_view line = table_line(k - 1);
            if (line.size() >= cut && line.substr(0, cut) == n) name_text.assign(line);
        }
    }
    member.name = name_text.data();
}

// An elfa name: the field without trailing white space and its final '/'.
std::string_view elfa_name(std::string_view field) {
    std::string_view n = trim_trailing_white(field);
    if (!n.empty() && n.back() == '/') n.remove_suffix(1);
    return n;
}

bool symbol_table_name(std::string_view field) {
    return starts(field, "/ ") || starts(field, "__________EL") || starts(field, "__.SYMDEF") ||
           starts(field, "________64EL") || (archive_is_elfa && elfa_name(field).empty());
}

archive_member *finish(FILE *f, const char *archive_name) {
    if (member.size < 0) {
        gen_warning("%s has negative size (%I64d)", member.name, member.size);
        return &member;
    }
    const int64_t left = InStream(f).left();
    if (left >= 0 && member.size > left)
        gen_warning("member '%s' of archive file '%s' has size %I64d, but only %I64d bytes follow its header",
                    member.name, archive_name, member.size, left);
    return &member;
}

int64_t aix_number(const char *p, size_t width) { return int64_t(decimal(std::string_view(p, width), UINT64_MAX).value); }

char *aix_member_at(FILE *f, int64_t offset, char (&hdr)[AIAFF_AR_HBUF]) {
    auto fail = [&hdr]() -> char * {
        std::memset(hdr, 0, sizeof hdr);
        return nullptr;
    };
    if (offset <= 0 || !aix_seen.insert(offset).second) return fail();
    InStream in(f);
    if (!in.try_seek(offset) || !in.read_exact(hdr, sizeof hdr)) return fail();
    int64_t len = decimal_field(std::string_view(hdr + AIAFF_AR_NAMLEN, 4), false);
    if (len < 0) return fail();
    size_t n = size_t(len);
    char *name = static_cast<char *>(gen_calloc_fn(n + 1, 1));
    // The buffer already holds up to two name bytes.
    size_t have = std::min<size_t>(n, AIAFF_AR_HBUF - AIAFF_AR_HSZ);
    std::memcpy(name, hdr + AIAFF_AR_HSZ, have);
    // Behind the name: the terminator "`\n" and, after an odd name, one
    // padding byte; the bytes read beyond the name count against them.
    size_t tail = n + 2 + (n & 1) - std::max<size_t>(n, AIAFF_AR_HBUF - AIAFF_AR_HSZ);
    char skip[3];
    if (!in.read_exact(name + have, n - have) || !in.read_exact(skip, tail)) {
        gen_free_fn(name);
        return fail();
    }
    return name;
}

}  // namespace

void *read_archive_bytes(void *buf, size_t size, size_t count, FILE *f, const char *archive_name) {
    if (size == 0 || count == 0) return buf;
    InStream in(f);
    if (count > SIZE_MAX / size) read_failed(archive_name);
    if (in.read_exact(buf, size * count)) return buf;
    if (in.eof() && !in.error()) return nullptr;
    read_failed(archive_name);
}

archive_member *read_archive_member(FILE *f, const char *archive_name) {
    for (;;) {
        Header h;
        if (!read_header(f, archive_name, h)) return nullptr;
        const Layout &l = h.layout;
        const char *term = h.rest + l.rest() - 2;
        if (std::memcmp(term, ARFMAG, 2) != 0) {
            gen_error("Unexpected chars in archive file header '%s' at 0x%I64x '\\%03o' '\\%03o'", archive_name,
                      gen_ftell64(f), int(static_cast<signed char>(term[0])), int(static_cast<signed char>(term[1])));
            end_program();
        }
        std::string_view rest(h.rest, l.rest());
        std::string_view date = rest.substr(0, l.date);
        std::string_view uid = rest.substr(l.date, l.uid);
        std::string_view gid = rest.substr(l.date + l.uid, l.gid);
        std::string_view mode = rest.substr(l.date + l.uid + l.gid, l.mode);
        std::string_view size = rest.substr(l.date + l.uid + l.gid + l.mode, l.size);
        member = archive_member{};
        member.date = decimal_field(date, l.wide);
        member.uid = int32_t(decimal_field(uid, false));
        member.gid = int32_t(decimal_field(gid, false));
        member.mode = mode_field(mode);
        if (!size_field(size, l.wide, member.size)) {
            std::string shown(trim_trailing_white(size));
            gen_error("Invalid member size '%s' in archive file header '%s' at 0x%I64x", shown.c_str(), archive_name,
                      gen_ftell64(f));
            end_program();
        }
        member.has_long_header_name = h.field.size() > AR_NAME_SIZE;

        std::string_view field = h.field;
        if (starts(field, "// ") || starts(field, "ARFILENAMES/") || starts(field, "<filenames>")) {
            read_long_names(f, archive_name, member.size, field);
            if (member.size & 1) InStream(f).skip(1);
            continue;
        }
        if (symbol_table_name(field)) {
            member.is_symbol_table = 1;
            name_text = h.field;
            member.name = name_text.data();
            return finish(f, archive_name);
        }
        if (long_name_reference(field, archive_name)) return finish(f, archive_name);
        if (archive_is_elfa) {
            name_text.assign(elfa_name(field));
            member.name = name_text.data();
        } else {
            short_name(field);
        }
        return finish(f, archive_name);
    }
}

bool read_aix_fixed_header(FILE *f, char (&fixed)[AIAFF_FL_HSZ]) {
    if (InStream(f).read_exact(fixed, sizeof fixed)) return true;
    std::memset(fixed, 0, sizeof fixed);
    return false;
}

char *first_aix_member(FILE *f, const char (&fixed)[AIAFF_FL_HSZ], char (&member_hdr)[AIAFF_AR_HBUF]) {
    aix_seen.clear();
    if (aix_number(fixed + AIAFF_FL_LSTMOFF, AIAFF_OFFSET_WIDTH) == 0) {
        std::memset(member_hdr, 0, sizeof member_hdr);
        return nullptr;
    }
    return aix_member_at(f, aix_number(fixed + AIAFF_FL_FSTMOFF, AIAFF_OFFSET_WIDTH), member_hdr);
}

char *next_aix_member(FILE *f, const char (&fixed)[AIAFF_FL_HSZ], char (&member_hdr)[AIAFF_AR_HBUF]) {
    // The member table ends the chain; it is not an object.
    const char *next = member_hdr + AIAFF_AR_NXTMEM;
    int64_t offset = aix_number(next, AIAFF_OFFSET_WIDTH);
    if (offset == 0 || std::memcmp(next, fixed + AIAFF_FL_MEMOFF, AIAFF_OFFSET_WIDTH) == 0) {
        std::memset(member_hdr, 0, sizeof member_hdr);
        return nullptr;
    }
    return aix_member_at(f, offset, member_hdr);
}
