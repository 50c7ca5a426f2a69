// Checked allocation, string helpers and checked file input/output.
#include "indgen.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "genout.h"
#include "indgeninit.h"
#include "platform.h"
#include "viewpath.h"

gen_calloc_fn_t gen_calloc_fn = gen_calloc;
gen_realloc_fn_t gen_realloc_fn = gen_realloc;
gen_free_fn_t gen_free_fn = gen_free;

// ---------------------------------------------------------------- memory

void *gen_calloc(size_t count, size_t size) {
    if (count == 0) return nullptr;
    bool fits = count + size <= 0x1FFFFFFFFull || (size / 2) * (count / 2) < 0x3FFFFFFFFFFFFFFFull ||
                (UINT64_MAX / size > count && UINT64_MAX / count > size);
    if (!fits) gen_fatal(3, "Attempt to allocate %#zx * %#zx bytes\n", count, size);
    void *p = std::calloc(count, size);
    if (!p) gen_out_of_memory(uint64_t(count) * uint64_t(size));
    return p;
}

void *gen_realloc(void *p, int64_t size) {
    if (size < 1) {
        gen_free_fn(p);
        return nullptr;
    }
    if (!p) return gen_calloc_fn(1, size_t(size));
    void *q = std::realloc(p, size_t(size));
    if (!q) gen_out_of_memory(uint64_t(size));
    return q;
}

void *gen_realloc_array(void *p, int64_t count, int64_t size) { return gen_realloc_fn(p, count * size); }

void gen_free(void *p) {
    if (p) std::free(p);
}

void gen_free_and_clear(void **pp) {
    if (!pp) return;
    gen_free_fn(*pp);
    *pp = nullptr;
}

void *gen_memdup(const void *p, size_t n) {
    if (!p) return nullptr;
    void *q = gen_calloc_fn(n ? n : 1, 1);
    if (n) std::memcpy(q, p, n);
    return q;
}

namespace {

void write_stderr_retrying(const char *s, size_t n) {
    for (int tries = 0; tries < 100; ++tries) {
        errno = 0;
        if (gen_write(2, s, int64_t(n)) >= 0 || errno != EINTR) return;
    }
}

}  // namespace

void gen_out_of_memory(uint64_t requested) {
    const char *progname = gen_getprogname();
    if (progname) {
        write_stderr_retrying(progname, std::strlen(progname));
        write_stderr_retrying(": ", 2);
    }
    const char *head = "fatal: Out of memory (0x";
    write_stderr_retrying(head, std::strlen(head));
    char hex[16];
    for (int i = 15; i >= 0; --i) {
        hex[i] = "0123456789ABCDEF"[requested & 0xF];
        requested >>= 4;
    }
    write_stderr_retrying(hex, sizeof hex);
    const char *tail = " bytes requested)\n";
    write_stderr_retrying(tail, std::strlen(tail));
    gen_exit_fn(3);
    plat::exit_now(3);
}

namespace {

struct ScratchEntry {
    int64_t size;
    void *buffer;
};
ScratchEntry *scratch_ring;
int32_t scratch_capacity;
int32_t scratch_index = -1;

}  // namespace

void *gen_scratch_buffer(int slots, size_t size) {
    if (size == 0) return nullptr;
    if (slots < 1) slots = 1;
    if (scratch_capacity < slots) {
        scratch_ring = static_cast<ScratchEntry *>(gen_realloc_fn(scratch_ring, int64_t(slots) * int64_t(sizeof(ScratchEntry))));
        for (int32_t i = scratch_capacity; i < slots; ++i) scratch_ring[i] = ScratchEntry{0, nullptr};
        scratch_capacity = slots;
    }
    if (++scratch_index >= scratch_capacity) scratch_index = 0;
    ScratchEntry &e = scratch_ring[scratch_index];
    if (e.size < int64_t(size)) {
        e.buffer = gen_realloc_fn(e.buffer, int64_t(size));
        e.size = int64_t(size);
    }
    return e.buffer;
}

void *gen_scratch_buffer_zeroed(int slots, size_t size) {
    void *p = gen_scratch_buffer(slots, size);
    if (p) std::memset(p, 0, size);
    return p;
}

char *gen_scratch_strdup(int slots, const char *s) {
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(gen_scratch_buffer(slots, n));
    std::memcpy(p, s, n);
    return p;
}

// ---------------------------------------------------------------- strings

namespace {

char *dup_n(const char *s, size_t n) {
    char *p = static_cast<char *>(gen_calloc_fn(n + 1, 1));
    std::memcpy(p, s, n);
    return p;
}

int lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int compare_n(const char *a, const char *b, size_t n, bool nocase) {
    a = a ? a : "";
    b = b ? b : "";
    for (size_t i = 0; i < n; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (nocase) {
            ca = lower(ca);
            cb = lower(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
    return 0;
}

}  // namespace

char *gen_strdup(const char *s) { return s ? dup_n(s, std::strlen(s)) : nullptr; }

char *gen_strndup(const char *s, int64_t n) {
    if (!s || n < 0) return nullptr;
    return dup_n(s, strnlen(s, size_t(n)));
}

char *gen_strdup_lower(const char *s) {
    char *p = gen_strdup(s);
    if (p)
        for (char *q = p; *q; ++q) *q = static_cast<char>(lower(static_cast<unsigned char>(*q)));
    return p;
}

char *gen_strcat2(const char *a, const char *b) {
    if (!a || !*a) return gen_strdup(b);
    if (!b || !*b) return gen_strdup(a);
    size_t na = std::strlen(a), nb = std::strlen(b);
    char *p = static_cast<char *>(gen_calloc_fn(na + nb + 1, 1));
    std::memcpy(p, a, na);
    std::memcpy(p + na, b, nb);
    return p;
}

char *gen_strcat2_free(char *a, const char *b) {
    char *p = gen_strcat2(a, b);
    gen_free_fn(a);
    return p;
}

char *gen_strcat3(const char *a, const char *b, const char *c) {
    if (!a) return gen_strcat2(b, c);
    if (!b) return gen_strcat2(a, c);
    if (!c) return gen_strcat2(a, b);
    return gen_strcat4(a, b, c, "");
}

char *gen_strcat4(const char *a, const char *b, const char *c, const char *d) {
    const char *parts[4] = {a ? a : "", b ? b : "", c ? c : "", d ? d : ""};
    size_t n[4], total = 0;
    for (int i = 0; i < 4; ++i) total += n[i] = std::strlen(parts[i]);
    char *p = static_cast<char *>(gen_calloc_fn(total + 1, 1));
    char *q = p;
    for (int i = 0; i < 4; ++i) {
        std::memcpy(q, parts[i], n[i]);
        q += n[i];
    }
    return p;
}

void gen_strreplace(char **pp, const char *s) {
    if (!pp || *pp == s) return;
    char *old = *pp;
    *pp = gen_strdup(s);
    gen_free_fn(old);
}

bool gen_strequal(const char *a, const char *b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

bool gen_strequal_nocase(const char *a, const char *b) {
    if (!a || !b) return a == b;
    return compare_n(a, b, SIZE_MAX, true) == 0;
}

bool gen_strnequal(const char *a, const char *b, size_t n) {
    if (n == 0) return true;
    if (!a || !b) return a == b;
    return compare_n(a, b, n, false) == 0;
}

bool gen_strnequal_nocase(const char *a, const char *b, size_t n) {
    if (n == 0) return true;
    if (!a || !b) return a == b;
    return compare_n(a, b, n, true) == 0;
}

int gen_strcmp(const char *a, const char *b) { return std::strcmp(a ? a : "", b ? b : ""); }
int gen_strcmp_nocase(const char *a, const char *b) { return compare_n(a, b, SIZE_MAX, true); }
int gen_strncmp(const char *a, const char *b, int64_t n) { return n < 1 ? 0 : sign(compare_n(a, b, size_t(n), false)); }
int gen_strncmp_nocase(const char *a, const char *b, int64_t n) { return n < 1 ? 0 : compare_n(a, b, size_t(n), true); }

bool gen_strprefix(const char *s, const char *p) {
    if (!p) return true;
    if (!s) return false;
    return std::strncmp(s, p, std::strlen(p)) == 0;
}

bool gen_strprefix_nocase(const char *s, const char *p) {
    if (!p) return true;
    if (!s) return false;
    return compare_n(s, p, std::strlen(p), true) == 0;
}

bool gen_strnprefix(const char *s, const char *p, size_t n) {
    if (!p) return true;
    if (!s) return false;
    return compare_n(s, p, strnlen(p, n), false) == 0;
}

bool gen_strnprefix_nocase(const char *s, const char *p, size_t n) {
    if (!p) return true;
    if (!s) return false;
    return compare_n(s, p, strnlen(p, n), true) == 0;
}

bool gen_strsuffix(const char *s, const char *x) {
    if (!x) return true;
    if (!s) return false;
    size_t ns = std::strlen(s), nx = std::strlen(x);
    return nx <= ns && std::memcmp(s + ns - nx, x, nx) == 0;
}

const char *gen_strstr(const char *s, const char *t) {
    if (!s || !t) return nullptr;
    return std::strstr(s, t);
}

const char *gen_basename(const char *path) {
    if (!path) return nullptr;
    const char *slash = std::strrchr(path, '/');
    const char *back = std::strrchr(path, '\\');
    const char *sep = slash > back ? slash : back;
    if (sep) return sep + 1;
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':') return path + 2;
    return path;
}

uint32_t gen_strtoul(const char *s, char **end, int base) {
    if (!s) {
        if (end) *end = nullptr;
        return 0;
    }
    return static_cast<uint32_t>(std::strtoul(s, end, base));
}

int64_t gen_strtoll(const char *s, char **end, int base) {
    if (!s) gen_fatal(1, "gen_strtoll(): str is NULL");
    return std::strtoll(s, end, base);
}

uint64_t gen_strtoull(const char *s, char **end, int base) {
    if (!s) gen_fatal(1, "gen_strtoull(): str is NULL");
    return std::strtoull(s, end, base);
}

// ---------------------------------------------------------------- string vectors

void gen_strvec_init(char ***vec, int32_t *count) {
    *vec = nullptr;
    *count = 0;
}

void gen_strvec_free(char ***vec, int32_t *count) {
    if (*vec)
        for (int32_t i = 0; i < *count; ++i) gen_free_fn((*vec)[i]);
    gen_free_fn(*vec);
    gen_strvec_init(vec, count);
}

void gen_strvec_append_n(char ***vec, int32_t *count, const char *s, int64_t n) {
    *vec = static_cast<char **>(gen_realloc_fn(*vec, (int64_t(*count) + 2) * int64_t(sizeof(char *))));
    (*vec)[*count] = n < 0 ? gen_strdup(s) : gen_strndup(s, n);
    ++*count;
    (*vec)[*count] = nullptr;
}

void gen_strvec_append(char ***vec, int32_t *count, const char *s) { gen_strvec_append_n(vec, count, s, -1); }

void gen_strvec_copy(char ***vec, int32_t *count, char *const *src, int32_t src_count, bool null_terminate) {
    gen_strvec_init(vec, count);
    for (int32_t i = 0; src && (src_count < 0 ? src[i] != nullptr : i < src_count); ++i)
        gen_strvec_append(vec, count, src[i]);
    if (null_terminate && !*vec) *vec = static_cast<char **>(gen_calloc_fn(1, sizeof(char *)));
}

int32_t gen_strvec_find(char *const *vec, int32_t count, const char *s, bool nocase) {
    for (int32_t i = 0; vec && i < count; ++i)
        if (nocase ? gen_strequal_nocase(vec[i], s) : gen_strequal(vec[i], s)) return i;
    return -1;
}

const char *gen_getenv(const char *name, const char *dflt) {
    const char *v = name ? std::getenv(name) : nullptr;
    return v && *v ? v : dflt;
}

// ---------------------------------------------------------------- files

FILE *gen_fopen(const char *path, const char *mode) {
    if (!path || !mode) return nullptr;
    char *resolved = gen_viewpath_active() ? gen_vp_resolve(path, gen_vp_fopen_intent(mode)) : nullptr;
    const char *use = resolved ? resolved : path;
    FILE *fp = nullptr;
    for (int tries = 0; tries <= 10; ++tries) {
        errno = 0;
        fp = std::fopen(use, mode);
        if (fp || errno != EINTR) break;
    }
    int err = errno;
    gen_free_fn(resolved);
    if (fp) plat::mark_not_inheritable(fp);
    errno = err;
    return fp;
}

FILE *gen_freopen(const char *path, const char *mode, FILE *stream) {
    if (!path || !mode || !stream) return nullptr;
    char *resolved = gen_viewpath_active() ? gen_vp_resolve(path, gen_vp_fopen_intent(mode)) : nullptr;
    const char *use = resolved ? resolved : path;
    FILE *fp = nullptr;
    for (int tries = 0; tries <= 10; ++tries) {
        errno = 0;
        fp = std::freopen(use, mode, stream);
        if (fp || errno != EINTR) break;
    }
    int err = errno;
    gen_free_fn(resolved);
    errno = err;
    return fp;
}

int gen_is_directory(const char *path) {
    if (!path || !*path) return -1;
    auto sep = [](char c) { return c == '/' || c == '\\'; };
    // A network share root: two separators, server, separator, share, and at
    // most one separator behind it.
    auto is_share_root = [&sep](const std::string &p) {
        if (p.size() < 5 || !sep(p[0]) || !sep(p[1]) || sep(p[2])) return false;
        size_t i = 2;
        while (i < p.size() && !sep(p[i])) ++i;
        if (i + 1 >= p.size() || sep(p[i + 1])) return false;
        ++i;
        while (i < p.size() && !sep(p[i])) ++i;
        return i == p.size() || i + 1 == p.size();
    };
    std::string p(path);
    if (p.size() > 1) {
        bool root = ((p.size() == 2 || p.size() == 3) && p[1] == ':') || is_share_root(p);
        bool ends_sep = sep(p.back());
        if (root) {
            if (!ends_sep) p += plat::native_separator();
        } else if (ends_sep) {
            p.pop_back();
        }
    }
    bool view = gen_viewpath_active();
    int attr = view ? -1 : plat::file_attributes_directory(p.c_str());
    if (attr >= 0) return attr;
    struct stat st;
    int r = view ? gen_vp_stat(p.c_str(), &st) : plat::file_status(p.c_str(), &st);
    return r == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

FILE *gen_fopen_or_die(const char *path, const char *what, const char *mode) {
    const char *direction = "input";
    bool append = false;
    for (const char *m = mode ? mode : ""; *m; ++m) {
        if (*m == 'r') break;
        if (*m == 'w') {
            direction = "output";
            break;
        }
        if (*m == 'a') {
            direction = "output";
            append = true;
            break;
        }
    }
    FILE *fp = nullptr;
    if (gen_is_directory(path) == 1) {
        errno = EISDIR;
    } else {
        fp = gen_fopen(path, mode);
        if (fp && append) gen_fseek64(fp, 0, SEEK_END);
    }
    if (!fp) {
        if (what)
            gen_perror_exit(1, "Unable to open %s '%s' for %s", what, path, direction);
        else
            gen_perror_exit(1, "Unable to open %s for %s", path, direction);
    }
    return fp;
}

int gen_safe_fwrite(const char *name, const void *buf, int size, int count, FILE *fp) {
    return int(gen_safe_fwrite64(name, buf, size, count, fp));
}

int64_t gen_safe_fwrite64(const char *name, const void *buf, int64_t size, int64_t count, FILE *fp) {
    int64_t written = 0;
    if (size > 0 && count > 0) written = int64_t(std::fwrite(buf, size_t(size), size_t(count), fp));
    if (written < count) {
        if (name)
            gen_perror("Error writing to '%s'", name);
        else
            gen_perror("Error writing to file");
    }
    return written;
}

int gen_safe_fread(const char *name, void *buf, int size, int count, FILE *fp) {
    if (!buf) {
        gen_error("internal: null buffer passed to gen_safe_fread");
        return -1;
    }
    return int(gen_safe_fread64(name, buf, size, count, fp));
}

int64_t gen_safe_fread64(const char *name, void *buf, int64_t size, int64_t count, FILE *fp) {
    if (!buf) {
        gen_error("internal: null buffer passed to gen_safe_fread64");
        return -1;
    }
    int64_t got = 0;
    if (size > 0 && count > 0) got = int64_t(std::fread(buf, size_t(size), size_t(count), fp));
    if (got == 0 && size > 0 && count > 0) {
        if (name)
            gen_perror("Error reading from '%s'", name);
        else
            gen_perror("Error reading from file");
    }
    return got;
}

int gen_fseek64(FILE *fp, int64_t offset, int whence) { return plat::stream_seek64(fp, offset, whence); }

int64_t gen_ftell64(FILE *fp) { return plat::stream_tell64(fp); }

int gen_safe_fseek(const char *name, FILE *fp, int offset, int whence) {
    int r = gen_fseek64(fp, offset, whence);
    if (r < 0) {
        if (name)
            gen_perror_exit(1, "seek failed to %d in '%s'", offset, name);
        else
            gen_perror_exit(1, "seek failed to %d in file", offset);
    }
    return r;
}

int gen_safe_fseek64(const char *name, FILE *fp, int64_t offset, int whence) {
    int r = gen_fseek64(fp, offset, whence);
    if (r < 0) {
        if (name)
            gen_perror_exit(1, "seek failed to 0x%I64x in '%s'", offset, name);
        else
            gen_perror_exit(1, "seek failed to 0x%I64x in file", offset);
    }
    return r;
}

int gen_safe_fclose(const char *name, const char *what, FILE *fp) {
    char *label = what ? gen_strcat4(what, " '", name, "'") : nullptr;
    const char *shown = label ? label : (name ? name : "");
    int r;
    if (!fp) {
        gen_error("Attempt to close NULL file %s", shown);
        r = -1;
    } else {
        r = std::fclose(fp);
        if (r != 0) gen_perror("Error closing %s", shown);
    }
    gen_free_fn(label);
    return r;
}

int64_t gen_read(int fd, void *buf, int64_t count) {
    if (count < 0 || count > int64_t(UINT32_MAX)) gen_error("gen_read(): count exceeds unsigned 32-bit range");
    return plat::raw_read(fd, buf, uint32_t(count));
}

int64_t gen_write(int fd, const void *buf, int64_t count) {
    if (count < 0 || count > int64_t(UINT32_MAX)) gen_error("gen_write(): count exceeds unsigned 32-bit range");
    return plat::raw_write(fd, buf, uint32_t(count));
}

int64_t gen_stream_size(FILE *fp) {
    int64_t here = gen_ftell64(fp);
    if (here < 0) return -1;
    // A regular file answers without moving the stream (a seek would throw
    // away its read buffer); a position past that size means bytes still
    // waiting in the write buffer.
    int64_t known = plat::stream_file_size(fp);
    if (known >= 0) return known > here ? known : here;
    // A directory opened as a stream seeks to a made-up end: it has no size.
    if (plat::stream_is_directory(fp)) {
        errno = EISDIR;
        return -1;
    }
    if (gen_fseek64(fp, 0, SEEK_END) != 0) return -1;
    int64_t size = gen_ftell64(fp);
    gen_fseek64(fp, here, SEEK_SET);
    return size;
}

int64_t gen_file_size(const char *path) {
    if (!path) return -1;
    struct stat st;
    int r = gen_viewpath_active() ? gen_vp_stat(path, &st) : plat::file_status(path, &st);
    if (r != 0) return -1;
    if (S_ISREG(st.st_mode)) return int64_t(st.st_size);
    // Devices, pipes and the like: ask the stream.
    FILE *fp = gen_fopen(path, "rb");
    if (!fp) return -1;
    int64_t size = gen_stream_size(fp);
    std::fclose(fp);
    return size;
}

size_t gen_read_upto(FILE *fp, void *buf, size_t n) { return n == 0 ? 0 : std::fread(buf, 1, n, fp); }

bool gen_read_exact(FILE *fp, void *buf, size_t n) { return gen_read_upto(fp, buf, n) == n; }

bool gen_read_at(FILE *fp, int64_t offset, void *buf, size_t n) {
    return offset >= 0 && gen_fseek64(fp, offset, SEEK_SET) == 0 && gen_read_exact(fp, buf, n);
}
