// Host paths, temporary files and host queries.
//
// Paths may use '/' or '\' as separators on input; the paths built here are
// normalised and written with the host's native separator. The library
// answers where the program lives, where the user's home and
// application-data folders are, which directory is the current one and where
// temporary files go (each computed once and cached), and makes temporary
// file and directory names that do not collide with existing files. Only
// gen_getcwd ends the program (when no directory can be had at all); every
// other routine reports failure by its result. Strings marked "new" belong
// to the caller (gen_free_fn); cached strings belong to the library.
#pragma once

#include <cstddef>
#include <cstdint>

// The temporary-directory query used by every temporary-name routine.
using gen_tmpdir_fn_t = const char *(*)(const char *fallback);
extern gen_tmpdir_fn_t gen_tmpdir_fn;

// Classification. NULL and "" are none of these.
bool gen_is_absolute_path(const char *path);  // leading separator, "X:", "~", "~/..."
bool gen_is_rooted_path(const char *path);    // leading separator or '~', or "X:"
bool gen_is_bare_name(const char *path);      // no separator at all
bool gen_is_url(const char *path);            // scheme "://" rest

// Cleans "." and ".." components and repeated separators in place; with
// native, every separator becomes the host's and a drive letter upper case.
void gen_path_normalize(char *path, bool native);
// a and b joined with one separator and normalised (new; "." for nothing);
// b alone when it is absolute and does not begin with '~'.
char *gen_path_join(const char *a, const char *b);
// Like gen_path_join, but b alone whenever it is absolute (new).
char *gen_path_join_relative(const char *a, const char *b);
// The text before the last '/', '\' or ':' (new), keeping that character
// when it is ':', follows a ':' or starts the path; NULL without one.
char *gen_dirname(const char *path);
// The text after the last '/', '\' or ':' (a pointer into path).
const char *gen_path_tail(const char *path);
// The absolute, normalised form of a path (new); "~" stands for "HOME";
// URLs are returned unchanged.
char *gen_full_path(const char *path);
// The host's full path name of path (new), or a copy when it cannot be had.
char *gen_canonical_path(const char *path);

// Host queries (cached).
const char *gen_getcwd();
const char *gen_getprogdir();
const char *gen_gethome();
const char *gen_getappdata();
char *gen_getusername();  // new, or NULL
// The full path of a program (new), or NULL: a name with a directory part
// is taken as it is; a bare name is looked for in the program directory
// (with search_progdir) and then along "PATH". With canonical, the
// directory part is made canonical.
char *gen_find_program(const char *name, bool search_progdir, bool canonical);

// Temporary files. gen_tmpdir gives "TMP", "TEMP", the fallback or the
// host's default, the first that exists (cached when fallback is NULL).
const char *gen_tmpdir(const char *fallback);
// Room needed by a caller's buffer for a temporary name in dir with ext.
size_t gen_tmpname_size(const char *dir, const char *ext);
// Names of files that do not exist yet, sharing one stem: the first goes
// to out1 (new when out1 is NULL), the others to out2 and out3 when given
// (each buffer of at least gen_tmpname_size bytes). The first name, or NULL
// when no free stem was found.
char *gen_tmpname_in(const char *dir, char *out1, const char *ext1, char *out2 = nullptr, const char *ext2 = nullptr,
                     char *out3 = nullptr, const char *ext3 = nullptr);
char *gen_tmpname(const char *fallback, char *out, const char *ext);
// A temporary name in the directory of file (the current directory when it
// has none; the temporary directory when file is NULL); new.
char *gen_tmpname_beside(const char *file, const char *ext);
// Creates a fresh directory "lkXXXXaa" in the temporary directory (new
// path), or NULL.
char *gen_make_tmpdir(const char *fallback, int mode);

// Files.
bool gen_file_exists(const char *path);  // errno is left as it was
// -1 for NULL, "" or not found; 0 for a directory; 1 otherwise. The host's
// program suffix is added to a name without an extension.
int gen_program_exists(const char *path);
// Whether two paths name the same file (see the host's letter-case rule).
bool gen_same_file(const char *a, const char *b);
// 0 when made or already a directory; -1 when a non-directory has the name.
int gen_mkdir(const char *path, int mode);
// 0 when removed; -1 for a directory or when removal fails even after the
// owner was given read and write permission (which is then undone).
int gen_remove_file(const char *path);
// -1 when either is a directory or old is NULL or ""; a failed rename is
// tried once more after removing new.
int gen_rename(const char *oldpath, const char *newpath);
// Modification time in seconds; 0, or -1 when the file cannot be examined.
int gen_file_mtime(const char *path, int64_t *mtime);

// Forgets every cached value (current directory, home, program directory,
// application data, user name, temporary directory), so that the next query
// looks again, and sets the temporary-name counter back to 0.
void gen_hostpath_clear_caches();
