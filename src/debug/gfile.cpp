// The container: header, readers and writers of its encodings, and the LZSS
// scheme of packed raw tables.
#include "gfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "genout.h"
#include "indgen.h"
#include "instream.h"
#include "st_api.h"

namespace {

constexpr uint8_t magic[4] = {0x7F, 'L', 'K', 'S'};
constexpr int64_t first_window = 4096;

// The no-address value, whatever width the file stores.
gadr invalid_adr() {
    gadr g;
    gadr_set_invalid(g);
    return g;
}

GFile *new_gfile(const char *name) {
    GFile *gf = static_cast<GFile *>(gen_calloc_fn(1, sizeof(GFile)));
    gf->name = gen_strdup(name ? name : "UNKNOWN");
    return gf;
}

void free_gfile(GFile *gf) {
    if (!gf) return;
    if (gf->ownsFile && gf->fp) std::fclose(gf->fp);
    gen_free_fn(gf->name);
    gen_free_fn(gf->image);
    gen_free_fn(gf->out);
    gen_free_fn(gf);
}

}  // namespace

const char *gf_Name(const GFile *gf) { return gf && gf->name ? gf->name : "UNKNOWN"; }

void gf_StreamError(GFile *gf, int err) {
    if (!gf) return;
    gf->failed = 1;
    if (gf->errorReported) return;
    gf->errorReported = 1;
    if (err) {
        errno = err;
        gen_perror("Error while processing \"%s\"", gf_Name(gf));
    } else {
        gen_error("Error while processing \"%s\"", gf_Name(gf));
    }
}

GFileOptions gf_DefaultOptions() {
    GFileOptions opt{};
    opt.compress = STConfig_Compress() ? 1 : 0;
    opt.layout = GF_LAYOUT_LITTLE;
    opt.useDescriptors = STConfig_UseDescriptors() ? 1 : 0;
    return opt;
}

// ------------------------------------------------------------ opening

GFile *gf_OpenRead(FILE *fp, const char *path, const char *name, int quiet) {
    bool owns = false;
    if (!fp) {
        if (!path) return nullptr;
        fp = gen_fopen(path, "rb");
        if (!fp) return nullptr;
        owns = true;
    }
    GFile *gf = new_gfile(name ? name : path);
    gf->fp = fp;
    gf->ownsFile = owns;
    gf->quiet = uint8_t(quiet != 0);
    InStream in(fp);
    gf->base = in.tell();
    int64_t size = gf->base < 0 ? -1 : in.size();
    if (gf->base < 0 || size < 0) {
        gf_StreamError(gf, errno);
        free_gfile(gf);
        return nullptr;
    }
    gf->limit = size > gf->base ? size - gf->base : 0;
    gf->lastPos = gf->base;

    GReader r(gf, 0);
    uint8_t head[4];
    r.raw(head, 4);
    gf->version = r.fixed32();
    gf->kind = r.fixed32();
    gf->compress = r.fixed32();
    gf->adrEncoding = r.u8();
    gf->descriptors = r.u8();
    gf->layout = r.u8();
    gf->reserved = r.u8();
    bool good = r.ok() && std::memcmp(head, magic, 4) == 0 && gf->version < 2 && gf->reserved == 0 && !in.error();
    if (good && gf->descriptors != 0) {
        gen_error("GFile desciptors not supported");
        good = false;
    }
    if (!good) {
        free_gfile(gf);
        return nullptr;
    }
    gf->adrMode = gadr_mode_from_encoding(gf->adrEncoding);
    return gf;
}

int gf_Map(GFile *gf) {
    if (gf->image) return 0;
    InStream in(gf->fp);
    if (!in.try_seek(gf->base)) {
        gf_StreamError(gf, errno);
        return -1;
    }
    uint8_t *image = static_cast<uint8_t *>(gen_calloc_fn(size_t(gf->limit ? gf->limit : 1), 1));
    size_t got = in.read(image, size_t(gf->limit));
    if (int64_t(got) != gf->limit) {
        gen_free_fn(image);
        gf_StreamError(gf, in.error() ? errno : 0);
        return -1;
    }
    gf->image = image;
    gf->imageSize = gf->limit;
    return 0;
}

uint8_t *gf_TakeImage(GFile *gf, int64_t *size) {
    uint8_t *image = gf->image;
    *size = gf->imageSize;
    gf->image = nullptr;
    gf->imageSize = 0;
    return image;
}

void gf_Close(GFile *gf) { free_gfile(gf); }

GFile *gf_OpenWrite(FILE *fp, const char *path, uint32_t kind, uint32_t adrMode, const GFileOptions &opt) {
    GFile *gf = new_gfile(path);
    gf->writing = 1;
    gf->fp = fp;
    gf->kind = kind;
    gf->version = GF_VERSION;
    gf->compress = opt.compress ? 1 : 0;
    gf->adrMode = adrMode;
    gf->adrEncoding = uint8_t(gadr_encoding_from_mode(adrMode));
    gf->layout = opt.layout;
    if (opt.useDescriptors) gen_warning("GFile desciptors not supported");
    if (!fp && path) {
        gf->fp = gen_fopen(path, "wb");
        if (!gf->fp) {
            ST_ErrorErrno("could not open \"%s\"", path);
            free_gfile(gf);
            return nullptr;
        }
        gf->ownsFile = 1;
    }
    gf_PutRaw(gf, magic, 4);
    gf_PutFixed32(gf, gf->version);
    gf_PutFixed32(gf, gf->kind);
    gf_PutFixed32(gf, gf->compress);
    gf_Put8(gf, gf->adrEncoding);
    gf_Put8(gf, 0);
    gf_Put8(gf, gf->layout);
    gf_Put8(gf, 0);
    return gf;
}

int gf_CloseWrite(GFile *gf) {
    int result = 0;
    if (gf->fp) {
        size_t n = size_t(gf->outSize);
        if (std::fwrite(gf->out, 1, n, gf->fp) != n || std::fflush(gf->fp) != 0 || std::ferror(gf->fp)) {
            ST_ErrorErrno("could not write \"%s\"", gf_Name(gf));
            result = -1;
        }
    }
    free_gfile(gf);
    return result;
}

std::span<const uint8_t> gf_Output(const GFile *gf) { return std::span<const uint8_t>(gf->out, size_t(gf->outSize)); }

// ------------------------------------------------------------ reading

GReader::GReader(GFile *gf, int64_t offset) : gf_(gf), origin_(offset) {
    if (gf_->image) {
        origin_ = 0;
        cur_ = bytes::Cursor(std::span<const uint8_t>(gf_->image, size_t(gf_->imageSize)), true,
                             uint64_t(offset < 0 ? gf_->imageSize + 1 : offset));
    } else {
        cur_ = bytes::Cursor(std::span<const uint8_t>(), true, 0);
    }
    if (offset < 0 || offset > gf_->limit) {
        // Every read fails; pos() still names the offset asked for.
        origin_ = offset;
        cur_ = bytes::Cursor(std::span<const uint8_t>(), true, 0);
    }
}

int64_t GReader::left() const {
    int64_t p = pos();
    return p >= 0 && p < gf_->limit ? gf_->limit - p : 0;
}

void GReader::fail(const char *fmt, ...) {
    if (failed_) return;
    failed_ = true;
    gf_->failed = 1;
    if (gf_->quiet) return;
    va_list args;
    va_start(args, fmt);
    char buf[512];
    gen_vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    ST_Error("%s", buf);
}

void GReader::truncated(uint64_t n) {
    fail("\"%s\" is truncated: %I64u bytes needed at offset 0x%I64x, %I64d left", gf_Name(gf_), n, pos(), left());
}

bool GReader::ensure(uint64_t n) {
    if (failed_) return false;
    if (cur_.ok() && cur_.remaining() >= n) return true;
    int64_t p = pos();
    if (!gf_->image && p >= 0 && p <= gf_->limit && uint64_t(gf_->limit - p) >= n) {
        // Extend the window: at least what is needed, at least doubling it.
        int64_t end = origin_ + int64_t(buf_.size());
        uint64_t want = std::max<uint64_t>(n - cur_.remaining(), std::max<uint64_t>(buf_.size(), first_window));
        want = std::min<uint64_t>(want, uint64_t(gf_->limit - end));
        InStream in(gf_->fp);
        if (!in.try_seek(gf_->base + end)) {
            gf_StreamError(gf_, errno);
        } else {
            size_t old = buf_.size();
            buf_.resize(old + size_t(want));
            size_t got = in.read(buf_.data() + old, size_t(want));
            buf_.resize(old + got);
            gf_->lastPos = gf_->base + end + int64_t(got);
            if (got < want && in.error()) gf_StreamError(gf_, errno);
        }
        uint64_t at = cur_.pos();
        cur_ = bytes::Cursor(std::span<const uint8_t>(buf_), true, at);
        if (cur_.ok() && cur_.remaining() >= n) return true;
    }
    truncated(n);
    return false;
}

uint8_t GReader::u8() { return ensure(1) ? cur_.u8() : 0; }
uint16_t GReader::u16() { return ensure(2) ? cur_.u16() : 0; }
uint32_t GReader::fixed32() { return ensure(4) ? cur_.u32() : 0; }
uint64_t GReader::fixed64() { return ensure(8) ? cur_.u64() : 0; }

bool GReader::raw(uint8_t *dst, int64_t n) {
    if (n < 0 || !ensure(uint64_t(n))) return false;
    std::span<const uint8_t> s = cur_.raw(uint64_t(n));
    if (n) std::memcpy(dst, s.data(), size_t(n));
    return true;
}

std::span<const uint8_t> GReader::view(int64_t n) {
    if (n < 0 || !ensure(uint64_t(n))) return {};
    return cur_.raw(uint64_t(n));
}

void GReader::skip(int64_t n) {
    if (n >= 0 && ensure(uint64_t(n))) cur_.skip(uint64_t(n));
}

uint64_t GReader::uleb(int bits) {
    int64_t at = pos();
    const int max_bytes = (bits + 6) / 7;
    uint64_t value = 0;
    for (int i = 0; i < max_bytes; ++i) {
        uint8_t b = u8();
        if (failed_) return 0;
        int shift = 7 * i;
        uint64_t part = uint64_t(b & 0x7F);
        if (shift + 7 > bits && (part >> (bits - shift)) != 0) break;
        value |= part << shift;
        if (!(b & 0x80)) return value;
    }
    fail("LEB128 value at offset 0x%I64x of \"%s\" does not fit in %d bits", at, gf_Name(gf_), bits);
    return 0;
}

int64_t GReader::sleb(int bits) {
    int64_t at = pos();
    const int max_bytes = (bits + 6) / 7;
    uint64_t value = 0;
    int shift = 0;
    for (int i = 0; i < max_bytes; ++i) {
        uint8_t b = u8();
        if (failed_) return 0;
        value |= uint64_t(b & 0x7F) << shift;
        shift += 7;
        if (!(b & 0x80)) {
            if (shift < 64 && (b & 0x40)) value |= ~uint64_t(0) << shift;
            int64_t v = int64_t(value);
            int64_t lo = bits >= 64 ? INT64_MIN : -(int64_t(1) << (bits - 1));
            int64_t hi = bits >= 64 ? INT64_MAX : (int64_t(1) << (bits - 1)) - 1;
            if (v >= lo && v <= hi) return v;
            break;
        }
    }
    fail("LEB128 value at offset 0x%I64x of \"%s\" does not fit in %d bits", at, gf_Name(gf_), bits);
    return 0;
}

uint32_t GReader::u32() { return gf_->compress ? uint32_t(uleb(32)) : fixed32(); }
int32_t GReader::s32() { return gf_->compress ? int32_t(sleb(32)) : int32_t(fixed32()); }
uint64_t GReader::u64() { return gf_->compress ? uleb(64) : fixed64(); }
int32_t GReader::index() { return gf_->compress ? int32_t(uint32_t(uleb(32)) - 1u) : int32_t(fixed32()); }

void GReader::pair(uint32_t &a, uint32_t &b) {
    if (gf_->compress) {
        a = uint32_t(uleb(32)) - 1u;
        b = a + uint32_t(int32_t(sleb(32)));
    } else {
        a = fixed32();
        b = fixed32();
    }
}

void GReader::triple(uint32_t &a, uint32_t &b, uint32_t &c) {
    if (gf_->compress) {
        a = uint32_t(uleb(32)) - 1u;
        b = a + uint32_t(int32_t(sleb(32)));
        c = b + uint32_t(int32_t(sleb(32)));
    } else {
        a = fixed32();
        b = fixed32();
        c = fixed32();
    }
}

char *GReader::string() {
    int64_t at = pos();
    uint32_t len = u32();
    if (failed_ || len == 0) return nullptr;
    std::span<const uint8_t> s = view(len);
    if (failed_) return nullptr;
    if (s[len - 1] != 0) {
        fail("string at offset 0x%I64x of \"%s\" is not zero-terminated", at, gf_Name(gf_));
        return nullptr;
    }
    char *copy = static_cast<char *>(gen_calloc_fn(len, 1));
    std::memcpy(copy, s.data(), len);
    return copy;
}

gadr GReader::adr() {
    gadr g{0, 0};
    switch (gf_->adrMode) {
        case GADR_MODE_16BIT: {
            uint16_t v = u16();
            if (v == 0xFFFF) return invalid_adr();
            g.lo = v;
            break;
        }
        case GADR_MODE_16BIT_16SEG: {
            uint32_t seg = uint32_t(s32()) & 0xFFFF;
            uint16_t off = u16();
            g.lo = seg << 16 | off;
            if (g.lo == 0xFFFFFFFF) return invalid_adr();
            break;
        }
        case GADR_MODE_64BIT:
            g.hi = fixed32();
            g.lo = fixed32();
            break;
        default:
            g.lo = fixed32();
            if (g.lo == 0xFFFFFFFF) return invalid_adr();
            break;
    }
    return g;
}

void GReader::range(gadr &begin, gadr &end) {
    begin = adr();
    if (!gf_->compress) {
        end = adr();
        return;
    }
    end = gadr{0, 0};
    switch (gf_->adrMode) {
        case GADR_MODE_16BIT: {
            int32_t d = int32_t(sleb(32));
            uint32_t v = (begin.lo + uint32_t(d)) & 0xFFFF;
            if (v == 0xFFFF)
                end = invalid_adr();
            else
                end.lo = v;
            break;
        }
        case GADR_MODE_64BIT: {
            int32_t dh = int32_t(sleb(32));
            int32_t dl = int32_t(sleb(32));
            end.hi = begin.hi + uint32_t(dh);
            end.lo = begin.lo + uint32_t(dl);
            break;
        }
        default: {
            int32_t d = int32_t(sleb(32));
            end.lo = begin.lo + uint32_t(d);
            if (end.lo == 0xFFFFFFFF) end = invalid_adr();
            break;
        }
    }
}

bool GReader::array32(int32_t *out, int64_t count) {
    if (count < 0) return false;
    if (gf_->layout == 0) {
        if (!ensure(uint64_t(count) * 4)) return false;
        for (int64_t i = 0; i < count; ++i) out[i] = int32_t(cur_.u32());
        return true;
    }
    int pad = int((4 - (pos() & 3)) & 3);
    for (int i = 0; i < pad; ++i) {
        int64_t at = pos();
        uint8_t b = u8();
        if (failed_) return false;
        uint8_t want = uint8_t(GF_PAD_LAST + (pad - 1 - i));
        if (b != want) {
            fail("bad pad byte 0x%02x (expected 0x%02x) at offset 0x%I64x of \"%s\"", b, want, at, gf_Name(gf_));
            return false;
        }
    }
    std::span<const uint8_t> block = view(count * 4);
    if (failed_) return false;
    bool big = gf_->layout != GF_LAYOUT_LITTLE;
    for (int64_t i = 0; i < count; ++i) out[i] = int32_t(bytes::load32(block.data() + 4 * i, big));
    return true;
}

bool GReader::end_marker(const char *table) {
    int64_t at = pos();
    uint32_t hi = fixed32();
    uint32_t lo = fixed32();
    if (failed_) return false;
    if (hi != GF_ENDTBL_HI || lo != GF_ENDTBL_LO) {
        fail("table \"%s\" of \"%s\" has no end marker at offset 0x%I64x", table, gf_Name(gf_), at);
        return false;
    }
    return true;
}

// ------------------------------------------------------------ writing

int64_t gf_Pos(const GFile *gf) { return gf->outSize; }

void gf_PutRaw(GFile *gf, const void *p, int64_t n) {
    if (n <= 0) return;
    if (gf->outSize + n > gf->outCap) {
        int64_t cap = std::max<int64_t>(gf->outCap * 2, gf->outSize + n);
        cap = std::max<int64_t>(cap, 256);
        gf->out = static_cast<uint8_t *>(gen_realloc_fn(gf->out, cap));
        gf->outCap = cap;
    }
    std::memcpy(gf->out + gf->outSize, p, size_t(n));
    gf->outSize += n;
}

void gf_Put8(GFile *gf, uint8_t v) { gf_PutRaw(gf, &v, 1); }

void gf_Put16(GFile *gf, uint16_t v) {
    uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    gf_PutRaw(gf, b, 2);
}

void gf_PutFixed32(GFile *gf, uint32_t v) {
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    gf_PutRaw(gf, b, 4);
}

void gf_PutFixed64(GFile *gf, uint64_t v) {
    gf_PutFixed32(gf, uint32_t(v >> 32));
    gf_PutFixed32(gf, uint32_t(v));
}

void gf_PatchFixed32(GFile *gf, int64_t pos, uint32_t v) {
    if (pos < 0 || pos + 4 > gf->outSize) return;
    uint8_t *p = gf->out + pos;
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void gf_PatchFixed64(GFile *gf, int64_t pos, uint64_t v) {
    gf_PatchFixed32(gf, pos, uint32_t(v >> 32));
    gf_PatchFixed32(gf, pos + 4, uint32_t(v));
}

void gf_PutULEB(GFile *gf, uint64_t v) {
    do {
        uint8_t b = uint8_t(v & 0x7F);
        v >>= 7;
        if (v) b |= 0x80;
        gf_Put8(gf, b);
    } while (v);
}

void gf_PutSLEB(GFile *gf, int64_t v) {
    for (;;) {
        uint8_t b = uint8_t(v & 0x7F);
        v >>= 7;  // arithmetic shift
        bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        if (!done) b |= 0x80;
        gf_Put8(gf, b);
        if (done) return;
    }
}

void gf_PutU32(GFile *gf, uint32_t v) { gf->compress ? gf_PutULEB(gf, v) : gf_PutFixed32(gf, v); }
void gf_PutS32(GFile *gf, int32_t v) { gf->compress ? gf_PutSLEB(gf, v) : gf_PutFixed32(gf, uint32_t(v)); }
void gf_PutU64(GFile *gf, uint64_t v) { gf->compress ? gf_PutULEB(gf, v) : gf_PutFixed64(gf, v); }
void gf_PutIndex(GFile *gf, int32_t v) {
    gf->compress ? gf_PutULEB(gf, uint32_t(v) + 1u) : gf_PutFixed32(gf, uint32_t(v));
}

void gf_PutPair(GFile *gf, uint32_t a, uint32_t b) {
    if (gf->compress) {
        gf_PutULEB(gf, uint32_t(a + 1u));
        gf_PutSLEB(gf, int32_t(b - a));
    } else {
        gf_PutFixed32(gf, a);
        gf_PutFixed32(gf, b);
    }
}

void gf_PutTriple(GFile *gf, uint32_t a, uint32_t b, uint32_t c) {
    if (gf->compress) {
        gf_PutULEB(gf, uint32_t(a + 1u));
        gf_PutSLEB(gf, int32_t(b - a));
        gf_PutSLEB(gf, int32_t(c - b));
    } else {
        gf_PutFixed32(gf, a);
        gf_PutFixed32(gf, b);
        gf_PutFixed32(gf, c);
    }
}

void gf_PutString(GFile *gf, const char *s) {
    if (!s) {
        gf_PutU32(gf, 0);
        return;
    }
    size_t n = std::strlen(s) + 1;
    gf_PutU32(gf, uint32_t(n));
    gf_PutRaw(gf, s, int64_t(n));
}

void gf_PutAdr(GFile *gf, const gadr &a) {
    switch (gf->adrMode) {
        case GADR_MODE_16BIT:
            gf_Put16(gf, uint16_t(a.lo));
            break;
        case GADR_MODE_16BIT_16SEG:
            gf_PutS32(gf, int32_t(a.lo >> 16));
            gf_Put16(gf, uint16_t(a.lo));
            break;
        case GADR_MODE_64BIT:
            gf_PutFixed32(gf, a.hi);
            gf_PutFixed32(gf, a.lo);
            break;
        default:
            gf_PutFixed32(gf, a.lo);
            break;
    }
}

void gf_PutRange(GFile *gf, const gadr &begin, const gadr &end) {
    gf_PutAdr(gf, begin);
    if (!gf->compress) {
        gf_PutAdr(gf, end);
        return;
    }
    switch (gf->adrMode) {
        case GADR_MODE_16BIT:
            gf_PutSLEB(gf, int16_t(uint16_t(end.lo - begin.lo)));
            break;
        case GADR_MODE_64BIT:
            gf_PutSLEB(gf, int32_t(end.hi - begin.hi));
            gf_PutSLEB(gf, int32_t(end.lo - begin.lo));
            break;
        default:
            gf_PutSLEB(gf, int32_t(end.lo - begin.lo));
            break;
    }
}

void gf_PutArray32(GFile *gf, const int32_t *v, int64_t count) {
    if (gf->layout == 0) {
        for (int64_t i = 0; i < count; ++i) gf_PutFixed32(gf, uint32_t(v[i]));
        return;
    }
    int pad = int((4 - (gf_Pos(gf) & 3)) & 3);
    for (int i = 0; i < pad; ++i) gf_Put8(gf, uint8_t(GF_PAD_LAST + (pad - 1 - i)));
    bool big = gf->layout != GF_LAYOUT_LITTLE;
    for (int64_t i = 0; i < count; ++i) {
        uint32_t x = uint32_t(v[i]);
        uint8_t b[4];
        for (int k = 0; k < 4; ++k) b[k] = uint8_t(x >> (big ? 24 - 8 * k : 8 * k));
        gf_PutRaw(gf, b, 4);
    }
}

void gf_PutEndMarker(GFile *gf) {
    gf_PutFixed32(gf, GF_ENDTBL_HI);
    gf_PutFixed32(gf, GF_ENDTBL_LO);
}

// ------------------------------------------------------------ LZSS

namespace {
constexpr int lz_window = 4096;
constexpr int lz_start = 4078;
constexpr int lz_min = 3;
constexpr int lz_max = 18;
}  // namespace

int64_t gf_Unpack(std::span<const uint8_t> in, uint8_t *out, int64_t max) {
    uint8_t window[lz_window] = {};
    int r = lz_start;
    int64_t produced = 0;
    size_t i = 0;
    unsigned flags = 0;
    auto emit = [&](uint8_t c) {
        if (produced < max) out[produced] = c;
        ++produced;
        window[r] = c;
        r = (r + 1) & (lz_window - 1);
    };
    while (produced <= max) {
        flags >>= 1;
        if (!(flags & 0x100)) {
            if (i >= in.size()) break;
            flags = in[i++] | 0xFF00u;
        }
        if (flags & 1) {
            if (i >= in.size()) break;
            emit(in[i++]);
        } else {
            if (i + 1 >= in.size()) break;
            int pos = in[i] | (in[i + 1] & 0xF0) << 4;
            int len = (in[i + 1] & 0x0F) + lz_min;
            i += 2;
            for (int k = 0; k < len && produced <= max; ++k) emit(window[(pos + k) & (lz_window - 1)]);
        }
    }
    return produced;
}

std::vector<uint8_t> gf_Pack(std::span<const uint8_t> in) {
    // Greedy matching over hash chains of three-byte prefixes. A distance
    // past lz_window - lz_max could be overwritten by the copy itself while
    // it is unpacked, so it is not used.
    constexpr int hash_size = 1 << 12;
    constexpr int max_chain = 64;
    const size_t n = in.size();
    std::vector<int64_t> head(hash_size, -1);
    std::vector<int64_t> prev(n, -1);
    auto hash = [&](size_t p) { return (in[p] << 4 ^ in[p + 1] << 2 ^ in[p + 2]) & (hash_size - 1); };
    auto insert = [&](size_t p) {
        if (p + 2 >= n) return;
        int h = hash(p);
        prev[p] = head[h];
        head[h] = int64_t(p);
    };

    std::vector<uint8_t> out;
    size_t p = 0;
    while (p < n) {
        size_t flag_at = out.size();
        out.push_back(0);
        for (int item = 0; item < 8 && p < n; ++item) {
            size_t best_len = 0, best_dist = 0;
            if (p + 2 < n) {
                int64_t c = head[hash(p)];
                for (int steps = 0; c >= 0 && steps < max_chain; ++steps, c = prev[size_t(c)]) {
                    size_t d = p - size_t(c);
                    if (d > size_t(lz_window - lz_max)) break;
                    size_t len = 0;
                    while (len < size_t(lz_max) && p + len < n && in[p + len] == in[p + len - d]) ++len;
                    if (len > best_len) {
                        best_len = len;
                        best_dist = d;
                        if (len == size_t(lz_max)) break;
                    }
                }
            }
            if (best_len >= size_t(lz_min)) {
                int pos = int((lz_start + p - best_dist) & (lz_window - 1));
                out.push_back(uint8_t(pos & 0xFF));
                out.push_back(uint8_t((pos >> 4 & 0xF0) | (best_len - lz_min)));
                for (size_t k = 0; k < best_len; ++k) insert(p + k);
                p += best_len;
            } else {
                out[flag_at] |= uint8_t(1u << item);
                out.push_back(in[p]);
                insert(p++);
            }
        }
    }
    return out;
}
