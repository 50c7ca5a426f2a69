// Host paths, temporary files and host queries.
#include "indgensys.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "gen_switch.h"
#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "platform.h"

gen_tmpdir_fn_t gen_tmpdir_fn = gen_tmpdir;

// Whether host queries about the processors may take their answer from the
// environment; no query of this program asks.
GEN_SWITCH_DEFINE(HostProcessorsEnvVariable, 1);

namespace {

constexpr size_t CWD_MAX = 4096;
constexpr size_t USER_NAME_MAX = 256;
constexpr size_t CANONICAL_MAX = 1023;
constexpr uint32_t TMPNAME_COUNTER_MAX = 0xFFFFF;
constexpr const char *TMPNAME_DIGITS = "0123456789abcdefghijklmnopqrstuv";

// Values computed on first use.
struct Cache {
    bool cwd_read = false;
    char cwd[CWD_MAX + 1] = {};
    bool home_read = false;
    std::string home;
    bool have_home = false;
    bool progdir_read = false;
    char *progdir = nullptr;
    bool appdata_read = false;
    char *appdata = nullptr;
    bool user_read = false;
    std::string user;
    bool have_user = false;
    char *tmpdir = nullptr;
    char *tmpdir_fallback = nullptr;  // last answer computed with a fallback
    uint32_t tmpname_counter = 0;
};
Cache cache;

bool is_sep(char c) { return c == '/' || c == '\\'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
char native() { return plat::native_separator(); }

bool names_equal(const char *a, const char *b) {
    return plat::file_names_ignore_case() ? gen_strequal_nocase(a, b) : gen_strequal(a, b);
}

char *copy(const std::string &s) { return gen_strndup(s.data(), int64_t(s.size())); }

bool ends_in_sep(const char *s) {
    size_t n = std::strlen(s);
    return n > 0 && is_sep(s[n - 1]);
}

bool has_extension(const char *name) { return std::strchr(gen_basename(name), '.') != nullptr; }

// The name a program file has on the host.
std::string program_file(const char *name) {
    std::string p(name);
    if (!has_extension(name)) p += plat::executable_suffix();
    return p;
}

bool is_directory(const char *path) { return plat::file_attributes_directory(path) == 1; }

// ---------------------------------------------------------------- normalising

std::string normalized(const std::string &in, bool to_native) {
    std::string s = in;
    if (to_native)
        for (char &c : s)
            if (c == '\\') c = '/';
    const size_t n = s.size();

    // A network prefix ("//server") or a drive prefix ("X:") is set aside.
    size_t i = 0;
    std::string prefix;
    if (n > 2 && is_sep(s[0]) && is_sep(s[1]) && !is_sep(s[2])) {
        i = 2;
        while (i < n && !is_sep(s[i])) ++i;
        prefix = s.substr(0, i);
    } else if (n >= 2 && is_letter(s[0]) && s[1] == ':') {
        prefix = s.substr(0, 2);
        if (to_native) prefix[0] = upper(prefix[0]);
        i = 2;
    }
    const size_t root_pos = i;
    const bool absolute = i < n && is_sep(s[i]);
    if (absolute) ++i;

    bool clean = false;
    for (size_t k = root_pos; k + 1 < n && !clean; ++k) {
        bool a = is_sep(s[k]) || s[k] == '.', b = is_sep(s[k + 1]) || s[k + 1] == '.';
        clean = a && b;
    }
    std::string out;
    if (!clean) {
        out = s;
        out.replace(0, prefix.size(), prefix);
    } else {
        std::vector<std::string> parts;
        size_t k = i;
        while (k <= n) {
            size_t e = k;
            while (e < n && !is_sep(s[e])) ++e;
            std::string part = s.substr(k, e - k);
            k = e + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (!parts.empty() && parts.back() != "..")
                    parts.pop_back();
                else if (!absolute)
                    parts.push_back(part);
                continue;
            }
            parts.push_back(part);
        }
        out = prefix;
        if (absolute) out += '/';
        for (size_t p = 0; p < parts.size(); ++p) {
            if (p) out += '/';
            out += parts[p];
        }
        const bool trailing = n > 1 && is_sep(s[n - 1]);
        if (trailing && !parts.empty()) out += '/';
    }
    if (to_native)
        for (char &c : out)
            if (c == '/') c = native();
    return out;
}

// ---------------------------------------------------------------- temporary names

std::string counter_digits(uint32_t v) {
    std::string d;
    do {
        d.insert(d.begin(), TMPNAME_DIGITS[v & 31]);
        v >>= 5;
    } while (v);
    return d;
}

uint32_t next_counter() {
    if (++cache.tmpname_counter > TMPNAME_COUNTER_MAX) cache.tmpname_counter = 1;
    return cache.tmpname_counter;
}

std::string pid_digits() {
    uint32_t pid = plat::process_id();
    std::string d;
    for (int shift = 30; shift >= 0; shift -= 5) d += TMPNAME_DIGITS[(pid >> shift) & 31];
    return d;
}

const char *strip_dot(const char *ext) {
    if (!ext) return "";
    return ext[0] == '.' ? ext + 1 : ext;
}

std::string joined(const char *dir, const std::string &base) {
    char *j = gen_path_join(dir, base.c_str());
    std::string s(j);
    gen_free_fn(j);
    return s;
}

// Advances one character of a temporary directory name; true when the
// character before it must advance as well.
bool advance(char &c) {
    if ((c >= 'a' && c <= 'y') || (c >= '0' && c <= '8')) {
        ++c;
        return false;
    }
    if (c == 'z') {
        c = '0';
        return false;
    }
    c = 'a';  // from '9'
    return true;
}

}  // namespace

// ---------------------------------------------------------------- classification

bool gen_is_absolute_path(const char *path) {
    if (!path || !*path) return false;
    if (is_sep(path[0]) || path[1] == ':') return true;
    return path[0] == '~' && (path[1] == '\0' || is_sep(path[1]));
}

bool gen_is_rooted_path(const char *path) {
    if (!path || !*path) return false;
    return is_sep(path[0]) || path[0] == '~' || path[1] == ':';
}

bool gen_is_bare_name(const char *path) { return path && *path && gen_basename(path) == path; }

bool gen_is_url(const char *path) {
    if (!path) return false;
    const char *mark = std::strstr(path, "://");
    return mark && std::strchr(path, ':') == mark && std::strchr(path, '/') == mark + 1;
}

// ---------------------------------------------------------------- building paths

void gen_path_normalize(char *path, bool native_form) {
    if (!path || !*path) return;
    std::string out = normalized(path, native_form);
    std::memcpy(path, out.c_str(), out.size() + 1);  // never longer than the input
}

char *gen_path_join(const char *a, const char *b) {
    if (b && *b && b[0] != '~' && gen_is_absolute_path(b)) return gen_strdup(b);
    if (a && *a) {
        std::string s(a);
        if (b && *b && !ends_in_sep(a)) s += native();
        if (b) s += b;
        std::string out = normalized(s, true);
        return copy(out.empty() ? std::string(".") : out);
    }
    return b ? gen_strdup(b) : nullptr;
}

char *gen_path_join_relative(const char *a, const char *b) {
    if (!b || !*b) return a ? gen_strdup(a) : nullptr;
    if (!a || !*a || gen_is_absolute_path(b)) return gen_strdup(b);
    return gen_path_join(a, b);
}

char *gen_dirname(const char *path) {
    if (!path) return nullptr;
    const char *last = nullptr;
    for (const char *p = path; *p; ++p)
        if (is_sep(*p) || *p == ':') last = p;
    if (!last) return nullptr;
    bool keep = *last == ':' || last == path || last[-1] == ':';
    return gen_strndup(path, int64_t(last - path) + (keep ? 1 : 0));
}

const char *gen_path_tail(const char *path) {
    if (!path) return nullptr;
    const char *tail = path;
    for (const char *p = path; *p; ++p)
        if (is_sep(*p) || *p == ':') tail = p + 1;
    return tail;
}

char *gen_full_path(const char *path) {
    if (!path) return nullptr;
    if (!*path || gen_is_url(path)) return gen_strdup(path);
    const char *home = gen_gethome();
    if (path[0] == '~' && (path[1] == '\0' || is_sep(path[1])) && home) {
        const char *rest = path + 1;
        while (is_sep(*rest)) ++rest;
        if (!*rest) return copy(normalized(home, true));
        return gen_path_join(home, rest);
    }
    if (!gen_is_absolute_path(path)) return gen_path_join(gen_getcwd(), path);
    return copy(normalized(path, true));
}

char *gen_canonical_path(const char *path) {
    if (!path) return nullptr;
    std::string full = plat::full_path_name(path);
    if (full.empty() || full.size() > CANONICAL_MAX) return gen_strdup(path);
    if (full.size() >= 2 && full[1] == ':') full[0] = upper(full[0]);
    return copy(full);
}

// ---------------------------------------------------------------- host queries

const char *gen_getcwd() {
    if (!cache.cwd_read) {
        std::string cwd = plat::current_directory();
        if (cwd.empty() || cwd.size() > CWD_MAX) {
            const char *appdata = gen_getappdata();
            if (!appdata) gen_fatal(1, "Could not get current working directory.");
            cwd = appdata;
            if (cwd.size() > CWD_MAX) cwd.resize(CWD_MAX);
        }
        std::memcpy(cache.cwd, cwd.c_str(), cwd.size() + 1);
        cache.cwd_read = true;
    }
    return cache.cwd;
}

const char *gen_gethome() {
    if (!cache.home_read) {
        cache.home_read = true;
        const char *h = gen_getenv("HOME", nullptr);
        cache.have_home = h != nullptr;
        cache.home = h ? h : "";
    }
    return cache.have_home ? cache.home.c_str() : nullptr;
}

char *gen_getusername() {
    if (!cache.user_read) {
        cache.user_read = true;
        std::string u = plat::user_name();
        cache.have_user = !u.empty() && u.size() <= USER_NAME_MAX;
        cache.user = cache.have_user ? u : "";
    }
    return cache.have_user ? copy(cache.user) : nullptr;
}

const char *gen_getappdata() {
    if (cache.appdata_read) return cache.appdata;
    cache.appdata_read = true;
    std::vector<std::string> candidates;
    if (plat::appdata_variable_in_use())
        if (const char *v = gen_getenv("APPDATA", nullptr)) candidates.emplace_back(v);
    if (std::string shell = plat::shell_appdata_folder(); !shell.empty()) candidates.push_back(shell);
    if (const char *v = gen_getenv("USERPROFILE", nullptr)) candidates.emplace_back(v);
    for (const std::string &c : candidates) {
        if (is_directory(c.c_str())) {
            cache.appdata = copy(c);
            return cache.appdata;
        }
    }
    // A "Users" folder beside the program's own, with a folder per user.
    if (const char *progdir = gen_getprogdir()) {
        std::string users = joined(progdir, std::string("..") + native() + "Users");
        char *user = gen_getusername();
        std::string mine = joined(users.c_str(), user ? user : "default");
        gen_free_fn(user);
        if (gen_mkdir(users.c_str(), 0755) == 0 && gen_mkdir(mine.c_str(), 0755) == 0) cache.appdata = copy(mine);
    }
    return cache.appdata;
}

char *gen_find_program(const char *name, bool search_progdir, bool canonical) {
    if (!name || !*name) return nullptr;
    char *found = nullptr;
    if (!gen_is_bare_name(name)) {
        std::string file = program_file(name);
        if (gen_program_exists(file.c_str()) >= 1) found = gen_full_path(file.c_str());
    } else {
        std::string file = program_file(name);
        if (search_progdir) {
            if (const char *dir = gen_getprogdir()) {
                std::string p = joined(dir, file);
                if (gen_program_exists(p.c_str()) >= 1) found = copy(p);
            }
        }
        const char *path = found ? nullptr : gen_getenv("PATH", nullptr);
        const char sep = plat::search_path_separator();
        while (path && !found) {
            const char *end = std::strchr(path, sep);
            std::string dir(path, end ? size_t(end - path) : std::strlen(path));
            if (!dir.empty()) {
                std::string p = joined(dir.c_str(), file);
                if (gen_program_exists(p.c_str()) >= 1) found = copy(p);
            }
            path = end ? end + 1 : nullptr;
        }
    }
    if (found && canonical) {
        char *dir = gen_dirname(found);
        if (dir) {
            char *canon = gen_canonical_path(dir);
            char *again = gen_path_join(canon, gen_path_tail(found));
            gen_free_fn(canon);
            gen_free_fn(dir);
            gen_free_fn(found);
            found = again;
        }
    }
    return found;
}

const char *gen_getprogdir() {
    if (cache.progdir_read) return cache.progdir;
    cache.progdir_read = true;
    const char *path = gen_getprogpath();
    char *program = gen_find_program(path, false, true);
    if (program) {
        cache.progdir = gen_dirname(program);
        gen_free_fn(program);
    }
    if (!cache.progdir)
        gen_warning(
            "gen_getprogdir(): for %s returns NULL\n\tmost likely gen_init() was not called with the correct "
            "argv[0] value",
            path ? path : "(null)");
    return cache.progdir;
}

// ---------------------------------------------------------------- temporary files

const char *gen_tmpdir(const char *fallback) {
    if (!fallback && cache.tmpdir) return cache.tmpdir;
    std::vector<std::string> candidates;
    if (const char *v = gen_getenv("TMP", nullptr)) candidates.emplace_back(v);
    if (const char *v = gen_getenv("TEMP", nullptr)) candidates.emplace_back(v);
    if (fallback) candidates.emplace_back(fallback);
    std::string chosen = ".";
    bool done = false;
    for (const std::string &c : candidates) {
        if (gen_file_exists(c.c_str())) {
            chosen = c;
            done = true;
            break;
        }
    }
    if (!done) {
        std::string host = plat::default_temp_directory();
        if (!host.empty() && plat::access_path(host.c_str(), 0) == 0) chosen = host;
    }
    char **slot = fallback ? &cache.tmpdir_fallback : &cache.tmpdir;
    gen_free_fn(*slot);
    *slot = copy(chosen);
    return *slot;
}

size_t gen_tmpname_size(const char *dir, const char *ext) {
    const char *fixed = gen_getenv("BUILDER_TEMPORARY_NAME", nullptr);
    size_t base = 3 + 7 + 4 + 1;
    if (fixed && std::strlen(fixed) + 1 > base) base = std::strlen(fixed) + 1;
    return (dir ? std::strlen(dir) + 1 : 0) + base + std::strlen(strip_dot(ext)) + 5 + 1;
}

char *gen_tmpname_in(const char *dir, char *out1, const char *ext1, char *out2, const char *ext2, char *out3,
                     const char *ext3) {
    const char *fixed = gen_getenv("BUILDER_TEMPORARY_NAME", nullptr);
    const std::string pid = pid_digits();
    auto stem_for = [&](bool first) {
        std::string base;
        if (fixed && first) {
            base = fixed;
            if (base.back() != '.') base += '.';
        } else if (fixed) {
            base = counter_digits(next_counter()) + ".";
        } else {
            base = "lk_" + pid + counter_digits(next_counter()) + ".";
        }
        return joined(dir, base);
    };

    struct Want {
        char *out;
        const char *ext;
        bool kept;
    };
    Want want[3] = {{out1, strip_dot(ext1), false},
                    {out2, strip_dot(ext2), out2 == nullptr},
                    {out3, strip_dot(ext3), out3 == nullptr}};
    bool allocated = false;
    std::string stem = stem_for(true);
    for (uint32_t tries = 0;; ++tries) {
        bool all = true;
        for (Want &w : want) {
            if (w.kept) continue;
            std::string name = stem + w.ext;
            if (gen_file_exists(name.c_str())) {
                all = false;
                continue;
            }
            if (!w.out) {
                w.out = static_cast<char *>(gen_calloc_fn(stem.size() + std::strlen(w.ext) + 5 + 1, 1));
                allocated = true;
            }
            std::memcpy(w.out, name.c_str(), name.size() + 1);
            w.kept = true;
        }
        if (all) return want[0].out;
        if (tries == TMPNAME_COUNTER_MAX) break;
        stem = stem_for(false);
    }
    if (allocated && want[0].kept) gen_free_fn(want[0].out);
    return nullptr;
}

char *gen_tmpname(const char *fallback, char *out, const char *ext) {
    return gen_tmpname_in(gen_tmpdir_fn(fallback), out, ext);
}

char *gen_tmpname_beside(const char *file, const char *ext) {
    if (!file) return gen_tmpname_in(gen_tmpdir_fn(nullptr), nullptr, ext);
    char *dir = gen_dirname(file);
    char *name = gen_tmpname_in(dir, nullptr, ext);
    gen_free_fn(dir);
    return name;
}

char *gen_make_tmpdir(const char *fallback, int mode) {
    char base[16];
    gen_snprintf(base, sizeof base, "lk%04Xaa", unsigned(plat::process_id() & 0xFFFF));
    std::string path = joined(gen_tmpdir_fn(fallback), base);
    const size_t last = path.size() - 1;
    while (gen_file_exists(path.c_str())) {
        if (path[last] == '9' && path[last - 1] == '9') return nullptr;
        if (advance(path[last])) advance(path[last - 1]);
    }
    if (plat::make_directory(path.c_str(), mode) != 0) return nullptr;
    return copy(path);
}

// ---------------------------------------------------------------- files

bool gen_file_exists(const char *path) {
    if (!path || !*path) return false;
    int saved = errno;
    bool exists = plat::access_path(path, 0) == 0;
    errno = saved;
    return exists;
}

int gen_program_exists(const char *path) {
    if (!path || !*path) return -1;
    std::string file = program_file(path);
    int dir = plat::file_attributes_directory(file.c_str());
    if (dir < 0) return -1;
    return dir == 1 ? 0 : 1;
}

namespace {

bool same_file_by_full_name(const char *a, const char *b) {
    if (names_equal(a, b)) return true;
    std::string fa = plat::full_path_name(a), fb = plat::full_path_name(b);
    if (fa.empty() || fb.empty()) return false;
    for (std::string *s : {&fa, &fb})
        if (s->size() > 1 && is_sep(s->back())) s->pop_back();
    return fa.size() == fb.size() && names_equal(fa.c_str(), fb.c_str());
}

}  // namespace

bool gen_same_file(const char *a, const char *b) {
    if (!a || !b) return !a && !b;
    const char *ba = gen_basename(a), *bb = gen_basename(b);
    if (*ba && *bb && !names_equal(ba, bb)) return false;
    return same_file_by_full_name(a, b);
}

int gen_mkdir(const char *path, int mode) {
    if (!path || !*path) return -1;
    std::string p(path);
    if (p.size() == 2 && p[1] == ':') {
        p += native();
    } else {
        while (p.size() > 1 && is_sep(p.back()) && !(p.size() == 3 && p[1] == ':')) p.pop_back();
    }
    int kind = plat::file_attributes_directory(p.c_str());
    if (kind == 1) return 0;
    if (kind == 0) return -1;
    int result = plat::make_directory(p.c_str(), mode);
    if (result != 0 && errno == EEXIST && is_directory(p.c_str())) return 0;
    return result;
}

int gen_remove_file(const char *path) {
    if (!path || !*path || is_directory(path)) return -1;
    if (plat::remove_file(path) == 0) return 0;
    struct stat st;
    if (plat::file_status(path, &st) != 0) return -1;
    const int old_mode = int(st.st_mode & 07777);
    plat::change_mode(path, old_mode | 0x1B0);
    if (plat::remove_file(path) == 0) return 0;
    int err = errno;
    plat::change_mode(path, old_mode);
    errno = err;
    return -1;
}

int gen_rename(const char *oldpath, const char *newpath) {
    if (!oldpath || !*oldpath || !newpath || is_directory(oldpath) || is_directory(newpath)) return -1;
    if (plat::rename_file(oldpath, newpath) == 0) return 0;
    gen_remove_file(newpath);
    return plat::rename_file(oldpath, newpath);
}

int gen_file_mtime(const char *path, int64_t *mtime) { return plat::file_mtime(path, mtime); }

void gen_hostpath_clear_caches() {
    gen_free_fn(cache.progdir);
    gen_free_fn(cache.appdata);
    gen_free_fn(cache.tmpdir);
    gen_free_fn(cache.tmpdir_fallback);
    cache = Cache{};
}
