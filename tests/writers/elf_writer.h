// Builds ELF files byte by byte from a readable description.
//
//   elfw::ElfFile f;                       // 64-bit little-endian ET_REL, EM_X86_64
//   f.elf_class = 32; f.big_endian = true;
//   f.sections = {elfw::code_section(".text", 0x1000, 0x40),
//                 elfw::data_section(".data", 0x2000, 0x10)};
//   f.symbols = {elfw::func("main", 0x1000, 0x10, 1),
//                elfw::symbol("table", 0x2000, 8, STT_OBJECT, 2)};
//   std::string bytes = elfw::write_elf(f);
//
// (The helpers exist because g++ 12 warns about designated initializers that
// leave members out; any field can also be set by hand.)
//
// Section header index 0 is the null section; the described sections follow
// as indices 1..n in the order given, so Symbol::section is the position in
// `sections` plus one. Behind them the writer adds, in this order: the symbol
// table (unless with_symtab is false), its string table ".strtab" (unless the
// symbol names go into the section-name table), ".symtab_shndx" (only when a
// symbol lies in a section >= 0xff00) and ".shstrtab". With 0xff00 sections
// or more (or force_extended) the header uses extended numbering: e_shnum 0
// with the count in section 0's sh_size, and e_shstrndx SHN_XINDEX with the
// index in section 0's sh_link when it does not fit.
//
// Damaged files are made by patching the result: patch_header and
// patch_section overwrite one field in the file's class and byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf.h"

namespace elfw {

struct Section {
    std::string name;
    uint32_t type = SHT_PROGBITS;
    uint64_t flags = 0;
    uint64_t addr = 0;
    std::string contents;  // the bytes in the file
    uint64_t size = 0;     // sh_size when larger than contents: zero-padded (SHT_NOBITS: no file bytes)
    uint32_t link = 0;
    uint32_t info = 0;
    uint64_t addralign = 1;
    uint64_t entsize = 0;
};

struct Symbol {
    std::string name;
    uint64_t value = 0;
    uint64_t size = 0;
    uint8_t type = STT_FUNC;
    uint8_t bind = STB_GLOBAL;
    uint32_t section = 0;  // section header index; 0 is SHN_UNDEF; >= 0xff00 goes through SHN_XINDEX
    uint16_t special = 0;  // when not 0, stored as st_shndx as it is (SHN_ABS, SHN_COMMON, SHN_XINDEX, ...)
    uint8_t other = 0;
};

// SHT_PROGBITS sections of `size` zero bytes: code (SHF_ALLOC | SHF_EXECINSTR)
// and data (SHF_ALLOC | SHF_WRITE).
Section code_section(const std::string &name, uint64_t addr, uint64_t size);
Section data_section(const std::string &name, uint64_t addr, uint64_t size);
// A function symbol, and any other kind.
Symbol func(const std::string &name, uint64_t value, uint64_t size, uint32_t section, uint8_t bind = STB_GLOBAL);
Symbol symbol(const std::string &name, uint64_t value, uint64_t size, uint8_t type, uint32_t section,
              uint8_t bind = STB_GLOBAL);

enum class SymbolNames {
    Strtab,        // a separate ".strtab", linked from the symbol table
    SectionNames,  // the names go into ".shstrtab", which the symbol table links to
};

struct ElfFile {
    int elf_class = 64;  // 32 or 64
    bool big_endian = false;
    uint16_t machine = EM_X86_64;
    uint16_t type = ET_REL;
    uint32_t flags = 0;
    std::vector<Section> sections;
    std::vector<Symbol> symbols;  // the null symbol is added in front

    bool with_symtab = true;
    std::string symtab_name = ".symtab";
    uint32_t symtab_type = SHT_SYMTAB;
    int64_t symtab_entsize = -1;  // sh_entsize of the symbol table; -1: the standard size
    SymbolNames symbol_names = SymbolNames::Strtab;
    bool force_extended = false;
};

// Where the writer put things.
struct ElfLayout {
    uint64_t shoff = 0;
    uint32_t shnum = 0;  // sections including the null one
    uint32_t shstrndx = 0;
    uint32_t symtab_index = 0;  // 0 when absent
    uint32_t strtab_index = 0;  // 0 when the symbols use the section names
    uint32_t shndx_index = 0;   // 0 when absent
    std::vector<uint64_t> offsets;  // sh_offset of each section, by index
};

std::string write_elf(const ElfFile &file, ElfLayout *layout = nullptr);

enum class HeaderField { e_type, e_machine, e_shoff, e_flags, e_shentsize, e_shnum, e_shstrndx };
enum class SectionField { sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign, sh_entsize };

// File offset of a header field, and of a field of section header `index`
// (with the standard entry size).
uint64_t header_field_offset(int elf_class, HeaderField field);
uint64_t section_field_offset(int elf_class, const ElfLayout &layout, uint32_t index, SectionField field);

// Overwrite one field with `value`, in the width the class gives it.
void patch_header(std::string &bytes, const ElfFile &file, HeaderField field, uint64_t value);
void patch_section(std::string &bytes, const ElfFile &file, const ElfLayout &layout, uint32_t index,
                   SectionField field, uint64_t value);

// Stores an unsigned value of 1, 2, 4 or 8 bytes at `at`.
void put(std::string &bytes, uint64_t at, uint64_t value, int width, bool big_endian);

}  // namespace elfw
