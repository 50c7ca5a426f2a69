// The host layer: every service of the operating system that the library
// needs, and nothing else. One implementation per host (platform_posix.cpp,
// platform_win.cpp; the build takes the target's); no other file asks which
// host it runs on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace plat {

// Full path of the running executable, or "" when the host cannot tell.
std::string executable_path();
// Set the memory priority to normal when the process runs at the normal
// priority class. Failures are ignored.
void set_memory_priority_normal();
// Start the sockets layer; 0 means started.
int sockets_startup();
// Make files binary by default.
void set_binary_default();
// Keep the handle of an open stream out of child processes.
void mark_not_inheritable(FILE *fp);
// 1 directory, 0 not, -1 when the attributes cannot be had.
int file_attributes_directory(const char *path);
// Ends the process at once, without exit handlers.
[[noreturn]] void exit_now(int status);
// The C library's text for an error number.
const char *error_text(int err);
// Raw write to a file descriptor; -1 with errno on failure.
int64_t raw_write(int fd, const void *buf, uint32_t count);
int64_t raw_read(int fd, void *buf, uint32_t count);
// Current working directory, or "".
std::string current_directory();
// 64-bit seek and tell on a stream: the C library's results (0 or -1 for
// the seek, the position or -1 for the tell).
int stream_seek64(FILE *fp, int64_t offset, int whence);
int64_t stream_tell64(FILE *fp);
// Size of the regular file behind a stream, as the file system has it (bytes
// still in the stream's write buffer are not counted); -1 for anything else
// (pipes, devices) or when it cannot be had.
int64_t stream_file_size(FILE *fp);
// Whether the stream reads a directory (some hosts open one like a file).
bool stream_is_directory(FILE *fp);
// Calls `handler` with the signal number when the process gets a fatal
// signal (invalid access, bad arithmetic, illegal instruction, abort).
// The handler runs once; raise_default then ends the process as the signal
// would have without it.
void catch_fatal_signals(void (*handler)(int));
void raise_default(int sig);
// A short name of a signal ("SIGSEGV"), or "signal".
const char *signal_name(int sig);
// Whether the stream writes into a pipe whose reading end has been closed.
bool stream_reader_gone(FILE *fp);
// Sets an environment variable of the process (replacing its value); 0, or
// -1 on failure.
int set_environment(const char *name, const char *value);

}  // namespace plat

// ---- Files by name, for the view-path layer.

struct stat;

namespace plat {

// The separator the host writes in the paths it builds.
char native_separator();
// The host's full path name of path (absolute, with "." and ".." and
// repeated separators resolved), or "" when it cannot be had.
std::string full_path_name(const char *path);
// File status; 0, or -1 with errno set.
int file_status(const char *path, struct stat *st);
// Access test with the C library's mode bits (4 read, 2 write, 1 execute,
// 0 existence); 0, or -1 with errno set.
int access_path(const char *path, int mode);
// Create one directory; 0, or -1 with errno set.
int make_directory(const char *path, int mode);
// Low-level open, close and permission change; -1 with errno on failure.
// Files are opened in binary mode.
int open_file(const char *path, int flags, int permissions);
int close_file(int fd);
int change_mode(const char *path, int mode);
// Remove a file (not a directory); 0, or -1 with errno set.
int remove_file(const char *path);

}  // namespace plat

// ---- Host queries for paths, temporary files and runtime switches.

namespace plat {

// The process identifier.
uint32_t process_id();
// The user's login name, or "" when the host cannot tell.
std::string user_name();
// Whether the host keeps the user's application-data folder in the
// environment variable "APPDATA".
bool appdata_variable_in_use();
// The shell's application-data folder (created when missing), or "" where
// the host has no such folder.
std::string shell_appdata_folder();
// Where temporary files go when the environment names no directory.
std::string default_temp_directory();
// Suffix of executable files ("" where programs have none).
const char *executable_suffix();
// Separator of the directories listed in "PATH".
char search_path_separator();
// Whether the host's file names ignore letter case.
bool file_names_ignore_case();
// Modification time of a file in seconds since the epoch; 0, or -1 with
// errno set.
int file_mtime(const char *path, int64_t *mtime);
// Renames a file; 0, or -1 with errno set.
int rename_file(const char *from, const char *to);

// Answers of module_file_name.
enum { MODULE_NAME_OK = 0, MODULE_NAME_NO_LIST = 1, MODULE_NAME_NO_NAME = 2, MODULE_NAME_TOO_MANY = 3 };
// The file name of the loaded module (program or shared library) whose
// code holds `address`.
int module_file_name(const void *address, std::string &name);
// The address of an exported symbol of a loaded module, or null.
void *module_symbol(void *module, const char *symbol);

}  // namespace plat
