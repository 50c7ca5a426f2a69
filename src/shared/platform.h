// The host layer: every service of the operating system that the library
// needs, and nothing else. One implementation per host (platform_posix.cpp
// here); no other file asks which host it runs on.
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
