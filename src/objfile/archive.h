// Archive member headers.
//
// Reads the member headers of the four archive layouts: the common
// "!<arch>\n" archive with its long-name tables ("//", "ARFILENAMES/",
// "<filenames>"), the "!<arch64>\n" archive with wider fields, the
// "!<elfa>\n" archive whose headers carry names of any length, and the AIX
// big archive "<aiaff>\n", a chain of members linked by file offsets.
// The walker (walker.cpp) sets archive_is_elfa and archive_is_arch64 before
// it reads a common, elfa or 64-bit archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Common archive.
#define ARMAG "!<arch>\n"
#define ARMAG64 "!<arch64>\n"
#define ARMAG_ELFA "!<elfa>\n"
#define ARFMAG "`\n"
constexpr size_t SARMAG = 8;
constexpr size_t SARMAG64 = 10;
constexpr size_t AR_NAME_SIZE = 16;
constexpr size_t AR_HDR_SIZE = 60;
constexpr size_t AR_HDR64_SIZE = 78;
// An elfa name field grows in steps of 4 bytes up to this length.
constexpr size_t AR_ELFA_NAME_STEP = 4;
constexpr size_t AR_ELFA_NAME_MAX = 512;

// AIX big archive.
#define AIAFF_MAGIC "<aiaff>\n"
constexpr size_t AIAFF_FL_HSZ = 68;      // fixed header
constexpr size_t AIAFF_AR_HSZ = 88;      // member header before the name
constexpr size_t AIAFF_AR_HBUF = 90;     // member header plus the first two name bytes
constexpr size_t AIAFF_FL_MEMOFF = 8;    // fixed header: member-table offset
constexpr size_t AIAFF_FL_GSTOFF = 20;   //   global-symbol-table offset
constexpr size_t AIAFF_FL_FSTMOFF = 32;  //   first-member offset
constexpr size_t AIAFF_FL_LSTMOFF = 44;  //   last-member offset
constexpr size_t AIAFF_FL_FREEOFF = 56;  //   free-list offset
constexpr size_t AIAFF_AR_SIZE = 0;      // member header: size
constexpr size_t AIAFF_AR_NXTMEM = 12;   //   next-member offset
constexpr size_t AIAFF_AR_PRVMEM = 24;   //   previous-member offset
constexpr size_t AIAFF_AR_DATE = 36;
constexpr size_t AIAFF_AR_UID = 48;
constexpr size_t AIAFF_AR_GID = 60;
constexpr size_t AIAFF_AR_MODE = 72;
constexpr size_t AIAFF_AR_NAMLEN = 84;   //   4 digits, then the name
constexpr size_t AIAFF_OFFSET_WIDTH = 12;

// One member header, normalised. A single static record overwritten by every
// read_archive_member call; `name` stays valid until the next call.
struct archive_member {
    char *name;
    int64_t date;
    int32_t uid;
    int32_t gid;
    uint32_t mode;
    int64_t size;
    uint8_t is_symbol_table;
    uint8_t has_long_header_name;  // elfa name field longer than 16 bytes
};

// Reads headers from the current position until one ordinary member or
// symbol table is found, and leaves `f` at its first data byte. Long-name
// tables are read and kept. Null at the end of the archive. A damaged header
// ends the program with status 1.
archive_member *read_archive_member(FILE *f, const char *archive_name);

// `count` items of `size` bytes into `buf`: `buf` when all were read, null at
// the end of the file; any other read error ends the program with status 1.
void *read_archive_bytes(void *buf, size_t size, size_t count, FILE *f, const char *archive_name);

// The 68-byte fixed header of an AIX big archive; false (and a cleared
// buffer) when it cannot be read.
bool read_aix_fixed_header(FILE *f, char (&fixed)[AIAFF_FL_HSZ]);

// AIX member iteration: each call leaves `f` at a member's data, fills
// `member` with its header and returns its name, allocated for the caller
// (free with gen_free_fn). Null when no member is left.
char *first_aix_member(FILE *f, const char (&fixed)[AIAFF_FL_HSZ], char (&member)[AIAFF_AR_HBUF]);
char *next_aix_member(FILE *f, const char (&fixed)[AIAFF_FL_HSZ], char (&member)[AIAFF_AR_HBUF]);
