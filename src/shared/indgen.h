// Checked memory, strings and file input/output of the host support library.
//
// All allocation goes through the three hook slots; a failed allocation ends
// the program with "Out of memory" and status 3, so callers never test for
// null. Files are opened, sought, written and closed through the checked
// wrappers, which name the file in their messages; open and seek failures end
// the program with status 1. Strings returned by allocating routines belong to
// the caller and are given back through gen_free_fn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

using gen_calloc_fn_t = void *(*)(size_t count, size_t size);
using gen_realloc_fn_t = void *(*)(void *p, int64_t size);
using gen_free_fn_t = void (*)(void *p);

extern gen_calloc_fn_t gen_calloc_fn;
extern gen_realloc_fn_t gen_realloc_fn;
extern gen_free_fn_t gen_free_fn;

// Owner of memory that came through the allocation slots.
struct gen_free_deleter {
    void operator()(void *p) const { gen_free_fn(p); }
};
template <typename T>
using gen_owned = std::unique_ptr<T, gen_free_deleter>;

// Allocation.
void *gen_calloc(size_t count, size_t size);
void *gen_realloc(void *p, int64_t size);
void *gen_realloc_array(void *p, int64_t count, int64_t size);
void gen_free(void *p);
void gen_free_and_clear(void **pp);
void *gen_memdup(const void *p, size_t n);
[[noreturn]] void gen_out_of_memory(uint64_t requested);
void *gen_scratch_buffer(int slots, size_t size);
void *gen_scratch_buffer_zeroed(int slots, size_t size);
char *gen_scratch_strdup(int slots, const char *s);

// Strings. NULL arguments are never dereferenced.
char *gen_strdup(const char *s);
char *gen_strndup(const char *s, int64_t n);
char *gen_strdup_lower(const char *s);
char *gen_strcat2(const char *a, const char *b);
char *gen_strcat2_free(char *a, const char *b);
char *gen_strcat3(const char *a, const char *b, const char *c);
char *gen_strcat4(const char *a, const char *b, const char *c, const char *d);
void gen_strreplace(char **pp, const char *s);
bool gen_strequal(const char *a, const char *b);
bool gen_strequal_nocase(const char *a, const char *b);
bool gen_strnequal(const char *a, const char *b, size_t n);
bool gen_strnequal_nocase(const char *a, const char *b, size_t n);
int gen_strcmp(const char *a, const char *b);
int gen_strcmp_nocase(const char *a, const char *b);
int gen_strncmp(const char *a, const char *b, int64_t n);
int gen_strncmp_nocase(const char *a, const char *b, int64_t n);
bool gen_strprefix(const char *s, const char *p);
bool gen_strprefix_nocase(const char *s, const char *p);
bool gen_strnprefix(const char *s, const char *p, size_t n);
bool gen_strnprefix_nocase(const char *s, const char *p, size_t n);
bool gen_strsuffix(const char *s, const char *x);
const char *gen_strstr(const char *s, const char *t);
const char *gen_basename(const char *path);
uint32_t gen_strtoul(const char *s, char **end, int base);
int64_t gen_strtoll(const char *s, char **end, int base);
uint64_t gen_strtoull(const char *s, char **end, int base);

// String vectors: an array of owned strings and a separate count.
void gen_strvec_init(char ***vec, int32_t *count);
void gen_strvec_free(char ***vec, int32_t *count);
void gen_strvec_append(char ***vec, int32_t *count, const char *s);
void gen_strvec_append_n(char ***vec, int32_t *count, const char *s, int64_t n);
void gen_strvec_copy(char ***vec, int32_t *count, char *const *src, int32_t src_count, bool null_terminate);
int32_t gen_strvec_find(char *const *vec, int32_t count, const char *s, bool nocase);

// Environment: NULL (or dflt) when the variable is unset or empty.
const char *gen_getenv(const char *name, const char *dflt);

// Files.
FILE *gen_fopen(const char *path, const char *mode);
FILE *gen_freopen(const char *path, const char *mode, FILE *stream);
FILE *gen_fopen_or_die(const char *path, const char *what, const char *mode);
int gen_is_directory(const char *path);
int gen_safe_fwrite(const char *name, const void *buf, int size, int count, FILE *fp);
int64_t gen_safe_fwrite64(const char *name, const void *buf, int64_t size, int64_t count, FILE *fp);
int gen_safe_fread(const char *name, void *buf, int size, int count, FILE *fp);
int64_t gen_safe_fread64(const char *name, void *buf, int64_t size, int64_t count, FILE *fp);
int gen_safe_fseek(const char *name, FILE *fp, int offset, int whence);
int gen_safe_fseek64(const char *name, FILE *fp, int64_t offset, int whence);
int gen_fseek64(FILE *fp, int64_t offset, int whence);
int64_t gen_ftell64(FILE *fp);
int gen_safe_fclose(const char *name, const char *what, FILE *fp);
int64_t gen_read(int fd, void *buf, int64_t count);
int64_t gen_write(int fd, const void *buf, int64_t count);
// Size of a file in bytes, or -1 when it cannot be had.
int64_t gen_file_size(const char *path);
int64_t gen_stream_size(FILE *fp);

// Plain reads without messages: the count read, or true when all n bytes
// were read.
size_t gen_read_upto(FILE *fp, void *buf, size_t n);
bool gen_read_exact(FILE *fp, void *buf, size_t n);
bool gen_read_at(FILE *fp, int64_t offset, void *buf, size_t n);

// Argument files ("@file" operands); the expanded vector is kept until the
// program ends.
char **gen_expand_argfiles(int *argc, char **argv);
void gen_set_atfile_syntax(int blanks_separate, int comment_char, int quote_char, int trim_blanks);
