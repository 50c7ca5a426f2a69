// The function table: one record per function symbol of the current input,
// plus the boundary records that only end the function before them.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "machine_types.h"

function_table funsize_table;
section_extent *section_table;
uint32_t section_count;
file_ident *current_ident;

namespace {

// Names of the current input's records live in one growing arena that the
// next reset gives back as a whole: no allocation per symbol.
struct NameBlock {
    NameBlock *prev;
    size_t used;
    size_t size;
    char text[1];
};
NameBlock *name_blocks;
bool names_stable;
constexpr size_t NAME_BLOCK_SIZE = size_t(1) << 20;

}  // namespace

char *funsize_copy_name(const char *name) {
    size_t n = std::strlen(name) + 1;
    if (!name_blocks || name_blocks->size - name_blocks->used < n) {
        size_t size = std::max(NAME_BLOCK_SIZE, n);
        auto *b = static_cast<NameBlock *>(gen_calloc_fn(1, offsetof(NameBlock, text) + size));
        b->prev = name_blocks;
        b->size = size;
        name_blocks = b;
    }
    char *p = name_blocks->text + name_blocks->used;
    std::memcpy(p, name, n);
    name_blocks->used += n;
    return p;
}

namespace {

void free_names() {
    while (name_blocks) {
        NameBlock *prev = name_blocks->prev;
        gen_free_fn(name_blocks);
        name_blocks = prev;
    }
}

function_record *records_begin() { return funsize_table.records; }
function_record *records_end() { return funsize_table.records + funsize_table.next; }

bool in_section_table(uint32_t section) { return section >= 1 && section <= section_count; }

gadr section_end(uint32_t section) {
    const section_extent &s = section_table[section - 1];
    gadr g;
    gadr_from_u64(g, s.start + s.size);
    return g;
}

gadr make_gadr(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hex_value(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Joins a decorated local name's function part and the base name of its
// file part as "function(base.o)".
bool rewrite_decorated(const char *name, const funsize_source &source, std::string &out) {
    std::string function, file;
    if (!funsize_split_decorated(name, function, file)) return false;
    std::string base;
    if (source.host_base_name) {
        base = gen_basename(file.c_str());
    } else {
        size_t cut = file.find_last_of("/\\:");
        base = cut == std::string::npos ? file : file.substr(cut + 1);
    }
    out = function + "(" + base + ".o)";
    return true;
}

bool leading_underscore() { return current_ident && current_ident->leading_underscore; }

const char *drop_leading_character(const char *name, const funsize_source &source) {
    if (leading_underscore()) return *name ? name + 1 : name;
    if (source.ppc64_dot_entry_points && opt_skip_dot_ppc64 && current_ident &&
        current_ident->machine_type == MT_PPC64 && name[0] == '.')
        return name + 1;
    return name;
}

// The name filter shared by both modes. Returns null for a symbol that is
// ignored, else the name to go on with.
const char *filter_name(const char *name, const funsize_source &source) {
    if (std::strncmp(name, "..lx", 4) == 0) return nullptr;
    if (std::strncmp(name, "..", 2) == 0 || std::strncmp(name, "%%", 2) == 0) {
        if (std::strncmp(name + 2, "lin", 3) == 0) return nullptr;
        return leading_underscore() ? "_@#$%" : FUNSIZE_BOUNDARY_NAME;
    }
    if (source.call_site_names && std::strncmp(name, "__calle", 7) == 0 && (name[7] == 'r' || name[7] == 'e') &&
        name[8] == '.')
        return nullptr;
    return name;
}

function_record &append_record() {
    funsize_reserve(funsize_table.next + 1);
    function_record &r = funsize_table.records[funsize_table.next++];
    r = function_record{};
    return r;
}

// One function as the input gave it: its start, its end (the start when its
// size is not known yet) and whether the input stated that size.
struct Span {
    gadr start;
    gadr end;
    bool sized;
};

int record_all_functions(const char *name, const Span &fn, uint32_t section, const funsize_source &source) {
    funsize_reserve(funsize_table.next + 1);
    std::string rewritten;
    bool copy = !names_stable;
    if (rewrite_decorated(name, source, rewritten)) {
        name = rewritten.c_str();
        copy = true;
    }
    name = drop_leading_character(name, source);
    function_record &r = append_record();
    r.name = copy ? funsize_copy_name(name) : const_cast<char *>(name);
    r.start = fn.start;
    r.end = fn.end;
    r.section = section;
    r.order = static_cast<uint32_t>(funsize_table.next);
    if (fn.sized) ++funsize_table.sized_count;
    return 0;
}

// The end of the first range holding start, else the end of the last one.
gadr range_end_for(const debug_range_list &ranges, const gadr &start) {
    for (uint64_t i = 0; i < ranges.count; ++i) {
        const debug_range &r = ranges.ranges[i];
        if (gadr_less_equal(r.low, start) && gadr_less(start, r.high)) return r.high;
    }
    return ranges.ranges[ranges.count - 1].high;
}

int record_requested(const char *name, const Span &fn, uint32_t section, const funsize_source &source,
                     const debug_range_list *ranges) {
    name = drop_leading_character(name, source);
    const uint32_t n = funsize_table.requested_count;
    function_record *req = funsize_table.records;

    function_record *match = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        if (std::strcmp(req[i].name, name) == 0) {
            match = &req[i];
            break;
        }
    }
    if (match && match->section != 0 && source.first_symbol_wins) {
        gen_error("symbol %s found twice! using symbol at %s", match->name, gadr_to_string(match->start));
    } else if (match) {
        match->start = fn.start;
        match->end = fn.end;
        match->section = section;
        if (fn.sized) {
            match->order = 1;
            ++funsize_table.sized_count;
        } else if (in_section_table(section)) {
            match->end = section_end(section);
        } else if (ranges && ranges->count > 0) {
            match->end = range_end_for(*ranges, fn.start);
        }
        ++funsize_table.found_count;
        if (funsize_table.sized_count == n) return 1;
        if (match->order == 0) {
            for (function_record *b = req + n; b < records_end(); ++b) {
                if (b->section == section && gadr_less(match->start, b->start) && gadr_less(b->start, match->end))
                    match->end = b->start;
            }
        }
    }
    if (funsize_table.found_count < n) {
        function_record &b = append_record();
        b.start = fn.start;
        b.end = fn.end;
        b.section = section;
        req = funsize_table.records;
    }
    for (uint32_t i = 0; i < n; ++i) {
        function_record &r = req[i];
        if (r.section != 0 && r.section == section && r.order == 0 && gadr_less(r.start, fn.start) &&
            gadr_less(fn.start, r.end))
            r.end = fn.start;
    }
    return 0;
}

int record(const char *name, const Span &fn, uint32_t section, const funsize_source &source,
           const debug_range_list *ranges) {
    if (!name) name = "";
    name = filter_name(name, source);
    if (!name) return 0;
    if (funsize_table.requested_count == 0) return record_all_functions(name, fn, section, source);
    return record_requested(name, fn, section, source, ranges);
}

}  // namespace

void funsize_names_stable(bool stable) { names_stable = stable; }

bool funsize_split_decorated(const char *name, std::string &function, std::string &file) {
    if (name[0] == '.') return false;
    const char *first = std::strchr(name, '.');
    const char *second = first ? std::strchr(first + 1, '.') : nullptr;
    if (!second) return false;
    file.clear();
    for (const char *p = second + 1; *p; ++p) {
        if (*p != '.') {
            file.push_back(*p);
            continue;
        }
        if (!is_hex(p[1]) || !is_hex(p[2])) break;
        file.push_back(static_cast<char>(hex_value(p[1]) * 16 + hex_value(p[2])));
        p += 2;
    }
    if (file.empty()) return false;
    function.assign(name, size_t(first - name));
    return true;
}

void funsize_init_table() {
    funsize_table = function_table{};
    funsize_table.records =
        static_cast<function_record *>(gen_calloc_fn(FUNSIZE_INITIAL_CAPACITY, sizeof(function_record)));
    funsize_table.capacity = FUNSIZE_INITIAL_CAPACITY;
}

void funsize_release_table() {
    if (funsize_table.capacity <= FUNSIZE_INITIAL_CAPACITY) return;
    free_names();
    gen_free_fn(funsize_table.records);
    funsize_init_table();
}

void funsize_reserve(uint64_t count) {
    if (funsize_table.capacity >= count) return;
    uint64_t capacity = count + count / 16 + FUNSIZE_INITIAL_CAPACITY;
    funsize_table.records = static_cast<function_record *>(
        gen_realloc_fn(funsize_table.records, int64_t(capacity * sizeof(function_record))));
    std::memset(funsize_table.records + funsize_table.capacity, 0,
                size_t(capacity - funsize_table.capacity) * sizeof(function_record));
    funsize_table.capacity = capacity;
}

void funsize_add_requested(const char *name) {
    ++funsize_table.requested_count;
    function_record &r = append_record();
    r.name = const_cast<char *>(name);
    r.requested = 1;
}

void funsize_reset() {
    for (function_record *r = records_begin(); r < records_end(); ++r) {
        if (r->requested) {
            r->order = 0;
            r->section = 0;
        } else {
            r->order = 1;
            r->name = nullptr;
        }
    }
    free_names();
    // The requested records were never moved, so they still stand first in
    // the order their names were given. Without any, nothing is kept.
    if (funsize_table.requested_count)
        std::stable_sort(records_begin(), records_end(),
                         [](const function_record &a, const function_record &b) { return a.order < b.order; });
    funsize_table.found_count = 0;
    funsize_table.sized_count = 0;
    // Each handler says afresh whether its names outlive the report.
    names_stable = false;
    uint64_t keep = funsize_table.requested_count;
    std::memset(funsize_table.records + keep, 0, size_t(funsize_table.next - keep) * sizeof(function_record));
    funsize_table.next = keep;
}

int funsize_record_symbol(const char *name, uint64_t address, uint64_t size, uint32_t section) {
    Span fn{make_gadr(address), make_gadr(address + size), size != 0};
    return record(name, fn, section, FUNSIZE_OBJECT_SYMBOLS, nullptr);
}

int funsize_record_debug_proc(const char *name, const gadr &start, const gadr &end, const char *,
                              const debug_range_list *ranges) {
    Span fn{start, end, gadr_not_equal(start, end)};
    return record(name, fn, FUNSIZE_DEBUG_SECTION, FUNSIZE_DEBUG_PROCEDURES, ranges);
}

namespace {

// Gives every record without a size of its own the distance to the next
// higher start, capped by the end of its section.
void close_sizes(const debug_range_list *debug_ranges) {
    function_record *begin = records_begin(), *end = records_end();
    std::sort(begin, end, [](const function_record &a, const function_record &b) { return gadr_less(a.start, b.start); });
    for (function_record *run = begin; run < end;) {
        function_record *follower = run + 1;
        while (follower < end && gadr_equal(follower->start, run->start)) ++follower;
        bool has_follower = follower < end;
        for (function_record *r = run; r < follower; ++r) {
            if (!gadr_equal(r->end, r->start)) continue;
            if (r->section == FUNSIZE_DEBUG_SECTION) {
                if (has_follower) {
                    r->end = follower->start;
                } else if (debug_ranges) {
                    for (uint64_t i = 0; i < debug_ranges->count; ++i) {
                        const debug_range &dr = debug_ranges->ranges[i];
                        if (gadr_less_equal(dr.low, r->start) && gadr_less(r->start, dr.high)) {
                            r->end = dr.high;
                            break;
                        }
                    }
                }
            } else if (in_section_table(r->section)) {
                gadr sec_end = section_end(r->section);
                r->end = has_follower && !gadr_less(sec_end, follower->start) ? follower->start : sec_end;
            } else if (has_follower) {
                r->end = follower->start;
            }
        }
        run = follower;
    }
    std::sort(begin, end, [](const function_record &a, const function_record &b) { return a.order < b.order; });
}

// The text in front of every line of one report.
std::string file_prefix(const char *file_name) {
    char buf[64];
    if (opt_file && !opt_gcompare) {
        size_t len = std::strlen(file_name);
        if (len + 2 < 31) {
            gen_snprintf(buf, sizeof buf, "%-31s", file_name);
            buf[len] = ':';
            return buf;
        }
        return std::string(file_name) + ": ";
    }
    if (opt_gcompare && (opt_file || in_archive_member)) return std::string(gen_basename(file_name)) + ":";
    return std::string();
}

char restored_leading_character() {
    if (!current_ident || !current_ident->leading_underscore || opt_nounderscores) return 0;
    uint32_t m = current_ident->machine_type;
    return m == MT_RS6000 || m == MT_PPC_COFF || m == MT_POWERPC ? '.' : '_';
}

// Report lines are composed here and written in large blocks; the block is
// written out before any message so that the two streams keep their order.
class LineBuffer {
  public:
    LineBuffer() { text_.reserve(block + 512); }
    ~LineBuffer() { flush(); }
    void flush() {
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        text_.clear();
    }
    void end_line() {
        text_ += '\n';
        if (text_.size() >= block) flush();
    }
    void put(const char *s, size_t n) { text_.append(s, n); }
    void put(const std::string &s) { text_ += s; }
    void put(char c) { text_ += c; }
    void pad(size_t n) { text_.append(n, ' '); }
    // "%-20s "
    void name(const char *s) {
        size_t n = std::strlen(s);
        put(s, n);
        pad(n < 20 ? 20 - n + 1 : 1);
    }
    // "0x%08I64x "
    void address(uint64_t v) {
        char digits[16];
        int n = hex_digits(v, digits);
        put("0x", 2);
        text_.append(n < 8 ? 8 - n : 0, '0');
        put(digits, size_t(n));
        put(' ');
    }
    // "%#7I64x" (no prefix for 0)
    void hex_size(uint64_t v) {
        char digits[16];
        int n = hex_digits(v, digits);
        int width = v ? n + 2 : n;
        pad(width < 7 ? size_t(7 - width) : 0);
        if (v) put("0x", 2);
        put(digits, size_t(n));
    }
    // "%7I64d"
    void decimal_size(int64_t v) {
        char digits[24];
        int n = 0;
        uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
        do {
            digits[sizeof digits - 1 - n++] = char('0' + mag % 10);
            mag /= 10;
        } while (mag);
        if (v < 0) digits[sizeof digits - 1 - n++] = '-';
        pad(n < 7 ? size_t(7 - n) : 0);
        put(digits + sizeof digits - n, size_t(n));
    }

  private:
    static int hex_digits(uint64_t v, char *out) {
        char tmp[16];
        int n = 0;
        do {
            tmp[n++] = "0123456789abcdef"[v & 0xF];
            v >>= 4;
        } while (v);
        for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
        return n;
    }
    static constexpr size_t block = 1 << 16;
    std::string text_;
};

}  // namespace

namespace {

funsize_sink line_sink;
void *line_sink_context;
// The input being reported, when the report was asked for through
// funsize_report_input.
const input_desc *reported_input;

// The report's lines, handed to the sink instead of printed.
int hand_over(const char *file_name, uint64_t count, char lead) {
    funsize_line line{file_name, nullptr, nullptr, 0, 0};
    if (reported_input && reported_input->in_archive) {
        line.file = reported_input->archive_name;
        line.member = reported_input->member_name;
    }
    std::string led;
    int missing = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const function_record &r = funsize_table.records[i];
        if (r.name && std::strcmp(r.name, FUNSIZE_BOUNDARY_NAME) == 0) continue;
        if (r.section == 0) {
            ++missing;
            continue;
        }
        line.name = r.name ? r.name : "";
        if (lead) {
            led.assign(1, lead).append(line.name);
            line.name = led.c_str();
        }
        gadr size;
        gadr_subtract(size, r.end, r.start);
        line.address = gadr_to_u64(r.start);
        line.size = gadr_to_u64(size);
        line_sink(line_sink_context, line);
    }
    return missing;
}

}  // namespace

void funsize_set_sink(funsize_sink sink, void *context) {
    line_sink = sink;
    line_sink_context = context;
}

int funsize_report(const char *file_name, const debug_range_list *debug_ranges) {
    const uint32_t n = funsize_table.requested_count;
    if (n == 0 && funsize_table.sized_count < funsize_table.next) close_sizes(debug_ranges);
    uint64_t count = n ? n : funsize_table.next;
    if (line_sink) return hand_over(file_name, count, restored_leading_character());
    const std::string prefix = file_prefix(file_name);
    const char lead = restored_leading_character();
    int missing = 0;
    LineBuffer out;
    for (uint64_t i = 0; i < count; ++i) {
        const function_record &r = funsize_table.records[i];
        if (r.name && std::strcmp(r.name, FUNSIZE_BOUNDARY_NAME) == 0) continue;
        if (r.section == 0) {
            out.flush();
            if (opt_warnings) gen_error("%s not found in file %s", r.name, file_name);
            ++missing;
            continue;
        }
        out.put(prefix);
        if (lead) out.put(lead);
        out.name(r.name ? r.name : "");
        if (opt_addr) out.address(gadr_to_u64(r.start));
        gadr size;
        gadr_subtract(size, r.end, r.start);
        if (opt_nosize)
            ;
        else if (opt_hex)
            out.hex_size(gadr_to_u64(size));
        else
            out.decimal_size(int64_t(gadr_to_u64(size)));
        out.end_line();
    }
    return missing;
}

void funsize_alloc_sections(uint32_t count) {
    section_table = static_cast<section_extent *>(gen_calloc_fn(count ? count : 1, sizeof(section_extent)));
    section_count = count;
}

void funsize_free_sections() {
    gen_free_fn(section_table);
    section_table = nullptr;
    section_count = 0;
}

int funsize_report_input(const input_desc *d, const debug_range_list *debug_ranges) {
    const int saved_warnings = opt_warnings;
    if (d->in_archive) opt_warnings = 0;
    reported_input = d;
    const int result = funsize_report(opt_gcompare ? d->member_name : d->name, debug_ranges);
    reported_input = nullptr;
    opt_warnings = saved_warnings;
    return result;
}
