// COFF reader: headers, symbol entries and string-table names read from the
// stream in the byte order the handler configured.
//
// Every record is read as one block and decoded through bytes::Cursor, so
// both byte orders and the three section-header layouts share one path. A
// block that the file does not hold completely fails the whole read.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "bytes.h"
#include "coff.h"
#include "coff_reader.h"
#include "indgen.h"
#include "instream.h"

int coff_big_endian;
int coff_symbol_entry_size = SYMESZ;
int ti_coff;
int m88k_layout;

namespace {

// The largest record the reader takes in one block.
constexpr size_t MAX_BLOCK = TI_SCNHSZ;

// Reads exactly n bytes into buf; false at the end of the file.
bool read_block(FILE *f, uint8_t *buf, size_t n) { return InStream(f).read_exact(buf, n); }

// The handler reads entries and names mostly in file order: the seek is left
// out when the stream is already there.
bool seek_to(FILE *f, int64_t pos) { return InStream(f).move_to(pos); }

constexpr size_t NAME_BLOCK = coff_string_table::block_size;
static_assert(NAME_BLOCK > COFF_NAME_MAX);
// Lasting copies of names are kept in chunks of this size.
constexpr size_t COPY_CHUNK = size_t(64) << 10;
static_assert(COPY_CHUNK > COFF_NAME_MAX);

bytes::Cursor cursor(const uint8_t *buf, size_t n) {
    return bytes::Cursor(std::span<const uint8_t>(buf, n), coff_big_endian != 0);
}

// A name field as read: either eight characters, kept as they are and
// terminated by the field behind them, or four zero bytes and a string-table
// offset, which is stored in host order.
void take_name(bytes::Cursor &c, char (&name)[8], uint32_t &name_end) {
    std::span<const uint8_t> raw = c.raw(SYMNMLEN);
    if (raw.empty()) return;
    std::memcpy(name, raw.data(), SYMNMLEN);
    name_end = 0;
    if (coff_name_is_long(name)) {
        uint32_t offset = bytes::load32(raw.data() + 4, coff_big_endian != 0);
        std::memcpy(name + 4, &offset, sizeof offset);
    }
}

}  // namespace

coff_file_header coff_decode_file_header(const uint8_t *raw, size_t n, bool big, bool ti) {
    bytes::Cursor c(std::span<const uint8_t>(raw, n), big);
    coff_file_header h{};
    h.f_magic = c.u16();
    h.f_nscns = c.u16();
    h.f_timdat = c.u32();
    h.f_symptr = c.u32();
    h.f_nsyms = c.u32();
    h.f_opthdr = c.u16();
    h.f_flags = c.u16();
    if (ti) h.f_target = c.u16();
    return h;
}

int coff_read_file_header(FILE *f, coff_file_header *out) {
    uint8_t buf[TI_FILHSZ];
    const size_t size = ti_coff ? TI_FILHSZ : FILHSZ;
    const size_t got = InStream(f).read(buf, size);
    *out = coff_decode_file_header(buf, got, coff_big_endian != 0, ti_coff != 0);
    return got == size ? 0 : -1;
}

uint32_t coff_section_header_size() {
    if (ti_coff) return TI_SCNHSZ;
    return m88k_layout ? M88K_SCNHSZ : SCNHSZ;
}

int coff_read_u16(uint16_t *out, FILE *f) {
    uint8_t b[2];
    if (!read_block(f, b, sizeof b)) {
        *out = 0;
        return -1;
    }
    *out = bytes::load16(b, coff_big_endian != 0);
    return 0;
}

int coff_read_u32(uint32_t *out, FILE *f) {
    uint8_t b[4];
    if (!read_block(f, b, sizeof b)) {
        *out = 0;
        return -1;
    }
    *out = bytes::load32(b, coff_big_endian != 0);
    return 0;
}

int coff_read_long(uint32_t *out, FILE *f) { return coff_read_u32(out, f); }

int coff_read_section_header(FILE *f, coff_section_header *out) {
    *out = coff_section_header{};
    uint8_t buf[MAX_BLOCK];
    const uint32_t size = coff_section_header_size();
    if (!read_block(f, buf, size)) return -1;
    bytes::Cursor c = cursor(buf, size);
    take_name(c, out->s_name, out->s_name_end);
    out->s_paddr = c.u32();
    out->s_vaddr = c.u32();
    out->s_size = c.u32();
    out->s_scnptr = c.u32();
    out->s_relptr = c.u32();
    out->s_lnnoptr = c.u32();
    if (ti_coff || m88k_layout) {
        out->s_nreloc = c.u32();
        out->s_nlnno = c.u32();
    } else {
        out->s_nreloc = c.u16();
        out->s_nlnno = c.u16();
    }
    out->s_flags = c.u32();
    out->s_cleared = 0;
    if (ti_coff) {
        out->s_reserved = c.u16();
        out->s_page = c.u16();
    }
    return c.ok() ? 0 : -1;
}

int coff_read_symbol(FILE *f, int64_t table_offset, int index, coff_symbol *out) {
    *out = coff_symbol{};
    if (table_offset < 1 || index < -1) return -1;
    if (index >= 0) {
        // At most 2^31 entries of a few bytes each: no overflow for any
        // offset a stream can have.
        const int64_t step = int64_t(coff_symbol_entry_size) * index;
        if (coff_symbol_entry_size < 0 || table_offset > INT64_MAX - step) return -1;
        if (!seek_to(f, table_offset + step)) return -1;
    }
    // The common entry, and the two bytes an M88000 entry adds (not used).
    uint8_t buf[M88K_SYMESZ];
    const size_t size = m88k_layout ? M88K_SYMESZ : SYMESZ;
    if (!read_block(f, buf, size)) return -1;
    bytes::Cursor c = cursor(buf, size);
    take_name(c, out->n_name, out->n_name_end);
    out->n_value = c.u32();
    out->n_scnum = c.u16();
    out->n_type = c.u16();
    out->n_sclass = c.u8();
    out->n_numaux = c.u8();
    return c.ok() ? 0 : -1;
}

int coff_read_name(FILE *f, int64_t base, uint32_t offset, char *buf, size_t size) {
    if (size == 0) return -1;
    buf[0] = 0;
    if (base < 0 || base > INT64_MAX - int64_t(offset) || !seek_to(f, base + int64_t(offset))) return -1;
    std::string name;
    if (!InStream(f).read_string(name, size - 1)) return -1;
    std::memcpy(buf, name.c_str(), name.size() + 1);
    return 0;
}

char *coff_read_string(FILE *f, int64_t base, int offset) {
    static char name_buffer[COFF_NAME_MAX + 1];
    return coff_read_name(f, base, uint32_t(offset), name_buffer, sizeof name_buffer) == 0 ? name_buffer : nullptr;
}

const coff_string_table::Block &coff_string_table::block(uint64_t index) {
    if (last_ && last_index_ == index) return *last_;
    auto [it, added] = blocks_.try_emplace(index);
    Block &b = it->second;
    if (added) {
        // A block that cannot be reached or read holds nothing, as the end
        // of the stream does; a short read is where the stream ends.
        const uint64_t from = index * NAME_BLOCK;
        auto bytes = std::make_unique_for_overwrite<char[]>(NAME_BLOCK);
        size_t got = 0;
        InStream in(f_);
        if (base_ >= 0 && from <= uint64_t(INT64_MAX - base_) && in.move_to(base_ + int64_t(from)))
            got = in.read(bytes.get(), NAME_BLOCK);
        if (got > 0) {
            b.bytes = std::move(bytes);
            b.size = uint32_t(got);
        }
    }
    last_index_ = index;
    last_ = &b;
    return b;
}

const char *coff_string_table::keep(std::string_view text) {
    if (chunk_room_ <= text.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<char[]>(COPY_CHUNK));
        chunk_next_ = chunks_.back().get();
        chunk_room_ = COPY_CHUNK;
    }
    char *copy = chunk_next_;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = 0;
    chunk_next_ += text.size() + 1;
    chunk_room_ -= text.size() + 1;
    return copy;
}

const char *coff_string_table::name(uint32_t offset, bool lasting) {
    if (base_ < 0 || base_ > INT64_MAX - int64_t(offset)) return nullptr;
    const auto text = [](const Block &b) { return std::string_view(b.bytes.get(), b.size); };
    const uint64_t index = offset / NAME_BLOCK;
    const std::string_view first = text(block(index));
    const size_t at = offset % NAME_BLOCK;
    if (at >= first.size()) return nullptr;
    // Terminated within the block: the name is where it lies.
    const std::string_view head = first.substr(at, COFF_NAME_MAX);
    if (head.find('\0') != std::string_view::npos) return head.data();

    // Cut at the limit or at the end of the stream, or going on in the next
    // block: a terminated copy, kept once per offset when it must last.
    if (lasting) {
        const auto kept = copies_.find(offset);
        if (kept != copies_.end()) return kept->second;
    }
    scratch_.assign(head);
    if (head.size() < COFF_NAME_MAX && first.size() == NAME_BLOCK) {
        const std::string_view tail = text(block(index + 1)).substr(0, COFF_NAME_MAX - head.size());
        scratch_.append(tail.substr(0, tail.find('\0')));
    }
    if (!lasting) return scratch_.c_str();
    return copies_.emplace(offset, keep(scratch_)).first->second;
}

int coff_skip_pe_stub(FILE *f) {
    const int64_t start = gen_ftell64(f);
    if (start < 0) return 1;
    uint8_t mz[2];
    if (!read_block(f, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z') return 1;
    uint32_t pe_offset;
    if (gen_fseek64(f, start + int64_t(PE_OFFSET_FIELD), SEEK_SET) != 0 || coff_read_u32(&pe_offset, f) != 0) return 1;
    uint8_t signature[4];
    if (gen_fseek64(f, start + int64_t(pe_offset), SEEK_SET) != 0 || !read_block(f, signature, sizeof signature))
        return 1;
    return std::memcmp(signature, "PE\0\0", 4) == 0 ? 0 : 1;
}
