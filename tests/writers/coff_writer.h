// Builds COFF files and PE images byte by byte from a readable description.
//
//   coffw::CoffFile f;                        // little-endian, magic 0x14C
//   f.sections = {coffw::code(".text", 0x0, 0x40), coffw::data(".data", 0x40, 0x10)};
//   f.symbols = {coffw::file_symbol("x.c"),
//                coffw::func("main", 0x10, 1, 0x20),      // with an auxiliary size
//                coffw::plain_func("helper", 0x30, 1),   // without one
//                coffw::section_symbol(".text", 1, 0x40)};
//   std::string obj = coffw::write_coff(f);
//   std::string exe = coffw::write_pe(f);    // behind an MZ stub and "PE\0\0"
//
// File layout: [MZ stub and "PE\0\0" (write_pe only)] file header (20 bytes,
// 22 for the Texas Instruments layout, which adds the target field)
// [optional header] section headers [section contents] symbol table, string
// table (a 4-byte length, then NUL-terminated names). All file offsets in
// the headers count from the start of the whole file, as in a PE image.
//
// Byte order: every value is written in the order big_endian selects. The
// section-header layout selects 40-byte headers (Common), 44-byte headers
// with 32-bit relocation and line counts (M88000), or 48-byte headers with
// 32-bit counts and the reserved and page fields (TexasInstruments).
// symbol_entry_size is the size of every symbol and auxiliary entry (18; 20
// for M88000; 24 for the MIPS magics); the bytes behind the 18 common ones
// are zero.
//
// Names: a section or symbol name of at most 8 characters is stored in its
// 8-byte field (without a NUL when it has exactly 8); a longer one, or any
// name with Symbol::in_string_table, goes into the string table and the
// field holds four zero bytes and the offset.
//
// Auxiliary entries follow their symbol: Aux::raw bytes when given (cut or
// zero-padded to the entry size), else a tag index and a 32-bit size (the
// layout of a function's entry, and the length of a section's). n_numaux is
// the number of entries unless Symbol::numaux overrides it (damaged files).
//
// Damaged files are made by patching the result with put() at the offsets
// that CoffLayout reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "coff.h"

namespace coffw {

enum class SectionLayout { Common, M88000, TexasInstruments };

struct Section {
    std::string name;
    uint32_t paddr = 0;
    uint32_t vaddr = 0;
    uint32_t size = 0;
    uint32_t flags = STYP_TEXT;
    uint32_t nreloc = 0;
    uint32_t nlnno = 0;
    uint16_t reserved = 0;  // Texas Instruments only
    uint16_t page = 0;      // Texas Instruments only
    std::string contents;   // bytes placed in the file; s_scnptr 0 when empty
};

struct Aux {
    uint32_t tag = 0;
    uint32_t size = 0;
    std::string raw;  // when not empty, written instead of tag and size
};

struct Symbol {
    std::string name;
    uint32_t value = 0;
    int16_t section = 0;  // 1-based; N_UNDEF, N_ABS, N_DEBUG
    uint16_t type = 0;
    uint8_t sclass = C_EXT;
    std::vector<Aux> aux;
    int numaux = -1;  // when >= 0, stored as n_numaux instead of aux.size()
    bool in_string_table = false;
};

Section code(const std::string &name, uint32_t vaddr, uint32_t size);
Section data(const std::string &name, uint32_t vaddr, uint32_t size);
// A function (derived type function) with one auxiliary entry holding `size`.
Symbol func(const std::string &name, uint32_t value, int16_t section, uint32_t size, uint8_t sclass = C_EXT);
// A function without auxiliary entries.
Symbol plain_func(const std::string &name, uint32_t value, int16_t section, uint8_t sclass = C_EXT);
// A symbol of type T_NULL (a label, a variable).
Symbol label(const std::string &name, uint32_t value, int16_t section, uint8_t sclass = C_EXT);
// A section symbol: C_STAT, T_NULL, one auxiliary entry with the length.
Symbol section_symbol(const std::string &name, int16_t section, uint32_t length);
// A C_FILE symbol with the file name in its auxiliary entry.
Symbol file_symbol(const std::string &file_name);

struct CoffFile {
    uint16_t magic = I386MAGIC;
    bool big_endian = false;
    SectionLayout layout = SectionLayout::Common;
    uint32_t symbol_entry_size = SYMESZ;
    uint16_t flags = 0;
    uint16_t ti_target = 0x0099;  // Texas Instruments layout only
    std::string optional_header;  // f_opthdr bytes
    std::vector<Section> sections;
    std::vector<Symbol> symbols;
};

// Where the writer put things (file offsets).
struct CoffLayout {
    uint64_t file_header = 0;      // the COFF file header
    uint64_t section_headers = 0;
    uint32_t section_header_size = 0;
    uint64_t symbols = 0;          // f_symptr
    uint32_t entries = 0;          // f_nsyms: symbols and auxiliary entries
    uint64_t strings = 0;          // the string table's length field
    std::vector<uint32_t> entry_of;      // entry index of each described symbol
    std::vector<uint32_t> name_offset;   // string-table offset of each symbol's name, 0 when inline
    uint64_t size = 0;             // of the whole file
};

std::string write_coff(const CoffFile &file, CoffLayout *layout = nullptr);

// A PE image: "MZ", the offset of the PE header at 60, zero bytes up to
// `pe_offset`, "PE\0\0" and the COFF file behind it (offsets from the start
// of the image).
std::string write_pe(const CoffFile &file, CoffLayout *layout = nullptr, uint32_t pe_offset = 0x80);

// File header fields, by offset from the start of the file header.
inline constexpr uint64_t F_MAGIC_AT = 0;
inline constexpr uint64_t F_NSCNS_AT = 2;
inline constexpr uint64_t F_SYMPTR_AT = 8;
inline constexpr uint64_t F_NSYMS_AT = 12;
inline constexpr uint64_t F_OPTHDR_AT = 16;

// Stores an unsigned value of 1, 2 or 4 bytes at `at`.
void put(std::string &bytes, uint64_t at, uint32_t value, int width, bool big_endian);

}  // namespace coffw
