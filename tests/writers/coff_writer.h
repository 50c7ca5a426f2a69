// Builds COFF files and PE images byte by byte from a readable description.
//
//   coffw::CoffFile f;                        // little-endian, magic 0x14C
//   f.sections = {coffw::code(".text", 0x0, 0x40), coffw::data(".data", 0x40, 0x10)};
//   f.symbols = {coffw::file_symbol("x.c"), coffw::func("main", 0x10, 1, 0x20), coffw::plain_func("helper", 0x30, 1)};
//   std::string obj = coffw::write_coff(f), exe = coffw::write_pe(f);
//
// Layout: [MZ stub and "PE\0\0" (write_pe)] file header (20 bytes, 22 for the
// Texas Instruments layout with its target field), section headers (40 bytes;
// M88000: 44, with 32-bit relocation and line counts; Texas Instruments: 48,
// adding the reserved and page fields), symbol table and string table (a
// 4-byte length, then NUL-terminated names); sections have no bytes in the
// file. Offsets count from the start of the file; every value is in the order
// big_endian selects.
// symbol_entry_size is that of every symbol and auxiliary entry (18, 20 for
// M88000, 24 for the MIPS magics); the bytes behind the common 18 are zero.
// A name of at most 8 characters fills its field; a longer one goes into the
// string table (four zero bytes and the offset). An auxiliary entry holds
// Aux::raw when given, else a tag index and a 32-bit size. Damaged files are made with put() at the CoffLayout offsets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "coff.h"
#include "put_bytes.h"

namespace coffw {

using testing_support::put;

enum class SectionLayout { Common, M88000, TexasInstruments };

struct Section {
    std::string name;
    uint32_t vaddr = 0, size = 0, flags = STYP_TEXT;
};

struct Aux {
    uint32_t tag = 0, size = 0;
    std::string raw;  // when not empty, written instead of tag and size
};

struct Symbol {
    std::string name;
    uint32_t value = 0;
    int16_t section = 0;  // 1-based; N_UNDEF, N_ABS, N_DEBUG
    uint16_t type = 0;
    uint8_t sclass = C_EXT;
    std::vector<Aux> aux;
};

Section code(const std::string &name, uint32_t vaddr, uint32_t size);
Section data(const std::string &name, uint32_t vaddr, uint32_t size);
// A function with one auxiliary entry holding `size`; one without; a T_NULL
// symbol; a section symbol (C_STAT, the length in its entry); a C_FILE symbol.
Symbol func(const std::string &name, uint32_t value, int16_t section, uint32_t size, uint8_t sclass = C_EXT);
Symbol plain_func(const std::string &name, uint32_t value, int16_t section, uint8_t sclass = C_EXT);
Symbol label(const std::string &name, uint32_t value, int16_t section, uint8_t sclass = C_EXT);
Symbol section_symbol(const std::string &name, int16_t section, uint32_t length);
Symbol file_symbol(const std::string &file_name);

struct CoffFile {
    uint16_t magic = I386MAGIC;
    bool big_endian = false;
    SectionLayout layout = SectionLayout::Common;
    uint32_t symbol_entry_size = SYMESZ;
    std::vector<Section> sections;
    std::vector<Symbol> symbols;
};

// Where the writer put things (file offsets).
struct CoffLayout {
    uint64_t file_header = 0, section_headers = 0;
    uint32_t section_header_size = 0;
};

std::string write_coff(const CoffFile &file, CoffLayout *layout = nullptr);
// "MZ", the offset of the PE header at 60, zeros up to `pe_offset`, "PE\0\0"
// and the COFF file.
std::string write_pe(const CoffFile &file, CoffLayout *layout = nullptr, uint32_t pe_offset = 0x80);

}  // namespace coffw
