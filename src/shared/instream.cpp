// Reading an input stream through the plain and checked wrappers.
#include "instream.h"

#include <algorithm>
#include <cstring>

#include "bytes.h"
#include "indgen.h"

int64_t InStream::size() {
    if (size_ == -2) size_ = gen_stream_size(f_);
    return size_ < 0 ? -1 : size_;
}

int64_t InStream::tell() const { return gen_ftell64(f_); }

int64_t InStream::left() {
    const int64_t here = tell();
    const int64_t end = size();
    if (here < 0 || end < 0) return -1;
    return here <= end ? end - here : 0;
}

bool InStream::fits(uint64_t at, uint64_t n) {
    const int64_t end = size();
    return end >= 0 && bytes::fits(at, n, uint64_t(end));
}

bool InStream::holds(uint64_t at, uint64_t count, uint64_t each) {
    if (each != 0 && count > UINT64_MAX / each) return false;
    return fits(at, count * each);
}

bool InStream::holds_here(uint64_t count, uint64_t each) {
    if (each != 0 && count > UINT64_MAX / each) return false;
    const int64_t n = left();
    return n >= 0 && count * each <= uint64_t(n);
}

void InStream::seek(int64_t pos) { gen_safe_fseek64(name_, f_, pos, SEEK_SET); }

bool InStream::try_seek(int64_t pos) { return gen_fseek64(f_, pos, SEEK_SET) == 0; }

bool InStream::move_to(int64_t pos) { return tell() == pos || try_seek(pos); }

size_t InStream::read(void *buf, size_t n) { return gen_read_upto(f_, buf, n); }

bool InStream::skip(uint64_t n) {
    uint8_t scratch[64];
    while (n > 0) {
        const size_t step = size_t(std::min<uint64_t>(n, sizeof scratch));
        if (read(scratch, step) != step) return false;
        n -= step;
    }
    return true;
}

bool InStream::eof() const { return std::feof(f_) != 0; }

bool InStream::error() const { return std::ferror(f_) != 0; }

size_t InStream::read_at(uint64_t at, void *buf, size_t n) {
    std::memset(buf, 0, n);
    const int64_t end = size();
    if (end <= 0 || at >= uint64_t(end)) return 0;
    const size_t avail = size_t(std::min<uint64_t>(n, uint64_t(end) - at));
    if (!gen_read_at(f_, int64_t(at), buf, avail)) {
        std::memset(buf, 0, n);
        return 0;
    }
    return avail;
}

bool InStream::read_string(std::string &out, size_t max) {
    out.clear();
    const int64_t start = tell();
    char chunk[256];
    while (out.size() < max) {
        const size_t want = std::min(sizeof chunk, max - out.size());
        const size_t got = read(chunk, want);
        const void *nul = std::memchr(chunk, 0, got);
        const size_t take = nul ? size_t(static_cast<const char *>(nul) - chunk) : got;
        out.append(chunk, take);
        if (nul) {
            // The stream is put behind the NUL, where a byte-wise reader
            // would have stopped (clearing an end-of-file mark met beyond).
            if (take + 1 < got || got < want) try_seek(start + int64_t(out.size()) + 1);
            return true;
        }
        if (got < want) return !out.empty();
    }
    return true;
}
