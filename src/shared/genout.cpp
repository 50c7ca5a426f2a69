// Message classes, the message routine and its entry points.
#include "genout.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "indgen.h"
#include "indgeninit.h"
#include "platform.h"

namespace {

constexpr const char *class_prefix[GEN_MSG_CLASSES] = {nullptr, "disaster", "fatal", "error", "warning", "info", nullptr};
constexpr size_t line_buffer_size = 4096;

void stderr_print(const char *fmt, va_list args) {
    gen_vfprintf(stderr, fmt, args);
    std::fflush(stderr);
}

// Formats into a growing string.
std::string vformat(const char *fmt, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = gen_vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < int(sizeof small)) return std::string(small, size_t(n < 0 ? 0 : n));
    std::string big(size_t(n) + 1, '\0');
    gen_vsnprintf(big.data(), big.size(), fmt, args);
    big.resize(size_t(n));
    return big;
}

[[noreturn]] void exit_through_hook(int status) {
    gen_exit_fn(status);
    // The hook slot must not return; if a replacement does, stop here.
    plat::exit_now(status);
}

}  // namespace

gen_message_hook_t gen_message_hook = gen_domessage;
gen_message_hook_t gen_assert_message_hook = gen_domessage;
gen_stderr_print_hook_t gen_stderr_print_hook = stderr_print;
gen_exit_fn_t gen_exit_fn = gen_exit;

uint32_t gen_error_count[GEN_MSG_CLASSES];
uint32_t gen_total_errors;

void gen_domessage(int code, const char *fmt, va_list args) {
    int saved_errno = errno;
    bool want_syserr = false;
    if (code > GEN_SYSERR) {
        code -= GEN_SYSERR;
        want_syserr = true;
    }
    const char *prefix = nullptr;
    if (code >= 0 && code < GEN_MSG_CLASSES) {
        prefix = class_prefix[code];
        ++gen_error_count[code];
        if (code < GEN_MSG_WARNING) ++gen_total_errors;
    }
    std::fflush(stdout);

    // The whole line is composed first and written at once; the copy for the
    // event log is the same text cut to the line buffer.
    std::string line;
    const char *progname = gen_getprogname();
    if (progname && *progname && code != GEN_MSG_PLAIN) {
        line += progname;
        line += ": ";
    }
    if (prefix) {
        line += prefix;
        line += ": ";
    }
    if (fmt) line += vformat(fmt, args);
    std::string logged = line;
    if (want_syserr && saved_errno != 0) {
        const char *text = plat::error_text(saved_errno);
        line += ": ";
        line += text;
        line += '\n';
        logged += ": ";
        logged += text;
        errno = 0;
    } else if (fmt && (*fmt == '\0' || fmt[std::strlen(fmt) - 1] != '\n')) {
        line += '\n';
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);

    if (logged.size() > line_buffer_size - 1) logged.resize(line_buffer_size - 1);
    gen_eventlog_note(prefix ? prefix : "DOMESSAGE Unknown Code", logged.c_str());
}

void gen_call_message_hook(int code, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    gen_message_hook(code, fmt, args);
    va_end(args);
}

#define GEN_FORWARD(code)                 \
    va_list args;                         \
    va_start(args, fmt);                  \
    gen_message_hook((code), fmt, args);  \
    va_end(args)

void gen_error(const char *fmt, ...) { GEN_FORWARD(GEN_MSG_ERROR); }
void gen_warning(const char *fmt, ...) { GEN_FORWARD(GEN_MSG_WARNING); }
void gen_info(const char *fmt, ...) { GEN_FORWARD(GEN_MSG_INFO); }
void gen_message(const char *fmt, ...) { GEN_FORWARD(GEN_MSG_PLAIN); }
void gen_perror(const char *fmt, ...) { GEN_FORWARD(GEN_SYSERR + GEN_MSG_FATAL); }

void gen_fatal(int status, const char *fmt, ...) {
    GEN_FORWARD(status != 0 ? GEN_MSG_FATAL : GEN_MSG_PLAIN_COUNTED);
    exit_through_hook(status);
}

void gen_perror_exit(int status, const char *fmt, ...) {
    GEN_FORWARD(GEN_SYSERR + GEN_MSG_FATAL);
    exit_through_hook(status);
}

void gen_exit_success() { exit_through_hook(0); }

void gen_assertion_print(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    gen_assert_message_hook(GEN_MSG_PLAIN, fmt, args);
    va_end(args);
}

void gen_assert_msg(bool cond, const char *fmt, ...) {
    if (cond) return;
    char *joined = gen_strcat2("assertion: ", fmt);
    va_list args;
    va_start(args, fmt);
    gen_message_hook(GEN_MSG_PLAIN_COUNTED, joined, args);
    va_end(args);
    gen_free_fn(joined);
    gen_crashdump_note("encountered an assertion failure");
    exit_through_hook(1);
}

void gen_assert(bool cond, const char *expr, const char *file, int line, int tag) {
    if (cond) return;
    char tag_text[32] = "";
    if (tag != 0) gen_snprintf(tag_text, sizeof tag_text, "[%d] ", tag);
    const char *progname = gen_getprogname();
    bool named = progname && *progname;
    const char *in = named ? " in " : "";
    const char *who = named ? progname : "";
    if (expr && std::strcmp(expr, "x") != 0)
        gen_assertion_print("Assertion (%s) %sfailed in '%s' on line %d%s%s", expr, tag_text, file, line, in, who);
    else
        gen_assertion_print("Assertion %sfailed in '%s' on line %d%s%s", tag_text, file, line, in, who);
    gen_crashdump_note("encountered an assertion failure");
    exit_through_hook(1);
}

void gen_eprintf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    gen_stderr_print_hook(fmt, args);
    va_end(args);
}

char *gen_str64(char *buf, int64_t value, char how) {
    if (!buf) gen_fatal(1, "gen_str64(): Buffer to fill is NULL");
    if (how == 'x')
        gen_snprintf(buf, 24, "%I64x", value);
    else if (how == 'd')
        gen_snprintf(buf, 24, "%I64d", value);
    else
        gen_fatal(1, "gen_str64(): Unrecognized format character");
    return buf;
}
