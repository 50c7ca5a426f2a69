// The host layer for POSIX systems.
#include "platform.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

std::string executable_path() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, size_t(n));
}

void set_memory_priority_normal() {}

int sockets_startup() { return 0; }

void set_binary_default() {}

void mark_not_inheritable(FILE *fp) {
    int fd = fileno(fp);
    if (fd >= 0) {
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

int file_attributes_directory(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

void exit_now(int status) { _exit(status); }

const char *error_text(int err) { return std::strerror(err); }

int64_t raw_write(int fd, const void *buf, uint32_t count) { return int64_t(write(fd, buf, count)); }

int64_t raw_read(int fd, void *buf, uint32_t count) { return int64_t(read(fd, buf, count)); }

std::string current_directory() {
    char buf[PATH_MAX + 1];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

}  // namespace plat
