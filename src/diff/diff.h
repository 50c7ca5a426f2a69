// The comparison of two builds (funsize-diff).
//
// Each side is read in-process through the report's own readers: the
// report hands its records to a sink instead of printing lines
// (funsize_set_sink). A side is a file the report reads, a directory of
// such files, or a saved "-gcompare" report. The two sides' functions are
// matched by file (or archive member), name and order of occurrence, and
// the comparison is written as text, Markdown, CSV, JSON or an HTML page.
// Needs the report library and the host support library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace fdiff {

// A file, or a member of an archive, whose functions took part.
struct Unit {
    std::string path;    // relative to the side's directory, or the file's base name
    std::string member;  // archive member, or empty
    // What it is matched by and listed as: "path(member)" in a directory,
    // the member's name or the file's base name otherwise.
    std::string key;
};

// One function of one side, as the report would print it. The name lives,
// NUL-terminated, in the side's name store.
struct Entry {
    const char *name;
    uint64_t size;
};

// The entries from `first` up to the next run's first belong to `unit`.
struct UnitRun {
    uint32_t first;
    uint32_t unit;  // index into Side::units
};

enum class SideKind { file, directory, saved_report };

// Everything read from one operand.
struct Side {
    SideKind kind = SideKind::file;
    std::string operand;
    std::vector<Unit> units;
    std::vector<Entry> entries;  // in the order the report met them
    std::vector<UnitRun> runs;
    std::deque<std::string> name_store;

    Side() = default;
    Side(const Side &) = delete;
    Side &operator=(const Side &) = delete;
    Side(Side &&) = default;
    Side &operator=(Side &&) = default;
    uint32_t add_unit(std::string path, std::string member, bool by_member);
    void add(uint32_t unit, std::string_view name, uint64_t size);
    void clear();
};

// A matched function. A side that lacks it has has_old or has_new false and
// a size of 0 there. Unit and name point into the sides compared, which
// outlive the comparison.
struct Function {
    const Unit *unit;
    std::string_view name;
    bool has_old = false;
    bool has_new = false;
    uint64_t old_size = 0;
    uint64_t new_size = 0;
    int64_t delta() const { return int64_t(new_size) - int64_t(old_size); }
    bool changed() const { return has_old != has_new || old_size != new_size; }
};

struct Summary {
    uint64_t added = 0, removed = 0, grown = 0, shrunk = 0;
    uint64_t up = 0, down = 0;  // bytes gained by growth and additions, lost by shrinking and removals
    uint64_t total_old = 0, total_new = 0;
    int64_t net() const { return int64_t(total_new) - int64_t(total_old); }
};

struct Comparison {
    // The matched functions, the largest absolute change first, ties by name,
    // then by file; unchanged ones only when they were asked for.
    std::vector<Function> functions;
    Summary summary;
    bool one_side = false;       // only NEW was given (the page draws a single build)
    bool several_files = false;  // more than one file or member took part
};

// The file column: "path", "member", or "path(member)".
std::string unit_label(const std::string &path, const std::string &member);

// "add/remove: A/R grow/shrink: G/S up/down: +U/-D (+N)"
std::string summary_line(const Summary &s);
// "Total: Before=B, After=A, chg +P.PP%"
std::string total_line(const Summary &s);

// Matches the functions of two sides; `keep_unchanged` keeps the unchanged
// functions in the list (they count in the summary either way).
Comparison compare(const Side &old_side, const Side &new_side, bool keep_unchanged);

enum class Format { text, markdown, csv, json };
struct OutputOptions {
    Format format = Format::text;
    bool all = false;  // unchanged functions too
};
// Writes the comparison; false when the stream failed.
bool write_comparison(FILE *out, const Comparison &c, const OutputOptions &options);

// Writes the self-contained page that draws the comparison; false when the
// stream failed.
bool write_html(FILE *out, const Comparison &c);

// The command line; returns the exit status.
int diff_main(int argc, char **argv);

}  // namespace fdiff
