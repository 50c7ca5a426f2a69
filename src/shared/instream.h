// Reading an input stream: the one way the readers take bytes from a file.
//
// An InStream is a light view of a FILE opened for reading (it neither
// opens nor closes it). Reads go through the plain wrappers of indgen.h and
// never print; seek() is the checked seek, which ends the program naming
// the stream when it fails. The size of the stream is asked once, on first
// need, and a count read from a file is checked against it with fits() or
// holds() before anything is allocated or looped over. The bytes read are
// decoded with bytes::Cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class InStream {
  public:
    // `name` names the stream in the message of a failed checked seek (null:
    // "file").
    explicit InStream(FILE *f, const char *name = nullptr) : f_(f), name_(name) {}

    FILE *file() const { return f_; }

    // Size of the stream in bytes, -1 when it cannot be had; asked once.
    int64_t size();
    // The current position, -1 when it cannot be had.
    int64_t tell() const;
    // Bytes behind the current position (0 past the end), -1 when unknown.
    int64_t left();
    // True when the n bytes at `at` lie inside the stream (no overflow for
    // any inputs; false when the size is unknown).
    bool fits(uint64_t at, uint64_t n);
    // True when `count` entries of `each` bytes at `at` lie inside the
    // stream; the product is formed in 64 bits and an overflow fails.
    bool holds(uint64_t at, uint64_t count, uint64_t each);
    // The same behind the current position.
    bool holds_here(uint64_t count, uint64_t each);

    // Checked seek to an absolute position.
    void seek(int64_t pos);
    // Plain seek; false when it fails.
    bool try_seek(int64_t pos);
    // Plain seek that is left out when the stream is already there (readers
    // that mostly go forward save a system call per record).
    bool move_to(int64_t pos);

    // Up to n bytes at the current position; the count read, short at the
    // end of the stream or on a read error (see eof() and error()).
    size_t read(void *buf, size_t n);
    // Exactly n bytes at the current position.
    bool read_exact(void *buf, size_t n) { return read(buf, n) == n; }
    // Reads and drops n bytes; false when they are not all there.
    bool skip(uint64_t n);
    // The end of the stream, or a read error, was met by a read.
    bool eof() const;
    bool error() const;

    // n bytes at absolute offset `at`, clipped to the stream's size: bytes
    // past the end read as zero and are not counted. The count read.
    size_t read_at(uint64_t at, void *buf, size_t n);

    // The string at the current position up to a NUL, at most `max`
    // characters; the end of the stream ends it too. The stream is left
    // behind the last byte taken (the NUL included). False, with `out`
    // empty, when the stream ends before the first byte (and max > 0).
    bool read_string(std::string &out, size_t max);

  private:
    FILE *f_;
    const char *name_;
    int64_t size_ = -2;  // -2: not asked yet
};
