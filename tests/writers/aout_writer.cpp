// a.out files for tests; the layout is described in aout_writer.h.
#include "aout_writer.h"

#include <stdexcept>

namespace aoutw {

namespace {

// The byte above the machine id in the Sun-style magics (01 02 ..., 81 03 ...).
constexpr uint16_t kToolVersion = 0x0100;

AoutFile preset(bool big, uint16_t mid, uint16_t magic, uint32_t text_size) {
    AoutFile f;
    f.big_endian = big, f.mid = mid, f.magic = magic, f.text_size = text_size;
    return f;
}

}  // namespace

AoutFile sparc_dynamic() { return preset(true, EX_DYNAMIC | kToolVersion | M_SPARC, ZMAGIC, 0x2000); }
AoutFile x86_omagic() { return preset(false, M_386, OMAGIC, 0x100); }
AoutFile m68k(uint16_t magic) { return preset(true, kToolVersion | M_68020, magic, magic == ZMAGIC ? 0x2000 : 0x100); }
AoutFile little_zmagic() { return preset(false, M_OLDSUN2, ZMAGIC, 0x1000); }

Symbol text(const std::string &name, uint32_t value, bool external) {
    return symbol(name, external ? N_TEXT | N_EXT : N_TEXT, value);
}

Symbol symbol(const std::string &name, uint8_t type, uint32_t value) {
    Symbol s;
    s.name = name, s.type = type, s.value = value;
    return s;
}

std::string write_aout(const AoutFile &file, AoutLayout *layout) {
    const bool zmagic = file.magic == ZMAGIC, big = file.big_endian;
    if (zmagic && file.text_size < 32) throw std::invalid_argument("a ZMAGIC text holds the 32-byte header");
    const uint64_t syms = uint64_t(file.symbols.size()) * 12 + file.syms_slack;
    const uint64_t sym_offset = (zmagic ? 0 : 32) + uint64_t(file.text_size) + file.data_size + file.trsize + file.drsize;
    if (sym_offset + syms > 0x10000000) throw std::invalid_argument("a.out test file too large");
    std::string bytes, names;
    auto add = [&](uint64_t v, int width) { testing_support::add(bytes, v, width, big); };
    for (uint32_t word : {uint32_t(file.mid) << 16 | file.magic, file.text_size, file.data_size, 0u, uint32_t(syms), 0u,
                          file.trsize, file.drsize})
        add(word, 4);
    bytes.resize(sym_offset, '\0');
    for (const Symbol &s : file.symbols) {
        add(4 + names.size(), 4), add(s.type, 1), add(0, 1), add(0, 2), add(s.value, 4);
        names.append(s.name).push_back('\0');
    }
    bytes.append(file.syms_slack, '\0');
    AoutLayout at{uint32_t(bytes.size()), uint32_t(4 + names.size())};
    if (file.with_strings) add(at.strsize, 4), bytes += names;
    if (layout) *layout = at;
    return bytes;
}

}  // namespace aoutw
