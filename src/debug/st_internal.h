// Pieces shared by the name-file and debug-object readers and writers: the
// table directory, raw byte tables (plain or packed) and table growth.
#pragma once

#include <cstdint>

#include "gfile.h"
#include "st_api.h"

namespace st {

// Reads `numTables` directory entries (offsets of 8 bytes when `wide`, else
// 4, then max, second value and two flag bytes per table); the first
// `keep` are stored in `tables`, the others are read and dropped.
void read_directory(GReader &r, int numTables, bool wide, STTable *tables, int keep);

// Writes the directory with zero offsets; returns the position of the
// first offset, to be patched by patch_offset.
int64_t write_directory(GFile *gf, int numTables, bool wide, const STTable *tables, const int32_t *maxima, int keep);
void patch_offset(GFile *gf, int64_t dirPos, bool wide, int index, int64_t offset);

// Checks that a table of `entries` items of at least `minBytes` each (plus
// `extra` bytes) can lie at `offset`; reports and gives false otherwise.
bool table_fits(GFile *gf, const char *table, int64_t offset, int64_t entries, int64_t minBytes, int64_t extra);

// Reads a raw byte table of t->dir.max bytes at the reader's position into
// t (allocated by the caller), unpacking it when `packed`; when `mapped`,
// the table points into the file image instead. The table must end with a
// zero byte and be followed by the end marker.
bool read_raw_table(GReader &r, STTable *t, const char *table, bool packed, bool mapped);
void write_raw_table(GFile *gf, const STTable *t, bool packed);

// Writes the bytes of a table the library does not interpret.
void write_opaque(GFile *gf, const STTable *t);

// Grows (newMax < 0: by -newMax entries) or sets a table's maximum and
// reallocates it.
int table_double(const char *op, STTable *t, const char *table, int32_t newMax, int32_t entrySize);

// Appends a string (with its zero byte) to a raw string table.
uint32_t add_string(const char *op, STTable *t, const char *table, const char *s);

// Frees a table's storage unless it lives in a file image.
void free_table(STTable *t);

// Makes a loaded file's address mode the process's (flag
// setGAdrModeOnBuildReadWrite).
void adopt_adr_mode(uint32_t mode);

// Sets or replaces an opaque table.
void set_opaque(STTable *t, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size);

}  // namespace st
