// Debug objects: the reader against hand-assembled bytes and against the
// writer in every version, encoding, address mode and layout; version rules,
// sanity checks, name lookups, truncation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dbg_writer.h"
#include "indgen.h"
#include "indgeninit.h"
#include "st_api.h"

namespace {

using dbgw::Bytes;
using dbgw::DbgDesc;
using dbgw::FlagScope;
using dbgw::MessageLog;

const std::string E = "3|<libst>: ";
const std::string W = "4|<libst>: ";

class StDbg : public testing::Test {
  protected:
    void SetUp() override { saved_ = gadr_get_mode(); }
    void TearDown() override { gadr_set_mode(saved_); }
    uint32_t saved_ = 2;
};

std::string input_path() { return dbgw::temp_file({}, "input.dbg"); }

DbgDesc sample(const dbgw::Encoding &enc, uint32_t kind = GF_KIND_DBG) {
    DbgDesc d;
    d.enc = enc;
    d.kind = kind;
    uint64_t b = enc.mode == GADR_MODE_64BIT ? 0x700000000ull : enc.mode == GADR_MODE_16BIT_16SEG ? 0x30000 : 0;
    d.procs = {{"main", b + 0x1000, b + 0x1040, "_main"},
               {"f", b + 0x1040, b + 0x1040, ""},
               {"g", b + 0x1100, UINT64_MAX, ""}};
    return d;
}

std::string failed_prefix() { return E + "failed while reading \"" + input_path() + "\""; }

TEST_F(StDbg, HandAssembledVersion5) {
    Bytes b = {0x7F, 'L', 'K', 'S', 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 4, 0, 0, 0};
    Bytes head = {0,    0,    0,    5,                   // version
                  0,    0,    0,    2,    'm', 0,        // magic string
                  4,    1,    0,                         // address mode, fIsDlOFile, one byte
                  0xFF, 0xFF, 0xFF, 0xFF,                // iSymGlobal
                  0,    0,    0,    0,    0,   0, 0, 0,  // dnmStringBase, numDnmStrings
                  3};                                    // numTables
    b.insert(b.end(), head.begin(), head.end());
    for (uint32_t off : {88u, 0u, 102u}) dbgw::put32(b, off);
    for (uint32_t max : {6u, 0u, 1u}) {
        dbgw::put32(b, max);
        dbgw::put32(b, 0);
        b.insert(b.end(), {0, 0});
    }
    ASSERT_EQ(b.size(), 88u);
    const Bytes marker = {'[', 'E', 'N', 'D', 'T', 'B', 'L', ']'};
    Bytes strings = {0, 'm', 'a', 'i', 'n', 0};
    b.insert(b.end(), strings.begin(), strings.end());
    b.insert(b.end(), marker.begin(), marker.end());
    Bytes proc = {0, 0, 0,    1, 0, 0, 0,    1,                 // useName, mangledName
                  0, 0, 0x10, 0, 0, 0, 0x10, 0x40,              // begin, end
                  0, 0, 0,    0};                               // preData
    for (int i = 0; i < 9; ++i) dbgw::put32(proc, 0xFFFFFFFF);  // iSym .. iFrameInfo
    b.insert(b.end(), proc.begin(), proc.end());
    b.insert(b.end(), marker.begin(), marker.end());
    ASSERT_EQ(b.size(), 166u);

    MessageLog log;
    gadr_set_mode(GADR_MODE_16BIT);
    STDbg *dbg = dbgw::read_dbg(b);
    ASSERT_NE(dbg, nullptr) << log.joined();
    EXPECT_TRUE(log.all().empty()) << log.joined();
    EXPECT_EQ(gadr_get_mode(), GADR_MODE_32BIT);
    EXPECT_EQ(dbg->kind, 1u);
    EXPECT_EQ(dbg->version, 5);
    EXPECT_STREQ(dbg->magic, "m");
    EXPECT_EQ(dbg->fIsDlOFile, 1);
    EXPECT_EQ(dbg->fAdrLocated, 1);  // before version 15 the same as fIsDlOFile
    EXPECT_EQ(dbg->language, 31);
    EXPECT_EQ(dbg->iSymGlobal, -1);
    EXPECT_EQ(dbg->loaded, 1);
    EXPECT_EQ(dbg->gf, nullptr);
    int32_t n = 0;
    const STDbg_Proc *p = STDbg_Procs(dbg, &n);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(ST_ProcUseName(p), "main");
    EXPECT_EQ(gadr_to_u64(p->begin), 0x1000u);
    EXPECT_EQ(gadr_to_u64(p->end), 0x1040u);
    EXPECT_EQ(p->postData, 0u);
    EXPECT_EQ(p->iLineStabFirstByILine, -1);
    EXPECT_EQ(p->small, 0);
    EXPECT_EQ(p->flags, 0u);
    STDbg_Free(dbg);

    STDbg *w = STDbg_Create(GF_KIND_DBG);
    w->version = 5;
    w->adrMode = GADR_MODE_32BIT;
    w->fIsDlOFile = w->fAdrLocated = 1;
    w->magic = gen_strdup("m");
    w->numTables = 3;
    STDbg_AddString(w, "");
    STDbg_Proc wp{};
    wp.useName = wp.mangledName = STDbg_AddString(w, "main");
    wp.begin = dbgw::adr(0x1000);
    wp.end = dbgw::adr(0x1040);
    wp.iSym = wp.iSymMax = wp.iLineStab = wp.iLineStabMax = wp.iLine = wp.iLineFirstLbrac = wp.iLineMax = -1;
    wp.iFile = wp.iFrameInfo = wp.iLineStabFirstByILine = -1;
    STDbg_AddProc(w, &wp);
    uint8_t *image = nullptr;
    int64_t size = 0;
    ASSERT_EQ(STDbg_Write(w, nullptr, nullptr, GFileOptions{0, 0, 0}, &image, &size), 0);
    EXPECT_EQ(Bytes(image, image + size), b);
    gen_free_fn(image);
    STDbg_Free(w);
}

TEST_F(StDbg, HandAssembledVersion41Compressed) {
    Bytes b = {0x7F, 'L', 'K', 'S', 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 2, 0};
    Bytes head = {0,    0,    0,    41,   2, 'm', 0,  // version, magic string
                  8,    0,    1,    0,                // address mode, fIsDlOFile, address-located, one byte
                  0,    0,    0,    0,    0, 0,   0,  // three bytes, producer word
                  0,    0,    0,    0,    0,          // language, lcAbiStyle .. lcMangleVersion
                  0,    0,    0,    0,    0,          // compilationHostType .. one byte
                  0xFF, 0xFF, 0xFF, 0xFF,             // iSymGlobal
                  3};
    b.insert(b.end(), head.begin(), head.end());
    for (uint32_t off : {89u, 0u, 109u}) {
        dbgw::put32(b, 0);
        dbgw::put32(b, off);
    }
    b.insert(b.end(), {6, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    ASSERT_EQ(b.size(), 89u);
    const Bytes marker = {'[', 'E', 'N', 'D', 'T', 'B', 'L', ']'};
    // Strings, packed from version 37: six literals under one flag byte.
    Bytes strings = {'P', 'A', 'C', 'K', 7, 0x3F, 0, 'm', 'a', 'i', 'n', 0};
    b.insert(b.end(), strings.begin(), strings.end());
    b.insert(b.end(), marker.begin(), marker.end());
    Bytes proc = {0x02, 0x00,                                              // names
                  0,    0,    0,    1,   0, 0, 0x10, 0, 0x00, 0xC0, 0x00,  // begin, end - begin (hi, lo)
                  0x7D, 0x05,                                              // preData -3, postData 5
                  0x00, 0x00,                                              // iSym, iSymMax
                  0x03, 0x7D, 0x08,                                        // iLineStab 2, -1, 7
                  0x00, 0x00, 0x00,                                        // iLine ..
                  0x01, 0x00,                                              // iFile 0, iFrameInfo -1
                  0x09, 0x81, 0x80, 0x04};                                 // small value, flags
    b.insert(b.end(), proc.begin(), proc.end());
    b.insert(b.end(), marker.begin(), marker.end());
    ASSERT_EQ(b.size(), 146u);

    MessageLog log;
    FlagScope nocheck(STFLAG_NoSanityCheck, 1);  // the indices point at tables left out here
    STDbg *dbg = dbgw::read_dbg(b);
    ASSERT_NE(dbg, nullptr) << log.joined();
    EXPECT_EQ(gadr_get_mode(), GADR_MODE_64BIT);
    int32_t n = 0;
    const STDbg_Proc *p = STDbg_Procs(dbg, &n);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(ST_ProcUseName(p), "main");
    EXPECT_EQ(gadr_to_u64(p->begin), 0x100001000ull);
    EXPECT_EQ(gadr_to_u64(p->end), 0x100001040ull);
    EXPECT_EQ(p->preData, -3);
    EXPECT_EQ(p->postData, 5u);
    EXPECT_EQ(p->iSym, -1);
    EXPECT_EQ(p->iLineStab, 2);
    EXPECT_EQ(p->iLineStabFirstByILine, -1);
    EXPECT_EQ(p->iLineStabMax, 7);
    EXPECT_EQ(p->iLineMax, -1);
    EXPECT_EQ(p->iFile, 0);
    EXPECT_EQ(p->iFrameInfo, -1);
    EXPECT_EQ(p->small, 9);
    EXPECT_EQ(p->flags, 0x10001u);
    STDbg_Free(dbg);

    STDbg *w = STDbg_Create(GF_KIND_DBG);
    w->adrMode = GADR_MODE_64BIT;
    w->magic = gen_strdup("m");
    w->numTables = 3;
    STDbg_AddString(w, "");
    STDbg_Proc wp{};
    wp.useName = wp.mangledName = STDbg_AddString(w, "main");
    wp.begin = dbgw::adr(0x100001000ull);
    wp.end = dbgw::adr(0x100001040ull);
    wp.preData = -3;
    wp.postData = 5;
    wp.iSym = wp.iSymMax = wp.iLineStabFirstByILine = wp.iLine = wp.iLineFirstLbrac = wp.iLineMax = -1;
    wp.iFrameInfo = -1;
    wp.iLineStab = 2;
    wp.iLineStabMax = 7;
    wp.iFile = 0;
    wp.small = 9;
    wp.flags = 0x10001;
    STDbg_AddProc(w, &wp);
    uint8_t *image = nullptr;
    int64_t size = 0;
    ASSERT_EQ(STDbg_Write(w, nullptr, nullptr, GFileOptions{1, 2, 0}, &image, &size), 0);
    EXPECT_EQ(Bytes(image, image + size), b);
    gen_free_fn(image);
    STDbg_Free(w);
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

TEST_F(StDbg, EveryVersionEncodingModeAndLayout) {
    MessageLog log;
    const int32_t versions[] = {5, 6, 7, 9, 12, 14, 15, 20, 21, 22, 23, 25, 26, 27, 35, 36, 37, 41};
    for (int32_t v : versions) {
        for (bool compress : {false, true}) {
            for (uint32_t mode : {0u, 1u, 2u, 3u}) {
                for (uint8_t layout : {uint8_t(0), uint8_t(2)}) {
                    for (uint32_t kind : {uint32_t(GF_KIND_DBG), uint32_t(GF_KIND_DBO)}) {
                        SCOPED_TRACE(testing::Message() << "version " << v << " compress " << compress << " mode "
                                                        << mode << " layout " << int(layout) << " kind " << kind);
                        DbgDesc d = sample({v, compress, layout, mode}, kind);
                        d.tweak = [&](STDbg *w) {
                            auto *p = static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data);
                            p[0].preData = 12;
                            p[0].postData = 34;
                            p[0].small = 5;
                            p[0].flags = 0x1FFFF;
                            w->producerType = 32;
                            w->producer = v > 20 ? 0xFFFF : 0x7F;
                            w->language = 30;
                        };
                        gadr_set_mode(mode == 2 ? 0 : 2);
                        STDbg *dbg = dbgw::read_dbg(dbgw::write_dbg(d));
                        ASSERT_NE(dbg, nullptr) << log.joined();
                        EXPECT_TRUE(log.all().empty()) << log.joined();
                        EXPECT_EQ(gadr_get_mode(), mode);
                        EXPECT_EQ(dbg->kind, kind);
                        EXPECT_EQ(dbg->version, v);
                        EXPECT_STREQ(dbg->magic, "dbg magic 1");
                        EXPECT_EQ(dbg->fAdrLocated, 1);
                        EXPECT_EQ(dbg->producerType, v >= 12 ? 32 : 0);
                        EXPECT_EQ(dbg->producer, v < 12 ? 0u : v > 20 ? 0xFFFFu : 0x7Fu);
                        EXPECT_EQ(dbg->language, v >= 14 ? 30 : 31);
                        int32_t n = 0;
                        const STDbg_Proc *p = STDbg_Procs(dbg, &n);
                        ASSERT_EQ(n, 3);
                        uint64_t b = mode == 3 ? 0x700000000ull : mode == 1 ? 0x30000 : 0;
                        EXPECT_STREQ(ST_ProcUseName(&p[0]), "main");
                        EXPECT_STREQ(STDbg_String(dbg, p[0].mangledName), "_main");
                        EXPECT_STREQ(ST_ProcUseName(&p[2]), "g");
                        EXPECT_EQ(gadr_to_u64(p[0].begin), b + 0x1000);
                        EXPECT_EQ(gadr_to_u64(p[0].end), b + 0x1040);
                        EXPECT_EQ(gadr_to_u64(p[1].end), b + 0x1040);
                        EXPECT_EQ(gadr_to_u64(p[2].end), UINT64_MAX);
                        EXPECT_EQ(p[0].preData, 12);
                        EXPECT_EQ(p[0].postData, v >= 9 ? 34u : 0u);
                        EXPECT_EQ(p[0].small, v >= 6 ? 5 : 0);
                        EXPECT_EQ(p[0].flags, v >= 26 ? 0x1FFFFu : v >= 7 ? 0xFFu : 0u);
                        EXPECT_EQ(p[2].iFrameInfo, -1);
                        EXPECT_EQ(p[2].iLineStabFirstByILine, -1);
                        STDbg_Free(dbg);
                    }
                }
            }
        }
    }
}

TEST_F(StDbg, HeaderFlagsByVersion) {
    MessageLog log;
    // Not address-located: no addresses stored, both read as invalid.
    DbgDesc d = sample({41});
    d.located = false;
    STDbg *dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr) << log.joined();
    EXPECT_EQ(dbg->fAdrLocated, 0);
    int32_t n;
    const STDbg_Proc *p = STDbg_Procs(dbg, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(gadr_to_u64(p[0].begin), UINT64_MAX);
    EXPECT_EQ(gadr_to_u64(p[0].end), UINT64_MAX);
    EXPECT_STREQ(ST_ProcUseName(&p[1]), "f");
    STDbg_Free(dbg);
    // From version 15 the two flags are independent, in both directions.
    for (int flip : {0, 1}) {
        d = sample({15}, GF_KIND_DBO);
        d.located = flip == 1;
        d.tweak = [&](STDbg *w) { w->fIsDlOFile = uint8_t(1 - flip); };
        dbg = dbgw::read_dbg(dbgw::write_dbg(d));
        ASSERT_NE(dbg, nullptr) << log.joined();
        EXPECT_EQ(dbg->fIsDlOFile, 1 - flip);
        EXPECT_EQ(dbg->fAdrLocated, flip);
        STDbg_Free(dbg);
    }
    // Before version 15: located exactly when it belongs to a name file.
    d = sample({14});
    d.located = false;
    dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(dbg->fAdrLocated, 0);
    EXPECT_EQ(dbg->fIsDlOFile, 0);
    STDbg_Free(dbg);
    // A one-byte producer word with bit 7 set also gets bit 8.
    d = sample({12});
    d.tweak = [](STDbg *w) { w->producer = 0x80; };
    dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(dbg->producer, 0x180u);
    STDbg_Free(dbg);
    // The header flags byte keeps bits 0 and 1.
    d = sample({27});
    d.tweak = [](STDbg *w) { w->flags = 0xFF; };
    dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(dbg->flags, 3);
    STDbg_Free(dbg);
    EXPECT_TRUE(log.all().empty()) << log.joined();

    // A missing magic string is a warning only.
    d = sample({41});
    d.magic = "";
    dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(dbg->magic, nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{W + "\"" + input_path() + "\" has a NULL magic string"}));
    STDbg_Free(dbg);
}

TEST_F(StDbg, VersionRule) {
    MessageLog log;
    std::string p = input_path();
    EXPECT_EQ(dbgw::read_dbg(dbgw::write_dbg(sample({4}))), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "\"" + p + "\" has version 4, which is no longer supported"}));
    log.clear();
    STDbg *dbg = dbgw::read_dbg(dbgw::write_dbg(sample({42})));
    ASSERT_NE(dbg, nullptr);
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{W + "\"" + p + "\" has version 42, which is the development version"}));
    STDbg_Free(dbg);
    log.clear();
    EXPECT_EQ(dbgw::read_dbg(dbgw::write_dbg(sample({43}))), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "\"" + p +
                                                   "\" has version 43, this utility only supports up to version 41"}));
    log.clear();
    // Not quiet: the failure is reported too.
    gen_setprogname("funsize");
    dbgw::temp_file(dbgw::write_dbg(sample({43})), "input.dbg");
    EXPECT_EQ(STDbg_Open(nullptr, nullptr, p.c_str(), 0, 0, 0), nullptr);
    gen_setprogname(nullptr);
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{E + "\"" + p + "\" has version 43, funsize only supports up to version 41",
                                        E + "failed to read \"" + p + "\""}));
    log.clear();
    dbgw::temp_file(dbgw::write_dnm({}), "input.dbg");
    EXPECT_EQ(STDbg_Open(nullptr, nullptr, p.c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "\"" + p + "\" is not a debug object (file kind 3)",
                                                   E + "failed to read \"" + p + "\""}));
}

TEST_F(StDbg, HeadSanityChecks) {
    MessageLog log;
    const std::string H = E + "[STDbg_CheckHeadSanity] Invalid ";
    struct Case {
        std::function<void(STDbg *)> tweak;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[](STDbg *w) { w->fIsDlOFile = 2; }, H + "fIsDlOFile flag (2)"},
        {[](STDbg *w) { w->producerType = 33; }, H + "producerType (33)"},
        {[](STDbg *w) { w->producer = 0x10000; }, H + "producerType (65536)"},
        {[](STDbg *w) { w->language = 17; }, H + "language (17)"},
        {[](STDbg *w) { w->compilationHostType = 7; }, H + "compilationHostType (7)"},
        {[](STDbg *w) { w->lcAbiStyle = 17; }, H + "lcAbiStyle (17)"},
        {[](STDbg *w) { w->lcAbiVersion = 17; }, H + "lcAbiVersion (17)"},
        {[](STDbg *w) { w->lcMangleStyle = 17; }, H + "lcMangleStyle (17)"},
        {[](STDbg *w) { w->lcMangleVersion = 17; }, H + "lcMangleVersion (17)"},
        {[](STDbg *w) { w->fCodeCoverageAnalysis = 3; }, H + "fCodeCoverageAnalysis (3)"},
        {[](STDbg *w) { w->iSymGlobal = 1; }, H + "iSymGlobal (1)"},
        {[](STDbg *w) { w->iSymGlobal = -2; }, H + "iSymGlobal (-2)"},
        {[](STDbg *w) {
             w->fIsDlOFile = 1;
             w->dnmStringBase = -1;
         },
         H + "dnmStringBase (-1)"},
        {[](STDbg *w) {
             w->fIsDlOFile = 1;
             w->numDnmStrings = -5;
         },
         H + "numDnmStrings (-5)"},
        {[](STDbg *w) { w->numTables = 62; }, H + "numTables (62)"},
        {[](STDbg *w) { STDbg_SetOpaqueTable(w, 7, -3, 0, nullptr, 0); }, H + "max -3 for table with index 7"},
        {[](STDbg *w) { STDbg_SetOpaqueTable(w, 9, 1, 21, nullptr, 0); }, H + "max 1 for table with index 9"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        DbgDesc d = sample({41});
        d.tweak = c.tweak;
        EXPECT_EQ(dbgw::read_dbg(dbgw::write_dbg(d)), nullptr);
        ASSERT_EQ(log.all().size(), 3u) << log.joined();
        EXPECT_EQ(log.all()[0], c.message);
        EXPECT_EQ(log.all()[1], E + "Corruption in symbol file is detected:\n" + input_path());
        EXPECT_EQ(log.all()[2].rfind(failed_prefix() + " at 0x", 0), 0u) << log.all()[2];
        log.clear();
    }
    // Accepted limits.
    DbgDesc d = sample({41});
    d.tweak = [](STDbg *w) {
        w->producerType = 32;
        w->language = 255;
        w->compilationHostType = 6;
        w->lcMangleVersion = 16;
        w->fCodeCoverageAnalysis = 2;
        w->numTables = 61;
        STDbg_SetOpaqueTable(w, STDBG_SYMS, 4, 20, nullptr, 0);
        w->iSymGlobal = 4;
    };
    STDbg *dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    EXPECT_NE(dbg, nullptr) << log.joined();
    STDbg_Free(dbg);
    EXPECT_TRUE(log.all().empty()) << log.joined();

    // A negative 4-byte offset (before version 36).
    Bytes bytes = dbgw::write_dbg(sample({35, false}));
    dbg = dbgw::read_dbg(bytes);
    ASSERT_NE(dbg, nullptr);
    size_t dirPos = size_t(dbg->dirPos);
    STDbg_Free(dbg);
    dbgw::patch32(bytes, dirPos + 8, 0x80000000);
    EXPECT_EQ(dbgw::read_dbg(bytes), nullptr);
    EXPECT_EQ(log.all().front(), H + "offset 0xffffffff80000000 for table with index 2");
    log.clear();

    // Checks no file can fail, called directly.
    STDbg *w = STDbg_Create(GF_KIND_DBG);
    w->version = 93;
    EXPECT_EQ(STDbg_CheckHeadSanity(w), 1);
    w->version = 4;
    EXPECT_EQ(STDbg_CheckHeadSanity(w), 1);
    w->version = 92;
    w->adrMode = 11;
    EXPECT_EQ(STDbg_CheckHeadSanity(w), 1);
    w->adrMode = 10;
    EXPECT_EQ(STDbg_CheckHeadSanity(w), 0);
    EXPECT_EQ(log.all(),
              (std::vector<std::string>{H + "dbg version (93)", H + "dbg version (4)", H + "address mode (11)"}));
    STDbg_Free(w);
}

TEST_F(StDbg, ProcedureChecks) {
    MessageLog log;
    const std::string P = E + "[STDbg_CheckProcSanity] Invalid ";
    struct Case {
        std::function<void(STDbg_Proc &)> change;
        std::string message;  // empty: sound
    };
    const std::vector<Case> cases = {
        {[](STDbg_Proc &p) { p.useName = 0x7777; }, P + "useName (0x7777)"},
        {[](STDbg_Proc &p) { p.mangledName = 0x6FFF; }, P + "mangledName (0x6fff)"},
        {[](STDbg_Proc &p) { p.useName = 0x7000; }, ""},  // in the name file's strings
        {[](STDbg_Proc &p) { p.useName = 0x70FF; }, ""},
        {[](STDbg_Proc &p) { p.useName = 0x7100; }, P + "useName (0x7100)"},
        {[](STDbg_Proc &p) {
             p.begin = dbgw::adr(0x2000);
             p.end = dbgw::adr(0x1000);
         },
         P + "begin (0x00002000) > end (0x00001000)"},
        {[](STDbg_Proc &p) {
             p.begin = dbgw::adr(0x2000);
             p.end = dbgw::adr(UINT64_MAX);
         },
         ""},
        {[](STDbg_Proc &p) { p.preData = -1; }, P + "preData (-1)"},
        {[](STDbg_Proc &p) { p.postData = 0x80000000; }, P + "postData (-2147483648)"},
        {[](STDbg_Proc &p) {
             p.iSym = 2;
             p.iSymMax = 5;
         },
         ""},
        {[](STDbg_Proc &p) { p.iSym = 5; }, P + "iSym (5)"},
        {[](STDbg_Proc &p) {
             p.iSym = 3;
             p.iSymMax = 2;
         },
         P + "iSym (3)"},
        {[](STDbg_Proc &p) { p.iSymMax = 6; }, P + "iSymMax (6)"},
        {[](STDbg_Proc &p) { p.iLineStab = 3; }, P + "iLineStab (3)"},
        {[](STDbg_Proc &p) { p.iLineStabFirstByILine = -2; }, P + "iLineStabFirstByILine (-2)"},
        {[](STDbg_Proc &p) { p.iLineStabMax = 4; }, P + "iLineStabMax (4)"},
        {[](STDbg_Proc &p) {
             p.iLineStab = 2;
             p.iLineStabMax = 3;
         },
         ""},
        {[](STDbg_Proc &p) {
             p.iLine = 3;
             p.iLineMax = 2;
         },
         P + "iLine (3)"},
        {[](STDbg_Proc &p) {
             p.iLine = 2;
             p.iLineFirstLbrac = 1;
             p.iLineMax = 5;
         },
         P + "iLineFirstLbrac (1)"},
        {[](STDbg_Proc &p) {
             p.iLine = 2;
             p.iLineFirstLbrac = 6;
             p.iLineMax = 5;
         },
         P + "iLineFirstLbrac (6)"},
        {[](STDbg_Proc &p) { p.iLineMax = -2; }, P + "iLineMax (-2)"},
        {[](STDbg_Proc &p) { p.iFile = 1; }, P + "iFile (1)"},
        {[](STDbg_Proc &p) { p.iFile = 0; }, ""},
        {[](STDbg_Proc &p) { p.iFrameInfo = 0; }, P + "iFrameInfo (0)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        DbgDesc d = sample({41}, GF_KIND_DBO);
        d.tweak = [&](STDbg *w) {
            w->dnmStringBase = 0x7000;
            w->numDnmStrings = 0x100;
            STDbg_SetOpaqueTable(w, STDBG_SYMS, 5, 0, nullptr, 0);
            STDbg_SetOpaqueTable(w, STDBG_LINES, 3, 0, nullptr, 0);
            STDbg_SetOpaqueTable(w, STDBG_FILES, 1, 0, nullptr, 0);
            c.change(static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data)[1]);
        };
        Bytes bytes = dbgw::write_dbg(d);
        STDbg *dbg = dbgw::read_dbg(bytes);
        if (c.message.empty()) {
            EXPECT_NE(dbg, nullptr);
            EXPECT_TRUE(log.all().empty()) << log.joined();
            STDbg_Free(dbg);
        } else {
            EXPECT_EQ(dbg, nullptr);
            ASSERT_EQ(log.all().size(), 3u) << log.joined();
            EXPECT_EQ(log.all()[0], c.message);
            EXPECT_EQ(log.all()[1], E + "Corruption in symbol file is detected:\n" + input_path());
            EXPECT_EQ(log.all()[2].rfind(failed_prefix() + " at 0x", 0), 0u);
            log.clear();
            FlagScope nocheck(STFLAG_NoSanityCheck, 1);
            dbg = dbgw::read_dbg(bytes);
            EXPECT_NE(dbg, nullptr);
            STDbg_Free(dbg);
        }
        log.clear();
    }

    // The whole-object check, after the stream is gone.
    DbgDesc d = sample({41});
    d.tweak = [](STDbg *w) {
        STDbg_SetOpaqueTable(w, STDBG_SYMS, 1, 0, nullptr, 0);
        STDbg_SetOpaqueTable(w, STDBG_SYM_COPY_FORWARD, 2, 0, nullptr, 0);
    };
    EXPECT_EQ(dbgw::read_dbg(dbgw::write_dbg(d)), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{
                             E + "[STDbg_CheckSanity] Invalid STDbg_SymCopyForwardUpdateLinks (2) > STDbg_Syms (1)",
                             E + "Corruption in symbol file is detected:\n" + input_path(), failed_prefix()}));
}

TEST_F(StDbg, NamesFromTheNameFile) {
    MessageLog log;
    DbgDesc d = sample({41}, GF_KIND_DBO);
    d.tweak = [](STDbg *w) {
        w->dnmStringBase = 0x1000;
        w->numDnmStrings = 0x40;
        auto *p = static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data);
        p[1].useName = 0x1000 + 1;
        p[2].useName = uint32_t(w->tables[STDBG_STRINGS].count);
    };
    STDbg *dbg = dbgw::read_dbg(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr) << log.joined();
    int32_t n;
    const STDbg_Proc *p = STDbg_Procs(dbg, &n);
    EXPECT_STREQ(ST_ProcUseName(&p[1]), "<DBG_BAD_ISS_DNM_NOT_LOADED>");
    EXPECT_STREQ(ST_ProcUseName(&p[2]), "");
    EXPECT_TRUE(log.all().empty());

    dbgw::DnmDesc nd;
    nd.sections = {{".text", 0, 0x100, 1}};
    STDnm *dnm = dbgw::read_dnm(dbgw::write_dnm(nd));
    ASSERT_NE(dnm, nullptr);
    dbg->dnm = dnm;
    EXPECT_STREQ(ST_ProcUseName(&p[1]), ".text");
    EXPECT_STREQ(ST_ProcUseName(&p[0]), "main");
    EXPECT_STREQ(ST_ProcUseName(nullptr), "");
    EXPECT_TRUE(log.all().empty());
    EXPECT_STREQ(STDbg_String(dbg, 0x1041), "<BAD_ISS>");
    EXPECT_STREQ(STDbg_String(dbg, 0x1030), "<BAD_ISS>");  // past the name file's strings
    EXPECT_EQ(log.all().size(), 2u);
    STDbg_Free(dbg);
    STDnm_Release(dnm);
}

TEST_F(StDbg, TruncationAndCorruption) {
    MessageLog log;
    for (const dbgw::Encoding &enc :
         {dbgw::Encoding{41, true, 2, 3}, dbgw::Encoding{35, false, 0, 1}, dbgw::Encoding{12, true, 2, 0}}) {
        Bytes full = dbgw::write_dbg(sample(enc, GF_KIND_DBO));
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(testing::Message() << "version " << enc.version << " length " << n);
            log.clear();
            EXPECT_EQ(dbgw::read_dbg(Bytes(full.begin(), full.begin() + long(n))), nullptr);
            // Opening is quiet; once the magic string is read, the read
            // reports why and where it failed.
            if (n > 40) {
                ASSERT_GE(log.all().size(), 2u);
                EXPECT_EQ(log.all().back().rfind(failed_prefix(), 0), 0u) << log.joined();
            }
        }
    }
    log.clear();
    // A count past the end of the file, and a damaged end marker.
    Bytes bytes = dbgw::write_dbg(sample({35, false}));
    STDbg *dbg = dbgw::read_dbg(bytes);
    ASSERT_NE(dbg, nullptr);
    size_t maxPos = size_t(dbg->dirPos) + 4 * dbg->numTables + 10 * STDBG_PROCS;
    STDbg_Free(dbg);
    Bytes bad = bytes;
    dbgw::patch32(bad, maxPos, 0x7FFFFFFF);
    EXPECT_EQ(dbgw::read_dbg(bad), nullptr);
    EXPECT_TRUE(log.contains("table \"Procs\" of")) << log.joined();
    EXPECT_TRUE(log.has(E + "Error while allocating tables for \"" + input_path() + "\"")) << log.joined();
    log.clear();
    bad = bytes;
    bad[bad.size() - 1] = 'x';
    EXPECT_EQ(dbgw::read_dbg(bad), nullptr);
    EXPECT_TRUE(log.contains("has no end marker")) << log.joined();
    EXPECT_EQ(log.all().back().rfind(failed_prefix() + " at 0x", 0), 0u);
}

TEST_F(StDbg, OpenFromStreamsConfigurationsAndMapping) {
    MessageLog log;
    Bytes bytes = dbgw::write_dbg(sample({41, true, 2, 2}, GF_KIND_DBO));
    Bytes file(9, 'a');
    file.insert(file.end(), bytes.begin(), bytes.end());
    std::string path = dbgw::temp_file(file, "archive.dla");
    FILE *fp = std::fopen(path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 9, SEEK_SET);
    STDbg *dbg = STDbg_Open(nullptr, fp, nullptr, 3, 0, 0);
    ASSERT_NE(dbg, nullptr);
    EXPECT_STREQ(dbg->name, "UNKNOWN");
    ASSERT_EQ(STDbg_Read(dbg), dbg);
    int32_t n = -1;
    EXPECT_EQ(STDbg_Procs(dbg, &n), nullptr);  // configuration 3 leaves the procedures out
    EXPECT_EQ(n, 0);
    EXPECT_GT(dbg->tables[STDBG_STRINGS].count, 0);
    STDbg_Free(dbg);

    std::fseek(fp, 9, SEEK_SET);
    STDbg own{};
    ASSERT_EQ(STDbg_Load(&own, fp, "member.dbo", 4), &own);
    STDbg_Procs(&own, &n);
    EXPECT_EQ(n, 3);
    STDbg_Free(&own);
    // A stream at the wrong position: not quiet, then quiet.
    std::fseek(fp, 3, SEEK_SET);
    EXPECT_EQ(STDbg_Open(nullptr, fp, "member.dbo", 0, 0, 0), nullptr);
    EXPECT_EQ(log.all(), (std::vector<std::string>{E + "failed to read \"member.dbo\""}));
    log.clear();
    std::fseek(fp, 3, SEEK_SET);
    EXPECT_EQ(STDbg_Load(nullptr, fp, "member.dbo", 0), nullptr);
    EXPECT_TRUE(log.all().empty());
    std::fclose(fp);

    // Read through the in-memory image, for both kinds of object.
    for (uint32_t kind : {uint32_t(GF_KIND_DBG), uint32_t(GF_KIND_DBO)}) {
        FlagScope map(kind == GF_KIND_DBO ? STFLAG_useFileMemoryMappingForDlo : STFLAG_useFileMemoryMappingForDbo, 1);
        for (int32_t v : {36, 41}) {
            dbg = dbgw::read_dbg(dbgw::write_dbg(sample({v}, kind)));
            ASSERT_NE(dbg, nullptr) << log.joined();
            EXPECT_NE(dbg->image, nullptr);
            EXPECT_EQ(dbg->tables[STDBG_STRINGS].dir.mapped, v == 36 ? 1 : 0);
            const STDbg_Proc *p = STDbg_Procs(dbg, &n);
            EXPECT_STREQ(ST_ProcUseName(&p[2]), "g");
            STDbg_Free(dbg);
        }
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

}  // namespace
