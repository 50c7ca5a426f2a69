// View paths: a list of directory trees that stand for one tree. With no
// view-path variables in the environment the mode stays inactive and every
// routine goes straight to the host.
#include "viewpath.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "platform.h"

bool gen_vp_ignore_alternate_root = false;

namespace {

constexpr size_t max_nodes = 128;
constexpr size_t max_components = 128;
constexpr size_t max_full_path = 1023;
constexpr size_t copy_block = 8192;
constexpr int max_einval_retries = 100;

struct ViewPath {
    bool active = false;
    bool debug = false;
    bool slow = false;
    bool remap = false;
    long tuning = 0;
    std::vector<std::string> nodes;
    std::string first_node;
    std::string alternate_root;
    std::string start_directory;
    int found_node = -1;
};
ViewPath vp;

bool is_sep(char c) { return c == '/' || c == '\\'; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool missing(int err) { return err == ENOENT || err == ENOTDIR; }

char *owned(const std::string &s) { return gen_strdup(s.c_str()); }

// A drive letter, ':' and a separator at position i.
bool is_drive_start(const std::string &s, size_t i) {
    return i + 2 < s.size() && is_letter(s[i]) && s[i + 1] == ':' && is_sep(s[i + 2]);
}

// A path the canonicaliser takes as it stands: a leading separator, or a
// drive letter with ':' and a separator.
bool is_rooted(const std::string &s) { return (!s.empty() && is_sep(s[0])) || is_drive_start(s, 0); }

std::vector<std::string> split_nodes(const std::string &list) {
    std::vector<std::string> nodes;
    size_t i = 0;
    while (i < list.size() && nodes.size() < max_nodes) {
        size_t begin = i;
        if (is_drive_start(list, i)) i += 2;
        while (i < list.size() && list[i] != ':' && list[i] != ';') ++i;
        if (i > begin) nodes.push_back(list.substr(begin, i - begin));
        ++i;
    }
    return nodes;
}

// The host's full path name of a node, drive letter in upper case; the text
// as written when it cannot be had.
std::string resolve_node(const std::string &node) {
    std::string full = plat::full_path_name(node.c_str());
    if (full.empty() || full.size() > max_full_path) return node;
    if (full.size() > 1 && full[1] == ':' && full[0] >= 'a' && full[0] <= 'z') full[0] = char(full[0] - 'a' + 'A');
    return full;
}

size_t count_components(const std::string &s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i)
        if (!is_sep(s[i]) && (i == 0 || is_sep(s[i - 1]))) ++n;
    return n;
}

// Canonical form of an absolute path: separators collapsed to '/', "."
// dropped, ".." taking away the component before it, no trailing separator.
std::optional<std::string> canonical_absolute(const std::string &path) {
    size_t i = 0;
    std::string prefix;
    if (path.size() >= 2 && is_letter(path[0]) && path[1] == ':') {
        prefix = path.substr(0, 2);
        i = 2;
    }
    if (i >= path.size() || !is_sep(path[i]))
        gen_fatal(1, "INTERNAL ERROR: libvp: chdir: compath2: (1) [%s] not absolute path", path.c_str());
    if (count_components(path) > max_components) {
        gen_error("[V2_compath]: too many directory components for \"%s\"", path.c_str());
        return std::nullopt;
    }
    std::vector<std::string> parts;
    while (i < path.size()) {
        while (i < path.size() && is_sep(path[i])) ++i;
        size_t j = i;
        while (j < path.size() && !is_sep(path[j])) ++j;
        std::string part = path.substr(i, j - i);
        i = j;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out = prefix;
    for (const std::string &part : parts) out += "/" + part;
    if (out.size() == prefix.size()) out += "/";
    return out;
}

// Canonical form of any path; a relative path is taken from the directory
// that was current when the mode was activated.
std::optional<std::string> canonical(const std::string &path) {
    if (is_rooted(path)) return canonical_absolute(path);
    if (count_components(path) > max_components) {
        gen_error("[V_compath]: too many directory components for \"%s\"", path.c_str());
        return std::nullopt;
    }
    if (vp.start_directory.empty()) return canonical_absolute(path);
    return canonical_absolute(vp.start_directory + "/" + path);
}

// What follows root in path: letters compared without regard to case, '/'
// equal to '\'. "." when path is root itself.
std::optional<std::string> rest_after(const std::string &path, const std::string &root) {
    if (root.empty() || path.size() < root.size()) return std::nullopt;
    for (size_t i = 0; i < root.size(); ++i) {
        char a = path[i], b = root[i];
        if (!(lower(a) == lower(b) || (is_sep(a) && is_sep(b)))) return std::nullopt;
    }
    size_t i = root.size();
    if (i == path.size()) return std::string(".");
    if (!is_sep(path[i]) && !is_sep(root.back())) return std::nullopt;
    while (i < path.size() && is_sep(path[i])) ++i;
    return i == path.size() ? std::string(".") : path.substr(i);
}

// What follows a root node (0 or the first of a remap pair) in a canonical
// path; node 0 may also be spelled as the alternate root.
std::optional<std::string> relative_to_node(const std::string &canon, size_t node) {
    if (auto rest = rest_after(canon, vp.nodes[node])) return rest;
    if (node == 0 && !vp.alternate_root.empty()) return rest_after(canon, vp.alternate_root);
    return std::nullopt;
}

std::string join(const std::string &dir, const std::string &rel) {
    if (rel == ".") return dir;
    if (!dir.empty() && is_sep(dir.back())) return dir + rel;
    return dir + "/" + rel;
}

// "^" and "^/rest" name node 0 and a path below it.
std::string expand_caret(const char *path) {
    std::string p(path);
    if (p.empty() || p[0] != '^') return p;
    if (p.size() == 1) return vp.nodes[0];
    if (is_sep(p[1])) return join(vp.nodes[0], p.substr(2));
    return p;
}

struct Place {
    int node;
    std::string path;
};

// The lower places where a path may be found: nodes 1, 2, ... with the path
// relative to node 0, or in remap mode the replacement of every pair whose
// root holds the path.
std::vector<Place> lower_places(const std::string &path) {
    std::vector<Place> places;
    std::optional<std::string> canon = canonical(path);
    if (!canon) return places;
    if (vp.remap) {
        for (size_t k = 0; k + 1 < vp.nodes.size(); k += 2)
            if (auto rel = relative_to_node(*canon, k)) places.push_back({int(k + 1), join(vp.nodes[k + 1], *rel)});
    } else if (auto rel = relative_to_node(*canon, 0)) {
        for (size_t i = 1; i < vp.nodes.size(); ++i) places.push_back({int(i), join(vp.nodes[i], *rel)});
    }
    return places;
}

// Every place to try, in order: the path itself first, except in remap mode
// where the replacements come first.
std::vector<Place> all_places(const std::string &path) {
    std::vector<Place> places = lower_places(path);
    Place self{0, path};
    if (vp.remap)
        places.push_back(self);
    else
        places.insert(places.begin(), self);
    return places;
}

bool exists(const std::string &path) {
    struct stat st;
    return plat::file_status(path.c_str(), &st) == 0;
}

// The first lower place that exists; a failure other than a missing file
// ends the search at that place. Empty when there is none.
std::optional<std::string> find_lower(const std::string &path) {
    for (const Place &place : lower_places(path)) {
        struct stat st;
        if (plat::file_status(place.path.c_str(), &st) == 0) {
            if (vp.debug) gen_info("Located file: %s", place.path.c_str());
            return place.path;
        }
        if (!missing(errno)) return place.path;
    }
    return std::nullopt;
}

// The directory part of a path: "" for a bare name, the root for a name
// directly below it.
std::string parent_of(const std::string &path) {
    size_t end = path.size();
    while (end > 1 && is_sep(path[end - 1])) --end;
    size_t i = end;
    while (i > 0 && !is_sep(path[i - 1])) --i;
    if (i == 0) return std::string();
    size_t keep = i;
    while (keep > 1 && is_sep(path[keep - 1])) --keep;
    if (keep == 2 && path[1] == ':') ++keep;
    return path.substr(0, keep);
}

// mkdir that is content with an existing directory.
int make_dir(std::string path, int mode) {
    while (path.size() > 1 && is_sep(path.back()) && !(path.size() == 3 && path[1] == ':')) path.pop_back();
    if (plat::make_directory(path.c_str(), mode) == 0) return 0;
    int err = errno;
    struct stat st;
    if (plat::file_status(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
    errno = err;
    return -1;
}

// Makes the directory of a copy in node 0 when it exists only through the
// view, with the permissions of the lower directory; missing parents first.
bool ensure_directory(const std::string &dir) {
    if (dir.empty()) return true;
    struct stat st;
    if (plat::file_status(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!missing(errno) || gen_vp_access(dir.c_str(), GEN_VP_EXISTS) != 0) return false;
    int mode = gen_vp_stat(dir.c_str(), &st) == 0 ? int(st.st_mode & 0777) : 0777;
    std::string parent = parent_of(dir);
    if (parent != dir && !ensure_directory(parent)) return false;
    return make_dir(dir, mode) == 0;
}

int64_t read_retrying(int fd, char *buf, uint32_t n) {
    int64_t got = -1;
    for (int tries = 0; tries <= max_einval_retries; ++tries) {
        got = plat::raw_read(fd, buf, n);
        if (got >= 0 || errno != EINVAL) break;
    }
    return got;
}

// Writes all n bytes; false on failure, with errno telling why.
bool write_all(int fd, const char *buf, uint32_t n) {
    int einval_tries = 0;
    while (n > 0) {
        int64_t put = plat::raw_write(fd, buf, n);
        if (put < 0 && errno == EINVAL && einval_tries++ < max_einval_retries) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        buf += put;
        n -= uint32_t(put);
    }
    return true;
}

// Copies a file found in a lower node into node 0 under path; 0 or -1.
int copy_on_write(const std::string &path) {
    if (!ensure_directory(parent_of(path))) return -1;
    std::optional<std::string> source = find_lower(path);
    if (!source) return -1;
    struct stat st;
    if (plat::file_status(source->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    int mode = int(st.st_mode & 0777) | 0222;
    int in = plat::open_file(source->c_str(), O_RDONLY, 0);
    if (in < 0) return -1;
    int out = plat::open_file(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (out < 0) {
        plat::close_file(in);
        return -1;
    }
    plat::change_mode(path.c_str(), mode);

    std::vector<char> buf(copy_block);
    bool ok = true;
    for (;;) {
        int64_t got = read_retrying(in, buf.data(), uint32_t(buf.size()));
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (!write_all(out, buf.data(), uint32_t(got))) {
            if (vp.debug) gen_perror("Unable to copy file to %s", path.c_str());
            ok = false;
            break;
        }
    }
    plat::close_file(in);
    if (plat::close_file(out) != 0) ok = false;
    if (!ok) {
        int err = errno;
        plat::remove_file(path.c_str());
        errno = err;
        return -1;
    }
    if (vp.debug) gen_info("Copied file to %s", path.c_str());
    return 0;
}

std::string resolve(const char *path, int intent) {
    std::string p = expand_caret(path);
    if (vp.remap) {
        // A replacement that exists wins over the path itself.
        for (const Place &place : lower_places(p)) {
            if (exists(place.path)) {
                if (vp.debug) gen_info("Located file: %s", place.path.c_str());
                return place.path;
            }
            if (!missing(errno)) break;
        }
        return p;
    }
    if (intent == GEN_VP_INTENT_WRITE || exists(p)) return p;
    if (intent == GEN_VP_INTENT_UPDATE) {
        copy_on_write(p);
        return p;
    }
    if (auto lower = find_lower(p)) return *lower;
    return p;
}

}  // namespace

bool gen_viewpath_active() { return vp.active; }

void gen_viewpathing(int mode) {
    int saved_errno = errno;
    if (const char *xsw = gen_getenv("LKS_VP_XSW", nullptr)) vp.tuning = std::strtol(xsw, nullptr, 10);
    if (gen_getenv("LKS_VP_DEBUG", nullptr)) vp.debug = true;
    if (mode != 0 && gen_getenv("LKS_VP_OFF", nullptr)) {
        mode = 0;
        if (vp.debug) gen_info("Disabling viewpathing mode \n\tbecause environment variable (%s) is set.", "LKS_VP_OFF");
    }
    if (mode == 2 && gen_getenv("LKS_VP_SLOW", nullptr)) {
        mode = 1;
        if (vp.debug) gen_info("Disabling FAST viewpathing mode \n\tbecause environment variable (%s) is set.", "LKS_VP_SLOW");
    }
    if (mode == 1 || mode == 2) {
        vp.slow = mode == 1;
        if (vp.debug) gen_info(mode == 1 ? "Viewpathing support is ON (SLOW)." : "Viewpathing support is ON (FAST).");
        if (!vp.active) {
            const char *list = gen_getenv("NVPATH", nullptr);
            vp.remap = false;
            if (!list) {
                list = gen_getenv("NVSRPATH", nullptr);
                vp.remap = list != nullptr;
            }
            vp.nodes.clear();
            vp.alternate_root.clear();
            std::vector<std::string> written = list ? split_nodes(list) : std::vector<std::string>();
            for (const std::string &node : written) {
                vp.nodes.push_back(resolve_node(node));
                if (vp.debug) gen_info("Adding viewpath node %d: %s", int(vp.nodes.size()), vp.nodes.back().c_str());
                if (vp.nodes.size() != 1) continue;
                vp.first_node = node;
                if (gen_path_is_absolute(node.c_str()) && node != vp.nodes[0]) {
                    if (gen_vp_ignore_alternate_root) {
                        if (vp.debug) gen_info("Ignoring alternate root: %s", node.c_str());
                    } else {
                        vp.alternate_root = node;
                        if (vp.debug) gen_info("Using alternate root: %s", node.c_str());
                    }
                }
            }
            if (!vp.nodes.empty()) {
                vp.start_directory = plat::current_directory();
                vp.active = true;
            }
        }
    } else {
        if (mode != 0) gen_error("Illegal viewpath option passed to gen_viewpathing");
        if (vp.debug) gen_info("Viewpathing support is OFF.");
        vp = ViewPath{};
    }
    errno = saved_errno;
}

char *gen_vp_resolve(const char *path, int intent) {
    if (!path) return nullptr;
    if (!vp.active) return gen_strdup(path);
    int saved_errno = errno;
    char *result = owned(resolve(path, intent));
    errno = saved_errno;
    return result;
}

char *gen_vp_relative(const char *path) {
    if (!path || !vp.active) return nullptr;
    std::optional<std::string> canon = canonical(expand_caret(path));
    std::optional<std::string> rel = canon ? relative_to_node(*canon, 0) : std::nullopt;
    return rel ? owned(*rel) : nullptr;
}

int gen_vp_access(const char *path, int mode) {
    if (!path) {
        errno = ENOENT;
        return -1;
    }
    if (!vp.active) return plat::access_path(path, mode);
    if (mode & GEN_VP_EXECUTE) mode = (mode & ~GEN_VP_EXECUTE) | GEN_VP_READ;
    std::string p = expand_caret(path);
    for (const Place &place : all_places(p)) {
        if (plat::access_path(place.path.c_str(), mode) == 0) return 0;
        int err = errno;
        // A file that is missing here but lives in a lower node is copied up
        // when it is opened for writing, so it counts as writable.
        if (place.node == 0 && (mode & GEN_VP_WRITE) && missing(err)) {
            for (const Place &lower : lower_places(p)) {
                if (exists(lower.path)) return 0;
                if (!missing(errno)) break;
            }
            errno = err;
        }
        if (!missing(err)) return -1;
    }
    return -1;
}

int gen_vp_stat(const char *path, struct stat *buffer) {
    vp.found_node = -1;
    if (!path || !buffer) {
        errno = ENOENT;
        return -1;
    }
    if (!vp.active) return plat::file_status(path, buffer);
    for (const Place &place : all_places(expand_caret(path))) {
        if (plat::file_status(place.path.c_str(), buffer) == 0) {
            vp.found_node = place.node;
            return 0;
        }
        if (!missing(errno)) return -1;
    }
    return -1;
}

int gen_vp_open(const char *path, int flags, int permissions) {
    if (!path) {
        errno = ENOENT;
        return -1;
    }
    if (!vp.active) return plat::open_file(path, flags, permissions);
    int intent = GEN_VP_INTENT_READ;
    if ((flags & O_RDWR) || (flags & O_APPEND))
        intent = GEN_VP_INTENT_UPDATE;
    else if (flags & O_WRONLY)
        intent = vp.slow ? GEN_VP_INTENT_UPDATE : GEN_VP_INTENT_WRITE;
    char *resolved = gen_vp_resolve(path, intent);
    int fd = plat::open_file(resolved, flags, permissions);
    int err = errno;
    gen_free_fn(resolved);
    errno = err;
    return fd;
}

int gen_vp_fopen_intent(const char *mode) {
    bool write = false, other = false;
    for (const char *m = mode ? mode : ""; *m; ++m) {
        switch (*m) {
        case 'r':
        case 'b':
        case 't':
        case 'n':
        case 'c': break;
        case 'w': write = true; break;
        default: other = true; break;
        }
    }
    if (other) return GEN_VP_INTENT_UPDATE;
    if (write) return vp.slow ? GEN_VP_INTENT_UPDATE : GEN_VP_INTENT_WRITE;
    return GEN_VP_INTENT_READ;
}

int gen_vp_found_node() { return vp.found_node; }

long gen_vp_tuning() { return vp.tuning; }

int gen_getviewpathnodes(char ***nodes, int *count) {
    gen_error("[gen_getviewpathnodes]: not implemented");
    if (nodes) *nodes = nullptr;
    if (count) *count = 0;
    return -1;
}
