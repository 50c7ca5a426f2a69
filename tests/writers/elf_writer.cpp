// The ELF writer: header, section contents, the generated tables and the
// section header table, in the class and byte order asked for. Every record
// is a row of field widths (W: a word of the class) and its values.
#include "elf_writer.h"

#include <algorithm>
#include <map>
#include <span>
#include <stdexcept>

namespace elfw {

namespace {

using testing_support::add;

constexpr int W = 0;
constexpr int kHeader[] = {2, 2, 4, W, W, W, 4, 2, 2, 2, 2, 2, 2};  // HeaderField order
constexpr int kSection[] = {4, 4, W, W, W, W, 4, 4, W, W};          // SectionField order
constexpr int kSymbol64[] = {4, 1, 1, 2, 8, 8};                     // name, info, other, shndx, value, size
constexpr int kSymbol32[] = {4, 4, 4, 1, 1, 2};                     // name, value, size, info, other, shndx

int width(int w, bool wide) { return w == W ? (wide ? 8 : 4) : w; }

void record(std::string &out, std::span<const int> widths, const std::vector<uint64_t> &values, bool wide, bool big) {
    for (size_t i = 0; i < widths.size(); ++i) add(out, values.at(i), width(widths[i], wide), big);
}

void patch(std::string &bytes, uint64_t base, std::span<const int> widths, size_t k, uint64_t value, bool wide, bool big) {
    for (size_t i = 0; i < k; ++i) base += uint64_t(width(widths[i], wide));
    put(bytes, base, value, width(widths[k], wide), big);
}

// Names NUL-terminated, each once; offset 0 is the empty name.
struct StringTable {
    std::string text = std::string(1, '\0');
    std::map<std::string, uint32_t> index;
    uint32_t add(const std::string &s) {
        if (s.empty()) return 0;
        auto [it, fresh] = index.try_emplace(s, uint32_t(text.size()));
        if (fresh) text.append(s).push_back('\0');
        return it->second;
    }
};

struct Header {
    std::string name;
    uint32_t type = 0;
    uint64_t flags = 0, addr = 0, size = 0;
    uint32_t link = 0, info = 0;
    uint64_t addralign = 1, entsize = 0;
    std::string contents;
};

}  // namespace

Section code_section(const std::string &name, uint64_t addr, uint64_t size) {
    Section s;
    s.name = name, s.flags = SHF_ALLOC | SHF_EXECINSTR, s.addr = addr, s.size = size;
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
    s.name = name, s.value = value, s.size = size, s.type = type, s.bind = bind, s.section = section;
    return s;
}

std::string write_elf(const ElfFile &file, ElfLayout *layout) {
    if (file.elf_class != 32 && file.elf_class != 64) throw std::invalid_argument("elf_class must be 32 or 64");
    const bool wide = file.elf_class == 64, big = file.big_endian;
    StringTable shstr, str;
    ElfLayout out;

    std::vector<Header> h(1);
    for (const Section &s : file.sections) {
        Header x{s.name, s.type, s.flags, s.addr, std::max<uint64_t>(s.size, s.contents.size()), 0, 0, s.addralign, 0,
                 s.contents};
        if (s.type != SHT_NOBITS) x.contents.resize(size_t(x.size), '\0');
        h.push_back(std::move(x));
    }
    if (file.with_symtab) {
        std::string sym;
        uint32_t first_global = 0;
        std::vector<Symbol> all = {symbol("", 0, 0, STT_NOTYPE, SHN_UNDEF, STB_LOCAL)};
        all.insert(all.end(), file.symbols.begin(), file.symbols.end());
        for (size_t i = 0; i < all.size(); ++i) {
            const Symbol &s = all[i];
            if (!first_global && i && s.bind != STB_LOCAL) first_global = uint32_t(i);
            const uint64_t stored = s.special ? s.special : s.section;
            const uint64_t info = elf_st_info(s.bind, s.type), name = str.add(s.name);
            if (wide)
                record(sym, kSymbol64, {name, info, 0, stored, s.value, s.size}, wide, big);
            else
                record(sym, kSymbol32, {name, s.value, s.size, info, 0, stored}, wide, big);
        }
        out.symtab_index = uint32_t(h.size());
        h.push_back({".symtab", SHT_SYMTAB, 0, 0, sym.size(), out.symtab_index + 1,
                     first_global ? first_global : uint32_t(all.size()), 8, uint64_t(wide ? 24 : 16), sym});
        h.push_back({".strtab", SHT_STRTAB, 0, 0, str.text.size(), 0, 0, 1, 0, str.text});
    }
    out.shstrndx = uint32_t(h.size());
    h.push_back({".shstrtab", SHT_STRTAB, 0, 0, 0, 0, 0, 1, 0, ""});
    std::vector<uint64_t> names;
    for (const Header &x : h) names.push_back(shstr.add(x.name));
    h.back().contents = shstr.text;  // every name is in the table now
    h.back().size = shstr.text.size();

    out.shnum = uint32_t(h.size());
    const bool extended = file.force_extended || out.shnum >= SHN_LORESERVE;
    if (extended) {
        h[0].size = out.shnum;
        if (out.shstrndx >= SHN_LORESERVE) h[0].link = out.shstrndx;
    }
    std::string bytes(wide ? 64 : 52, '\0');
    std::vector<uint64_t> offsets(h.size(), 0);  // sh_offset of each section
    for (size_t i = 1; i < h.size(); ++i) {
        bytes.resize((bytes.size() + h[i].addralign - 1) / h[i].addralign * h[i].addralign, '\0');
        offsets[i] = bytes.size();
        bytes += h[i].contents;
    }
    bytes.resize((bytes.size() + 7) / 8 * 8, '\0');
    out.shoff = bytes.size();
    for (size_t i = 0; i < h.size(); ++i) {
        const Header &x = h[i];
        record(bytes, kSection, {i ? names[i] : 0, x.type, x.flags, x.addr, offsets[i], x.size, x.link, x.info,
                                 i ? x.addralign : 0, x.entsize}, wide, big);
    }
    const std::string ident = {'\x7f', 'E', 'L', 'F', char(wide ? ELFCLASS64 : ELFCLASS32),
                               char(big ? ELFDATA2MSB : ELFDATA2LSB), char(EV_CURRENT)};
    bytes.replace(0, ident.size(), ident);
    std::string rest;
    record(rest, kHeader, {ET_REL, file.machine, EV_CURRENT, 0, 0, out.shoff, file.flags, uint64_t(wide ? 64 : 52), 0, 0,
                           uint64_t(wide ? 64 : 40), extended ? 0 : out.shnum,
                           out.shstrndx >= SHN_LORESERVE ? SHN_XINDEX : out.shstrndx}, wide, big);
    bytes.replace(EI_NIDENT, rest.size(), rest);
    if (layout) *layout = std::move(out);
    return bytes;
}

void patch_header(std::string &bytes, const ElfFile &file, HeaderField field, uint64_t value) {
    patch(bytes, EI_NIDENT, kHeader, size_t(field), value, file.elf_class == 64, file.big_endian);
}

std::string Written::with(HeaderField field, uint64_t value) const {
    std::string b = bytes;
    patch_header(b, desc, field, value);
    return b;
}

std::string Written::with(uint32_t section, SectionField field, uint64_t value) const {
    std::string b = bytes;
    const bool wide = desc.elf_class == 64;
    patch(b, at.shoff + uint64_t(section) * (wide ? 64 : 40), kSection, size_t(field), value, wide, desc.big_endian);
    return b;
}

}  // namespace elfw
