// The one door through which the readers look at file bytes.
//
// A Cursor walks a byte buffer in either byte order and never reads outside
// it: a read past the end yields 0 and marks the cursor failed, and every
// later read fails too. Readers check ok() once after a group of fields.
// Load helpers convert one field at a known, already checked position.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace bytes {

inline uint16_t load16(const uint8_t *p, bool big) {
    return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

inline uint32_t load32(const uint8_t *p, bool big) {
    return big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

inline uint64_t load64(const uint8_t *p, bool big) {
    uint64_t hi = load32(big ? p : p + 4, big);
    uint64_t lo = load32(big ? p + 4 : p, big);
    return hi << 32 | lo;
}

// True when [offset, offset + n) lies inside a buffer of `size` bytes,
// without overflow for any 64-bit inputs.
inline bool fits(uint64_t offset, uint64_t n, uint64_t size) {
    return offset <= size && n <= size - offset;
}

class Cursor {
  public:
    Cursor() = default;
    Cursor(std::span<const uint8_t> buf, bool big_endian, uint64_t pos = 0)
        : buf_(buf), big_(big_endian), pos_(pos), ok_(pos <= buf.size()) {}

    bool ok() const { return ok_; }
    bool big_endian() const { return big_; }
    uint64_t pos() const { return pos_; }
    uint64_t size() const { return buf_.size(); }
    uint64_t remaining() const { return ok_ && pos_ <= buf_.size() ? buf_.size() - pos_ : 0; }
    void seek(uint64_t pos) {
        pos_ = pos;
        if (pos > buf_.size()) ok_ = false;
    }
    void skip(uint64_t n) { take(n); }

    uint8_t u8() {
        const uint8_t *p = take(1);
        return p ? p[0] : 0;
    }
    uint16_t u16() {
        const uint8_t *p = take(2);
        return p ? load16(p, big_) : 0;
    }
    uint32_t u32() {
        const uint8_t *p = take(4);
        return p ? load32(p, big_) : 0;
    }
    uint64_t u64() {
        const uint8_t *p = take(8);
        return p ? load64(p, big_) : 0;
    }
    // A word of the file's class: 8 bytes when wide, else 4.
    uint64_t word(bool wide) { return wide ? u64() : u32(); }

    // n raw bytes, or an empty span (and a failed cursor) when they are not there.
    std::span<const uint8_t> raw(uint64_t n) {
        const uint8_t *p = take(n);
        return p ? std::span<const uint8_t>(p, size_t(n)) : std::span<const uint8_t>();
    }

  private:
    const uint8_t *take(uint64_t n) {
        if (!ok_ || !fits(pos_, n, buf_.size())) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t *p = buf_.data() + pos_;
        pos_ += n;
        return p;
    }

    std::span<const uint8_t> buf_;
    bool big_ = false;
    uint64_t pos_ = 0;
    bool ok_ = false;
};

// The NUL-terminated string at `offset` of a string table, cut at the end of
// the table when it has no NUL; empty when the offset lies outside.
inline std::string_view string_at(std::span<const uint8_t> table, uint64_t offset) {
    if (offset >= table.size()) return {};
    const char *s = reinterpret_cast<const char *>(table.data()) + offset;
    size_t max = table.size() - size_t(offset);
    const void *nul = std::memchr(s, 0, max);
    return std::string_view(s, nul ? size_t(static_cast<const char *>(nul) - s) : max);
}

}  // namespace bytes
