// COFF and PE files for tests, written byte by byte (see coff_writer.h).
#include "coff_writer.h"

#include <stdexcept>

namespace coffw {

Section code(const std::string &name, uint32_t vaddr, uint32_t size) {
    Section s;
    s.name = name, s.vaddr = vaddr, s.size = size;
    return s;
}

Section data(const std::string &name, uint32_t vaddr, uint32_t size) {
    Section s = code(name, vaddr, size);
    s.flags = STYP_DATA;
    return s;
}

Symbol label(const std::string &name, uint32_t value, int16_t section, uint8_t sclass) {
    Symbol s;
    s.name = name, s.value = value, s.section = section, s.sclass = sclass;
    return s;
}

Symbol plain_func(const std::string &name, uint32_t value, int16_t section, uint8_t sclass) {
    Symbol s = label(name, value, section, sclass);
    s.type = DT_FCN << N_BTSHFT;
    return s;
}

Symbol func(const std::string &name, uint32_t value, int16_t section, uint32_t size, uint8_t sclass) {
    Symbol s = plain_func(name, value, section, sclass);
    s.aux.push_back({0, size, ""});
    return s;
}

Symbol section_symbol(const std::string &name, int16_t section, uint32_t length) {
    Symbol s = label(name, 0, section, C_STAT);
    s.aux.push_back({length, 0, ""});
    return s;
}

Symbol file_symbol(const std::string &file_name) {
    Symbol s = label(".file", 0, N_DEBUG, C_FILE);
    s.aux.push_back({0, 0, file_name});
    return s;
}

namespace {

std::string build(const CoffFile &file, const std::string &prefix, CoffLayout *layout) {
    const bool big = file.big_endian, ti = file.layout == SectionLayout::TexasInstruments;
    const int count_width = file.layout == SectionLayout::Common ? 2 : 4;
    const uint32_t esz = file.symbol_entry_size;
    if (esz < SYMESZ) throw std::invalid_argument("symbol entries are at least 18 bytes");
    std::string o = prefix, strings;
    auto add = [&](uint64_t v, int width) { testing_support::add(o, v, width, big); };
    auto name_field = [&](const std::string &name) {
        if (name.size() <= SYMNMLEN) return o.append(name).append(SYMNMLEN - name.size(), '\0'), void();
        add(0, 4), add(4 + strings.size(), 4);
        strings.append(name).push_back('\0');
    };

    CoffLayout at;
    at.file_header = prefix.size();
    at.section_header_size = ti ? TI_SCNHSZ : file.layout == SectionLayout::M88000 ? M88K_SCNHSZ : SCNHSZ;
    at.section_headers = at.file_header + (ti ? TI_FILHSZ : FILHSZ);
    const uint64_t symbols = at.section_headers + uint64_t(at.section_header_size) * file.sections.size();
    uint32_t entries = 0;  // symbols and auxiliary entries
    for (const Symbol &s : file.symbols) entries += uint32_t(1 + s.aux.size());

    add(file.magic, 2), add(file.sections.size(), 2), add(0, 4), add(symbols, 4), add(entries, 4);
    add(0, 2), add(0, 2);  // no optional header, no flags
    if (ti) add(0x0099, 2);
    for (const Section &s : file.sections) {
        name_field(s.name);
        add(s.vaddr, 4), add(s.vaddr, 4), add(s.size, 4), add(0, 4), add(0, 4), add(0, 4);
        add(0, count_width), add(0, count_width), add(s.flags, 4);  // no relocations, no line numbers
        if (ti) add(0, 2), add(0, 2);                                // reserved, page
    }
    for (const Symbol &s : file.symbols) {
        name_field(s.name);
        add(s.value, 4), add(uint16_t(s.section), 2), add(s.type, 2), add(s.sclass, 1);
        add(s.aux.size(), 1);
        o.append(esz - SYMESZ, '\0');
        for (const Aux &a : s.aux) {
            if (a.raw.empty()) add(a.tag, 4), add(a.size, 4);
            o += a.raw.substr(0, esz);
            o.append(esz - (a.raw.empty() ? 8 : std::min<size_t>(a.raw.size(), esz)), '\0');
        }
    }
    add(4 + strings.size(), 4);
    o += strings;
    if (layout) *layout = at;
    return o;
}

}  // namespace

std::string write_coff(const CoffFile &file, CoffLayout *layout) { return build(file, "", layout); }

std::string write_pe(const CoffFile &file, CoffLayout *layout, uint32_t pe_offset) {
    if (pe_offset < PE_OFFSET_FIELD + 4) throw std::invalid_argument("the PE header lies behind the stub");
    std::string stub = "MZ";
    stub.resize(pe_offset, '\0');
    put(stub, PE_OFFSET_FIELD, pe_offset, 4, false);
    return build(file, stub + std::string("PE\0\0", 4), layout);
}

}  // namespace coffw
