// a.out exec header, layout, symbol and string tables.
//
// The header words are read through the ELF reader's primitives in the byte
// order of the identification; the symbol table is read as one block (after
// the ELF reader has checked that the file holds it) and decoded in place.
#include <cstring>
#include <memory>
#include <span>

#include "aout.h"
#include "bytes.h"
#include "elf.h"
#include "genout.h"
#include "gensort.h"
#include "indgen.h"
#include "instream.h"
#include "objfile.h"

namespace {

uint32_t round_up(uint32_t value, uint32_t page) { return (value + page - 1) & ~(page - 1); }

// A table that starts beyond 32-bit offsets, where the stored offset wrapped
// around, cannot be in the file: it is read from the end of the file instead,
// which is where reading it would have ended up.
int64_t position(uint32_t stored, uint64_t exact, FILE *f) {
    if (exact == stored) return int64_t(stored);
    const int64_t size = InStream(f).size();
    return size < 0 ? int64_t(UINT32_MAX) + 1 : size;
}

int by_value(void *, const void *a, const void *b) {
    return static_cast<const nlist *>(a)->n_value > static_cast<const nlist *>(b)->n_value ? 1 : -1;
}

}  // namespace

bsd_file *Bsd_Open(FILE *f, bsd_file *out, const char *name, const char *archive_name, int64_t offset) {
    bsd_file *b = out ? out : static_cast<bsd_file *>(gen_calloc_fn(1, sizeof(bsd_file)));
    std::memset(b, 0, sizeof *b);
    int64_t at = offset;
    if (offset == -1)
        at = gen_ftell64(f);
    else
        gen_safe_fseek64(name, f, offset, SEEK_SET);
    b->name = gen_strdup(name);
    b->archive_name = gen_strdup(archive_name);
    b->base = Bsd_Int64ToLong(at);

    const file_ident *ident = identify_file(f, name);
    if (!ident) {
        Bsd_Close(b);
        if (!out) gen_free_fn(b);
        return nullptr;
    }
    b->big_endian = ident->big_endian;
    elf_set_byte_order(b->big_endian ? ELF_BIG_ENDIAN : ELF_LITTLE_ENDIAN);
    const uint32_t first = elf_read_u32(f);
    b->a_mid = uint16_t(first >> 16);
    b->a_magic = uint16_t(first & 0xffff);
    b->a_text = elf_read_u32(f);
    b->a_data = elf_read_u32(f);
    b->a_bss = elf_read_u32(f);
    b->a_syms = elf_read_u32(f);
    b->a_entry = elf_read_u32(f);
    b->a_trsize = elf_read_u32(f);
    b->a_drsize = elf_read_u32(f);
    Bsd_Init(b);
    return b;
}

void Bsd_Init(bsd_file *b) {
    b->nsyms = int32_t(b->a_syms / AOUT_NLIST_SIZE);

    const uint16_t machine = b->a_mid & 0xff;
    b->sun_dynamic = b->omagic_variant = b->generic_variant = 0;
    if (machine == M_SPARC && (b->a_mid & EX_DYNAMIC) && b->a_magic == ZMAGIC) {
        b->sun_dynamic = 1;
        b->page_size = AOUT_SUN_PAGE_SIZE;
    } else if ((machine == M_OLDSUN2 || machine == M_386) && b->a_magic == OMAGIC) {
        b->omagic_variant = 1;
        b->page_size = AOUT_SUN_PAGE_SIZE;
    } else {
        b->generic_variant = 1;
        b->page_size = AOUT_GENERIC_PAGE_SIZE;
    }

    // A demand-paged file maps the header as part of its text.
    const uint32_t header = b->a_magic == ZMAGIC ? 0 : AOUT_EXEC_SIZE;
    b->text_offset = header;
    b->data_offset = b->a_magic == ZMAGIC && b->generic_variant ? round_up(header + b->a_text, b->page_size)
                                                                : b->text_offset + b->a_text;
    b->trel_offset = b->data_offset + b->a_data;
    b->drel_offset = b->trel_offset + b->a_trsize;
    b->sym_offset = header + b->a_text + b->a_data + b->a_trsize + b->a_drsize;
    b->str_offset = b->sym_offset + b->a_syms;

    // The relocation offsets above stay as computed; the data offset is the
    // one the magic gives.
    switch (b->a_magic) {
    case OMAGIC:
    case NMAGIC:
        b->data_offset = header + b->a_text;
        break;
    case ZMAGIC:
        b->data_offset = round_up(header + b->a_text, b->page_size);
        break;
    default:
        gen_fatal(1, "[Bsd_Init] bad magic");
    }

    const uint32_t base = uint32_t(b->base);
    b->abs_text_offset = b->text_offset + base;
    b->abs_data_offset = b->data_offset + base;
    b->abs_trel_offset = b->trel_offset + base;
    b->abs_drel_offset = b->drel_offset + base;
    b->abs_sym_offset = b->sym_offset + base;
    b->abs_str_offset = b->str_offset + base;
}

nlist *Bsd_ReadNlist(FILE *f, nlist *out, int32_t count, int64_t offset) {
    if (count <= 0) return out;
    if (offset != -1) gen_safe_fseek64(nullptr, f, offset, SEEK_SET);
    // Without a buffer the ELF reader checks the bytes left before it
    // allocates; an nlist takes as many bytes in memory as on disk.
    const uint64_t size = uint64_t(count) * AOUT_NLIST_SIZE;
    auto *raw = static_cast<uint8_t *>(elf_read_bytes(f, out, size));
    if (!raw) return nullptr;

    bytes::Cursor c(std::span<const uint8_t>(raw, size_t(size)), elf_get_byte_order() == ELF_BIG_ENDIAN);
    for (int32_t i = 0; i < count; ++i) {
        nlist n;
        n.n_strx = c.u32();
        n.n_type = c.u8();
        n.n_other = c.u8();
        n.n_desc = c.u16();
        n.n_value = c.u32();
        std::memcpy(raw + uint64_t(i) * AOUT_NLIST_SIZE, &n, sizeof n);
    }
    return reinterpret_cast<nlist *>(raw);
}

int32_t Bsd_ReadSymbols(FILE *f, bsd_file *b) {
    if (b->symbols_loaded) return b->nsyms;
    b->symbols_loaded = 1;
    if (b->nsyms == 0) {
        b->strsize = 0;
        b->strings = static_cast<char *>(gen_calloc_fn(1, 1));
        return 0;
    }

    const uint64_t header = b->a_magic == ZMAGIC ? 0 : AOUT_EXEC_SIZE;
    const uint64_t sym_exact = uint64_t(uint32_t(b->base)) + header + b->a_text + b->a_data + b->a_trsize + b->a_drsize;
    b->symbols = Bsd_ReadNlist(f, nullptr, b->nsyms, position(b->abs_sym_offset, sym_exact, f));
    if (!b->symbols) {
        b->nsyms = 0;
        return 0;
    }

    const int64_t strings_at = position(b->abs_str_offset, sym_exact + b->a_syms, f);
    gen_safe_fseek64(b->name, f, strings_at, SEEK_SET);
    b->strsize = int32_t(elf_read_u32(f));
    if (b->strsize >= 0) {
        gen_safe_fseek64(b->name, f, strings_at, SEEK_SET);
        b->strings = static_cast<char *>(elf_read_bytes(f, nullptr, uint64_t(b->strsize)));
    }
    return b->nsyms;
}

void Bsd_SortSymbols(bsd_file *b) {
    if (b->symbols && b->nsyms > 0) gen_sort(nullptr, b->symbols, size_t(b->nsyms), sizeof(nlist), by_value, nullptr);
}

void Bsd_Close(bsd_file *b) {
    gen_free_fn(b->name);
    gen_free_fn(b->archive_name);
    gen_free_fn(b->symbols);
    gen_free_fn(b->strings);
    for (void *p : b->owned) gen_free_fn(p);
    std::memset(b, 0, sizeof *b);
}

int32_t Bsd_Int64ToLong(int64_t value) {
    const auto cut = int32_t(uint32_t(uint64_t(value)));
    if (cut != value) gen_error("Bsd_Int64ToLong: value truncated");
    return cut;
}

int32_t Bsd_LongToInt32(int32_t value) { return value; }

uint32_t Bsd_LongToUInt32(int32_t value) { return uint32_t(value); }
