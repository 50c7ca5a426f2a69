// Builds ELF files byte by byte from a readable description.
//
//   elfw::ElfFile f;                       // 64-bit little-endian ET_REL, EM_X86_64
//   f.sections = {elfw::code_section(".text", 0x1000, 0x40), elfw::data_section(".data", 0x2000, 0x10)};
//   f.symbols = {elfw::func("main", 0x1000, 0x10, 1), elfw::symbol("table", 0x2000, 8, STT_OBJECT, 2)};
//   std::string bytes = elfw::write_elf(f);
//
// Section header index 0 is the null section; the described sections follow
// as 1..n, so Symbol::section is the position in `sections` plus one. Behind
// them come ".symtab" and ".strtab" (unless with_symtab is false) and
// ".shstrtab". With 0xff00 sections
// or more (or force_extended) the header uses extended numbering: e_shnum 0
// with the count in section 0's sh_size, and e_shstrndx SHN_XINDEX with the
// index in section 0's sh_link when it does not fit. Damaged files are made by
// patching the result (patch_header, or copies by Written).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf.h"
#include "put_bytes.h"

namespace elfw {

using testing_support::put;

struct Section {
    std::string name;
    uint32_t type = SHT_PROGBITS;
    uint64_t flags = 0, addr = 0;
    std::string contents;  // the bytes in the file
    uint64_t size = 0;     // sh_size when larger than contents: zero-padded (SHT_NOBITS: no file bytes)
    uint64_t addralign = 4;
};

struct Symbol {
    std::string name;
    uint64_t value = 0, size = 0;
    uint8_t type = STT_FUNC, bind = STB_GLOBAL;
    uint32_t section = 0;  // section header index; 0 is SHN_UNDEF
    uint16_t special = 0;  // when not 0, stored as st_shndx as it is (SHN_ABS, SHN_COMMON, ...)
};

// SHT_PROGBITS sections of `size` zero bytes: code (SHF_ALLOC | SHF_EXECINSTR)
// and data (SHF_ALLOC | SHF_WRITE); a function symbol, and any other kind.
Section code_section(const std::string &name, uint64_t addr, uint64_t size);
Section data_section(const std::string &name, uint64_t addr, uint64_t size);
Symbol func(const std::string &name, uint64_t value, uint64_t size, uint32_t section, uint8_t bind = STB_GLOBAL);
Symbol symbol(const std::string &name, uint64_t value, uint64_t size, uint8_t type, uint32_t section,
              uint8_t bind = STB_GLOBAL);

struct ElfFile {
    int elf_class = 64;  // 32 or 64
    bool big_endian = false;
    uint16_t machine = EM_X86_64;
    uint32_t flags = 0;
    std::vector<Section> sections;
    std::vector<Symbol> symbols;  // the null symbol is added in front

    bool with_symtab = true;
    bool force_extended = false;
};

// Where the writer put things.
struct ElfLayout {
    uint64_t shoff = 0;
    uint32_t shnum = 0;  // sections including the null one
    uint32_t shstrndx = 0, symtab_index = 0;  // 0 when absent
};

std::string write_elf(const ElfFile &file, ElfLayout *layout = nullptr);

// The fields behind e_ident, and those of a section header, in file order.
enum class HeaderField { e_type, e_machine, e_version, e_entry, e_phoff, e_shoff, e_flags, e_ehsize, e_phentsize,
                         e_phnum, e_shentsize, e_shnum, e_shstrndx };
enum class SectionField { sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign, sh_entsize };

// Overwrites one field with `value`, in the width the class gives it.
void patch_header(std::string &bytes, const ElfFile &file, HeaderField field, uint64_t value);

// A file written from its description, kept with it and its layout so that
// copies with one field changed are made in a line.
struct Written {
    ElfFile desc;
    ElfLayout at;
    std::string bytes;
    explicit Written(const ElfFile &file) : desc(file), bytes(write_elf(file, &at)) {}
    std::string with(HeaderField field, uint64_t value) const;
    std::string with(uint32_t section, SectionField field, uint64_t value) const;
};

}  // namespace elfw
