// The command line: options become the opt_ settings, and every file
// operand is handed to the input walker.
#include <cerrno>
#include <cstring>

#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "platform.h"

int opt_addr;
int opt_hex;
int opt_file;
int opt_gcompare;
int opt_nounderscores;
int opt_nosize;
int opt_warnings = 1;
int opt_skip_dot_ppc64 = 1;
const char *opt_section_name;
int32_t opt_section_number;
int in_archive_member;

namespace {

// The -o= file the report goes to; null while it goes to standard output.
const char *output_name;

bool has_prefix(const char *arg, const char *prefix) { return std::strncmp(arg, prefix, std::strlen(prefix)) == 0; }

void select_section(const char *arg) {
    if (opt_section_name || opt_section_number != 0) {
        gen_error("Only one -sect= or -sectnum= option allowed");
        funsize_usage(1);
    }
    if (arg[5] == '=') {
        opt_section_name = arg + 6;
        return;
    }
    opt_section_number = static_cast<int32_t>(gen_strtoul(arg + 9, nullptr, 0));
    if (opt_section_number <= 0) {
        gen_error("illegal option: %s.  -sectnum=num requires a positive number", arg);
        funsize_usage(1);
    }
}

void redirect_output(const char *name) {
    FILE *fp = gen_freopen(name, "wt", stdout);
    for (int retry = 0; !fp && errno == EINTR && retry < 10; ++retry) fp = gen_freopen(name, "wt", stdout);
    if (!fp) gen_fatal(1, "can't write output to %s", name);
    output_name = name;
}

// A report that did not reach its file in full ends the run as an output file
// that cannot be opened does. A reader that went away early (a closed pipe)
// is no error: where the broken pipe's signal is not ignored, it ends the run
// quietly at the first failed write, and the run ends as quietly here.
void check_output() {
    errno = 0;
    const bool flush_failed = std::fflush(stdout) != 0;
    const int flush_errno = errno;
    if (!flush_failed && !std::ferror(stdout)) return;
    if (flush_errno == EPIPE || plat::stream_reader_gone(stdout)) return;
    gen_fatal(1, "can't write output to %s", output_name ? output_name : "standard output");
}

}  // namespace

void funsize_usage(int status) {
    gen_fprintf(stderr, "Usage: %s [options] files...\n", gen_getprogname());
    gen_fprintf(stderr, "Prints size of functions to stdout\n");
    gen_fprintf(stderr, "options:\n");
    gen_fprintf(stderr, "\t-help     \tprint this message\n");
    gen_fprintf(stderr, "\t-addr     \tdisplay addresses of functions\n");
    gen_fprintf(stderr, "\t-file     \tdisplay filename before each function\n");
    gen_fprintf(stderr, "\t-func=name\tdisplay code sizes of the specified function(s)\n");
    gen_fprintf(stderr, "\t-gcompare \tformat output for gcompare\n");
    gen_fprintf(stderr, "\t-hex      \tdisplay function code sizes and addresses in hexadecimal\n");
    gen_fprintf(stderr, "\t-nounderscores\tremove leading underscores from function names\n");
    gen_fprintf(stderr, "\t-sect=name\tdisplay functions in section \"name\"\n");
    gen_fprintf(stderr, "\t-sectnum=n\tdisplay functions in section #n\n");
    gen_fprintf(stderr, "\t-w        \tsuppress warnings\n");
    gen_exit_fn(status);
    gen_exit(status);
}

int funsize_main(int argc, char **argv) {
    argv = gen_expand_argfiles(&argc, argv);
    gen_init(argc > 0 ? argv[0] : nullptr, 0, 1);
    if (argc > 0) {
        --argc;
        ++argv;
    }
    funsize_init_table();
    funsize_install_handlers();

    // "-all" is refused together with "-func=" in either order.
    bool all_mode_flag = false;
    int i = 0;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char *arg = argv[i];
        if (has_prefix(arg, "-func=")) {
            funsize_add_requested(arg + 6);
        } else if (std::strcmp(arg, "-all") == 0) {
            all_mode_flag = true;
        } else if (std::strcmp(arg, "-addr") == 0) {
            opt_addr = 1;
        } else if (std::strcmp(arg, "-hex") == 0) {
            opt_hex = 1;
        } else if (std::strcmp(arg, "-w") == 0) {
            opt_warnings = 0;
        } else if (has_prefix(arg, "-sectnum=") || has_prefix(arg, "-sect=")) {
            select_section(arg);
        } else if (std::strcmp(arg, "-file") == 0) {
            opt_file = 1;
        } else if (std::strcmp(arg, "-gcompare") == 0) {
            opt_gcompare = 1;
        } else if (std::strcmp(arg, "-nounderscores") == 0) {
            opt_nounderscores = 1;
        } else if (std::strcmp(arg, "-nosize") == 0) {
            opt_nosize = 1;
        } else if (std::strcmp(arg, "-no_skip_dot_ppc64") == 0) {
            opt_skip_dot_ppc64 = 0;
        } else if (has_prefix(arg, "-o=")) {
            redirect_output(arg + 3);
        } else if (std::strcmp(arg, "-help") == 0) {
            funsize_usage(0);
        } else {
            gen_error("unknown option %s", arg);
            funsize_usage(1);
        }
    }

    if (all_mode_flag && funsize_table.requested_count > 0) {
        gen_error("-all and -func= options cannot be mixed");
        funsize_usage(1);
    }
    if (argc - i > 1) opt_file = 1;
    if (i >= argc) {
        gen_error("input file name required");
        funsize_usage(1);
    }
    int status = 0;
    for (; i < argc; ++i) {
        in_archive_member = 0;
        status = walk_input_readonly(argv[i]);
    }
    check_output();
    gen_exit_fn(status);
    gen_exit(status);
}
