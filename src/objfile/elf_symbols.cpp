// ELF symbol tables, widened, with extended section indices resolved.
//
// A symbol table is read a chunk at a time and decoded into host order, so a
// table of a million symbols costs little memory and one pass.
#include <cerrno>
#include <cstring>
#include <memory>

#include "bytes.h"
#include "elf.h"
#include "genout.h"
#include "indgen.h"

namespace {


bool order_known(int order) { return order == ELF_BIG_ENDIAN || order == ELF_LITTLE_ENDIAN; }

}  // namespace

int32_t elf_map_reserved_index(uint32_t index) {
    if (index >= SHN_LORESERVE && index <= 0xffff) return int32_t(index) - 0x10000;
    return int32_t(index);
}

uint32_t *elf_read_symtab_shndx(const char *file_name, FILE *f, int64_t base, elf_header *header,
                                elf_section_header *sections, uint32_t symtab_index, uint64_t *count_out) {
    if (count_out) *count_out = 0;
    if (!header || !sections) return nullptr;
    const elf_section_header *table = nullptr;
    for (uint32_t i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type == SHT_SYMTAB_SHNDX && sections[i].sh_link == symtab_index) {
            table = &sections[i];
            break;
        }
    }
    if (!table) return nullptr;
    if (!order_known(elf_get_byte_order())) {
        errno = 0;
        elf_error("internal, endian not set");
        return nullptr;
    }
    const uint64_t count = table->sh_size / 4;
    // An empty table still answers "present", with no entries.
    if (count == 0) return static_cast<uint32_t *>(elf_alloc(sizeof(uint32_t)));

    int64_t here = gen_ftell64(f);
    auto *entries =
        static_cast<uint32_t *>(elf_read_at(f, file_name, uint64_t(base), table->sh_offset, nullptr, count * 4));
    if (!entries) return nullptr;
    gen_safe_fseek64(file_name, f, here, SEEK_SET);

    // Converted in place: each entry is read from its own four bytes before
    // they are overwritten with the host-order value.
    const bool big = elf_get_byte_order() == ELF_BIG_ENDIAN;
    auto *raw = reinterpret_cast<uint8_t *>(entries);
    for (uint64_t i = 0; i < count; ++i) entries[i] = bytes::load32(raw + i * 4, big);
    if (count_out) *count_out = count;
    return entries;
}

namespace {

constexpr uint64_t WALK_CHUNK = 4096;

}  // namespace

bool elf_walk_symbols(const char *file_name, FILE *f, int64_t base, elf_header *header, elf_section_header *sections,
                      uint32_t symtab_index, int elf_class, elf_symbol_visitor visit, void *context) {
    if (!header || !sections || symtab_index >= header->e_shnum) return false;
    if (elf_class != 32 && elf_class != 64) {
        errno = 0;
        elf_error("Unexpected elfbits");
        return false;
    }
    const bool wide = elf_class == 64;
    const elf_section_header &table = sections[symtab_index];
    const uint64_t standard = wide ? ELF64_SYM_SIZE : ELF32_SYM_SIZE;
    const uint64_t entry_size = table.sh_entsize ? table.sh_entsize : standard;
    // Entries narrower than the layout cannot hold a symbol; like a section
    // header table of that kind the table is unreadable.
    if (entry_size < standard) return false;
    const uint64_t count = table.sh_size / entry_size;
    if (count == 0) return true;
    if (!order_known(elf_get_byte_order())) {
        errno = 0;
        elf_error("internal, endian not set");
        return false;
    }
    // The whole table must lie inside the file before any of it is read; it
    // is then read and decoded a chunk at a time, so that memory stays small
    // and a visitor that has seen enough stops the reading.
    if (!elf_fits_in_file(f, uint64_t(base), table.sh_offset, count * entry_size)) {
        errno = 0;
        elf_error("read failed, unexpected EOF");
        return false;
    }
    const uint64_t chunk = count < WALK_CHUNK ? count : WALK_CHUNK;
    gen_owned<uint8_t> block(static_cast<uint8_t *>(elf_alloc(chunk * entry_size)));
    gen_owned<elf_symbol> symbols(static_cast<elf_symbol *>(elf_alloc(chunk * sizeof(elf_symbol))));
    gen_owned<uint32_t> shndx;
    uint64_t shndx_count = 0;
    bool shndx_loaded = false;
    const bool big = elf_get_byte_order() == ELF_BIG_ENDIAN;

    for (uint64_t first = 0; first < count; first += chunk) {
        const uint64_t n = count - first < chunk ? count - first : chunk;
        if (!elf_read_at(f, file_name, uint64_t(base), table.sh_offset + first * entry_size, block.get(), n * entry_size))
            return false;
        bytes::Cursor c(std::span<const uint8_t>(block.get(), size_t(n * entry_size)), big);
        elf_symbol *out = symbols.get();
        for (uint64_t k = 0; k < n; ++k) {
            c.seek(k * entry_size);
            elf_symbol &s = out[k];
            uint32_t index;
            s.st_name = c.u32();
            if (wide) {
                s.st_info = c.u8();
                s.st_other = c.u8();
                index = c.u16();
                s.st_value = c.u64();
                s.st_size = c.u64();
            } else {
                s.st_value = c.u32();
                s.st_size = c.u32();
                s.st_info = c.u8();
                s.st_other = c.u8();
                index = c.u16();
            }
            if (index != SHN_XINDEX) {
                s.st_shndx = elf_map_reserved_index(index);
                continue;
            }
            if (!shndx_loaded) {
                shndx.reset(elf_read_symtab_shndx(file_name, f, base, header, sections, symtab_index, &shndx_count));
                shndx_loaded = true;
                if (!shndx) {
                    elf_count_error();
                    gen_fatal(1, "symbol requires SYMTAB_SHNDX mapping");
                }
            }
            // A SYMTAB_SHNDX table shorter than the symbol table leaves the
            // symbols past its end undefined.
            const uint64_t i = first + k;
            s.st_shndx = i < shndx_count ? int32_t(shndx.get()[i]) : int32_t(SHN_UNDEF);
        }
        if (!visit(context, out, n)) break;
    }
    return true;
}

namespace {

struct Collect {
    elf_symbol *symbols;
    uint64_t filled;
};

bool collect(void *context, const elf_symbol *chunk, uint64_t n) {
    auto *c = static_cast<Collect *>(context);
    std::memcpy(c->symbols + c->filled, chunk, size_t(n) * sizeof(elf_symbol));
    c->filled += n;
    return true;
}

}  // namespace

elf_symbol *elf_read_symbols(const char *file_name, FILE *f, int64_t base, elf_symbol *out, elf_header *header,
                             elf_section_header *sections, uint32_t symtab_index, int elf_class, uint64_t *count_out) {
    if (count_out) *count_out = 0;
    if (!header || !sections || symtab_index >= header->e_shnum) return nullptr;
    const elf_section_header &table = sections[symtab_index];
    const uint64_t standard = elf_class == 64 ? ELF64_SYM_SIZE : ELF32_SYM_SIZE;
    const uint64_t entry_size = table.sh_entsize ? table.sh_entsize : standard;
    const uint64_t count = entry_size >= standard ? table.sh_size / entry_size : 0;
    if (count > 0 && !elf_fits_in_file(f, uint64_t(base), table.sh_offset, count * entry_size)) {
        errno = 0;
        elf_error("read failed, unexpected EOF");
        return nullptr;
    }
    // The array is allocated only once the table is known to lie inside the
    // file, so it is at most twice the table's size.
    Collect c{out, 0};
    if (!out && count > 0) c.symbols = static_cast<elf_symbol *>(elf_alloc(count * sizeof(elf_symbol)));
    if (!elf_walk_symbols(file_name, f, base, header, sections, symtab_index, elf_class, collect, &c)) {
        if (!out) gen_free_fn(c.symbols);
        return nullptr;
    }
    if (count == 0) return out;
    if (count_out) *count_out = c.filled;
    return c.symbols;
}
