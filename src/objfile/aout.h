// a.out reader: the 32-byte exec header of OMAGIC, NMAGIC and ZMAGIC files
// (the SunOS dynamic, the x86 OMAGIC and the generic layout), the file
// offsets of each part, the nlist symbol table and its string table.
//
// The byte order comes from the identification and is set on the ELF
// reader's primitives, through which the header is read. Every read honours
// the file offset of the header (`base`), so archive members are read in
// place. Counts and sizes from the file are checked against the bytes the
// file holds before anything is allocated; a table that runs past the end is
// the ELF reader's short-read error ("read failed, unexpected EOF").
//
//   bsd_file b;
//   if (Bsd_Open(f, &b, name, archive_name, -1)) {
//       Bsd_ReadSymbols(f, &b);
//       Bsd_SortSymbols(&b);
//       ... b.symbols[0 .. b.nsyms), names at b.strings + n_strx ...
//       Bsd_Close(&b);
//   }
#pragma once

#include <cstdint>
#include <cstdio>

// Magic numbers (the low half of the first header word).
inline constexpr uint16_t OMAGIC = 0407;  // impure: text and data contiguous
inline constexpr uint16_t NMAGIC = 0410;  // pure: read-only text
inline constexpr uint16_t ZMAGIC = 0413;  // demand paged: the header lies inside the text

// Machine ids (the low byte of a_mid).
inline constexpr uint16_t M_OLDSUN2 = 0;
inline constexpr uint16_t M_68010 = 1;
inline constexpr uint16_t M_68020 = 2;
inline constexpr uint16_t M_SPARC = 3;
inline constexpr uint16_t M_386 = 100;
// Flag bits of a_mid above the machine id.
inline constexpr uint16_t EX_DYNAMIC = 0x8000;

// Symbol types (n_type).
inline constexpr uint8_t N_UNDF = 0x0;
inline constexpr uint8_t N_EXT = 0x1;
inline constexpr uint8_t N_ABS = 0x2;
inline constexpr uint8_t N_TEXT = 0x4;
inline constexpr uint8_t N_DATA = 0x6;
inline constexpr uint8_t N_BSS = 0x8;
inline constexpr uint8_t N_FN = 0x1f;
inline constexpr uint8_t N_TYPE = 0x1e;
inline constexpr uint8_t N_STAB = 0xe0;

// The exec header on disk: eight 32-bit words in the file's byte order,
// a_mid << 16 | a_magic, a_text, a_data, a_bss, a_syms, a_entry, a_trsize,
// a_drsize. Behind it (ZMAGIC: from offset 0, the header counting as text)
// lie text, data, text and data relocations, the symbols (a_syms bytes) and
// the string table, whose first word is its own size.
//
// Layouts: the SunOS dynamic one (M_SPARC with EX_DYNAMIC, ZMAGIC) and the
// x86 OMAGIC one (M_OLDSUN2 or M_386) page at 8192 bytes; every other file is
// generic, pages at 0x20000 and, as ZMAGIC, also places its relocations
// behind the page-aligned data.
inline constexpr uint32_t AOUT_EXEC_SIZE = 32;
inline constexpr uint32_t AOUT_NLIST_SIZE = 12;  // n_strx, n_type, n_other, n_desc, n_value
// Page sizes of the layouts.
inline constexpr uint32_t AOUT_SUN_PAGE_SIZE = 8192;
inline constexpr uint32_t AOUT_GENERIC_PAGE_SIZE = 0x20000;

// One symbol in host order; on disk the same fields in the file's order.
struct nlist {
    uint32_t n_strx;  // offset of the name in the string table (its size word included)
    uint8_t n_type;
    uint8_t n_other;
    uint16_t n_desc;
    uint32_t n_value;
};
static_assert(sizeof(nlist) == 12);

// One opened a.out file.
struct bsd_file {
    uint16_t a_mid;    // machine id in the low byte, flags (EX_DYNAMIC) above
    uint16_t a_magic;  // OMAGIC, NMAGIC or ZMAGIC
    uint32_t a_text;
    uint32_t a_data;
    uint32_t a_bss;
    uint32_t a_syms;  // bytes of the symbol table
    uint32_t a_entry;
    uint32_t a_trsize;
    uint32_t a_drsize;
    uint8_t big_endian;
    uint8_t sun_dynamic;      // M_SPARC with EX_DYNAMIC, ZMAGIC
    uint8_t generic_variant;  // anything the other two do not cover
    uint8_t omagic_variant;   // M_OLDSUN2 or M_386 with OMAGIC
    int32_t nsyms;            // a_syms / 12
    int32_t strsize;          // the string table's size word
    uint32_t page_size;
    int32_t base;  // file offset of the exec header
    uint8_t symbols_loaded;
    char *name;
    char *archive_name;  // null for a plain file
    nlist *symbols;      // nsyms entries
    char *strings;       // strsize bytes, the size word included
    void *owned[4];      // further owned blocks, released by Bsd_Close
    // Offsets relative to the header.
    uint32_t text_offset;
    uint32_t data_offset;
    uint32_t trel_offset;
    uint32_t drel_offset;
    uint32_t sym_offset;
    uint32_t str_offset;
    // The same plus base.
    uint32_t abs_text_offset;
    uint32_t abs_data_offset;
    uint32_t abs_trel_offset;
    uint32_t abs_drel_offset;
    uint32_t abs_sym_offset;
    uint32_t abs_str_offset;
};

// Opens the a.out file whose header lies at `offset` of `f` (-1: at the
// current position; otherwise after a checked seek) into `out`, or into a
// new allocation (the caller frees it after Bsd_Close). Null when the file
// cannot be identified. The position is left behind the header.
bsd_file *Bsd_Open(FILE *f, bsd_file *out, const char *name, const char *archive_name, int64_t offset);

// Derives nsyms, the layout and the offsets from the header fields.
// A magic other than OMAGIC, NMAGIC, ZMAGIC: fatal "[Bsd_Init] bad magic".
void Bsd_Init(bsd_file *b);

// Loads the symbol and string tables on the first call; returns nsyms. A
// table that cannot be read is reported by the ELF reader (fatal unless a
// status pointer is installed); nsyms is then 0.
int32_t Bsd_ReadSymbols(FILE *f, bsd_file *b);

// Reads `count` nlist entries at `offset` (-1: the current position) in the
// reader's byte order into `out` or a new allocation. Null on failure, and
// for a count of 0 with no `out`.
nlist *Bsd_ReadNlist(FILE *f, nlist *out, int32_t count, int64_t offset);

// Orders the symbols by n_value, ascending; equal values in no set order.
void Bsd_SortSymbols(bsd_file *b);

// Frees every owned block and clears the record.
void Bsd_Close(bsd_file *b);

// Checked narrowing: the value cut to 32 bits ("Bsd_Int64ToLong: value
// truncated" as an error when that changes it). The other two take 32-bit
// values and never lose anything.
int32_t Bsd_Int64ToLong(int64_t value);
int32_t Bsd_LongToInt32(int32_t value);
uint32_t Bsd_LongToUInt32(int32_t value);
