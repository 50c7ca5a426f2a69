// Name files: hand-assembled bytes, the writer in every version and
// encoding, version rules, sanity checks, truncation, corrupt tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <memory>
#include <tuple>

#include "indgeninit.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
using dbgw::DnmDesc;
using StDnm = StTest;

std::string path_of_input() { return dbgw::temp_file({}, "input.dnm"); }

int64_t base_for(uint32_t mode) { return mode == GADR_MODE_64BIT ? 0x100000000ll : mode == GADR_MODE_16BIT_16SEG ? 0x20000 : 0; }
struct ReleaseDnm {
    void operator()(STDnm *d) const { STDnm_Release(d); }
};
using Dnm = std::unique_ptr<STDnm, ReleaseDnm>;
Dnm read(const Bytes &b, int32_t config = 0) { return Dnm(dbgw::read_dnm(b, config)); }
Dnm round_trip(const DnmDesc &d) { return read(dbgw::write_dnm(d)); }
int64_t u(gadr a) { return int64_t(gadr_to_u64(a)); }

DnmDesc sample(const dbgw::Encoding &enc) {
    DnmDesc d;
    d.enc = enc;
    uint64_t b = uint64_t(base_for(enc.mode));
    d.sections = {{".text", b + 0x1000, b + 0x1040, 1}, {".data", b + 0x2000, UINT64_MAX, 2}};
    d.dlos = {{"main.dbo", "main.o", "/src/main.o", "magic-main", 0x44, 1000, 1, 0x301},
              {"util.dbo", "util.o", "/src/util.o", "magic-util", 0x1000, 2000, 3, 0x200}};
    return d;
}

std::vector<size_t> markers(const Bytes &b) {
    static const uint8_t m[8] = {'[', 'E', 'N', 'D', 'T', 'B', 'L', ']'};
    std::vector<size_t> at;
    for (auto it = b.begin(); (it = std::search(it, b.end(), m, m + 8)) != b.end(); ++it)
        at.push_back(size_t(it - b.begin()));
    return at;
}

// The last message, which names the failing step.
std::string failure(const MessageLog &log) { return log.all().empty() ? "" : log.all().back(); }

std::string failed_at(int pos) {
    return E + "failed while reading \"" + path_of_input() + "\" (pos " + std::to_string(pos) + ", errno 0)";
}

// Reading `bytes` fails: a message holds `part`, and the last one names the
// failing step.
void expect_refused(MessageLog &log, const Bytes &bytes, const std::string &part, int pos) {
    EXPECT_EQ(read(bytes), nullptr);
    EXPECT_TRUE(log.contains(part)) << log.joined();
    EXPECT_EQ(failure(log), failed_at(pos));
    log.clear();
}

TEST_F(StDnm, HandAssembledVersion10) {
    const Bytes b = hex(
        "7F4C4B53 00000001 00000003 00000000 04000000"  // container header
        "0000000A 04 00 070809"                         // version, address mode, endian flag, three bytes
        "00000100 11223344 03"                          // low address, a word, numTables
        "00000050 00000062 00000084"                    // table offsets
        "0000000A 00000000 0000 00000001 00000000 0000 00000001 00000000 0000"  // max, aux of each
        "00 7465787400 612E6F00 5B454E4454424C5D"       // strings, end marker
        "00000001 00000001 00001000 00002000"           // section: names, begin, end
        "00000010 FFFFFFFE 01 15 5B454E4454424C5D"      // value (4 bytes before version 40), signed value, sc, flags
        "00000006 00000006 00000006 00000001 00000001"  // dlo file: name, baseName, path, magic pair
        "000003E8 00000044 5B454E4454424C5D");          // timeStamp, offset
    // What the round trips below do not already show of the reader.
    gadr_set_mode(GADR_MODE_64BIT);
    Dnm dnm = read(b);
    ASSERT_NE(dnm, nullptr) << log.joined();
    EXPECT_TRUE(log.all().empty()) << log.joined();
    EXPECT_EQ(gadr_get_mode(), GADR_MODE_32BIT);
    int32_t n = 0, nf = 0;
    const STDnm_Section *s = STDnm_Sections(dnm.get(), &n);
    const STDnm_DloFile *f = STDnm_DloFiles(dnm.get(), &nf);
    ASSERT_EQ((V{n, nf}), (V{1, 1}));
    // The low four flags come from sc 1.
    EXPECT_EQ((V{u(s->end), int64_t(s->value64), s->index3, s->flags, f->iTopLevelSourceFile2}), (V{0x2000, 0x10, -1, 0x12, -1}));
    EXPECT_STREQ(STDnm_String(dnm.get(), f->baseName), "a.o");

    // The writer produces the same bytes from the same object.
    STDnm *w = STDnm_Create();
    w->version = 10, w->adrMode = GADR_MODE_32BIT, w->numTables = 3;
    w->bytesA[0] = 7, w->bytesA[1] = 8, w->bytesA[2] = 9;
    w->lowAdr = dbgw::adr(0x100), w->word1 = 0x11223344;
    STDnm_AddString(w, "");
    STDnm_Section ws{};
    ws.name = ws.altName = STDnm_AddString(w, "text");
    ws.begin = dbgw::adr(0x1000), ws.end = dbgw::adr(0x2000);
    ws.value64 = 0x10, ws.value32 = -2, ws.sc = 1, ws.flags = 0x15;
    STDnm_AddSection(w, &ws);
    STDnm_DloFile wf{};
    wf.name = wf.baseName = wf.path = STDnm_AddString(w, "a.o");
    wf.magic = wf.magic2 = 1, wf.timeStamp = 1000, wf.offset = 0x44;
    STDnm_AddDloFile(w, &wf);
    uint8_t *image = nullptr;
    int64_t size = 0;
    ASSERT_EQ(STDnm_Write(w, nullptr, nullptr, GFileOptions{0, 0, 0}, &image, &size), 0);
    EXPECT_EQ(Bytes(image, image + size), b);
    gen_free_fn(image);
    STDnm_Release(w);
}

TEST_F(StDnm, EveryVersionEncodingModeAndLayout) {
    for (int32_t v : {10, 11, 13, 16, 17, 19, 20, 21, 22, 23, 24, 25, 29, 30, 31, 32, 34, 37, 40, 42, 43})
        for (bool compress : {false, true})
            for (uint32_t mode : {0u, 1u, 2u, 3u})
                for (uint8_t layout : {uint8_t(0), uint8_t(2), uint8_t(1)}) {
                    SCOPED_TRACE(testing::Message() << "version " << v << " compress " << compress << " mode " << mode
                                                    << " layout " << int(layout));
                    Bytes bytes = dbgw::write_dnm(sample({v, compress, layout, mode}));
                    gadr_set_mode(mode == 2 ? 3 : 2);
                    Dnm dnm = read(bytes);
                    ASSERT_NE(dnm, nullptr) << log.joined();
                    EXPECT_TRUE(log.all().empty()) << log.joined();
                    EXPECT_STREQ(dnm->magic, v >= 16 ? "dnm magic" : nullptr);
                    EXPECT_STREQ(dnm->magic2, v >= 20 ? "dnm magic 2" : v >= 16 ? "dnm magic" : nullptr);
                    EXPECT_STREQ(dnm->string4, v >= 21 ? "fourth" : v >= 16 ? "third" : nullptr);
                    EXPECT_EQ((V{gadr_get_mode(), u(dnm->lowAdr), u(dnm->highAdr)}), (V{mode, 0x100, v >= 13 ? 0x8000 : -1}));

                    int32_t n = 0, nf = 0;
                    const STDnm_Section *s = STDnm_Sections(dnm.get(), &n);
                    const STDnm_DloFile *f = STDnm_DloFiles(dnm.get(), &nf);
                    ASSERT_EQ((V{n, nf}), (V{2, 2}));
                    const int64_t b = base_for(mode);
                    EXPECT_STREQ(STDnm_String(dnm.get(), s[1].altName), ".data");
                    EXPECT_EQ((V{u(s[0].begin), u(s[0].end), u(s[1].end), s[1].value32, s[1].sc, s[0].flags,
                                 STDnm_TableCount(dnm.get(), STDNM_SECTIONS_BY_ADR)}),
                              (V{b + 0x1000, b + 0x1040, -1, -2, 2, v < 23 ? 0x2 : v < 30 ? 0x1 : 0x201, v >= 30 ? 2 : 0}));
                    EXPECT_STREQ(STDnm_String(dnm.get(), f[1].magic), "magic-util");
                    EXPECT_STREQ(STDnm_String(dnm.get(), f[1].objectFileBaseName), v >= 11 ? "util.o" : "");
                    // Bit 5 from bit 0 before version 17; bit 11 from bit 8
                    // before version 43, from bit 9 after.
                    EXPECT_EQ((V{int64_t(f[1].offset), f[1].timeStamp, f[1].language, f[0].flags, f[1].flags,
                                 STDnm_TableCount(dnm.get(), STDNM_DLO_FILES_BY_OFFSET)}),
                              (V{0x1000, 2000, v >= 19 ? 3 : 31, v < 13 ? 0 : v < 17 ? 0xB21 : 0xB01,
                                 v < 13 ? 0 : v < 43 ? 0x200 : 0xA00, v >= 17 ? 2 : 0}));
                    if (v >= 17) {
                        EXPECT_EQ(static_cast<int32_t *>(STDnm_TableEntries(dnm.get(), 17))[1], 1);
                    }
                }
}

TEST_F(StDnm, VersionRule) {
    const std::string p = std::string("\"").append(path_of_input()) + "\" has version ";
    EXPECT_EQ(round_trip(sample({9})), nullptr);
    EXPECT_EQ(log.all(), (Lines{E + p + "9, which is no longer supported", failed_at(2)}));
    log.clear();
    EXPECT_NE(round_trip(sample({44})), nullptr);
    EXPECT_EQ(log.all(), (Lines{W + p + "44, which is the development version"}));
    for (const char *name : {static_cast<const char *>(nullptr), "funsize"}) {
        log.clear();
        gen_setprogname(name);
        EXPECT_EQ(round_trip(sample({45})), nullptr);
        gen_setprogname(nullptr);
        EXPECT_EQ(log.all().front(),
                  E + p + "45, " + (name ? name : "this utility") + " only supports up to version 43");
    }
}

TEST_F(StDnm, HeaderFieldsByVersion) {
    // Address-unit sizes: none before 25, one byte for both in 25-31 (0 reads
    // as 1), two bytes after. byte29a is derived before version 29. The flags
    // byte (from 31): 0xFE and 0xFF keep only their two low bits up to 42.
    const struct {
        int32_t v;
        uint8_t text, data, flags;
        V want;  // text and data unit sizes, flags, byte29a (-1: not checked)
    } cases[] = {
        {24, 2, 2, 0, {1, 1, 0, 0}},       {25, 0, 0, 0, {1, 1, 0, 0}},      {28, 2, 2, 0, {2, 2, 0, 1}},
        {30, 1, 1, 0xFE, {1, 1, 0, -1}},   {31, 2, 1, 0xFE, {2, 1, 2, -1}},  {32, 17, 32, 0, {17, 32, 0, -1}},
        {42, 1, 1, 0xFF, {1, 1, 3, -1}},   {43, 1, 1, 0xFE, {1, 1, 0xFE, -1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.v);
        DnmDesc desc = sample({c.v});
        desc.tweak = [&](STDnm *w) {
            w->bytesPerTextAdrUnit = c.text, w->bytesPerDataAdrUnit = c.data, w->flags = c.flags;
            w->cppAbiStyle = 7, w->encodingType = 1, w->words31[0] = 7;
        };
        Dnm d = round_trip(desc);
        ASSERT_NE(d, nullptr) << log.joined();
        EXPECT_EQ((V{d->bytesPerTextAdrUnit, d->bytesPerDataAdrUnit, d->flags, c.want[3] < 0 ? -1 : d->byte29a,
                     d->cppAbiStyle, d->encodingType, d->words31[0]}),
                  (V{c.want[0], c.want[1], c.want[2], c.want[3], c.v >= 29 ? 7 : 0, c.v >= 31, c.v >= 31 ? 7 : -1}));
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

// Each check refuses the file with its own message, the corruption notice
// and the failing step (2: the header, 7: sections, 8: Dlo Files); with the
// checks switched off the same file gets past it.
TEST_F(StDnm, SanityChecks) {
    const std::string H = E + "[STDnm_CheckHeadSanity] Invalid ", D = E + "[STDnm_CheckDloFileSanity] Invalid ";
    using Tweak = std::function<void(STDnm *)>;
    auto opaque = [](int index, int32_t max, uint32_t aux = 0) -> Tweak {
        return [=](STDnm *w) { STDnm_SetOpaqueTable(w, index, max, aux, nullptr, 0); };
    };
    auto dlo = [](const std::function<void(STDnm_DloFile &)> &f) -> Tweak {
        return [=](STDnm *w) { f(static_cast<STDnm_DloFile *>(w->tables[STDNM_DLO_FILES].data)[1]); };
    };
    const long now = long(std::time(nullptr));
    char future[16];
    std::snprintf(future, sizeof future, "%x", unsigned(now + 9000000));
    const struct {
        Tweak tweak;
        std::string message;
        int pos;
        std::function<void(DnmDesc &)> change = nullptr;
    } cases[] = {
        {[](STDnm *w) { w->endianFlag = 2; }, H + "endian flag (2)", 2},
        {[](STDnm *w) { w->objectModuleFormat = 4; }, H + "object module format (4)", 2},
        {[](STDnm *w) { w->objectModuleType = 4; }, H + "object module type (4)", 2},
        {[](STDnm *w) { w->bytesPerTextAdrUnit = 0; }, H + "bytes per text address unit (0)", 2},
        {[](STDnm *w) { w->bytesPerTextAdrUnit = 33; }, H + "bytes per text address unit (33)", 2},
        {[](STDnm *w) { w->bytesPerDataAdrUnit = 33; }, H + "bytes per data address unit (33)", 2},
        {[](STDnm *w) { w->cppAbiStyle = 8; }, H + "C++ ABI style (8)", 2},
        {[](STDnm *w) { w->cppMangleStyle = 7; }, H + "C++ mangle style (7)", 2},
        {[](STDnm *w) { w->encodingType = 2; }, H + "encodingType (2)", 2},
        {[](STDnm *w) { w->numTables = 77; }, H + "numTables (77)", 2},
        {opaque(5, -1), H + "max -1 for table with index 5", 2},
        {opaque(20, 0, 21), H + "max 0 for table with index 20", 2},
        // An index table larger than its main table: the first and last
        // relation, and the one whose main table has records here.
        {opaque(4, 1), H + "SourceFileByBaseNames max 1 > SourceFiles max 0", 2},
        {opaque(29, 3), H + "SectionByAdr max 3 > Section max 2", 2},
        {opaque(26, 1), H + "LinkageStubByAdrs max 1 > LinkageStubs max 0", 2},
        {nullptr, E + "[STDnm_CheckSectionSanity] Invalid link label sc (43)", 7,
         [](DnmDesc &d) { d.sections[1].sc = 43; }},
        // String references: the first and last field checked.
        {dlo([](STDnm_DloFile &f) { f.name = 0x7777; }), D + "name (0x7777)", 8},
        {dlo([](STDnm_DloFile &f) { f.objectFileBaseName = 0x777A; }), D + "objectFileBaseName (0x777a)", 8},
        {dlo([](STDnm_DloFile &f) { f.iTopLevelSourceFile = 0; }), D + "iTopLevelSourceFile (0)", 8},
        {dlo([](STDnm_DloFile &f) { f.iTopLevelSourceFile2 = -2; }), D + "iTopLevelSourceFile (-2)", 8},
        {nullptr, D + "timeStamp (0xffffffff)", 8, [](DnmDesc &d) { d.dlos[1].timeStamp = -1; }},
        {nullptr, D + "timeStamp (0x" + future + ")", 8,
         [&](DnmDesc &d) { d.dlos[1].timeStamp = int32_t(now + 9000000); }},
        {nullptr, D + "dlo file language (17)", 8, [](DnmDesc &d) { d.dlos[1].language = 17; }},
        {nullptr, D + "dlo file language (254)", 8, [](DnmDesc &d) { d.dlos[1].language = 254; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        DnmDesc d = sample({43});
        if (c.change) c.change(d);
        d.tweak = c.tweak;
        Bytes bytes = dbgw::write_dnm(d);
        EXPECT_EQ(read(bytes), nullptr);
        EXPECT_EQ(log.all(), (Lines{c.message, E + "Corruption in symbol file is detected:\n" + path_of_input(), failed_at(c.pos)}));
        log.clear();
        FlagScope nocheck(STFLAG_NoSanityCheck, 1);
        Dnm dnm = read(bytes);
        EXPECT_FALSE(log.contains("Sanity")) << log.joined();
        if (c.pos > 2) {
            EXPECT_NE(dnm, nullptr);
        }
        log.clear();
    }
    // Accepted: languages 16, 30, 31, 255; a time stamp within 100 days.
    for (uint8_t lang : {16, 30, 31, 255}) {
        DnmDesc d = sample({43});
        d.dlos[0].language = lang, d.dlos[0].timeStamp = int32_t(now + 8000000);
        Dnm dnm = round_trip(d);
        EXPECT_NE(dnm, nullptr) << int(lang);
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();

    // A negative offset (4-byte offsets before version 40 are signed).
    Bytes bytes = dbgw::write_dnm(sample({39, false}));
    Dnm ok = read(bytes);
    ASSERT_NE(ok, nullptr);
    dbgw::patch32(bytes, size_t(ok->dirPos) + 4, 0xFFFFFFF0);
    EXPECT_EQ(read(bytes), nullptr);
    EXPECT_EQ(log.all().front(), H + "offset 0xfffffffffffffff0 for table with index 1");
    log.clear();
    {
        FlagScope nocheck(STFLAG_NoSanityCheck, 1);
        expect_refused(log, bytes, "(2 entries at offset 0xfffffffffffffff0) does not fit in the file", 5);
    }

    // Checks that no file can fail, called directly.
    STDnm *w = STDnm_Create();
    for (auto [version, mode, bad] : {std::tuple{95, 0u, 1}, {94, 0u, 0}, {94, 4u, 1}}) {
        w->version = version, w->adrMode = mode;
        EXPECT_EQ(STDnm_CheckHeadSanity(w), bad) << version << " " << mode;
    }
    EXPECT_EQ(log.all(), (Lines{H + "dnm version (95)", H + "address mode (4)"}));
    STDnm_Release(w);
}

TEST_F(StDnm, TruncationAtEveryLength) {
    for (const dbgw::Encoding &enc : {dbgw::Encoding{43, true, 2, 3}, {39, false, 2, 1}, {36, true, 0, 0}, {16, false, 0, 2}}) {
        Bytes full = dbgw::write_dnm(sample(enc));
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(testing::Message() << "version " << enc.version << " length " << n);
            log.clear();
            EXPECT_EQ(read(Bytes(full.begin(), full.begin() + long(n))), nullptr);
            ASSERT_FALSE(log.all().empty());
            EXPECT_EQ(failure(log).rfind(E + "failed while reading \"", 0), 0u) << log.joined();
            // The step that failed is explained first.
            if (n >= 20) {
                EXPECT_GE(log.all().size(), 2u) << log.joined();
            }
        }
    }
}

TEST_F(StDnm, CorruptTables) {
    // A damaged end marker fails the step of its table.
    Bytes good = dbgw::write_dnm(sample({43}));
    const std::vector<size_t> at = markers(good);
    ASSERT_EQ(at.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        Bytes bad = good;
        bad[at[size_t(k)] + 7] = '}';
        expect_refused(log, bad, "has no end marker at offset 0x", 6 + k);
    }

    // Packed strings (version 37 on, encodingType 0) that unpack to one
    // byte less or more than the table's size.
    Bytes packed = dbgw::write_dnm(sample({39, false}));
    Dnm dnm = read(packed);
    ASSERT_NE(dnm, nullptr);
    size_t maxPos = size_t(dnm->dirPos) + 4 * dnm->numTables;
    uint32_t size = uint32_t(dnm->tables[STDNM_STRINGS].count);
    Bytes bad = packed;
    dbgw::patch32(bad, maxPos, size + 1);
    expect_refused(log, bad, "unpacks to " + std::to_string(size) + " bytes instead of " + std::to_string(size + 1), 6);
    dbgw::patch32(bad, maxPos, size - 1);
    expect_refused(log, bad, "unpacks to more than its " + std::to_string(size - 1) + " bytes", 6);
    // A count far past the end of the file is refused before allocation.
    bad = packed;
    dbgw::patch32(bad, maxPos + 10, 0x10000000);
    dbgw::patch32(bad, maxPos + 20, 0x10000000);
    EXPECT_EQ(read(bad), nullptr);
    EXPECT_TRUE(log.contains("table \"Sections\" of")) << log.joined();
    expect_refused(log, bad, "Error while allocating tables for \"" + path_of_input() + "\"", 5);

    // Records that do not decode: a LEB128 name reference too long, a
    // string table without its final zero byte.
    DnmDesc d = sample({43});
    d.tweak = [](STDnm *w) {
        const uint8_t rec[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
        STDnm_SetOpaqueTable(w, STDNM_SECTIONS, 1, 0, rec, sizeof rec);
        STDnm_SetIndexTable(w, STDNM_SECTIONS_BY_ADR, nullptr, 0);
    };
    expect_refused(log, dbgw::write_dnm(d), "does not fit in 32 bits", 7);
    d.tweak = [](STDnm *w) {
        const uint8_t text[] = {0, 'a', 'b'};
        STDnm_SetOpaqueTable(w, STDNM_STRINGS, 3, 0, text, 3);
        STDnm_SetOpaqueTable(w, STDNM_SECTIONS, 0, 0, nullptr, 0);
        STDnm_SetOpaqueTable(w, STDNM_DLO_FILES, 0, 0, nullptr, 0);
        STDnm_SetIndexTable(w, STDNM_SECTIONS_BY_ADR, nullptr, 0);
        STDnm_SetIndexTable(w, STDNM_DLO_FILES_BY_OFFSET, nullptr, 0);
        w->encodingType = 1;  // stored unpacked
    };
    expect_refused(log, dbgw::write_dnm(d), "does not end with a zero byte", 6);
    // A wrong kind of file; no container at all.
    expect_refused(log, dbgw::write_dbg({}), std::string("\"").append(path_of_input()) + "\" is not a name file (file kind 1)", 1);
    expect_refused(log, Bytes{'n', 'o', 't'}, "", 1);
}

TEST_F(StDnm, ConfigurationsMappingAndPaths) {
    Bytes bytes = dbgw::write_dnm(sample({43, true, 2, 2}));
    // Configuration 4: strings, attributes and the Dlo File tables only.
    Dnm dnm = read(bytes, 4);
    ASSERT_NE(dnm, nullptr);
    EXPECT_EQ(STDnm_TableEntries(dnm.get(), STDNM_SECTIONS), nullptr);
    EXPECT_EQ((V{STDnm_TableMax(dnm.get(), STDNM_SECTIONS), STDnm_TableCount(dnm.get(), STDNM_DLO_FILES),
                 STDnm_TableCount(dnm.get(), STDNM_DLO_FILES_BY_OFFSET)}), (V{2, 2, 2}));

    // Read through the in-memory image: an unpacked string table is served
    // from it, a packed one is unpacked as usual.
    for (int32_t v : {36, 43}) {
        FlagScope map(STFLAG_useFileMemoryMappingForDnm, 1);
        dnm = round_trip(sample({v}));
        ASSERT_NE(dnm, nullptr) << log.joined();
        EXPECT_EQ(dnm->tables[STDNM_STRINGS].dir.mapped, v == 36 ? 1 : 0);
        int32_t n;
        EXPECT_STREQ(STDnm_String(dnm.get(), STDnm_DloFiles(dnm.get(), &n)[1].name), "util.dbo");
    }
    // The mode stays when the flag is off.
    {
        FlagScope keep(STFLAG_setGAdrModeOnBuildReadWrite, 0);
        gadr_set_mode(GADR_MODE_16BIT);
        dnm = read(bytes);
        ASSERT_NE(dnm, nullptr);
        EXPECT_EQ(gadr_get_mode(), GADR_MODE_16BIT);
    }

    // A name file inside a larger file, read through an open stream, with
    // paths derived from the program's path.
    bytes.insert(bytes.begin(), 13, 'z');
    FILE *fp = std::fopen(dbgw::temp_file(bytes, "archive.bin").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 13, SEEK_SET);
    STDnm own{};
    ASSERT_EQ(STDnm_Read(&own, fp, "dir.v/prog.x.elf", 0), &own);
    EXPECT_EQ(std::string(own.dnmPath) + " " + own.dlaPath, "dir.v/prog.x.dnm dir.v/prog.x.dla");
    EXPECT_EQ(own.tables[STDNM_DLO_FILES].count, 2);
    // Reading the same object again from a damaged stream releases its
    // tables but keeps the object.
    std::fseek(fp, 14, SEEK_SET);
    EXPECT_EQ(STDnm_Read(&own, fp, "dir.v/prog", 0), nullptr);
    EXPECT_EQ(own.tables[STDNM_DLO_FILES].data, nullptr);
    EXPECT_EQ(failure(log), E + "failed while reading \"dir.v/prog.dnm\" (pos 1, errno 0)");
    STDnm_Release(&own);
    std::fclose(fp);
}

}  // namespace
