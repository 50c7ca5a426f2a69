// The command line of the comparison: options, the two sides, the output
// and the exit status.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <filesystem>
#include <system_error>

#include "diff.h"
#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "side.h"

namespace fdiff {

namespace {

constexpr int status_usage = 2;

// The operand being read, for the message when a reader gives up.
const char *reading;

[[noreturn]] void usage(int status) {
    FILE *to = status == 0 ? stdout : stderr;
    gen_fprintf(to, "Usage: %s [options] OLD NEW\n", gen_getprogname());
    gen_fprintf(to, "Compares the function sizes of two builds; OLD and NEW are each an object file,\n"
                    "executable, archive or debug-information file, a directory of them, or a saved\n"
                    "report (funsize -gcompare -file)\n");
    gen_fprintf(to, "options:\n");
    gen_fprintf(to, "\t--all             \tlist unchanged functions too\n");
    gen_fprintf(to, "\t--format=FORMAT   \ttext (default), markdown, csv or json\n");
    gen_fprintf(to, "\t--fail-above=N[%%]\texit with status 1 when the net growth is above N bytes (N percent)\n");
    gen_fprintf(to, "\t--html=FILE       \talso write a page that draws the sizes to FILE (with NEW alone: of one build)\n");
    gen_fprintf(to, "\t-nounderscores    \tremove leading underscores from function names\n");
    gen_fprintf(to, "\t-sect=name        \tcompare the functions in section \"name\"\n");
    gen_fprintf(to, "\t-sectnum=n        \tcompare the functions in section #n\n");
    gen_fprintf(to, "\t--help            \tprint this message\n");
    std::fflush(to);
    gen_exit(status);
}

[[noreturn]] void usage_error(const char *fmt, const char *arg) {
    gen_error(fmt, arg);
    usage(status_usage);
}

[[noreturn]] void fail(const char *fmt, const char *a, const char *b = "") {
    gen_error(fmt, a, b);
    gen_exit(status_usage);
}

// A reader that gives up ends the run through the exit hook; its message
// said why, this one says which input.
void reader_gave_up(int) {
    gen_exit_fn = gen_exit;
    if (reading) gen_error("cannot read '%s'", reading);
    gen_exit(status_usage);
}

struct Threshold {
    bool set = false;
    bool percent = false;
    double value = 0;
};

Threshold parse_threshold(const char *arg, const char *text) {
    Threshold t;
    t.set = true;
    char *end = nullptr;
    errno = 0;
    if (!*text || !(*text >= '0' && *text <= '9')) usage_error("illegal option: %s.  --fail-above= requires a number of bytes or a percentage", arg);
    t.value = std::strtod(text, &end);
    if (*end == '%') {
        t.percent = true;
        ++end;
    } else if (std::strchr(text, '.')) {
        end = const_cast<char *>("."); // whole bytes only
    }
    if (*end || errno || !std::isfinite(t.value))
        usage_error("illegal option: %s.  --fail-above= requires a number of bytes or a percentage", arg);
    return t;
}

bool above(const Threshold &t, const Summary &s) {
    if (!t.set) return false;
    if (!t.percent) return double(s.net()) > t.value;
    if (s.total_old == 0) return s.net() > 0;
    return double(s.net()) * 100.0 / double(s.total_old) > t.value;
}

bool is_directory(const char *path) {
    std::error_code ec;
    return std::filesystem::is_directory(std::filesystem::path(path), ec);
}

std::string join(const std::string &dir, const std::string &rel) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + rel;
    return std::string(dir).append("/").append(rel);
}

void read_side(const char *operand, Side &side) {
    side.operand = operand;
    if (is_directory(operand)) {
        side.kind = SideKind::directory;
        std::vector<std::string> files;
        std::string error;
        if (!list_directory(operand, files, error)) fail("cannot read directory '%s': %s", operand, error.c_str());
        for (const std::string &rel : files) {
            const std::string path = join(operand, rel);
            reading = path.c_str();
            if (read_object_file(path, rel, false, side) == ReadStatus::failed) fail("cannot read '%s'", reading);
        }
        reading = nullptr;
        return;
    }
    FILE *probe = std::fopen(operand, "rb");
    if (!probe) fail("cannot open '%s': %s", operand, std::strerror(errno));
    std::fclose(probe);
    reading = operand;
    std::string error;
    switch (read_saved_report(operand, side, error)) {
    case ReadStatus::read: side.kind = SideKind::saved_report; reading = nullptr; return;
    case ReadStatus::failed: fail("%s:%s", operand, error.c_str());
    case ReadStatus::unrecognised: break;
    }
    side.clear();
    side.kind = SideKind::file;
    switch (read_object_file(operand, gen_basename(operand), true, side)) {
    case ReadStatus::read: break;
    case ReadStatus::failed: fail("cannot read '%s'", operand);
    case ReadStatus::unrecognised: fail("'%s' is not a file the report reads, a directory or a saved report", operand);
    }
    reading = nullptr;
}

void select_section(const char *arg) {
    if (opt_section_name || opt_section_number != 0) usage_error("%s", "Only one -sect= or -sectnum= option allowed");
    if (arg[5] == '=') {
        opt_section_name = arg + 6;
        return;
    }
    opt_section_number = static_cast<int32_t>(gen_strtoul(arg + 9, nullptr, 0));
    if (opt_section_number <= 0) usage_error("illegal option: %s.  -sectnum=num requires a positive number", arg);
}

bool has_prefix(const char *arg, const char *prefix) { return std::strncmp(arg, prefix, std::strlen(prefix)) == 0; }

}  // namespace

int diff_main(int argc, char **argv) {
    argv = gen_expand_argfiles(&argc, argv);
    gen_init(argc > 0 ? argv[0] : nullptr, 0, 1);
    OutputOptions output;
    Threshold threshold;
    const char *html = nullptr;
    std::vector<const char *> operands;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            operands.push_back(arg);
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-help") == 0) {
            usage(0);
        } else if (std::strcmp(arg, "--all") == 0) {
            output.all = true;
        } else if (has_prefix(arg, "--format=")) {
            const char *f = arg + 9;
            if (std::strcmp(f, "text") == 0)
                output.format = Format::text;
            else if (std::strcmp(f, "markdown") == 0)
                output.format = Format::markdown;
            else if (std::strcmp(f, "csv") == 0)
                output.format = Format::csv;
            else if (std::strcmp(f, "json") == 0)
                output.format = Format::json;
            else
                usage_error("illegal option: %s.  --format= takes text, markdown, csv or json", arg);
        } else if (has_prefix(arg, "--html=") && arg[7] != '\0') {
            html = arg + 7;
        } else if (has_prefix(arg, "--fail-above=")) {
            threshold = parse_threshold(arg, arg + 13);
        } else if (std::strcmp(arg, "-nounderscores") == 0) {
            opt_nounderscores = 1;
        } else if (has_prefix(arg, "-sectnum=") || has_prefix(arg, "-sect=")) {
            select_section(arg);
        } else {
            usage_error("unknown option %s", arg);
        }
    }
    // With a page to draw, NEW alone is a build compared with nothing.
    const bool one_side = html && operands.size() == 1;
    if (one_side) operands.insert(operands.begin(), nullptr);
    if (operands.size() != 2) usage_error("%s", operands.size() < 2 ? "two inputs required: OLD and NEW" : "too many inputs: only OLD and NEW");

    funsize_init_table();
    install_diff_handlers();
    gen_exit_fn = reader_gave_up;
    Side old_side, new_side;
    if (!one_side) read_side(operands[0], old_side);
    read_side(operands[1], new_side);
    gen_exit_fn = gen_exit;
    // The readers' table is not needed any more; the matching is.
    funsize_release_table();
    if (!one_side && (old_side.kind == SideKind::directory) != (new_side.kind == SideKind::directory)) {
        const bool old_is_dir = old_side.kind == SideKind::directory;
        fail("'%s' is a directory and '%s' is not: compare a directory with a directory", old_is_dir ? operands[0] : operands[1],
             old_is_dir ? operands[1] : operands[0]);
    }

    // The page draws the whole new build, unchanged functions too.
    Comparison c = compare(old_side, new_side, output.all || html);
    c.one_side = one_side;
    // A page that cannot be made stops the run before anything is printed.
    FILE *page = html ? std::fopen(html, "wb") : nullptr;
    if (html && !page) fail("cannot open '%s': %s", html, std::strerror(errno));
    if (!write_comparison(stdout, c, output) || std::fflush(stdout) != 0 || std::ferror(stdout))
        fail("can't write output to %s", "standard output");
    if (page) {
        const bool written = write_html(page, c);
        if (std::fclose(page) != 0 || !written) fail("can't write output to %s", html);
    }
    return above(threshold, c.summary) ? 1 : 0;
}

}  // namespace fdiff
