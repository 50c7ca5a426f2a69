// Diagnostics of the host support library.
//
// Every message about the program's own trouble goes through
// gen_domessage(), which prefixes it with the program name and a class word,
// counts it, and writes it to standard error after flushing standard output.
// The library's own printf-style formatter (gen_snprintf and friends) accepts
// the I64 length prefix ("%I64x") and the z modifier ("%#zx"); every message
// and every report line is formatted by it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Message classes. Adding GEN_SYSERR (100) to a class appends the text of the
// current errno.
enum {
    GEN_MSG_PLAIN_COUNTED = 0,
    GEN_MSG_DISASTER = 1,
    GEN_MSG_FATAL = 2,
    GEN_MSG_ERROR = 3,
    GEN_MSG_WARNING = 4,
    GEN_MSG_INFO = 5,
    GEN_MSG_PLAIN = 6,
    GEN_MSG_CLASSES = 7,
    GEN_SYSERR = 100,
};

using gen_message_hook_t = void (*)(int code, const char *fmt, va_list args);
using gen_stderr_print_hook_t = void (*)(const char *fmt, va_list args);
using gen_exit_fn_t = void (*)(int status);

extern gen_message_hook_t gen_message_hook;
extern gen_message_hook_t gen_assert_message_hook;
extern gen_stderr_print_hook_t gen_stderr_print_hook;
extern gen_exit_fn_t gen_exit_fn;

extern uint32_t gen_error_count[GEN_MSG_CLASSES];
extern uint32_t gen_total_errors;

void gen_domessage(int code, const char *fmt, va_list args);
void gen_error(const char *fmt, ...);
void gen_warning(const char *fmt, ...);
void gen_info(const char *fmt, ...);
void gen_message(const char *fmt, ...);
void gen_perror(const char *fmt, ...);
[[noreturn]] void gen_fatal(int status, const char *fmt, ...);
[[noreturn]] void gen_perror_exit(int status, const char *fmt, ...);
[[noreturn]] void gen_exit_success();
void gen_assert_msg(bool cond, const char *fmt, ...);
void gen_assert(bool cond, const char *expr, const char *file, int line, int tag);
void gen_assertion_print(const char *fmt, ...);
void gen_eprintf(const char *fmt, ...);
char *gen_str64(char *buf, int64_t value, char how);

// Calls a message hook with a variable argument list (for modules that put
// their own fixed text in front of a format).
void gen_call_message_hook(int code, const char *fmt, ...);

#define GEN_ASSERT(cond) gen_assert((cond), #cond, __FILE__, __LINE__, 0)

// The formatter. Conversions: d i u o x X c s p % and the floating forms
// (e f g a, upper case too); flags - + space # 0; width and precision,
// either may be '*'; length prefixes hh h l ll j z t L I I32 I64.
// gen_vsnprintf returns the length the whole output would have, like the C
// library's vsnprintf, and always terminates the buffer when size > 0.
int gen_vsnprintf(char *buf, size_t size, const char *fmt, va_list args);
int gen_snprintf(char *buf, size_t size, const char *fmt, ...);
int gen_vfprintf(FILE *fp, const char *fmt, va_list args);
int gen_fprintf(FILE *fp, const char *fmt, ...);
int gen_printf(const char *fmt, ...);

// Crash and event logging. Notifications (messages, switch changes, loads)
// land in a ring of the most recent entries. When LKS_RNE_DUMP_PATH names a
// folder at gen_eventlog_init, an assertion failure (gen_crashdump_note),
// an abort or a fatal signal writes the ring there as the text file
// "<program>-<process id>.log"; without the setting nothing is written.
void gen_eventlog_init(const char *program_name);
void gen_eventlog_note(const char *label, const char *text);
void gen_crashdump_note(const char *reason);
