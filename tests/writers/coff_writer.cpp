// COFF and PE files for tests, written byte by byte (see coff_writer.h).
#include "coff_writer.h"

#include <stdexcept>

namespace coffw {

void put(std::string &bytes, uint64_t at, uint32_t value, int width, bool big_endian) {
    if (at + uint64_t(width) > bytes.size()) throw std::out_of_range("coffw::put past the end");
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (big_endian ? width - 1 - i : i);
        bytes[at + uint64_t(i)] = char((value >> shift) & 0xff);
    }
}

Section code(const std::string &name, uint32_t vaddr, uint32_t size) {
    Section s;
    s.name = name;
    s.vaddr = s.paddr = vaddr;
    s.size = size;
    s.flags = STYP_TEXT;
    return s;
}

Section data(const std::string &name, uint32_t vaddr, uint32_t size) {
    Section s = code(name, vaddr, size);
    s.flags = STYP_DATA;
    return s;
}

Symbol func(const std::string &name, uint32_t value, int16_t section, uint32_t size, uint8_t sclass) {
    Symbol s = plain_func(name, value, section, sclass);
    Aux a;
    a.size = size;
    s.aux.push_back(a);
    return s;
}

Symbol plain_func(const std::string &name, uint32_t value, int16_t section, uint8_t sclass) {
    Symbol s = label(name, value, section, sclass);
    s.type = DT_FCN << N_BTSHFT;
    return s;
}

Symbol label(const std::string &name, uint32_t value, int16_t section, uint8_t sclass) {
    Symbol s;
    s.name = name;
    s.value = value;
    s.section = section;
    s.sclass = sclass;
    return s;
}

Symbol section_symbol(const std::string &name, int16_t section, uint32_t length) {
    Symbol s = label(name, 0, section, C_STAT);
    Aux a;
    a.tag = length;
    s.aux.push_back(a);
    return s;
}

Symbol file_symbol(const std::string &file_name) {
    Symbol s = label(".file", 0, N_DEBUG, C_FILE);
    Aux a;
    a.raw = file_name;
    s.aux.push_back(a);
    return s;
}

namespace {

class Out {
  public:
    explicit Out(bool big) : big_(big) {}
    void u8(uint32_t v) { bytes.push_back(char(v & 0xff)); }
    void u16(uint32_t v) { word(v, 2); }
    void u32(uint32_t v) { word(v, 4); }
    void raw(const std::string &s) { bytes += s; }
    void zeros(uint64_t n) { bytes.append(size_t(n), '\0'); }
    uint64_t size() const { return bytes.size(); }
    std::string bytes;

  private:
    void word(uint32_t v, int width) {
        bytes.append(size_t(width), '\0');
        put(bytes, bytes.size() - uint64_t(width), v, width, big_);
    }
    bool big_;
};

class Strings {
  public:
    // The offset of `name` in the table (counted from the length field).
    uint32_t add(const std::string &name) {
        const uint32_t at = uint32_t(4 + text_.size());
        text_ += name;
        text_.push_back('\0');
        return at;
    }
    uint32_t size() const { return uint32_t(4 + text_.size()); }
    const std::string &text() const { return text_; }

  private:
    std::string text_;
};

void name_field(Out &o, Strings &strings, const std::string &name, bool force_long, uint32_t *offset) {
    if (name.size() <= SYMNMLEN && !force_long) {
        o.raw(name);
        o.zeros(SYMNMLEN - name.size());
        if (offset) *offset = 0;
        return;
    }
    const uint32_t at = strings.add(name);
    o.u32(0);
    o.u32(at);
    if (offset) *offset = at;
}

uint32_t header_size(SectionLayout layout) {
    switch (layout) {
    case SectionLayout::M88000: return M88K_SCNHSZ;
    case SectionLayout::TexasInstruments: return TI_SCNHSZ;
    default: return SCNHSZ;
    }
}

std::string build(const CoffFile &file, const std::string &prefix, CoffLayout *layout) {
    const bool big = file.big_endian;
    const bool ti = file.layout == SectionLayout::TexasInstruments;
    const bool wide_counts = file.layout != SectionLayout::Common;
    const uint32_t esz = file.symbol_entry_size;
    if (esz < SYMESZ) throw std::invalid_argument("symbol entries are at least 18 bytes");

    CoffLayout at;
    at.file_header = prefix.size();
    at.section_header_size = header_size(file.layout);
    const uint64_t file_header_size = ti ? TI_FILHSZ : FILHSZ;
    at.section_headers = at.file_header + file_header_size + file.optional_header.size();
    uint64_t pos = at.section_headers + uint64_t(at.section_header_size) * file.sections.size();
    std::vector<uint64_t> contents_at;
    for (const Section &s : file.sections) {
        contents_at.push_back(s.contents.empty() ? 0 : pos);
        pos += s.contents.size();
    }
    at.symbols = pos;
    for (const Symbol &s : file.symbols) {
        at.entry_of.push_back(at.entries);
        at.entries += uint32_t(1 + s.aux.size());
    }

    Strings strings;
    Out o(big);
    o.raw(prefix);
    o.u16(file.magic);
    o.u16(uint32_t(file.sections.size()));
    o.u32(0);  // time stamp
    o.u32(uint32_t(at.symbols));
    o.u32(at.entries);
    o.u16(uint32_t(file.optional_header.size()));
    o.u16(file.flags);
    if (ti) o.u16(file.ti_target);
    o.raw(file.optional_header);

    for (size_t i = 0; i < file.sections.size(); ++i) {
        const Section &s = file.sections[i];
        name_field(o, strings, s.name, false, nullptr);
        o.u32(s.paddr);
        o.u32(s.vaddr);
        o.u32(s.size);
        o.u32(uint32_t(contents_at[i]));
        o.u32(0);  // relocations
        o.u32(0);  // line numbers
        if (wide_counts) {
            o.u32(s.nreloc);
            o.u32(s.nlnno);
        } else {
            o.u16(s.nreloc);
            o.u16(s.nlnno);
        }
        o.u32(s.flags);
        if (ti) {
            o.u16(s.reserved);
            o.u16(s.page);
        }
    }
    for (const Section &s : file.sections) o.raw(s.contents);

    for (const Symbol &s : file.symbols) {
        uint32_t offset = 0;
        name_field(o, strings, s.name, s.in_string_table, &offset);
        at.name_offset.push_back(offset);
        o.u32(s.value);
        o.u16(uint16_t(s.section));
        o.u16(s.type);
        o.u8(s.sclass);
        o.u8(s.numaux >= 0 ? uint32_t(s.numaux) : uint32_t(s.aux.size()));
        o.zeros(esz - SYMESZ);
        for (const Aux &a : s.aux) {
            if (!a.raw.empty()) {
                o.raw(a.raw.substr(0, esz));
                if (a.raw.size() < esz) o.zeros(esz - a.raw.size());
            } else {
                o.u32(a.tag);
                o.u32(a.size);
                o.zeros(esz - 8);
            }
        }
    }
    at.strings = o.size();
    o.u32(strings.size());
    o.raw(strings.text());
    at.size = o.size();
    if (layout) *layout = at;
    return std::move(o.bytes);
}

}  // namespace

std::string write_coff(const CoffFile &file, CoffLayout *layout) { return build(file, "", layout); }

std::string write_pe(const CoffFile &file, CoffLayout *layout, uint32_t pe_offset) {
    if (pe_offset < PE_OFFSET_FIELD + 4) throw std::invalid_argument("the PE header lies behind the stub");
    std::string stub = "MZ";
    stub.resize(pe_offset, '\0');
    put(stub, PE_OFFSET_FIELD, pe_offset, 4, false);
    stub += std::string("PE\0\0", 4);
    return build(file, stub, layout);
}

}  // namespace coffw
