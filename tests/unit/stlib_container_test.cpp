// The debug-information container: LEB128 limits, truncation, a container
// inside a larger file and a stream that cannot seek. Both field encodings
// are checked against hand-assembled debug objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "genout.h"
#include "gfile.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
using U = std::vector<uint64_t>;

// A container header, followed by `body`.
Bytes container(uint32_t kind, uint32_t compress, uint8_t encoding, uint8_t layout, const Bytes &body = {}) {
    Bytes b = {0x7F, 'L', 'K', 'S', 0, 0, 0, 1};
    dbgw::put32(b, kind);
    dbgw::put32(b, compress);
    b.insert(b.end(), {encoding, 0, layout, 0});
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// A container on disk holding `bytes`.
struct Opened {
    GFile *gf;
    explicit Opened(const Bytes &bytes) : gf(gf_OpenRead(nullptr, dbgw::temp_file(bytes, "c.bin").c_str(), nullptr, 0)) {}
    ~Opened() { if (gf) gf_Close(gf); }
};

// The widest values that fit, and the first that do not (one more bit, one
// more byte), for each LEB128 width; a failed reader stays failed without
// another message.
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
        log.clear();
        Bytes body = hex(c.bytes);
        body.push_back(0x2A);
        Opened o(container(3, 1, 4, 0, body));
        GReader r(o.gf, GF_HEADER_SIZE);
        const int64_t v = c.kind == 0 ? int64_t(r.u32()) : c.kind == 1 ? r.s32() : int64_t(r.u64()), next = r.u8();
        EXPECT_EQ((V{r.ok(), c.good ? v : 0, next}), (V{c.good, c.value, c.good ? 0x2A : 0}));
        EXPECT_EQ(log.all(), c.good ? Lines{} : Lines{E + "LEB128 value at offset 0x14 of \"" + gf_Name(o.gf) +
                                                       "\" does not fit in " + (c.kind == 2 ? "64" : "32") + " bits"});
    }
}

// A written header holds the encoding of the address mode. A patch changes
// four written bytes; one that would reach past them, or before the first,
// changes nothing.
TEST(StContainer, HeaderWrittenAndPatched) {
    GFile *gf = gf_OpenWrite(nullptr, nullptr, GF_KIND_DBO, GADR_MODE_16BIT_16SEG, GFileOptions{1, 2, 0});
    Bytes expected = container(2, 1, 0x42, 2);
    dbgw::patch32(expected, 16, 0x01020304);
    gf_PatchFixed32(gf, 16, 0x01020304);
    for (int64_t pos : {-1, 17, 20}) gf_PatchFixed32(gf, pos, 0xFFFFFFFF);
    EXPECT_EQ(Bytes(gf_Output(gf).begin(), gf_Output(gf).end()), expected);
    gf_CloseWrite(gf);
}

// A length past the end is refused before anything is allocated; a string
// without its zero byte; readers placed outside the container.
TEST(StContainer, BadStringsAndReadersOutside) {
    MessageLog log;
    for (const auto &[bytes, message] : {std::pair{"FFFFFFFF0F 6100", "4294967295 bytes needed at offset 0x19, 2 left"},
                                         {"03 616263", "string at offset 0x14 of"}}) {
        Opened o(container(3, 1, 4, 0, hex(bytes)));
        GReader r(o.gf, GF_HEADER_SIZE);
        EXPECT_EQ(r.string(), nullptr);
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(log.contains(message)) << log.joined();
    }
    log.clear();
    Opened o(container(3, 1, 4, 0, {1, 2}));
    GReader far(o.gf, 1000), neg(o.gf, -4);
    EXPECT_EQ(far.u8() | neg.u8(), 0);
    EXPECT_FALSE(far.ok() || neg.ok());
    EXPECT_EQ(log.all().size(), 2u);
}

TEST(StContainer, ContainerInsideALargerFileAndAPipe) {
    // A container that begins at byte 7 of its file, as an archive member
    // does; offsets count from its first byte, and the window grows past
    // its first size; the same through the in-memory copy.
    Bytes body;
    for (int i = 0; i < 6000; ++i) body.push_back(uint8_t(i * 7));
    body.insert(body.end(), {0xAA, 0xBB, 0xCC, 0xDD});
    Bytes file = container(3, 0, 4, 0, body);
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
    ASSERT_EQ(gf_Map(gf), 0);
    GReader mapped(gf, GF_HEADER_SIZE + 6000);
    EXPECT_EQ((U{mapped.fixed32(), mapped.u8(), mapped.ok()}), (U{0xAABBCCDD, 0, false}));
    gf_Close(gf);
    std::fclose(fp);
    EXPECT_EQ(log.all().size(), 1u);

    // A pipe has no position: reported once, and the container is refused.
    log.clear();
    fp = popen(("cat '" + dbgw::temp_file(container(3, 0, 4, 0), "pipe.bin") + "'").c_str(), "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(gf_OpenRead(fp, nullptr, "pipe", 0), nullptr);
    pclose(fp);
    ASSERT_EQ(log.all().size(), 1u) << log.joined();
    EXPECT_EQ(log.all()[0].rfind(std::to_string(GEN_SYSERR + GEN_MSG_FATAL) + "|Error while processing \"pipe\"", 0), 0u);
}

}  // namespace
