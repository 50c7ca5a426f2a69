// Start-up and shut-down of the host support library.
//
// gen_init records the program path and the short program name that
// prefixes every message, makes files binary by default and starts the
// process services; gen_exit is the single exit of the program and sits in
// the gen_exit_fn hook slot.
#pragma once

void gen_init(const char *argv0, int crash_log_mode, int viewpath_mode);
const char *gen_getprogname();
void gen_setprogname(const char *name);
const char *gen_getprogpath();
[[noreturn]] void gen_exit(int status);

// View-path mode: 0 off, 1 slow, 2 fast.
void gen_viewpathing(int mode);
bool gen_viewpath_active();

// True when the path counts as absolute on the host: a leading separator,
// a drive letter, or "~" alone or followed by a separator.
bool gen_path_is_absolute(const char *path);
