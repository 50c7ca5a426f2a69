// The debug-information container: header, both encodings against
// hand-assembled bytes, LEB128 limits, truncation, a container inside a
// larger file and a stream that cannot seek.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "genout.h"
#include "gfile.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
using U = std::vector<uint64_t>;

Bytes header(uint32_t kind, uint32_t compress, uint8_t encoding, uint8_t layout) {
    Bytes b = {0x7F, 'L', 'K', 'S', 0, 0, 0, 1};
    dbgw::put32(b, kind);
    dbgw::put32(b, compress);
    b.insert(b.end(), {encoding, 0, layout, 0});
    return b;
}

// The bytes that `body` writes after the header of a fresh container; with
// the header when `kind` is given.
Bytes written(uint32_t mode, uint32_t compress, uint8_t layout, const std::function<void(GFile *)> &body,
              uint32_t kind = 0, uint8_t descriptors = 0) {
    GFile *gf = gf_OpenWrite(nullptr, nullptr, kind ? kind : GF_KIND_DNM, mode, GFileOptions{compress, layout, descriptors});
    body(gf);
    std::span<const uint8_t> out = gf_Output(gf);
    Bytes b(out.begin() + (kind ? 0 : GF_HEADER_SIZE), out.end());
    gf_CloseWrite(gf);
    return b;
}

// A container on disk holding `bytes`.
struct Opened {
    GFile *gf;
    explicit Opened(const Bytes &bytes) : gf(gf_OpenRead(nullptr, dbgw::temp_file(bytes, "c.bin").c_str(), nullptr, 0)) {}
    ~Opened() { if (gf) gf_Close(gf); }
};

Bytes body_of(uint8_t encoding, uint32_t compress, uint8_t layout, const Bytes &body) {
    Bytes b = header(GF_KIND_DNM, compress, encoding, layout);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

gadr A(uint64_t v) { return dbgw::adr(v); }

TEST(StContainer, HeaderWrittenAndChecked) {
    MessageLog log;
    EXPECT_EQ(written(GADR_MODE_16BIT_16SEG, 1, 2, [](GFile *) {}, GF_KIND_DBO), header(2, 1, 0x42, 2));
    EXPECT_TRUE(log.all().empty());
    EXPECT_EQ(written(GADR_MODE_64BIT, 0, 0, [](GFile *) {}, GF_KIND_DBG, 1), header(1, 0, 8, 0));
    EXPECT_EQ(log.all(), (Lines{"4|GFile desciptors not supported"}));
    log.clear();

    {
        Opened o(header(3, 5, 4, 2));
        ASSERT_NE(o.gf, nullptr);
        EXPECT_EQ((U{o.gf->kind, o.gf->compress, o.gf->adrMode, o.gf->layout}), (U{3, 5, GADR_MODE_32BIT, 2}));
    }
    Bytes v0 = header(3, 0, 2, 0);
    v0[7] = 0;  // container version 0 is read as well
    EXPECT_NE(Opened(v0).gf, nullptr);
    EXPECT_TRUE(log.all().empty());

    // Refused: magic, container version 2, reserved byte, descriptors (the
    // only one with a message).
    const std::pair<size_t, uint8_t> damage[] = {{3, 'T'}, {7, 2}, {19, 1}, {17, 1}};
    for (const auto &[at, value] : damage) {
        Bytes bad = header(3, 0, 4, 0);
        bad[at] = value;
        EXPECT_EQ(Opened(bad).gf, nullptr) << at;
    }
    EXPECT_EQ(log.all(), (Lines{"3|GFile desciptors not supported"}));
    log.clear();

    // A short header, at every length.
    Bytes full = header(3, 0, 4, 0);
    for (size_t n = 0; n < full.size(); ++n) {
        EXPECT_EQ(Opened(Bytes(full.begin(), full.begin() + long(n))).gf, nullptr) << n;
        EXPECT_TRUE(log.contains("is truncated")) << n;
        log.clear();
    }
}

// The same fields in both encodings: big-endian fixed width, and LEB128
// (indices stored plus one, pairs and triples as deltas, an address range
// as its start and a signed length; 16-bit words never change).
TEST(StContainer, FieldEncodingsWrittenAndRead) {
    const Bytes fixed = hex(
        "AB 1234 01020304 FFFFFFFE 00000040 FFFFFFBF 0102030405060708 FFFFFFFF 00000000 00000005 00000003"
        "0000000A 0000000C 0000000B 00000003 616200 00000000 00001000 00001040 00001000 FFFFFFFF FFFFFFFF");
    const Bytes leb = hex(
        "AB 1234 84868808 7E C000 BF7F 888E98A8C0E0808101 00 01 06 7E 0B 02 7F 03 616200 00"
        "00001000 C000 00001000 FF5F FFFFFFFF");
    MessageLog log;
    for (uint32_t compress : {0u, 1u}) {
        SCOPED_TRACE(compress);
        const Bytes &expect = compress ? leb : fixed;
        EXPECT_EQ(written(GADR_MODE_32BIT, compress, 0, [](GFile *gf) {
            gf_Put8(gf, 0xAB), gf_Put16(gf, 0x1234), gf_PutU32(gf, 0x01020304);
            gf_PutS32(gf, -2), gf_PutS32(gf, 64), gf_PutS32(gf, -65);
            gf_PutU64(gf, 0x0102030405060708ull), gf_PutIndex(gf, -1), gf_PutIndex(gf, 0);
            gf_PutPair(gf, 5, 3), gf_PutTriple(gf, 10, 12, 11), gf_PutString(gf, "ab"), gf_PutString(gf, nullptr);
            gf_PutRange(gf, A(0x1000), A(0x1040)), gf_PutRange(gf, A(0x1000), A(UINT64_MAX)), gf_PutAdr(gf, A(UINT64_MAX));
        }), expect);

        Opened o(body_of(4, compress, 0, expect));
        GReader r(o.gf, GF_HEADER_SIZE);
        EXPECT_EQ((std::vector<int64_t>{r.u8(), r.u16(), r.u32(), r.s32(), r.s32(), r.s32(), int64_t(r.u64()), r.index(), r.index()}),
                  (std::vector<int64_t>{0xAB, 0x1234, 0x01020304, -2, 64, -65, 0x0102030405060708ll, -1, 0}));
        uint32_t a, b, c, d, e2;
        r.pair(a, b), r.triple(c, d, e2);
        EXPECT_EQ((U{a, b, c, d, e2}), (U{5, 3, 10, 12, 11}));
        char *s = r.string();
        EXPECT_STREQ(s, "ab");
        gen_free_fn(s);
        EXPECT_EQ(r.string(), nullptr);
        gadr g, e, g2, e3;
        r.range(g, e), r.range(g2, e3);
        EXPECT_EQ((U{gadr_to_u64(g), gadr_to_u64(e), gadr_to_u64(e3), gadr_to_u64(r.adr())}), (U{0x1000, 0x1040, UINT64_MAX, UINT64_MAX}));
        EXPECT_TRUE(r.ok() && r.left() == 0);
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

// The widest values that fit, and the first that do not (one more bit, one
// more byte), for each LEB128 width.
TEST(StContainer, Leb128Limits) {
    MessageLog log;
    const struct Case {
        const char *bytes;
        int kind;  // 0 u32, 1 s32, 2 u64
        bool good;
        int64_t value;
    } cases[] = {
        {"FFFFFFFF0F", 0, true, 0xFFFFFFFF},  {"8080808010", 0, false, 0},  {"808080808000", 0, false, 0},
        {"8000", 0, true, 0},                 {"8080808078", 1, true, INT32_MIN}, {"FFFFFFFF07", 1, true, INT32_MAX},
        {"8080808008", 1, false, 0},          {"8080808070", 1, false, 0},  {"FFFFFFFFFF7F", 1, false, 0},
        {"80808080808080808001", 2, true, INT64_MIN}, {"80808080808080808002", 2, false, 0},
        {"8080808080808080808000", 2, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        Opened o(body_of(4, 1, 0, hex(c.bytes)));
        GReader r(o.gf, GF_HEADER_SIZE);
        int64_t v = c.kind == 0 ? int64_t(r.u32()) : c.kind == 1 ? r.s32() : int64_t(r.u64());
        EXPECT_EQ(r.ok(), c.good);
        if (c.good) {
            EXPECT_EQ(v, c.value);
        } else {
            EXPECT_EQ(log.all(), (Lines{"3|<libst>: LEB128 value at offset 0x14 of \"" + std::string(gf_Name(o.gf)) +
                                        "\" does not fit in " + (c.kind == 2 ? "64" : "32") + " bits"}));
            // A failed reader stays failed, without another message.
            r.u8();
            EXPECT_FALSE(r.ok());
            EXPECT_EQ(log.all().size(), 1u);
        }
        log.clear();
    }
}

TEST(StContainer, TruncationAndBadStrings) {
    MessageLog log;
    // A string and a 64-bit word stop at every shorter length without
    // reading outside the container.
    const Bytes body = hex("00000009 6162636465666768 00 0102030405060708");
    for (size_t n = 0; n < body.size(); ++n) {
        Opened o(body_of(4, 0, 0, Bytes(body.begin(), body.begin() + long(n))));
        GReader r(o.gf, GF_HEADER_SIZE);
        char *s = r.string();
        r.u64();
        EXPECT_FALSE(r.ok()) << n;
        EXPECT_EQ(s != nullptr, n >= 13);
        gen_free_fn(s);
        ASSERT_EQ(log.all().size(), 1u) << n;
        EXPECT_NE(log.all()[0].find("is truncated"), std::string::npos);
        log.clear();
    }
    // A length past the end is refused before anything is allocated; a
    // string without its zero byte; readers placed outside the container.
    const std::pair<const char *, const char *> bad[] = {{"FFFFFFFF0F 6100", "4294967295 bytes needed at offset 0x19, 2 left"},
                                                         {"03 616263", "string at offset 0x14 of"}};
    for (const auto &[bytes, message] : bad) {
        Opened o(body_of(4, 1, 0, hex(bytes)));
        GReader r(o.gf, GF_HEADER_SIZE);
        EXPECT_EQ(r.string(), nullptr);
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(log.contains(message)) << log.joined();
        log.clear();
    }
    {
        Opened o(body_of(4, 1, 0, {1, 2}));
        GReader far(o.gf, 1000), neg(o.gf, -4);
        EXPECT_EQ(far.u8() | neg.u8(), 0);
        EXPECT_FALSE(far.ok() || neg.ok());
        EXPECT_EQ(log.all().size(), 2u);
    }
}

TEST(StContainer, ContainerInsideALargerFile) {
    // A container that begins at byte 7 of its file, as an archive member
    // does; offsets count from its first byte, and the window grows past
    // its first size.
    Bytes body;
    for (int i = 0; i < 6000; ++i) body.push_back(uint8_t(i * 7));
    body.insert(body.end(), {0xAA, 0xBB, 0xCC, 0xDD});
    Bytes file = body_of(4, 0, 0, body);
    file.insert(file.begin(), 7, 'x');
    FILE *fp = std::fopen(dbgw::temp_file(file, "member.bin").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 7, SEEK_SET);
    MessageLog log;
    GFile *gf = gf_OpenRead(fp, nullptr, "member", 0);
    ASSERT_NE(gf, nullptr);
    EXPECT_EQ(gf->base, 7);
    GReader r(gf, GF_HEADER_SIZE);
    r.skip(6000);
    EXPECT_EQ((U{r.fixed32(), uint64_t(r.pos()), GReader(gf, GF_HEADER_SIZE + 5999).u8()}), (U{0xAABBCCDD, 6024, uint8_t(5999 * 7)}));
    // The same through the in-memory copy.
    ASSERT_EQ(gf_Map(gf), 0);
    GReader mapped(gf, GF_HEADER_SIZE + 6000);
    EXPECT_EQ((U{mapped.fixed32(), mapped.u8(), mapped.ok()}), (U{0xAABBCCDD, 0, false}));
    gf_Close(gf);
    std::fclose(fp);
    EXPECT_EQ(log.all().size(), 1u);
}

TEST(StContainer, StreamThatCannotSeek) {
    // A pipe has no position: reported once, and the container is refused.
    std::string path = dbgw::temp_file(header(3, 0, 4, 0), "pipe.bin");
    FILE *fp = popen(("cat '" + path + "'").c_str(), "r");
    ASSERT_NE(fp, nullptr);
    MessageLog log;
    EXPECT_EQ(gf_OpenRead(fp, nullptr, "pipe", 0), nullptr);
    pclose(fp);
    ASSERT_EQ(log.all().size(), 1u) << log.joined();
    EXPECT_EQ(log.all()[0].rfind(std::to_string(GEN_SYSERR + GEN_MSG_FATAL) + "|Error while processing \"pipe\"", 0), 0u);
}

}  // namespace
