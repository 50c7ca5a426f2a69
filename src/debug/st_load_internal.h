// Pieces shared by the loading files of the symbol-table library.
#pragma once

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

}  // namespace st
