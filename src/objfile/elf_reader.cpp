// ELF file header, section headers and section names.
//
// Headers are read as one block and decoded through bytes::Cursor with the
// class deciding the word size, so both classes and both byte orders share
// one path. Before a count from the file drives an allocation or a read, the
// bytes it needs are checked against the size of the file.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "elf.h"
#include "genout.h"
#include "indgen.h"
#include "instream.h"

namespace {

int *status_ptr;
uint32_t error_count;
int byte_order;  // ELF_BIG_ENDIAN, ELF_LITTLE_ENDIAN, or 0 when none is set

bool order_known() { return byte_order == ELF_BIG_ENDIAN || byte_order == ELF_LITTLE_ENDIAN; }

// A block read that came up short counts twice: once in elf_error, once here.
void short_read(bool at_eof) {
    if (at_eof) errno = 0;
    elf_error(at_eof ? "read failed, unexpected EOF" : "read failed");
    ++error_count;
}

uint64_t read_value(FILE *f, int n) {
    if (!order_known()) {
        errno = 0;
        elf_error("internal, endian not set");
        return 0;
    }
    uint8_t b[8];
    std::memset(b, 0xff, sizeof b);
    errno = 0;
    (void)InStream(f).read(b, size_t(n));
    bool big = byte_order == ELF_BIG_ENDIAN;
    switch (n) {
    case 2:
        return bytes::load16(b, big);
    case 4:
        return bytes::load32(b, big);
    default:
        return bytes::load64(b, big);
    }
}

bool wide_class(int elf_class) { return elf_class == 64; }
bool known_class(int elf_class) { return elf_class == 32 || elf_class == 64; }

// base + offset as a stream position, or false when it does not fit.
bool stream_position(uint64_t base, uint64_t offset, int64_t &pos) {
    if (base > uint64_t(INT64_MAX) || offset > uint64_t(INT64_MAX) - base) return false;
    pos = int64_t(base + offset);
    return true;
}


}  // namespace

int *elf_set_status(int *status) {
    status_ptr = status;
    if (status) *status = 0;
    return status;
}

int *elf_get_status() { return status_ptr; }

uint32_t elf_get_error_count() { return error_count; }
void elf_count_error() { ++error_count; }

void elf_error(const char *format, ...) {
    ++error_count;
    if (status_ptr) {
        *status_ptr = -1;
        return;
    }
    int saved = errno;
    char text[1024];
    va_list args;
    va_start(args, format);
    gen_vsnprintf(text, sizeof text, format, args);
    va_end(args);
    errno = saved;
    if (saved != 0) gen_perror_exit(1, "%s", text);
    gen_fatal(1, "%s", text);
}

void elf_set_byte_order(int order) { byte_order = order; }
int elf_get_byte_order() { return byte_order; }

uint16_t elf_read_u16(FILE *f) { return uint16_t(read_value(f, 2)); }
uint32_t elf_read_u32(FILE *f) { return uint32_t(read_value(f, 4)); }
uint64_t elf_read_u64(FILE *f) { return read_value(f, 8); }

void *elf_alloc(uint64_t size) {
    if (size == 0) return nullptr;
    if (size > uint64_t(PTRDIFF_MAX)) {
        char shown[32];
        gen_snprintf(shown, sizeof shown, "%zd", static_cast<ptrdiff_t>(size));
        errno = 0;
        elf_error("out of memory allocating %s bytes", shown);
        return nullptr;
    }
    return gen_calloc_fn(1, size_t(size));
}

void *elf_read_bytes(FILE *f, void *buffer, uint64_t size) {
    InStream in(f);
    void *owned = nullptr;
    if (!buffer) {
        // Never allocate for bytes the file does not have.
        if (!in.holds_here(size, 1)) {
            short_read(true);
            return nullptr;
        }
        owned = elf_alloc(size);
        if (!owned) return nullptr;
        buffer = owned;
    }
    errno = 0;
    if (size != 0 && !in.read_exact(buffer, size_t(size))) {
        short_read(in.eof());
        gen_free_fn(owned);
        return nullptr;
    }
    return buffer;
}

bool elf_fits_in_file(FILE *f, uint64_t base, uint64_t offset, uint64_t size) {
    int64_t pos;
    return stream_position(base, offset, pos) && InStream(f).fits(uint64_t(pos), size);
}

void *elf_read_at(FILE *f, const char *file_name, uint64_t base, uint64_t offset, void *buffer, uint64_t size) {
    int64_t pos;
    if (!elf_fits_in_file(f, base, offset, size) || !stream_position(base, offset, pos)) {
        short_read(true);
        return nullptr;
    }
    gen_safe_fseek64(file_name, f, pos, SEEK_SET);
    return elf_read_bytes(f, buffer, size);
}

int elf_class_of(FILE *f, uint64_t offset, const char *name) {
    uint8_t ident[EI_NIDENT] = {};
    size_t got = 0;
    if (f) {
        InStream in(f, name);
        int64_t here = in.tell();
        in.seek(int64_t(offset));
        got = in.read(ident, sizeof ident);
        in.seek(here);
    } else {
        FILE *own = gen_fopen_or_die(name, "object file", "rb");
        InStream in(own, name);
        if (in.try_seek(int64_t(offset))) got = in.read(ident, sizeof ident);
        gen_safe_fclose(name, "object file", own);
    }
    if (got <= EI_CLASS) return -1;
    switch (ident[EI_CLASS]) {
    case ELFCLASS32:
        return 32;
    case ELFCLASS64:
        return 64;
    default:
        return -1;
    }
}

elf_header *genelf_readXheader(FILE *f, uint64_t base, elf_header *out, int elf_class) {
    gen_owned<elf_header> owned;
    elf_header *h = out;
    if (!h) {
        owned.reset(static_cast<elf_header *>(elf_alloc(sizeof(elf_header))));
        h = owned.get();
    }
    if (!known_class(elf_class)) {
        errno = 0;
        elf_error("Unexpected elfbits");
        return nullptr;
    }
    errno = 0;
    if (!elf_read_bytes(f, h->e_ident, EI_NIDENT)) return nullptr;
    if (h->e_ident[EI_MAG0] != ELFMAG0 || h->e_ident[EI_MAG1] != ELFMAG1 || h->e_ident[EI_MAG2] != ELFMAG2 ||
        h->e_ident[EI_MAG3] != ELFMAG3) {
        elf_error("bad elf magic number");
        return nullptr;
    }
    byte_order = h->e_ident[EI_DATA] == ELFDATA2MSB ? ELF_BIG_ENDIAN : ELF_LITTLE_ENDIAN;

    const bool wide = wide_class(elf_class);
    uint8_t rest[ELF64_EHDR_SIZE - EI_NIDENT];
    const size_t rest_size = (wide ? ELF64_EHDR_SIZE : ELF32_EHDR_SIZE) - EI_NIDENT;
    if (!elf_read_bytes(f, rest, rest_size)) return nullptr;
    bytes::Cursor c(std::span<const uint8_t>(rest, rest_size), byte_order == ELF_BIG_ENDIAN);
    h->e_type = c.u16();
    h->e_machine = c.u16();
    h->e_version = c.u32();
    h->e_entry = c.word(wide);
    h->e_phoff = c.word(wide);
    h->e_shoff = c.word(wide);
    h->e_flags = c.u32();
    h->e_ehsize = c.u16();
    h->e_phentsize = c.u16();
    h->e_phnum = c.u16();
    h->e_shentsize = c.u16();
    h->e_shnum = c.u16();
    h->e_shstrndx = c.u16();

    // Extended numbering: with 0xff00 sections or more the real count lives in
    // section 0's sh_size and, with SHN_XINDEX, the name table's index in its
    // sh_link.
    if (h->e_shnum == 0 && h->e_shoff > 0) {
        elf_section_header s0;
        int64_t here = gen_ftell64(f);
        int64_t at;
        if (!stream_position(base, h->e_shoff, at) ||
            !elf_read_section_headers(f, &s0, 1, at, h->e_shentsize, elf_class)) {
            elf_error("genelf_readXheader: Unable to read section header");
            return nullptr;
        }
        gen_safe_fseek64(nullptr, f, here, SEEK_SET);
        if (s0.sh_size > 0xffffffffu) {
            errno = 0;
            elf_error("ELF file overflow");
        }
        h->e_shnum = uint32_t(s0.sh_size);
        if (h->e_shstrndx == SHN_XINDEX) h->e_shstrndx = s0.sh_link;
    }
    owned.release();
    return h;
}

elf_section_header *elf_read_section_headers(FILE *f, elf_section_header *out, uint32_t count, int64_t offset,
                                             int entry_size, int elf_class) {
    if (!known_class(elf_class)) {
        errno = 0;
        elf_error("Unexpected elfbits");
        return nullptr;
    }
    const bool wide = wide_class(elf_class);
    const int standard = wide ? ELF64_SHDR_SIZE : ELF32_SHDR_SIZE;
    if (entry_size == 0) entry_size = standard;
    if (entry_size < standard) return nullptr;

    const uint64_t total = uint64_t(count) * uint64_t(entry_size);
    InStream in(f);
    if (offset != -1) {
        if (offset < 0 || !in.holds(uint64_t(offset), count, uint64_t(entry_size))) {
            short_read(true);
            return nullptr;
        }
        in.seek(offset);
    } else if (!in.holds_here(count, uint64_t(entry_size))) {
        short_read(true);
        return nullptr;
    }
    if (count == 0) return out;

    std::vector<uint8_t> raw(total);
    if (!elf_read_bytes(f, raw.data(), total)) return nullptr;
    elf_section_header *headers =
        out ? out : static_cast<elf_section_header *>(elf_alloc(uint64_t(count) * sizeof(elf_section_header)));
    if (!headers) return nullptr;

    bytes::Cursor c(raw, byte_order == ELF_BIG_ENDIAN);
    for (uint32_t i = 0; i < count; ++i) {
        c.seek(uint64_t(i) * uint64_t(entry_size));
        elf_section_header &s = headers[i];
        s.sh_name = c.u32();
        s.sh_type = c.u32();
        s.sh_flags = c.word(wide);
        s.sh_addr = c.word(wide);
        s.sh_offset = c.word(wide);
        s.sh_size = c.word(wide);
        s.sh_link = c.u32();
        s.sh_info = c.u32();
        s.sh_addralign = c.word(wide);
        s.sh_entsize = c.word(wide);
    }
    return headers;
}

char *elf_section_name(FILE *f, uint32_t shstrndx, elf_section_header *headers, uint32_t index, int64_t base) {
    std::string name;
    const uint64_t table = headers[shstrndx].sh_offset;
    const uint64_t offset = table + headers[index].sh_name;
    int64_t pos;
    InStream in(f);
    // A name that starts outside the file reads as end of file at once.
    if (offset >= table && stream_position(uint64_t(base), offset, pos) && in.fits(uint64_t(pos), 1)) {
        int64_t here = in.tell();
        in.seek(pos);
        in.read_string(name, SIZE_MAX);
        in.seek(here);
    }
    char *copy = static_cast<char *>(elf_alloc(name.size() + 1));
    if (copy) std::memcpy(copy, name.c_str(), name.size() + 1);
    return copy;
}

elf_section_header *elf_find_section(FILE *f, const char *name, int64_t base) {
    gen_safe_fseek64(nullptr, f, base, SEEK_SET);
    int elf_class = elf_class_of(f, uint64_t(base), nullptr);
    elf_header h;
    if (!genelf_readXheader(f, uint64_t(base), &h, elf_class) || h.e_shoff == 0) {
        ++error_count;
        return nullptr;
    }
    int64_t at;
    if (!stream_position(uint64_t(base), h.e_shoff, at)) {
        short_read(true);
        return nullptr;
    }
    gen_owned<elf_section_header> headers(
        elf_read_section_headers(f, nullptr, h.e_shnum, at, h.e_shentsize, elf_class));
    if (!headers || h.e_shstrndx >= h.e_shnum) return nullptr;

    // The name table is read once when the file holds it; a name that runs
    // to its end (or a table that does not fit) is read from the file.
    const elf_section_header &names = headers.get()[h.e_shstrndx];
    std::vector<uint8_t> table;
    int64_t table_at;
    InStream in(f);
    if (stream_position(uint64_t(base), names.sh_offset, table_at) && in.fits(uint64_t(table_at), names.sh_size)) {
        table.resize(size_t(names.sh_size));
        if (in.read_at(uint64_t(table_at), table.data(), table.size()) != table.size()) table.clear();
    }
    const std::string_view wanted(name);
    for (uint32_t i = 0; i < h.e_shnum; ++i) {
        const uint32_t offset = headers.get()[i].sh_name;
        bool equal;
        std::string_view in_table = bytes::string_at(table, offset);
        if (offset < table.size() && offset + in_table.size() < table.size()) {
            equal = in_table == wanted;
        } else {
            gen_owned<char> section_name(elf_section_name(f, h.e_shstrndx, headers.get(), i, base));
            equal = section_name && section_name.get() == wanted;
        }
        if (equal) {
            auto *copy = static_cast<elf_section_header *>(elf_alloc(sizeof(elf_section_header)));
            *copy = headers.get()[i];
            return copy;
        }
    }
    return nullptr;
}
