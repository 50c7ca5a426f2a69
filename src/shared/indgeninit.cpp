// Start-up and the single exit of the program.
#include "indgeninit.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "gen_switch.h"
#include "genout.h"
#include "indgen.h"
#include "platform.h"

namespace {

char *program_name;
char *program_path;
int sockets_result = -1;
bool switches_initialised;
bool crash_logging_initialised;
bool exit_in_progress;

void free_nothing(void *) {}

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool gen_path_is_absolute(const char *path) {
    if (!path || !*path) return false;
    if (is_separator(path[0]) || path[1] == ':') return true;
    return path[0] == '~' && (path[1] == '\0' || is_separator(path[1]));
}

void gen_init(const char *argv0, int crash_log_mode, int viewpath_mode) {
    (void)crash_log_mode;
    plat::set_memory_priority_normal();
    sockets_result = plat::sockets_startup();

    std::string exe;
    const char *path = argv0;
    if (!gen_path_is_absolute(argv0)) {
        exe = plat::executable_path();
        path = exe.c_str();
    }
    plat::set_binary_default();

    gen_free_fn(program_name);
    gen_free_fn(program_path);
    const char *base = gen_basename(path);
    const char *dot = std::strrchr(base, '.');
    program_name = dot && gen_strequal_nocase(dot + 1, "exe") ? gen_strndup(base, dot - base) : gen_strdup(base);
    program_path = gen_strdup(path);

    if (!switches_initialised) {
        switches_initialised = true;
        const char *own_args[2] = {argv0, nullptr};
        gen_switch_init(1, own_args);
    }
    if (!crash_logging_initialised) gen_eventlog_init(program_name);
    crash_logging_initialised = true;
    gen_viewpathing(viewpath_mode);
}

const char *gen_getprogname() { return program_name; }

const char *gen_getprogpath() { return program_path; }

void gen_setprogname(const char *name) {
    char *old = program_name;
    program_name = gen_strdup(name);
    gen_free_fn(old);
}

void gen_exit(int status) {
    if (exit_in_progress) plat::exit_now(status);
    exit_in_progress = true;
    gen_free_fn = free_nothing;
    std::exit(status);
}
