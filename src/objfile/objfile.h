// Object-file access library.
//
// Identifies an input by its leading bytes (identify_file), walks archives
// member by member and hands each input to the format handler that its file
// type selects (walk_input, dispatch_file). The readers of ELF, COFF/PE,
// a.out and archive structures turn file bytes into host-order records
// (elf.h, coff.h, aout.h, archive.h). Needs the host support library.
#pragma once

#include <cstdint>
#include <cstdio>

// File type codes: the dispatch key of an input.
enum : uint32_t {
    FT_UNKNOWN = 0,
    FT_AOUT = 1,
    FT_COFF = 2,
    FT_ELF = 3,
    FT_COFF4 = 4,
    FT_XCOFF = 5,
    FT_PE = 6,
    FT_PE32PLUS = 7,
    FT_ARCHIVE = 8,
    FT_DEBUG_INFO = 9,
    FT_002X = 10,
    FT_IMPORT_OBJECT = 11,
    FT_AIX_ARCHIVE = 12,
    FT_PROFILE_DATA = 13,
    FT_RESOURCE = 14,
    FT_BE_0210 = 15,
    FT_ELFA_ARCHIVE = 16,
    FT_ARCH64_ARCHIVE = 17,
    FT_UNKNOWN_OTHER = 18,
};

// Byte-order codes of the readers.
enum : int { BYTE_ORDER_BIG = 1, BYTE_ORDER_LITTLE = 2 };

// The identification of one input. One static record, overwritten by every
// identification.
struct file_ident {
    uint8_t magic[2];
    uint32_t machine;
    uint32_t machine_type;
    uint8_t code_big_endian;
    uint8_t big_endian;
    uint8_t flag14;
    uint8_t leading_underscore;
    uint32_t cpu_family;
    const char *short_name;
    uint32_t arch_family;
    uint32_t arch_variant;
    uint32_t renesas_flags;
    uint32_t file_type;
    uint32_t symbol_entry_size;
    uint32_t flags;
    uint32_t elf_class;
    uint32_t object_kind;
    uint32_t ti_coff;
};

struct archive_member;

// What a format handler is told about its input. One static record owned by
// the walker, rewritten for every input and member.
struct input_desc {
    char *name;
    char *archive_name;
    char *member_name;
    file_ident *ident;
    uint32_t in_archive;
    uint64_t member_offset;
    archive_member *member_header;
};

using format_handler = int (*)(FILE *f, FILE *f2, input_desc *d);

// Slots: 0 debug information, 1 a.out, 2 ELF, 3 COFF and PE, 4 unrecognised.
enum { HANDLER_DEBUG_INFO = 0, HANDLER_AOUT = 1, HANDLER_ELF = 2, HANDLER_COFF = 3, HANDLER_UNKNOWN = 4, HANDLER_SLOTS = 5 };
extern format_handler handler_table[HANDLER_SLOTS];

// Set by the walker for the archive reader.
extern int archive_is_elfa;
extern int archive_is_arch64;

file_ident *identify_file(FILE *f, const char *name);
int walk_input(const char *name, const char *mode);
int walk_input_readonly(const char *name);
int dispatch_file(FILE *f, FILE *f2, input_desc *d);
