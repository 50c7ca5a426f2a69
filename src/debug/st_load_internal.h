// Pieces shared by the loading files of the symbol-table library.
#pragma once

#include <cstdint>
#include <vector>

#include "st_internal.h"

namespace st {

// An event-log entry of the library (component "libst").
void note(const char *fmt, ...);
// Points every "Dlo Files" entry of a freshly read name file at it.
void link_entries(STDnm *dnm);
// Whether the name file sits in a slot of its symbol table.
bool is_attached(const STDnm *dnm);
// The path with the extension of its last component replaced (new).
char *with_extension(const char *path, const char *ext);
// Empties the temporary load slot that holds the debug object, if any.
void forget_temp(STDbg *dbg);
// Closes the cached .dla when no cached phase is open any more.
void close_dla_cache(STSymTab *symTab);

// ---- The name files of objects met directly in a .dla
//
// Every such object loads the name file beside its archive afresh, into an
// object of its own. A read that gave no message at all, of a file that did
// not change while it was read, is kept: once that object is released, its
// tables are kept with it and the next load of the same file (same path,
// device, inode, size and times, same flags; for a file changed less than
// `settle` seconds before, the same bytes too) takes the object back reset
// to the state the read left, instead of reading the file again. The
// per-object state (fields, and the run-time fields of every entry the
// library touched) starts anew on each load; a call that changes a kept
// object's tables makes it an ordinary object that is freed when released.

// A name file read with `config` for the archive at archivePath (its path
// with ".dnm"), detached and with its entries linked; null after the read
// reported why it failed.
STDnm *load_member_dnm(const char *archivePath, int32_t config);
// The first "Dlo Files" entry at `offset` (or with the magic string), or -1,
// in a name file just taken from the cache; false when dnm was not.
bool dnm_cache_find_offset(const STDnm *dnm, uint64_t offset, int32_t *index);
bool dnm_cache_find_magic(const STDnm *dnm, const char *magic, int32_t *index);
// Notes that the run-time fields of entry `index` of dnm are about to change.
void dnm_cache_touch(STDnm *dnm, int64_t index);
// The entries of a kept name file that the library touched, in ascending
// order without repeats; null for any other name file (all entries count).
const std::vector<int32_t> *dnm_cache_touched(STDnm *dnm);
// Before a change to the tables of dnm: it stops being kept.
void dnm_cache_disown(STDnm *dnm);
// On release: true when the cache took the object back (nothing is freed).
bool dnm_cache_take_back(STDnm *dnm);

// For tests: the settle time in seconds, negative for none (the previous
// one is returned), the number of loads served by the cache, and freeing
// every object it holds (held ones become ordinary objects).
int dnm_cache_set_settle(int seconds);
int64_t dnm_cache_hits();
void dnm_cache_clear();

}  // namespace st
