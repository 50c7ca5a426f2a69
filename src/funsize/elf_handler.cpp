// The ELF handler: section table from the section headers, function symbols
// from ".symtab" (else ".dynsym"), then the report.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bytes.h"
#include "elf.h"
#include "funsize.h"
#include "genout.h"
#include "indgen.h"

namespace {

// A string table read from the file, with a NUL put behind its last byte so
// that every name in it is a C string that lives as long as the table.
class StringTable {
  public:
    bool read(FILE *f, const char *file_name, uint64_t base, const elf_section_header &s) {
        if (!elf_fits_in_file(f, base, s.sh_offset, s.sh_size)) {
            // Reported by the reader like any other read past the end.
            elf_read_at(f, file_name, base, s.sh_offset, nullptr, s.sh_size);
            return false;
        }
        data_.reset(static_cast<uint8_t *>(gen_calloc_fn(size_t(s.sh_size) + 1, 1)));
        if (!elf_read_at(f, file_name, base, s.sh_offset, data_.get(), s.sh_size)) {
            data_.reset();
            return false;
        }
        size_ = s.sh_size;
        return true;
    }
    std::string_view view(uint64_t offset) const {
        return bytes::string_at(std::span<const uint8_t>(data_.get(), size_t(size_)), offset);
    }
    const char *c_str(uint64_t offset) const {
        return offset < size_ ? reinterpret_cast<const char *>(data_.get()) + offset : "";
    }

  private:
    gen_owned<uint8_t> data_;
    uint64_t size_ = 0;
};

uint32_t find_section(const elf_section_header *headers, uint32_t count, const StringTable &names,
                      std::string_view wanted) {
    for (uint32_t i = 0; i < count; ++i)
        if (names.view(headers[i].sh_name) == wanted) return i;
    return count;
}

// The string tables of one input; the recorded names point into them, so
// they live until the report has been printed.
struct ElfNames {
    StringTable section_names;
    StringTable linked_names;
};

struct SymbolFilter {
    const StringTable *names;
};

bool record_functions(void *context, const elf_symbol *sym, uint64_t count) {
    const StringTable *names = static_cast<SymbolFilter *>(context)->names;
    for (uint64_t i = 0; i < count; ++i) {
        const elf_symbol &s = sym[i];
        if (elf_st_type(s.st_info) != STT_FUNC || s.st_shndx == 0) continue;
        // Reserved indices are negative; as unsigned values they lie above
        // every real section.
        const uint32_t index = uint32_t(s.st_shndx);
        if (opt_section_number != 0 && index != uint32_t(opt_section_number)) continue;
        if (index < section_count && section_table[index].excluded) continue;
        const uint64_t value = s.st_value & 0xffffffffu;
        const uint64_t size = s.st_size & 0xffffffffu;
        if (funsize_record_symbol(names->c_str(s.st_name), value, size, index + 1) == 1) return false;
    }
    return true;
}

// Fills the section table and records the function symbols of the ELF image
// at the current position of `f`. Returns early, with nothing (more)
// recorded, wherever the image cannot be read.
void read_elf(FILE *f, const char *file_name, ElfNames &tables) {
    const bool filter = opt_section_name != nullptr || opt_section_number != 0;
    section_count = 0;

    const int64_t start = gen_ftell64(f);
    if (start < 0) return;
    const uint64_t base = uint64_t(start);
    const int elf_class = elf_class_of(f, base, file_name);
    if (elf_class != 32 && elf_class != 64) return;

    elf_header header;
    if (!genelf_readXheader(f, base, &header, elf_class) || header.e_shnum == 0) return;
    // An offset beyond any file is clamped so that it reads as past the end.
    const uint64_t table_at = header.e_shoff > uint64_t(INT64_MAX) - base ? uint64_t(INT64_MAX) : base + header.e_shoff;
    gen_owned<elf_section_header> sections(
        elf_read_section_headers(f, nullptr, header.e_shnum, int64_t(table_at), header.e_shentsize, elf_class));
    if (!sections) return;
    const elf_section_header *sh = sections.get();
    const uint32_t count = header.e_shnum;

    // An index past the section table names no table at all, which reads
    // like an empty one.
    if (header.e_shstrndx >= count || sh[header.e_shstrndx].sh_size == 0)
        gen_fatal(1, "ELF section string table is empty");
    StringTable &section_names = tables.section_names;
    if (!section_names.read(f, file_name, base, sh[header.e_shstrndx])) return;

    funsize_alloc_sections(count);
    for (uint32_t i = 0; i < count; ++i) {
        section_extent &e = section_table[i];
        e.start = sh[i].sh_addr;
        e.size = sh[i].sh_size;
        e.is_code = (sh[i].sh_flags & SHF_EXECINSTR) != 0;
        e.excluded = filter;
        if (opt_section_name) {
            if (section_names.view(sh[i].sh_name) == opt_section_name) {
                opt_section_number = int32_t(i);
                e.excluded = 0;
            }
        } else if (uint32_t(opt_section_number) == i) {
            e.excluded = 0;
        }
    }

    uint32_t symtab = find_section(sh, count, section_names, ".symtab");
    if (symtab == count) symtab = find_section(sh, count, section_names, ".dynsym");
    if (symtab == count) return;

    StringTable *names = &section_names;
    const uint32_t link = sh[symtab].sh_link;
    if (link != header.e_shstrndx) {
        if (link >= count || !tables.linked_names.read(f, file_name, base, sh[link])) return;
        names = &tables.linked_names;
    }
    SymbolFilter filter_state{names};
    elf_walk_symbols(file_name, f, int64_t(base), &header, sections.get(), symtab, elf_class, record_functions,
                     &filter_state);
}

}  // namespace

int funsize_handle_elf(FILE *f, FILE *, input_desc *d) {
    funsize_reset();
    current_ident = d->ident;
    in_archive_member = int(d->in_archive);

    ElfNames tables;
    funsize_names_stable(true);
    read_elf(f, d->name, tables);

    const int result = funsize_report_input(d, nullptr);
    funsize_names_stable(false);
    funsize_free_sections();
    return result;
}
