// The host layer for Windows (x86-64 console programs).
//
// Entry points that older systems lack (the process-information call, the
// shell's folder queries, the user name) are looked up by name at run time,
// so the program starts on any system and simply goes without them.
#include "platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

// A function of a loaded or loadable system library, or null.
template <typename Fn>
Fn system_entry(const char *library, const char *name) {
    HMODULE mod = GetModuleHandleA(library);
    if (!mod) mod = LoadLibraryA(library);
    if (!mod) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(mod, name)));
}

}  // namespace

std::string executable_path() {
    char buf[261];  // at most 260 characters
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
}

void set_memory_priority_normal() {
    HANDLE self = GetCurrentProcess();
    if (GetPriorityClass(self) != NORMAL_PRIORITY_CLASS) return;
    ULONG priority = 5;  // the normal memory priority
    using SetInfo = BOOL(WINAPI *)(HANDLE, int, LPVOID, DWORD);
    if (auto set = system_entry<SetInfo>("KERNEL32", "SetProcessInformation")) {
        set(self, 0, &priority, sizeof priority);  // class 0: memory priority
        return;
    }
    using NtSetInfo = LONG(WINAPI *)(HANDLE, ULONG, PVOID, ULONG);
    if (auto nt_set = system_entry<NtSetInfo>("NTDLL", "NtSetInformationProcess"))
        nt_set(self, 39, &priority, sizeof priority);  // class 39: memory priority
}

int sockets_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data);
}

void set_binary_default() { _fmode = _O_BINARY; }

void mark_not_inheritable(FILE *fp) {
    int fd = _fileno(fp);
    if (fd < 0) return;
    intptr_t h = _get_osfhandle(fd);
    if (h != -1) SetHandleInformation(reinterpret_cast<HANDLE>(h), HANDLE_FLAG_INHERIT, 0);
}

int file_attributes_directory(const char *path) {
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES) return -1;
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

void exit_now(int status) { _exit(status); }

const char *error_text(int err) { return std::strerror(err); }

void catch_fatal_signals(void (*handler)(int)) {
    for (int sig : {SIGSEGV, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, handler);
}

void raise_default(int sig) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

const char *signal_name(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

int64_t raw_write(int fd, const void *buf, uint32_t count) { return int64_t(_write(fd, buf, count)); }

int64_t raw_read(int fd, void *buf, uint32_t count) { return int64_t(_read(fd, buf, count)); }

std::string current_directory() {
    char buf[4097];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
}

int stream_seek64(FILE *fp, int64_t offset, int whence) { return _fseeki64(fp, offset, whence); }

int64_t stream_tell64(FILE *fp) { return int64_t(_ftelli64(fp)); }

int64_t stream_file_size(FILE *fp) {
    struct _stat64 st;
    int fd = _fileno(fp);
    if (fd < 0 || _fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return int64_t(st.st_size);
}

bool stream_is_directory(FILE *fp) {
    struct _stat64 st;
    int fd = _fileno(fp);
    return fd >= 0 && _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}

bool stream_reader_gone(FILE *fp) {
    int fd = _fileno(fp);
    HANDLE h = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_PIPE) return false;
    // A pipe whose reader has closed refuses even an empty write.
    DWORD written = 0;
    return !WriteFile(h, "", 0, &written, nullptr) &&
           (GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE);
}

int set_environment(const char *name, const char *value) { return _putenv_s(name, value) == 0 ? 0 : -1; }

// ---- Files by name, for the view-path layer.

char native_separator() { return '\\'; }

std::string full_path_name(const char *path) {
    if (!path || !*path) return std::string();
    std::string buf(MAX_PATH + 1, '\0');
    for (int tries = 0; tries < 4; ++tries) {
        DWORD n = GetFullPathNameA(path, DWORD(buf.size()), buf.data(), nullptr);
        if (n == 0) return std::string();
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.assign(size_t(n) + 1, '\0');
    }
    return std::string();
}

int file_status(const char *path, struct stat *st) {
    // Asked in 64 bits so that files of any size have a status; the size is
    // then held to what the record can take.
    struct _stat64 big;
    if (_stat64(path, &big) != 0) return -1;
    std::memset(st, 0, sizeof *st);
    st->st_dev = big.st_dev;
    st->st_ino = big.st_ino;
    st->st_mode = big.st_mode;
    st->st_nlink = big.st_nlink;
    st->st_uid = big.st_uid;
    st->st_gid = big.st_gid;
    st->st_rdev = big.st_rdev;
    st->st_size = big.st_size > 0x7FFFFFFF ? 0x7FFFFFFF : decltype(st->st_size)(big.st_size);
    st->st_atime = decltype(st->st_atime)(big.st_atime);
    st->st_mtime = decltype(st->st_mtime)(big.st_mtime);
    st->st_ctime = decltype(st->st_ctime)(big.st_ctime);
    return 0;
}

int access_path(const char *path, int mode) {
    // The C library knows no execute test; reading stands for it.
    int m = mode & 6;
    if (mode & 1) m |= 4;
    return _access(path, m);
}

int make_directory(const char *path, int mode) {
    (void)mode;  // directories carry no permission bits here
    return _mkdir(path);
}

int open_file(const char *path, int flags, int permissions) {
    return _open(path, flags | _O_BINARY | _O_NOINHERIT, permissions & (_S_IREAD | _S_IWRITE));
}

int close_file(int fd) { return _close(fd); }

int change_mode(const char *path, int mode) { return _chmod(path, mode & (_S_IREAD | _S_IWRITE)); }

int remove_file(const char *path) { return _unlink(path); }

// ---- Host queries for paths, temporary files and runtime switches.

uint32_t process_id() { return uint32_t(GetCurrentProcessId()); }

std::string user_name() {
    using GetUser = BOOL(WINAPI *)(LPSTR, LPDWORD);
    auto get = system_entry<GetUser>("ADVAPI32", "GetUserNameA");
    if (!get) return std::string();
    char buf[257];
    DWORD size = sizeof buf;
    if (!get(buf, &size)) return std::string();
    buf[sizeof buf - 1] = '\0';
    return std::string(buf);
}

bool appdata_variable_in_use() {
    // The variable is kept from version 5.1 of the NT family on.
    using GetVersionFn = BOOL(WINAPI *)(LPOSVERSIONINFOA);
    auto get = system_entry<GetVersionFn>("KERNEL32", "GetVersionExA");
    if (!get) return false;
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (!get(&v)) return false;
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion != 0));
}

std::string shell_appdata_folder() {
    const int appdata_folder = 26;
    char buf[MAX_PATH + 1] = {};
    using SpecialPath = BOOL(WINAPI *)(HWND, LPSTR, int, BOOL);
    if (auto special = system_entry<SpecialPath>("SHELL32", "SHGetSpecialFolderPathA")) {
        if (special(nullptr, buf, appdata_folder, TRUE) && buf[0]) return std::string(buf);
    }
    using Location = HRESULT(WINAPI *)(HWND, int, ITEMIDLIST **);
    using FromList = BOOL(WINAPI *)(const ITEMIDLIST *, LPSTR);
    using ShellMalloc = HRESULT(WINAPI *)(IMalloc **);
    auto location = system_entry<Location>("SHELL32", "SHGetSpecialFolderLocation");
    auto from_list = system_entry<FromList>("SHELL32", "SHGetPathFromIDListA");
    auto shell_malloc = system_entry<ShellMalloc>("SHELL32", "SHGetMalloc");
    if (!location || !from_list || !shell_malloc) return std::string();
    ITEMIDLIST *list = nullptr;
    if (location(nullptr, appdata_folder, &list) != S_OK || !list) return std::string();
    std::string result;
    buf[0] = '\0';
    if (from_list(list, buf) && buf[0]) result = buf;
    IMalloc *alloc = nullptr;
    if (shell_malloc(&alloc) == S_OK && alloc) {
        alloc->Free(list);
        alloc->Release();
    }
    return result;
}

std::string default_temp_directory() { return std::string("\\"); }

const char *executable_suffix() { return ".exe"; }

char search_path_separator() { return ';'; }

bool file_names_ignore_case() { return true; }

int file_mtime(const char *path, int64_t *mtime) {
    struct _stat64 st;
    if (!path || _stat64(path, &st) != 0) return -1;
    *mtime = int64_t(st.st_mtime);
    return 0;
}

int rename_file(const char *from, const char *to) { return std::rename(from, to); }

int module_file_name(const void *address, std::string &name) {
    HANDLE self = GetCurrentProcess();
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModules(self, modules, sizeof modules, &needed)) return MODULE_NAME_NO_LIST;
    if (needed > sizeof modules) return MODULE_NAME_TOO_MANY;
    const auto at = reinterpret_cast<uintptr_t>(address);
    for (DWORD i = 0; i < needed / sizeof modules[0]; ++i) {
        MODULEINFO info{};
        if (!GetModuleInformation(self, modules[i], &info, sizeof info)) continue;
        const auto base = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
        if (at < base || at - base >= info.SizeOfImage) continue;
        char buf[MAX_PATH + 1];
        DWORD n = GetModuleFileNameA(modules[i], buf, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return MODULE_NAME_NO_NAME;
        name.assign(buf, n);
        return MODULE_NAME_OK;
    }
    return MODULE_NAME_NO_NAME;
}

void *module_symbol(void *module, const char *symbol) {
    if (!module) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), symbol));
}

}  // namespace plat
