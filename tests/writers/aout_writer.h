// Builds a.out files byte by byte from a readable description.
//
//   aoutw::AoutFile f = aoutw::sparc_dynamic();
//   f.symbols = {aoutw::text("_main", 0x2020), aoutw::symbol("_table", N_DATA | N_EXT, 0x4000)};
//   std::string bytes = aoutw::write_aout(f);
//
// The exec header is eight 32-bit words in the file's byte order: mid << 16 |
// magic, text, data, bss, syms, entry, trsize, drsize. The presets give the
// first four bytes of the identified variants:
//   sparc_dynamic   81 03 01 0B  big endian, M_SPARC with EX_DYNAMIC, ZMAGIC
//   x86_omagic      07 01 64 00  little endian, M_386, OMAGIC
//   m68k(magic)     01 02 01 07 / 08 / 0B  big endian, M_68020 (generic)
//   little_zmagic   0B 01 00 00  little endian, machine id 0, ZMAGIC (generic)
// A ZMAGIC file counts the 32-byte header as the start of its text; the others
// put the text behind it. Text, data and the relocation areas are zero bytes,
// then the symbols (12 bytes each: n_strx, n_type, n_other, n_desc, n_value;
// syms_slack zero bytes more are counted in a_syms), then the string table:
// its size word and each name with a NUL. n_strx counts from the size word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aout.h"
#include "put_bytes.h"

namespace aoutw {

struct Symbol {
    std::string name;
    uint8_t type = N_TEXT | N_EXT;
    uint32_t value = 0;
};

struct AoutFile {
    bool big_endian = true;
    uint16_t mid = M_68020, magic = OMAGIC;
    uint32_t text_size = 0x100, data_size = 0, trsize = 0, drsize = 0;
    std::vector<Symbol> symbols;
    uint32_t syms_slack = 0;   // extra bytes in a_syms behind the entries
    bool with_strings = true;  // false: the file ends behind the symbol table
};

struct AoutLayout {
    uint32_t str_offset = 0;  // file offset of the string table
    uint32_t strsize = 0;     // its size word
};

AoutFile sparc_dynamic();
AoutFile x86_omagic();
AoutFile m68k(uint16_t magic = OMAGIC);
AoutFile little_zmagic();

// A text symbol (N_TEXT, with N_EXT when external) and any other kind.
Symbol text(const std::string &name, uint32_t value, bool external = true);
Symbol symbol(const std::string &name, uint8_t type, uint32_t value);

std::string write_aout(const AoutFile &file, AoutLayout *layout = nullptr);

// File offsets of header words: 0 mid/magic, 1 text, 2 data, 3 bss, 4 syms,
// 5 entry, 6 trsize, 7 drsize.
inline constexpr uint32_t header_word(int index) { return uint32_t(index) * 4; }

inline void put32(std::string &bytes, uint64_t at, uint32_t value, bool big_endian) {
    testing_support::put(bytes, at, value, 4, big_endian);
}

}  // namespace aoutw
