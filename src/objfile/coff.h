// COFF reader: primitive reads in the file's byte order, section headers of
// the three layouts (common 40 bytes, M88000 with 32-bit counts, Texas
// Instruments 48 bytes), symbol-table entries, string-table names, and the
// step over the MZ stub of a PE image to its COFF file header.
//
// The reader works on the stream's current position and keeps its settings
// in process-wide variables that the COFF handler sets for every input before
// the first read. Every read reports failure by its result only (-1, 1 or
// null); nothing here prints. A read that meets the end of the file yields -1
// and a value of 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// File header magics (the first two bytes, or the machine field behind the
// "PE\0\0" signature of a PE image).
inline constexpr uint16_t I386MAGIC = 0x014c;
inline constexpr uint16_t AMD64MAGIC = 0x8664;
inline constexpr uint16_t U802TOCMAGIC = 0x01df;   // XCOFF, 32-bit
inline constexpr uint16_t MIPSEBMAGIC = 0x0160;    // MIPS, 24-byte symbols
inline constexpr uint16_t MC68MAGIC = 0x0150;      // MC68000, big endian
inline constexpr uint16_t TI_COFF2_MAGIC = 0x00c2;  // Texas Instruments COFF version 2
inline constexpr uint16_t DOS_MAGIC = 0x5a4d;       // "MZ"

// Sizes on disk.
inline constexpr uint32_t FILHSZ = 20;         // file header
inline constexpr uint32_t TI_FILHSZ = 22;      // with the 2-byte target field
inline constexpr uint32_t SCNHSZ = 40;         // common section header
inline constexpr uint32_t M88K_SCNHSZ = 44;    // M88000: 32-bit relocation and line counts
inline constexpr uint32_t TI_SCNHSZ = 48;      // Texas Instruments
inline constexpr uint32_t SYMESZ = 18;         // symbol or auxiliary entry
inline constexpr uint32_t M88K_SYMESZ = 20;    // two more bytes per entry
inline constexpr uint32_t MIPS_SYMESZ = 24;    // MIPS magics 0x160 and 0x1d0
inline constexpr uint32_t SYMNMLEN = 8;        // inline symbol or section name
inline constexpr uint32_t COFF_NAME_MAX = 1023;  // longest string-table name returned
inline constexpr uint64_t PE_OFFSET_FIELD = 60;  // of the PE header offset in the MZ stub

// File header flags (f_flags).
inline constexpr uint16_t F_RELFLG = 0x0001;        // relocations stripped
inline constexpr uint16_t F_EXEC = 0x0002;          // executable
inline constexpr uint16_t IMAGE_FILE_DLL = 0x2000;  // PE: dynamic library

// The signature of a PE image that precedes its COFF file header.
inline constexpr uint32_t PE_SIGNATURE_SIZE = 4;

// Section flags.
inline constexpr uint32_t STYP_TEXT = 0x0020;
inline constexpr uint32_t STYP_DATA = 0x0040;
inline constexpr uint32_t STYP_BSS = 0x0080;

// Special section numbers (n_scnum read as signed).
inline constexpr int16_t N_UNDEF = 0;
inline constexpr int16_t N_ABS = -1;
inline constexpr int16_t N_DEBUG = -2;

// Storage classes.
inline constexpr uint8_t C_NULL = 0;
inline constexpr uint8_t C_EXT = 2;
inline constexpr uint8_t C_STAT = 3;
inline constexpr uint8_t C_LABEL = 6;
inline constexpr uint8_t C_FCN = 101;
inline constexpr uint8_t C_FILE = 103;
inline constexpr uint8_t C_HIDEXT = 107;

// Types: the derived type sits in bits 4-5 of n_type.
inline constexpr uint16_t T_NULL = 0;
inline constexpr uint16_t N_TMASK = 0x30;
inline constexpr uint16_t DT_FCN = 2;
inline constexpr uint16_t N_BTSHFT = 4;
inline constexpr bool coff_is_function_type(uint16_t n_type) { return (n_type & N_TMASK) == DT_FCN << N_BTSHFT; }

// The file header in host order.
struct coff_file_header {
    uint16_t f_magic;
    uint16_t f_nscns;
    uint32_t f_timdat;
    uint32_t f_symptr;
    uint32_t f_nsyms;
    uint16_t f_opthdr;
    uint16_t f_flags;
    uint16_t f_target;  // Texas Instruments only, else 0
};

// One section header in host order.
struct coff_section_header {
    char s_name[8];       // or four zero bytes and the string-table offset in host order
    uint32_t s_name_end;  // 0: ends an 8-character name
    uint32_t s_paddr;
    uint32_t s_vaddr;
    uint32_t s_size;
    uint32_t s_scnptr;
    uint32_t s_relptr;
    uint32_t s_lnnoptr;
    uint32_t s_nreloc;
    uint32_t s_nlnno;
    uint32_t s_flags;
    uint32_t s_cleared;
    uint16_t s_reserved;  // Texas Instruments only, else 0
    uint16_t s_page;      // Texas Instruments only, else 0
};

// One symbol-table entry in host order.
struct coff_symbol {
    char n_name[8];       // or four zero bytes and the string-table offset in host order
    uint32_t n_name_end;  // 0: ends an 8-character name
    uint32_t n_value;
    uint16_t n_scnum;     // read as int16_t: N_UNDEF, N_ABS, N_DEBUG or a 1-based section
    uint16_t n_type;
    uint8_t n_sclass;
    uint8_t n_numaux;
};

// A name field of a section header or symbol: true when it refers to the
// string table, and the offset it then holds.
inline bool coff_name_is_long(const char (&name)[8]) { return name[0] == 0 && name[1] == 0 && name[2] == 0 && name[3] == 0; }
inline uint32_t coff_name_offset(const char (&name)[8]) {
    uint32_t offset;
    std::memcpy(&offset, name + 4, sizeof offset);
    return offset;
}

// Reader settings, set by the COFF handler before any read.
extern int coff_big_endian;          // 1 when the file's values are big endian
extern int coff_symbol_entry_size;   // bytes per symbol-table entry
extern int ti_coff;                  // Texas Instruments: 48-byte section headers
extern int m88k_layout;              // M88000: 32-bit counts, 2 more bytes per symbol

// 2 or 4 bytes at the current position; 0, or -1 at the end of the file
// (the value is then 0). coff_read_long reads the 32-bit address fields.
int coff_read_u16(uint16_t *out, FILE *f);
int coff_read_u32(uint32_t *out, FILE *f);
int coff_read_long(uint32_t *out, FILE *f);

// The file header held in the first n bytes of `raw` (FILHSZ, or TI_FILHSZ
// with `ti`), in the given byte order; a field that the n bytes do not hold
// completely reads as 0, and so do all fields behind it.
coff_file_header coff_decode_file_header(const uint8_t *raw, size_t n, bool big, bool ti);

// The file header at the current position in the configured byte order and
// layout; 0, or -1 when the file ends inside it (the fields it does not hold
// are then 0).
int coff_read_file_header(FILE *f, coff_file_header *out);

// Bytes of one section header in the configured layout.
uint32_t coff_section_header_size();

// One section header at the current position; 0 or -1.
int coff_read_section_header(FILE *f, coff_section_header *out);

// Entry `index` of the symbol table at `table_offset` (index -1: the entry at
// the current position); 0 or -1, and -1 for table_offset < 1 or index < -1.
int coff_read_symbol(FILE *f, int64_t table_offset, int index, coff_symbol *out);

// The NUL-terminated string at base + offset (the offset taken as unsigned),
// at most COFF_NAME_MAX characters, in one static buffer that the next call
// overwrites; null when the file ends before the first character.
char *coff_read_string(FILE *f, int64_t base, int offset);

// The same into a caller's buffer of `size` bytes (at most size - 1
// characters); 0, or -1 when the file ends before the first character. The
// stream is left behind the last byte read.
int coff_read_name(FILE *f, int64_t base, uint32_t offset, char *buf, size_t size);

// At the start of a PE image: checks "MZ", follows the offset at 60 and checks
// "PE\0\0"; 0 with the stream at the COFF file header, 1 on any failure.
int coff_skip_pe_stub(FILE *f);
