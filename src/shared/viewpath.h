// View paths: an ordered list of directory trees ("nodes") that together
// stand for one tree. Node 0 is the tree the user works in; later nodes hold
// the files node 0 does not have. While the mode is active, a name that does
// not exist under node 0 is looked up under nodes 1, 2, ... by its path
// relative to node 0, and a file opened for update that exists only in a
// lower node is first copied into node 0.
//
// The mode is switched by gen_viewpathing (indgeninit.h) from the variables
// "NVPATH" or "NVSRPATH" (remap mode: the nodes pair a root with its
// replacement), "LKS_VP_DEBUG", "LKS_VP_OFF", "LKS_VP_SLOW" and
// "LKS_VP_XSW". While it is inactive every routine here goes straight to the
// operating system. A path "^" or "^/rest" names node 0 itself (and rest).
// Nothing here ends the program except an internal inconsistency of the path
// canonicaliser; strings returned are the caller's (gen_free_fn).
#pragma once

#include <sys/stat.h>

// Access modes of gen_vp_access: the C library's access bits.
enum { GEN_VP_EXISTS = 0, GEN_VP_EXECUTE = 1, GEN_VP_WRITE = 2, GEN_VP_READ = 4 };

// Intents of gen_vp_resolve.
enum { GEN_VP_INTENT_READ = 0, GEN_VP_INTENT_UPDATE = 1, GEN_VP_INTENT_WRITE = 2 };

// The path to use for an operation with the given intent: read looks the
// path up in the lower nodes, update copies a lower file into node 0 first,
// write uses the path as it stands.
char *gen_vp_resolve(const char *path, int intent);
// Access test, file status and low-level open through the view; the results
// and errno are those of the C library's access, stat and open.
int gen_vp_access(const char *path, int mode);
int gen_vp_stat(const char *path, struct stat *buffer);
int gen_vp_open(const char *path, int flags, int permissions);
// The path relative to node 0 ("." for node 0 itself), or NULL when the path
// is not inside the view.
char *gen_vp_relative(const char *path);
// Not available: reports so and gives -1.
int gen_getviewpathnodes(char ***nodes, int *count);

// The intent of a gen_fopen mode string under the current mode.
int gen_vp_fopen_intent(const char *mode);
// Index of the node in which the last gen_vp_stat found its file, -1 when it
// found none.
int gen_vp_found_node();
// The tuning value read from "LKS_VP_XSW" (0 when it was never set).
long gen_vp_tuning();
// When set before activation, node 0 as written is never used as a second
// spelling of node 0 (the alternate root).
extern bool gen_vp_ignore_alternate_root;
