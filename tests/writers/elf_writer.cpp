// The ELF writer: lays out header, section contents, the generated tables and
// the section header table, in the class and byte order asked for.
#include "elf_writer.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <unordered_map>

namespace elfw {

namespace {

class Out {
  public:
    Out(bool big, bool wide) : big_(big), wide_(wide) {}
    void u8(uint64_t v) { bytes_.push_back(char(v)); }
    void u16(uint64_t v) { n(v, 2); }
    void u32(uint64_t v) { n(v, 4); }
    void u64(uint64_t v) { n(v, 8); }
    void word(uint64_t v) { n(v, wide_ ? 8 : 4); }
    void raw(const std::string &s) { bytes_ += s; }
    void align(uint64_t a) {
        if (a > 1)
            while (bytes_.size() % a) bytes_.push_back('\0');
    }
    uint64_t pos() const { return bytes_.size(); }
    std::string &bytes() { return bytes_; }

  private:
    void n(uint64_t v, int width) {
        size_t at = bytes_.size();
        bytes_.append(size_t(width), '\0');
        put(bytes_, at, v, width, big_);
    }
    std::string bytes_;
    bool big_;
    bool wide_;
};

class StringTable {
  public:
    StringTable() { text_.push_back('\0'); }
    uint32_t add(const std::string &s) {
        if (s.empty()) return 0;
        auto [it, fresh] = index_.try_emplace(s, uint32_t(text_.size()));
        if (fresh) {
            text_ += s;
            text_.push_back('\0');
        }
        return it->second;
    }
    const std::string &text() const { return text_; }

  private:
    std::string text_;
    std::unordered_map<std::string, uint32_t> index_;
};

struct Header {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t flags = 0, addr = 0, offset = 0, size = 0;
    uint32_t link = 0, info = 0;
    uint64_t addralign = 0, entsize = 0;
    std::string contents;
};

}  // namespace

Section code_section(const std::string &name, uint64_t addr, uint64_t size) {
    Section s;
    s.name = name;
    s.flags = SHF_ALLOC | SHF_EXECINSTR;
    s.addr = addr;
    s.size = size;
    s.addralign = 4;
    return s;
}

Section data_section(const std::string &name, uint64_t addr, uint64_t size) {
    Section s = code_section(name, addr, size);
    s.flags = SHF_ALLOC | SHF_WRITE;
    return s;
}

Symbol func(const std::string &name, uint64_t value, uint64_t size, uint32_t section, uint8_t bind) {
    return symbol(name, value, size, STT_FUNC, section, bind);
}

Symbol symbol(const std::string &name, uint64_t value, uint64_t size, uint8_t type, uint32_t section, uint8_t bind) {
    Symbol s;
    s.name = name;
    s.value = value;
    s.size = size;
    s.type = type;
    s.bind = bind;
    s.section = section;
    return s;
}

void put(std::string &bytes, uint64_t at, uint64_t value, int width, bool big_endian) {
    if (at + uint64_t(width) > bytes.size()) throw std::out_of_range("elfw::put past the end");
    for (int i = 0; i < width; ++i) {
        int shift = big_endian ? 8 * (width - 1 - i) : 8 * i;
        bytes[size_t(at) + size_t(i)] = char((value >> shift) & 0xff);
    }
}

std::string write_elf(const ElfFile &file, ElfLayout *layout) {
    if (file.elf_class != 32 && file.elf_class != 64) throw std::invalid_argument("elf_class must be 32 or 64");
    const bool wide = file.elf_class == 64;
    const bool big = file.big_endian;

    StringTable shstr, str;
    StringTable &symstr = file.symbol_names == SymbolNames::Strtab ? str : shstr;

    std::vector<Header> h(1);
    for (const Section &s : file.sections) {
        Header x;
        x.name = shstr.add(s.name);
        x.type = s.type;
        x.flags = s.flags;
        x.addr = s.addr;
        x.contents = s.contents;
        x.size = std::max<uint64_t>(s.size, s.contents.size());
        if (s.type != SHT_NOBITS && x.contents.size() < x.size) x.contents.resize(size_t(x.size), '\0');
        x.link = s.link;
        x.info = s.info;
        x.addralign = s.addralign;
        x.entsize = s.entsize;
        h.push_back(std::move(x));
    }

    ElfLayout out;
    bool needs_shndx = false;
    if (file.with_symtab) {
        // Symbol entries, with the null symbol first.
        Out sym(big, wide);
        Out shndx(big, wide);
        uint32_t first_global = 0;
        auto emit = [&](const Symbol &s) {
            uint32_t stored = s.special ? s.special : s.section;
            uint32_t extended = 0;
            if (!s.special && s.section >= SHN_LORESERVE) {
                stored = SHN_XINDEX;
                extended = s.section;
                needs_shndx = true;
            }
            uint8_t info = elf_st_info(s.bind, s.type);
            uint32_t name = symstr.add(s.name);
            if (wide) {
                sym.u32(name);
                sym.u8(info);
                sym.u8(s.other);
                sym.u16(stored);
                sym.u64(s.value);
                sym.u64(s.size);
            } else {
                sym.u32(name);
                sym.u32(s.value);
                sym.u32(s.size);
                sym.u8(info);
                sym.u8(s.other);
                sym.u16(stored);
            }
            shndx.u32(extended);
        };
        emit(symbol("", 0, 0, STT_NOTYPE, SHN_UNDEF, STB_LOCAL));
        for (size_t i = 0; i < file.symbols.size(); ++i) {
            if (!first_global && file.symbols[i].bind != STB_LOCAL) first_global = uint32_t(i + 1);
            emit(file.symbols[i]);
        }
        if (!first_global) first_global = uint32_t(file.symbols.size() + 1);

        Header t;
        t.name = shstr.add(file.symtab_name);
        t.type = file.symtab_type;
        t.contents = std::move(sym.bytes());
        t.size = t.contents.size();
        t.info = first_global;
        t.addralign = 8;
        t.entsize = file.symtab_entsize >= 0 ? uint64_t(file.symtab_entsize) : (wide ? 24 : 16);
        out.symtab_index = uint32_t(h.size());
        h.push_back(std::move(t));
        if (file.symbol_names == SymbolNames::Strtab) {
            Header s;
            s.name = shstr.add(".strtab");
            s.type = SHT_STRTAB;
            s.contents = str.text();
            s.size = s.contents.size();
            s.addralign = 1;
            out.strtab_index = uint32_t(h.size());
            h[out.symtab_index].link = out.strtab_index;
            h.push_back(std::move(s));
        }
        if (needs_shndx) {
            Header x;
            x.name = shstr.add(".symtab_shndx");
            x.type = SHT_SYMTAB_SHNDX;
            x.contents = std::move(shndx.bytes());
            x.size = x.contents.size();
            x.link = out.symtab_index;
            x.addralign = 4;
            x.entsize = 4;
            out.shndx_index = uint32_t(h.size());
            h.push_back(std::move(x));
        }
    }
    {
        Header s;
        s.name = shstr.add(".shstrtab");
        s.type = SHT_STRTAB;
        s.addralign = 1;
        out.shstrndx = uint32_t(h.size());
        h.push_back(std::move(s));
        // Every name is in the table now; it is filled in last.
        h.back().contents = shstr.text();
        h.back().size = h.back().contents.size();
    }
    if (file.with_symtab && file.symbol_names == SymbolNames::SectionNames) h[out.symtab_index].link = out.shstrndx;

    const uint32_t shnum = uint32_t(h.size());
    const bool extended = file.force_extended || shnum >= SHN_LORESERVE;
    if (extended) {
        h[0].size = shnum;
        if (out.shstrndx >= SHN_LORESERVE) h[0].link = out.shstrndx;
    }

    Out o(big, wide);
    o.raw(std::string(wide ? 64 : 52, '\0'));
    out.offsets.assign(h.size(), 0);
    for (size_t i = 1; i < h.size(); ++i) {
        o.align(std::min<uint64_t>(h[i].addralign, 8));
        h[i].offset = o.pos();
        out.offsets[i] = o.pos();
        o.raw(h[i].contents);
    }
    o.align(8);
    out.shoff = o.pos();
    for (const Header &x : h) {
        o.u32(x.name);
        o.u32(x.type);
        o.word(x.flags);
        o.word(x.addr);
        o.word(x.offset);
        o.word(x.size);
        o.u32(x.link);
        o.u32(x.info);
        o.word(x.addralign);
        o.word(x.entsize);
    }

    std::string bytes = std::move(o.bytes());
    bytes[0] = char(ELFMAG0);
    bytes[1] = ELFMAG1;
    bytes[2] = ELFMAG2;
    bytes[3] = ELFMAG3;
    bytes[EI_CLASS] = char(wide ? ELFCLASS64 : ELFCLASS32);
    bytes[EI_DATA] = char(big ? ELFDATA2MSB : ELFDATA2LSB);
    bytes[EI_VERSION] = char(EV_CURRENT);
    // The rest of the header, behind the identification.
    Out rest(big, wide);
    rest.u16(file.type);
    rest.u16(file.machine);
    rest.u32(EV_CURRENT);
    rest.word(0);           // e_entry
    rest.word(0);           // e_phoff
    rest.word(out.shoff);   // e_shoff
    rest.u32(file.flags);
    rest.u16(wide ? 64 : 52);  // e_ehsize
    rest.u16(0);               // e_phentsize
    rest.u16(0);               // e_phnum
    rest.u16(wide ? 64 : 40);  // e_shentsize
    rest.u16(extended ? 0 : shnum);
    rest.u16(out.shstrndx >= SHN_LORESERVE ? SHN_XINDEX : out.shstrndx);
    bytes.replace(EI_NIDENT, rest.bytes().size(), rest.bytes());

    out.shnum = shnum;
    if (layout) *layout = std::move(out);
    return bytes;
}

uint64_t header_field_offset(int elf_class, HeaderField field) {
    const bool wide = elf_class == 64;
    switch (field) {
    case HeaderField::e_type:
        return 16;
    case HeaderField::e_machine:
        return 18;
    case HeaderField::e_shoff:
        return wide ? 40 : 32;
    case HeaderField::e_flags:
        return wide ? 48 : 36;
    case HeaderField::e_shentsize:
        return wide ? 58 : 46;
    case HeaderField::e_shnum:
        return wide ? 60 : 48;
    case HeaderField::e_shstrndx:
        return wide ? 62 : 50;
    }
    return 0;
}

namespace {

int header_field_width(int elf_class, HeaderField field) {
    switch (field) {
    case HeaderField::e_shoff:
        return elf_class == 64 ? 8 : 4;
    case HeaderField::e_flags:
        return 4;
    default:
        return 2;
    }
}

// Offset within a section header, and width, of each field.
std::pair<uint64_t, int> section_field(int elf_class, SectionField field) {
    const bool wide = elf_class == 64;
    const int w = wide ? 8 : 4;
    switch (field) {
    case SectionField::sh_name:
        return {0, 4};
    case SectionField::sh_type:
        return {4, 4};
    case SectionField::sh_flags:
        return {8, w};
    case SectionField::sh_addr:
        return {wide ? 16u : 12u, w};
    case SectionField::sh_offset:
        return {wide ? 24u : 16u, w};
    case SectionField::sh_size:
        return {wide ? 32u : 20u, w};
    case SectionField::sh_link:
        return {wide ? 40u : 24u, 4};
    case SectionField::sh_info:
        return {wide ? 44u : 28u, 4};
    case SectionField::sh_addralign:
        return {wide ? 48u : 32u, w};
    case SectionField::sh_entsize:
        return {wide ? 56u : 36u, w};
    }
    return {0, 0};
}

}  // namespace

uint64_t section_field_offset(int elf_class, const ElfLayout &layout, uint32_t index, SectionField field) {
    return layout.shoff + uint64_t(index) * (elf_class == 64 ? 64 : 40) + section_field(elf_class, field).first;
}

void patch_header(std::string &bytes, const ElfFile &file, HeaderField field, uint64_t value) {
    put(bytes, header_field_offset(file.elf_class, field), value, header_field_width(file.elf_class, field),
        file.big_endian);
}

void patch_section(std::string &bytes, const ElfFile &file, const ElfLayout &layout, uint32_t index,
                   SectionField field, uint64_t value) {
    put(bytes, section_field_offset(file.elf_class, layout, index, field), value,
        section_field(file.elf_class, field).second, file.big_endian);
}

}  // namespace elfw
