// The debug-information container (GFile) shared by name files and debug
// objects: a 20-byte header beginning "\x7fLKS", then integers, strings,
// addresses and 32-bit arrays in one of two encodings (big-endian fixed
// width, or LEB128 when the header's compress word is non-zero).
//
// Reading goes through GReader, a bounds-checked cursor over a window of the
// container that is filled from the stream as it is consumed (or over the
// whole container when it is held in memory). A read past the end of the
// container, a LEB128 value that does not fit its type or a bad pad byte
// makes the reader fail with one message; every later read fails too.
// Writing collects the container in memory and writes it out on close.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "bytes.h"
#include "gadr.h"

enum : uint32_t {
    GF_KIND_DBG = 1,
    GF_KIND_DBO = 2,
    GF_KIND_DNM = 3,
};

constexpr int GF_HEADER_SIZE = 20;
constexpr uint32_t GF_VERSION = 1;
constexpr uint32_t GF_ENDTBL_HI = 0x5B454E44;  // "[END"
constexpr uint32_t GF_ENDTBL_LO = 0x54424C5D;  // "TBL]"
constexpr uint32_t GF_PACK = 0x5041434B;       // "PACK"
constexpr uint8_t GF_LAYOUT_LITTLE = 2;        // layout flag written by this library
constexpr uint8_t GF_PAD_LAST = 0xAB;          // pad bytes count down to this value

struct GFile {
    FILE *fp;
    uint8_t ownsFile;
    uint8_t writing;
    uint8_t quiet;          // no messages of the reader itself
    uint8_t errorReported;  // "Error while processing" given for this stream
    uint8_t failed;         // a read failed (truncation, bad encoding, stream error)
    char *name;             // used in messages
    int64_t base;           // stream position of the first header byte
    int64_t limit;          // container bytes available from base
    int64_t lastPos;        // stream position after the last read
    // Header.
    uint32_t version;
    uint32_t kind;
    uint32_t compress;
    uint8_t adrEncoding;
    uint8_t descriptors;
    uint8_t layout;
    uint8_t reserved;
    uint32_t adrMode;  // from adrEncoding
    // The whole container in memory, when mapped.
    uint8_t *image;
    int64_t imageSize;
    // Output of a writer.
    uint8_t *out;
    int64_t outSize;
    int64_t outCap;
};

struct GFileOptions {
    uint32_t compress;       // non-zero: LEB128 integers
    uint8_t layout;          // 0, or GF_LAYOUT_LITTLE
    uint8_t useDescriptors;  // asks for descriptors (refused with a warning)
};

// Options from the library flags: compress from `compress`, descriptors from
// `useDescriptors`, layout 2.
GFileOptions gf_DefaultOptions();

// Opens a container for reading on `fp` at its current position, or by
// `path` when fp is null. `name` (or the path, or "UNKNOWN") is used in
// messages. Null when the header is not a readable container; a file opened
// here is closed again.
GFile *gf_OpenRead(FILE *fp, const char *path, const char *name, int quiet);
// Reads the whole container into memory; later readers use that copy.
int gf_Map(GFile *gf);
// Hands the in-memory copy to the caller (who frees it with gen_free_fn).
uint8_t *gf_TakeImage(GFile *gf, int64_t *size);

// Opens a container for writing; it is written to `fp` (or `path`, opened
// "wb") on gf_CloseWrite, or kept in memory when both are null.
GFile *gf_OpenWrite(FILE *fp, const char *path, uint32_t kind, uint32_t adrMode, const GFileOptions &opt);
// Writes the collected bytes out. 0, or -1 after a message.
int gf_CloseWrite(GFile *gf);
// The bytes written so far (writers that keep the container in memory).
std::span<const uint8_t> gf_Output(const GFile *gf);

// Closes a container (without writing); a file opened by the library is
// closed, and the GFile is freed.
void gf_Close(GFile *gf);
const char *gf_Name(const GFile *gf);
// "Error while processing" once per stream.
void gf_StreamError(GFile *gf, int err);

// The LZSS scheme of packed raw tables: a 4096-byte window whose unwritten
// part reads as zero, first write position 4078, one flag byte per eight
// items (least significant bit first; 1 a literal, 0 a two-byte reference).
// Unpack stops after `max + 1` bytes and returns the count produced.
int64_t gf_Unpack(std::span<const uint8_t> in, uint8_t *out, int64_t max);
std::vector<uint8_t> gf_Pack(std::span<const uint8_t> in);

// A bounds-checked reader over the container from a given offset.
class GReader {
  public:
    GReader(GFile *gf, int64_t offset);

    bool ok() const { return !failed_; }
    GFile *file() const { return gf_; }
    int64_t pos() const { return origin_ + int64_t(cur_.pos()); }
    int64_t left() const;  // bytes of the container after pos()

    // Fixed-width fields, big-endian.
    uint8_t u8();
    uint16_t u16();
    uint32_t fixed32();
    uint64_t fixed64();
    bool raw(uint8_t *dst, int64_t n);
    std::span<const uint8_t> view(int64_t n);  // valid until the next read
    void skip(int64_t n);

    // Fields in the container's encoding.
    uint32_t u32();
    int32_t s32();
    uint64_t u64();
    int32_t index();
    void pair(uint32_t &a, uint32_t &b);
    void triple(uint32_t &a, uint32_t &b, uint32_t &c);
    char *string();  // owned copy (gen_free_fn), null for length 0
    gadr adr();
    void range(gadr &begin, gadr &end);
    bool array32(int32_t *out, int64_t count);
    bool end_marker(const char *table);

    uint64_t uleb(int bits);
    int64_t sleb(int bits);

    // Makes the reader fail with a message of its own.
    void fail(const char *fmt, ...);

  private:
    bool ensure(uint64_t n);
    void truncated(uint64_t n);

    GFile *gf_;
    std::vector<uint8_t> buf_;
    int64_t origin_;
    bytes::Cursor cur_;
    bool failed_ = false;
};

// Writers of the same fields; the position is the container offset.
int64_t gf_Pos(const GFile *gf);
void gf_Put8(GFile *gf, uint8_t v);
void gf_Put16(GFile *gf, uint16_t v);
void gf_PutFixed32(GFile *gf, uint32_t v);
void gf_PutFixed64(GFile *gf, uint64_t v);
void gf_PutRaw(GFile *gf, const void *p, int64_t n);
void gf_PatchFixed32(GFile *gf, int64_t pos, uint32_t v);
void gf_PatchFixed64(GFile *gf, int64_t pos, uint64_t v);
void gf_PutULEB(GFile *gf, uint64_t v);
void gf_PutSLEB(GFile *gf, int64_t v);
void gf_PutU32(GFile *gf, uint32_t v);
void gf_PutS32(GFile *gf, int32_t v);
void gf_PutU64(GFile *gf, uint64_t v);
void gf_PutIndex(GFile *gf, int32_t v);
void gf_PutPair(GFile *gf, uint32_t a, uint32_t b);
void gf_PutTriple(GFile *gf, uint32_t a, uint32_t b, uint32_t c);
void gf_PutString(GFile *gf, const char *s);  // null: length 0
void gf_PutAdr(GFile *gf, const gadr &a);
void gf_PutRange(GFile *gf, const gadr &begin, const gadr &end);
void gf_PutArray32(GFile *gf, const int32_t *v, int64_t count);
void gf_PutEndMarker(GFile *gf);
