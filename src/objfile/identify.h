// File identification by leading bytes.
//
// identify_file (declared in objfile.h) fills the one static file_ident
// record; this header adds the archive-magic test it is built on and the
// names of the machine-type codes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "objfile.h"

// Answers of get_archive_kind.
enum : int {
    ARCHIVE_KIND_ALMOST = 0,   // begins like an archive magic, matches none
    ARCHIVE_KIND_NONE = 1,     // not an archive
    ARCHIVE_KIND_ARCH = 2,     // "!<arch>\n"
    ARCHIVE_KIND_AIX = 3,      // "<aiaff>\n"
    ARCHIVE_KIND_ELFA = 4,     // "!<elfa>\n"
    ARCHIVE_KIND_ARCH64 = 5,   // "!<arch64>\n"
    ARCHIVE_KIND_DAMAGED = 6,  // a known magic with "\r\n" for "\n"
};

// Object kinds of file_ident.
enum : uint32_t {
    OBJ_KIND_OTHER = 0,
    OBJ_KIND_RELOCATABLE = 1,
    OBJ_KIND_EXECUTABLE = 2,
    OBJ_KIND_SHARED = 3,
    OBJ_KIND_CORE = 4,
    OBJ_KIND_DATA = 5,
};

// Tests the archive magics at the handle's current position and leaves the
// handle there. A damaged (carriage-return) archive is reported as an error
// naming `name` ("<unknown>" when null). A null handle gives ARCHIVE_KIND_NONE.
int get_archive_kind(FILE *f, const char *name);

// The name of a machine-type code; "unknown machine type" for codes not in
// the list.
const char *machine_type_name(uint32_t code);
