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
#include <string>
#include <vector>

namespace fdiff {

// One function of one side, as the report would print it.
struct Entry {
    std::string path;    // file: relative to the side's directory, or the file's base name
    std::string member;  // archive member, or empty
    std::string name;
    uint64_t size;
};

enum class SideKind { file, directory, saved_report };

struct Side {
    SideKind kind = SideKind::file;
    std::vector<Entry> entries;  // in the order the report met them
};

// A matched function. A side that lacks it has has_old or has_new false and
// a size of 0 there.
struct Function {
    std::string path;
    std::string member;
    std::string name;
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
    // Every matched function, the largest absolute change first, ties by
    // name, then by file.
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

// Matches the functions of two sides.
Comparison compare(const Side &old_side, const Side &new_side);

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
