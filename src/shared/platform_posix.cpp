// The host layer for POSIX systems.
#include "platform.h"

#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <poll.h>
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

void catch_fatal_signals(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
}

void raise_default(int sig) {
    signal(sig, SIG_DFL);
    raise(sig);
}

const char *signal_name(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

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

int stream_seek64(FILE *fp, int64_t offset, int whence) { return fseeko(fp, off_t(offset), whence); }

int64_t stream_tell64(FILE *fp) { return int64_t(ftello(fp)); }

int64_t stream_file_size(FILE *fp) {
    struct stat st;
    int fd = fileno(fp);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

bool stream_is_directory(FILE *fp) {
    struct stat st;
    int fd = fileno(fp);
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool stream_reader_gone(FILE *fp) {
    struct stat st;
    int fd = fileno(fp);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return false;
    // The writing end of a pipe without readers polls as an error.
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

int set_environment(const char *name, const char *value) { return setenv(name, value, 1); }

}  // namespace plat

// ---- Files by name, for the view-path layer.

#include <cstdlib>
#include <string>

namespace plat {

namespace {

// "/" joined with the components of an absolute path, "." dropped and ".."
// taking away the component before it.
std::string lexical_absolute(const std::string &path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') ++i;
        size_t j = i;
        while (j < path.size() && path[j] != '/') ++j;
        std::string part = path.substr(i, j - i);
        i = j;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        out += '/';
        out += part;
    }
    return out.empty() ? std::string("/") : out;
}

}  // namespace

char native_separator() { return '/'; }

std::string full_path_name(const char *path) {
    if (!path || !*path) return std::string();
    if (char *real = realpath(path, nullptr)) {
        std::string s(real);
        std::free(real);
        return s;
    }
    if (path[0] == '/') return lexical_absolute(path);
    std::string cwd = current_directory();
    if (cwd.empty()) return std::string();
    return lexical_absolute(cwd + "/" + path);
}

int file_status(const char *path, struct stat *st) { return stat(path, st); }

int access_path(const char *path, int mode) {
    int m = 0;
    if (mode & 4) m |= R_OK;
    if (mode & 2) m |= W_OK;
    if (mode & 1) m |= X_OK;
    return access(path, m == 0 ? F_OK : m);
}

int make_directory(const char *path, int mode) { return mkdir(path, mode_t(mode)); }

int open_file(const char *path, int flags, int permissions) { return open(path, flags, mode_t(permissions)); }

int close_file(int fd) { return close(fd); }

int change_mode(const char *path, int mode) { return chmod(path, mode_t(mode)); }

int remove_file(const char *path) { return unlink(path); }

}  // namespace plat

// ---- Host queries for paths, temporary files and runtime switches.

#include <dlfcn.h>
#include <pwd.h>
#include <sys/types.h>

#include <cstdio>

namespace plat {

uint32_t process_id() { return uint32_t(getpid()); }

std::string user_name() {
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name) return std::string(pw->pw_name);
    const char *login = getlogin();
    return login ? std::string(login) : std::string();
}

bool appdata_variable_in_use() { return true; }

std::string shell_appdata_folder() { return std::string(); }

std::string default_temp_directory() {
    const char *t = std::getenv("TMPDIR");
    return t && *t ? std::string(t) : std::string("/tmp");
}

const char *executable_suffix() { return ""; }

char search_path_separator() { return ':'; }

bool file_names_ignore_case() { return false; }

int file_mtime(const char *path, int64_t *mtime) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return -1;
    *mtime = int64_t(st.st_mtime);
    return 0;
}

int rename_file(const char *from, const char *to) { return std::rename(from, to); }

int module_file_name(const void *address, std::string &name) {
    Dl_info info{};
    if (dladdr(address, &info) == 0) return MODULE_NAME_NO_LIST;
    // The program itself is listed under the name it was started by, which
    // may be relative to a directory the process has left.
    std::string file = info.dli_fname ? info.dli_fname : "";
    if (file.empty() || file[0] != '/') file = executable_path();
    if (file.empty()) return MODULE_NAME_NO_NAME;
    name = file;
    return MODULE_NAME_OK;
}

void *module_symbol(void *module, const char *symbol) { return module ? dlsym(module, symbol) : nullptr; }

}  // namespace plat
