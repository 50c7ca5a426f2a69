// a.out files for tests; the layout is described in aout_writer.h.
#include "aout_writer.h"

#include <stdexcept>

namespace aoutw {

namespace {

// The byte above the machine id in the Sun-style magics (01 02 ..., 81 03 ...).
constexpr uint16_t kToolVersion = 0x0100;

}  // namespace

AoutFile sparc_dynamic() {
    AoutFile f;
    f.big_endian = true;
    f.mid = EX_DYNAMIC | kToolVersion | M_SPARC;
    f.magic = ZMAGIC;
    f.text_size = 0x2000;
    return f;
}

AoutFile x86_omagic() {
    AoutFile f;
    f.big_endian = false;
    f.mid = M_386;
    f.magic = OMAGIC;
    return f;
}

AoutFile m68k(uint16_t magic) {
    AoutFile f;
    f.big_endian = true;
    f.mid = kToolVersion | M_68020;
    f.magic = magic;
    if (magic == ZMAGIC) f.text_size = 0x2000;
    return f;
}

AoutFile little_zmagic() {
    AoutFile f;
    f.big_endian = false;
    f.mid = M_OLDSUN2;
    f.magic = ZMAGIC;
    f.text_size = 0x1000;
    return f;
}

Symbol text(const std::string &name, uint32_t value, bool external) {
    Symbol s;
    s.name = name;
    s.type = external ? N_TEXT | N_EXT : N_TEXT;
    s.value = value;
    return s;
}

Symbol symbol(const std::string &name, uint8_t type, uint32_t value) {
    Symbol s;
    s.name = name;
    s.type = type;
    s.value = value;
    return s;
}

void put32(std::string &bytes, uint64_t at, uint32_t value, bool big_endian) {
    if (at + 4 > bytes.size()) throw std::out_of_range("put32 past the end");
    for (int i = 0; i < 4; ++i) {
        const int shift = big_endian ? 24 - 8 * i : 8 * i;
        bytes[at + uint64_t(i)] = char((value >> shift) & 0xff);
    }
}

namespace {

void put16(std::string &bytes, uint64_t at, uint16_t value, bool big_endian) {
    bytes[at] = char(big_endian ? value >> 8 : value & 0xff);
    bytes[at + 1] = char(big_endian ? value & 0xff : value >> 8);
}

}  // namespace

std::string write_aout(const AoutFile &file, AoutLayout *layout) {
    AoutLayout at;
    const bool zmagic = file.magic == ZMAGIC;
    if (zmagic && file.text_size < 32) throw std::invalid_argument("a ZMAGIC text holds the 32-byte header");
    at.header_size = zmagic ? 0 : 32;
    const uint64_t sym_offset =
        uint64_t(at.header_size) + file.text_size + file.data_size + file.trsize + file.drsize;
    const uint64_t syms = uint64_t(file.symbols.size()) * 12 + file.syms_slack;
    if (sym_offset + syms > 0x10000000) throw std::invalid_argument("a.out test file too large");
    at.sym_offset = uint32_t(sym_offset);
    at.str_offset = uint32_t(sym_offset + syms);

    std::string names;
    for (const Symbol &s : file.symbols) {
        if (s.strx >= 0) {
            at.strx.push_back(uint32_t(s.strx));
        } else {
            at.strx.push_back(uint32_t(4 + names.size()));
            names += s.name;
            names += '\0';
        }
    }
    at.strsize = uint32_t(4 + names.size());

    std::string bytes(at.str_offset, '\0');
    const bool big = file.big_endian;
    put32(bytes, header_word(0), uint32_t(file.mid) << 16 | file.magic, big);
    put32(bytes, header_word(1), file.text_size, big);
    put32(bytes, header_word(2), file.data_size, big);
    put32(bytes, header_word(3), file.bss_size, big);
    put32(bytes, header_word(4), uint32_t(syms), big);
    put32(bytes, header_word(5), file.entry, big);
    put32(bytes, header_word(6), file.trsize, big);
    put32(bytes, header_word(7), file.drsize, big);

    for (size_t i = 0; i < file.symbols.size(); ++i) {
        const Symbol &s = file.symbols[i];
        const uint64_t e = at.sym_offset + uint64_t(i) * 12;
        put32(bytes, e, at.strx[i], big);
        bytes[e + 4] = char(s.type);
        bytes[e + 5] = char(s.other);
        put16(bytes, e + 6, s.desc, big);
        put32(bytes, e + 8, s.value, big);
    }
    if (file.with_strings) {
        bytes.resize(bytes.size() + 4);
        put32(bytes, at.str_offset, at.strsize, big);
        bytes += names;
    }
    if (layout) *layout = at;
    return bytes;
}

}  // namespace aoutw
