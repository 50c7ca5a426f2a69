// Name files and debug objects: every version through the writer,
// hand-assembled bytes, version rules, sanity checks, truncation, corrupt
// tables, streams, configurations and mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "indgeninit.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
using dbgw::DbgDesc;
using dbgw::DnmDesc;

struct Release {
    void operator()(STDnm *d) const { STDnm_Release(d); }
    void operator()(STDbg *d) const { STDbg_Free(d); }
};
using Dnm = std::unique_ptr<STDnm, Release>;
using Dbg = std::unique_ptr<STDbg, Release>;
Dnm dnm_of(const Bytes &b, int32_t config = 0) { return Dnm(dbgw::read_dnm(b, config)); }
Dbg dbg_of(const Bytes &b) { return Dbg(dbgw::read_dbg(b)); }
int64_t u(gadr a) { return int64_t(gadr_to_u64(a)); }
uint64_t base_for(uint32_t mode, uint64_t wide) { return mode == GADR_MODE_64BIT ? wide : mode == GADR_MODE_16BIT_16SEG ? 0x20000 : 0; }

DnmDesc dnm_sample(const dbgw::Encoding &enc) {
    DnmDesc d;
    d.enc = enc;
    const uint64_t b = base_for(enc.mode, 0x100000000);
    d.sections = {{".text", b + 0x1000, b + 0x1040, 1}, {".data", b + 0x2000, UINT64_MAX, 2}};
    d.dlos = {{"main.dbo", "main.o", "/src/main.o", "magic-main", 0x44, 1000, 1, 0x301},
              {"util.dbo", "util.o", "/src/util.o", "magic-util", 0x1000, 2000, 3, 0x200}};
    return d;
}

DbgDesc dbg_sample(const dbgw::Encoding &enc, uint32_t kind = GF_KIND_DBG) {
    DbgDesc d;
    d.enc = enc, d.kind = kind;
    const uint64_t b = base_for(enc.mode, 0x700000000);
    d.procs = {{"main", b + 0x1000, b + 0x1040, "_main"}, {"f", b + 0x1040, b + 0x1040, ""}, {"g", b + 0x1100, UINT64_MAX, ""}};
    return d;
}
STDbg_Proc &proc(STDbg *w, int i) { return static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data)[i]; }
const STDbg_Proc *procs(const Dbg &dbg) {
    int32_t n = 0;
    return STDbg_Procs(dbg.get(), &n);
}

// Every value of a procedure, in declaration order (the names aside).
V values(const STDbg_Proc &p) {
    return {u(p.begin), u(p.end), p.preData, p.postData, p.iSym, p.iSymMax, p.iLineStab, p.iLineStabFirstByILine,
            p.iLineStabMax, p.iLine, p.iLineFirstLbrac, p.iLineMax, p.iFile, p.iFrameInfo, p.small, p.flags};
}

// 5 symbols, 3 lines, 1 file and 2 frames for the indices of procedures,
// an empty table, 0x100 name-file strings from 0x7000.
void tables(STDbg *w) {
    w->dnmStringBase = 0x7000, w->numDnmStrings = 0x100;
    for (auto [index, max] :
         {std::pair{STDBG_SYMS, 5}, {STDBG_LINES, 3}, {STDBG_FILES, 1}, {STDBG_FRAMES, 2}, {STDBG_SYM_COPY_FORWARD, 0}})
        STDbg_SetOpaqueTable(w, index, max, 0, nullptr, 0);
}

class StRead : public StTest {
  protected:
    const std::string dnm_path = dbgw::temp_file({}, "input.dnm"), dbg_path = dbgw::temp_file({}, "input.dbg");
    std::string failed_at(int pos) const {
        return E + "failed while reading \"" + dnm_path + "\" (pos " + std::to_string(pos) + ", errno 0)";
    }
    std::string corruption(const std::string &path) const { return E + "Corruption in symbol file is detected:\n" + path; }
    // Reading `bytes` as a name file fails: a message holds `part`, and the
    // last one names the failing step.
    void expect_refused(const Bytes &bytes, const std::string &part, int pos) {
        EXPECT_EQ(dnm_of(bytes), nullptr);
        EXPECT_TRUE(log.contains(part)) << log.joined();
        EXPECT_EQ(log.all().empty() ? "" : log.all().back(), failed_at(pos));
        log.clear();
    }
};

TEST_F(StRead, NameFileInEveryVersionEncodingModeAndLayout) {
    for (int32_t v : {10, 11, 13, 16, 17, 19, 20, 21, 22, 23, 24, 25, 29, 30, 31, 32, 34, 37, 40, 42, 43})
        for (bool compress : {false, true})
            for (uint32_t mode : {0u, 1u, 2u, 3u})
                for (uint8_t layout : {uint8_t(0), uint8_t(2), uint8_t(1)}) {
                    SCOPED_TRACE(testing::Message() << "version " << v << " compress " << compress << " mode " << mode
                                                    << " layout " << int(layout));
                    DnmDesc desc = dnm_sample({v, compress, layout, mode});
                    desc.tweak = [](STDnm *w) {
                        const int32_t links[] = {1, 0};
                        STDnm_SetIndexTable(w, STDNM_DLO_FILE_UPDATE_LINKS, links, 2);
                    };
                    Bytes bytes = dbgw::write_dnm(desc);
                    gadr_set_mode(mode == 2 ? 3 : 2);
                    Dnm dnm = dnm_of(bytes);
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
                    const int64_t b = int64_t(base_for(mode, 0x100000000));
                    EXPECT_STREQ(STDnm_String(dnm.get(), s[1].altName), ".data");
                    // The low four flags come from sc before version 23.
                    EXPECT_EQ((V{u(s[0].begin), u(s[0].end), u(s[1].end), s[1].value32, s[1].sc, s[0].flags,
                                 STDnm_TableCount(dnm.get(), STDNM_SECTIONS_BY_ADR)}),
                              (V{b + 0x1000, b + 0x1040, -1, -2, 2, v < 23 ? 0x2 : v < 30 ? 0x1 : 0x201, v >= 30 ? 2 : 0}));
                    EXPECT_STREQ(STDnm_String(dnm.get(), f[1].magic), "magic-util");
                    EXPECT_STREQ(STDnm_String(dnm.get(), f[1].objectFileBaseName), v >= 11 ? "util.o" : "");
                    // Bit 5 from bit 0 before version 17; bit 11 from bit 8
                    // before version 43, from bit 9 after. The index by
                    // offset is stored from version 17, the update links from 22.
                    EXPECT_EQ((V{int64_t(f[1].offset), f[1].timeStamp, f[1].language, f[0].flags, f[1].flags,
                                 f[1].iTopLevelSourceFile2, STDnm_TableCount(dnm.get(), STDNM_DLO_FILES_BY_OFFSET),
                                 STDnm_TableCount(dnm.get(), STDNM_DLO_FILE_UPDATE_LINKS)}),
                              (V{0x1000, 2000, v >= 19 ? 3 : 31, v < 13 ? 0 : v < 17 ? 0xB21 : 0xB01,
                                 v < 13 ? 0 : v < 43 ? 0x200 : 0xA00, -1, v >= 17 ? 2 : 0, v >= 22 ? 2 : 0}));
                    if (v >= 17) {
                        EXPECT_EQ(static_cast<int32_t *>(STDnm_TableEntries(dnm.get(), 17))[1], 1);
                    }
                }
}

TEST_F(StRead, NameFileHeaderFieldsByVersion) {
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
        DnmDesc desc = dnm_sample({c.v});
        desc.tweak = [&](STDnm *w) {
            w->bytesPerTextAdrUnit = c.text, w->bytesPerDataAdrUnit = c.data, w->flags = c.flags;
            w->cppAbiStyle = 7, w->encodingType = 1, w->words31[0] = 7;
        };
        Dnm d = dnm_of(dbgw::write_dnm(desc));
        ASSERT_NE(d, nullptr) << log.joined();
        EXPECT_EQ((V{d->bytesPerTextAdrUnit, d->bytesPerDataAdrUnit, d->flags, c.want[3] < 0 ? -1 : d->byte29a,
                     d->cppAbiStyle, d->encodingType, d->words31[0]}),
                  (V{c.want[0], c.want[1], c.want[2], c.want[3], c.v >= 29 ? 7 : 0, c.v >= 31, c.v >= 31 ? 7 : -1}));
    }
    // Fewer tables than the index of the Dlo Files by offset: the index
    // stays out of the file.
    DnmDesc few = dnm_sample({43});
    few.tweak = [](STDnm *w) { w->numTables = STDNM_DLO_FILES_BY_OFFSET; };
    Dnm d = dnm_of(dbgw::write_dnm(few));
    ASSERT_NE(d, nullptr) << log.joined();
    EXPECT_EQ((V{STDnm_TableCount(d.get(), STDNM_DLO_FILES), STDnm_TableCount(d.get(), STDNM_DLO_FILES_BY_OFFSET)}), (V{2, 0}));
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

// Each field where its version adds it, in both encodings, both kinds and
// every address mode; what a version does not store reads as its default.
TEST_F(StRead, DebugObjectInEveryVersionKindEncodingAndMode) {
    for (int32_t v : {5, 6, 7, 9, 12, 14, 15, 20, 21, 22, 23, 26, 27, 35, 36, 37, 41})
        for (uint32_t kind : {uint32_t(GF_KIND_DBG), uint32_t(GF_KIND_DBO)})
            for (bool compress : {false, true})
                for (uint32_t mode : {0u, 1u, 2u, 3u}) {
                    SCOPED_TRACE(testing::Message() << "version " << v << " kind " << kind << " compress " << compress << " mode " << mode);
                    DbgDesc d = dbg_sample({v, compress, GF_LAYOUT_LITTLE, mode}, kind);
                    d.tweak = [](STDbg *w) {
                        tables(w);
                        w->byteA = 0xA0, w->byte12a = 0xA1, w->producerType = 7, w->byte12b = 0xA2, w->producer = 0x1FF;
                        w->language = 5, w->lcAbiStyle = 1, w->lcAbiVersion = 2, w->lcMangleStyle = 3, w->lcMangleVersion = 4;
                        w->compilationHostType = 5, w->byte27a = 0xB0, w->fCodeCoverageAnalysis = 2, w->flags = 7;
                        w->byte27b = 0xB1, w->iSymGlobal = 4;
                        STDbg_Proc &p = proc(w, 0);
                        p.preData = 3, p.postData = 5, p.iSym = 1, p.iSymMax = 4, p.iLineStab = 0, p.iLineStabFirstByILine = 1;
                        p.iLineStabMax = 2, p.iLine = 0, p.iLineFirstLbrac = 1, p.iLineMax = 2, p.iFile = 0, p.iFrameInfo = 1;
                        p.small = 9, p.flags = 0x10181;
                    };
                    gadr_set_mode(mode == 2 ? 3 : 2);
                    Dbg dbg = dbg_of(dbgw::write_dbg(d));
                    ASSERT_NE(dbg, nullptr) << log.joined();
                    EXPECT_TRUE(log.all().empty()) << log.joined();
                    EXPECT_STREQ(dbg->magic, "dbg magic 1");
                    // The producer byte of old versions carries bit 8 in its
                    // bit 7; only an object of a name file refers to its strings.
                    const bool dbo = kind == GF_KIND_DBO || v < 15;
                    EXPECT_EQ((V{gadr_get_mode(), dbg->fIsDlOFile, dbg->byteA, dbg->byte12a, dbg->producerType, dbg->byte12b,
                                 dbg->producer, dbg->language, dbg->lcAbiStyle, dbg->lcAbiVersion, dbg->lcMangleStyle,
                                 dbg->lcMangleVersion, dbg->compilationHostType, dbg->byte27a, dbg->fCodeCoverageAnalysis,
                                 dbg->flags, dbg->byte27b, dbg->iSymGlobal, dbg->dnmStringBase, dbg->numDnmStrings}),
                              (V{mode, dbo, 0xA0, v >= 12 ? 0xA1 : 0, v >= 12 ? 7 : 0, v >= 12 ? 0xA2 : 0, v >= 12 ? 0x1FF : 0,
                                 v >= 14 ? 5 : 31, v >= 23, v >= 23 ? 2 : 0, v >= 23 ? 3 : 0, v >= 23 ? 4 : 0, v >= 27 ? 5 : 0,
                                 v >= 27 ? 0xB0 : 0, v >= 27 ? 2 : 0, v >= 27 ? 3 : 0, v >= 27 ? 0xB1 : 0, 4, dbo ? 0x7000 : 0,
                                 dbo ? 0x100 : 0}));
                    const STDbg_Proc *p = procs(dbg);
                    const int64_t b = int64_t(base_for(mode, 0x700000000));
                    EXPECT_EQ(values(p[0]), (V{b + 0x1000, b + 0x1040, 3, v >= 9 ? 5 : 0, 1, 4, 0, v >= 22 ? 1 : -1, 2, 0, 1, 2,
                                               0, 1, v >= 6 ? 9 : 0, v >= 26 ? 0x10181 : v >= 7 ? 0x81 : 0}));
                    EXPECT_EQ(std::string(ST_ProcUseName(&p[0])) + " " + ST_ProcUseName(&p[2]), "main g");
                    // An empty table stays out of the file.
                    EXPECT_EQ((V{dbg->tables[STDBG_PROCS].count, values(p[2])[1], int64_t(dbg->tables[STDBG_SYM_COPY_FORWARD].dir.offset)}),
                              (V{3, -1, 0}));
                }
}

// The oldest name file, fixed-width, and the newest debug object, in LEB128
// with 64-bit addresses and packed strings: what the reader reads out of
// hand-assembled bytes, and the same bytes when the writer writes it back.
TEST_F(StRead, HandAssembledFiles) {
    const Bytes dnm10 = hex(
        "7F4C4B53 00000001 00000003 00000000 04000000"  // container header
        "0000000A 04 00 070809"                         // version, address mode, endian flag, three bytes
        "00000100 11223344 03"                          // low address, a word, numTables
        "00000050 00000062 00000084"                    // table offsets
        "0000000A 00000000 0000 00000001 00000000 0000 00000001 00000000 0000"  // max, aux of each
        "00 7465787400 612E6F00 5B454E4454424C5D"       // strings, end marker
        "00000001 00000001 00001000 00002000"           // section: names, begin, end
        "00000010 FFFFFFFE 01 12 5B454E4454424C5D"      // value (4 bytes before version 40), signed value, sc, flags
        "00000006 00000006 00000006 00000001 00000001"  // dlo file: name, baseName, path, magic pair
        "000003E8 00000044 5B454E4454424C5D");          // timeStamp, offset
    const Bytes dbg41 = hex(
        "7F4C4B53 00000001 00000001 00000001 08000200"  // container header
        "00000029 02 6D00 08 00 01 00"                  // version, magic, mode, fIsDlOFile, address-located, a byte
        "000000 00000000 00 00000000"                   // three bytes, producer, language, lcAbiStyle ..
        "00000000 00 FFFFFFFF 03"                       // compilationHostType .., iSymGlobal, numTables
        "0000000000000059 0000000000000000 000000000000006D"  // table offsets
        "06000000 00000000 01000000"                    // max, aux of each
        "5041434B 07 3F 006D61696E00 5B454E4454424C5D"  // strings packed: six literals under one flag byte
        "0200 0000000100001000 00C000"                  // proc: names, begin, end - begin (hi, lo)
        "7D 05 00 00 03 7D 08 000000 01 00"             // preData -3, postData 5, iSym pair, iLineStab 2 -1 7, ..
        "09 818004 5B454E4454424C5D");                  // small value, flags
    uint8_t *image = nullptr;
    int64_t size = 0;
    gadr_set_mode(GADR_MODE_16BIT);
    Dnm dnm = dnm_of(dnm10);
    ASSERT_NE(dnm, nullptr) << log.joined();
    int32_t n = 0, nf = 0;
    const STDnm_Section *s = STDnm_Sections(dnm.get(), &n);
    const STDnm_DloFile *f = STDnm_DloFiles(dnm.get(), &nf);
    ASSERT_EQ((V{n, nf}), (V{1, 1}));
    EXPECT_EQ((V{gadr_get_mode(), dnm->bytesA[0], dnm->bytesA[2], u(dnm->lowAdr), dnm->word1, u(s->begin), u(s->end),
                 int64_t(s->value64), s->value32, s->sc, s->flags, s->index3, f->timeStamp, int64_t(f->offset), f->iTopLevelSourceFile2}),
              (V{GADR_MODE_32BIT, 7, 9, 0x100, 0x11223344, 0x1000, 0x2000, 0x10, -2, 1, 0x12, -1, 1000, 0x44, -1}));
    EXPECT_EQ(std::string(STDnm_String(dnm.get(), s->altName)) + " " + STDnm_String(dnm.get(), f->path) + " " +
                  STDnm_String(dnm.get(), f->magic2), "text a.o text");
    EXPECT_EQ(dbgw::taken(STDnm_Write(dnm.get(), nullptr, nullptr, GFileOptions{0, 0, 0}, &image, &size), image, size), dnm10);

    FlagScope nocheck(STFLAG_NoSanityCheck, 1);  // the indices point at tables left out here
    Dbg dbg = dbg_of(dbg41);
    ASSERT_NE(dbg, nullptr) << log.joined();
    EXPECT_EQ((V{gadr_get_mode(), dbg->fIsDlOFile, dbg->fAdrLocated, dbg->tables[STDBG_PROCS].count}), (V{GADR_MODE_64BIT, 0, 1, 1}));
    EXPECT_EQ(std::string(dbg->magic) + " " + ST_ProcUseName(procs(dbg)), "m main");
    EXPECT_EQ(values(*procs(dbg)), (V{0x100001000, 0x100001040, -3, 5, -1, -1, 2, -1, 7, -1, -1, -1, 0, -1, 9, 0x10001}));
    EXPECT_EQ(dbgw::taken(STDbg_Write(dbg.get(), nullptr, nullptr, GFileOptions{1, 2, 0}, &image, &size), image, size), dbg41);
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

// (A name file of the development version is read end to end.)
TEST_F(StRead, VersionRules) {
    const std::string n = "\"" + dnm_path + "\" has version ", o = "\"" + dbg_path + "\" has version ";
    const struct {
        bool dnm;
        int32_t version;
        const char *prog;
        Lines want;
    } cases[] = {
        {true, 9, nullptr, {E + n + "9, which is no longer supported", failed_at(2)}},
        {true, 45, nullptr, {E + n + "45, this utility only supports up to version 43", failed_at(2)}},
        {true, 45, "funsize", {E + n + "45, funsize only supports up to version 43", failed_at(2)}},
        {false, 4, nullptr, {E + o + "4, which is no longer supported"}},
        {false, 42, nullptr, {W + o + "42, which is the development version"}},
        {false, 43, nullptr, {E + o + "43, this utility only supports up to version 41"}},
        {false, 43, "funsize", {E + o + "43, funsize only supports up to version 41"}},
    };
    for (const auto &c : cases) {
        log.clear();
        gen_setprogname(c.prog);
        const bool read = c.dnm ? dnm_of(dbgw::write_dnm(dnm_sample({c.version}))) != nullptr
                                : dbg_of(dbgw::write_dbg(dbg_sample({c.version}))) != nullptr;
        gen_setprogname(nullptr);
        EXPECT_EQ(read, c.version == 42) << c.version;
        EXPECT_EQ(log.all(), c.want);
    }
    // Another kind of file opened not quietly: the failure is reported too.
    // A missing magic string is a warning only.
    log.clear();
    dbgw::temp_file(dbgw::write_dnm({}), "input.dbg");
    EXPECT_EQ(STDbg_Open(nullptr, nullptr, dbg_path.c_str(), 0, 0, 0), nullptr);
    DbgDesc d = dbg_sample({41});
    d.magic = "";
    EXPECT_EQ(dbg_of(dbgw::write_dbg(d))->magic, nullptr);
    EXPECT_EQ(log.all(), (Lines{E + "\"" + dbg_path + "\" is not a debug object (file kind 3)",
                                E + "failed to read \"" + dbg_path + "\"", W + "\"" + dbg_path + "\" has a NULL magic string"}));
}

// Each check refuses the file with its own message, the corruption notice
// and the failing step (2: the header, 7: sections, 8: Dlo Files); with the
// checks switched off the same file gets past it.
TEST_F(StRead, NameFileSanityChecks) {
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
    struct Case {
        Tweak tweak;
        std::string message;
        int pos;
        std::function<void(DnmDesc &)> change = nullptr;
    };
    std::vector<Case> cases = {
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
        {nullptr, E + "[STDnm_CheckSectionSanity] Invalid link label sc (43)", 7, [](DnmDesc &d) { d.sections[1].sc = 43; }},
        // String references: the first and last field checked.
        {dlo([](STDnm_DloFile &f) { f.name = 0x7777; }), D + "name (0x7777)", 8},
        {dlo([](STDnm_DloFile &f) { f.objectFileBaseName = 0x777A; }), D + "objectFileBaseName (0x777a)", 8},
        {dlo([](STDnm_DloFile &f) { f.iTopLevelSourceFile = 0; }), D + "iTopLevelSourceFile (0)", 8},
        {dlo([](STDnm_DloFile &f) { f.iTopLevelSourceFile2 = -2; }), D + "iTopLevelSourceFile (-2)", 8},
        {nullptr, D + "timeStamp (0xffffffff)", 8, [](DnmDesc &d) { d.dlos[1].timeStamp = -1; }},
        {nullptr, D + "timeStamp (0x" + future + ")", 8, [&](DnmDesc &d) { d.dlos[1].timeStamp = int32_t(now + 9000000); }},
        {nullptr, D + "dlo file language (17)", 8, [](DnmDesc &d) { d.dlos[1].language = 17; }},
        {nullptr, D + "dlo file language (254)", 8, [](DnmDesc &d) { d.dlos[1].language = 254; }},
    };
    // Each index table larger than the table it indexes (the sample has two
    // sections and two Dlo Files, no other records).
    const std::tuple<int, int, const char *> relations[] = {
        {4, 3, "SourceFileByBaseNames"},   {5, 3, "SourceFileByRelNames"},   {6, 3, "SourceFileByFullNames"},
        {17, 2, "DloFileByOffsets"},       {18, 2, "DloFileUpdateLinks"},    {8, 7, "LinkLabelByAdrs"},
        {9, 7, "LinkLabelByUseNames"},     {10, 7, "LinkLabelByMangledNames"}, {11, 7, "LinkLabelByLinkNames"},
        {16, 7, "LinkLabelByStaticIDbgSyms"}, {19, 7, "LinkLabelUpdateLinks"}, {21, 7, "LinkLabelByAdrAgainsts"},
        {22, 7, "LinkLabelByRegs"},        {23, 7, "LinkLabelByRegPlusOffsets"}, {13, 12, "TypeByMangledNames"},
        {28, 12, "TypeByUseNames"},        {33, 12, "CppTypesByRevUseName"}, {29, 1, "SectionByAdr"},
        {25, 24, "LinkageStubByLinkNames"}, {26, 24, "LinkageStubByAdrs"}};
    const std::map<int, std::string> mains = {{1, "Section max 2"}, {2, "DloFiles max 2"}, {3, "SourceFiles max 0"},
                                              {7, "LinkLabel max 0"}, {12, "Types max 0"}, {24, "LinkageStubs max 0"}};
    for (const auto &[sub, main, name] : relations) {
        const int32_t max = main <= 2 ? 3 : 1;
        cases.push_back({opaque(sub, max), H + name + " max " + std::to_string(max) + " > " + mains.at(main), 2});
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        DnmDesc d = dnm_sample({43});
        if (c.change) c.change(d);
        d.tweak = c.tweak;
        Bytes bytes = dbgw::write_dnm(d);
        EXPECT_EQ(dnm_of(bytes), nullptr);
        EXPECT_EQ(log.all(), (Lines{c.message, corruption(dnm_path), failed_at(c.pos)}));
        log.clear();
        FlagScope nocheck(STFLAG_NoSanityCheck, 1);
        Dnm dnm = dnm_of(bytes);
        EXPECT_FALSE(log.contains("Sanity")) << log.joined();
        EXPECT_TRUE(dnm || c.pos == 2);
        log.clear();
    }
    // Accepted: languages 16, 30, 31, 255; a time stamp within 100 days.
    for (uint8_t lang : {16, 30, 31, 255}) {
        DnmDesc d = dnm_sample({43});
        d.dlos[0].language = lang, d.dlos[0].timeStamp = int32_t(now + 8000000);
        EXPECT_NE(dnm_of(dbgw::write_dnm(d)), nullptr) << int(lang);
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();

    // A negative offset (4-byte offsets before version 40 are signed).
    Bytes bytes = dbgw::write_dnm(dnm_sample({39, false}));
    dbgw::patch32(bytes, size_t(dnm_of(bytes)->dirPos) + 4, 0xFFFFFFF0);
    EXPECT_EQ(dnm_of(bytes), nullptr);
    EXPECT_EQ(log.all().front(), H + "offset 0xfffffffffffffff0 for table with index 1");
    log.clear();
    {
        FlagScope nocheck(STFLAG_NoSanityCheck, 1);
        expect_refused(bytes, "(2 entries at offset 0xfffffffffffffff0) does not fit in the file", 5);
    }
}

// Each check refuses the object with its own message, the corruption
// notice and where it failed; with the checks off a bad procedure reads.
// Procedure 1 of an object with the tables above is changed. Empty
// message: accepted.
TEST_F(StRead, DebugObjectSanityChecks) {
    const std::string H = E + "[STDbg_CheckHeadSanity] Invalid ", P = E + "[STDbg_CheckProcSanity] Invalid ";
    using Change = std::function<void(STDbg *)>;
    auto on_proc = [](const std::function<void(STDbg_Proc &)> &f) -> Change { return [=](STDbg *w) { f(proc(w, 1)); }; };
    const struct {
        Change change;
        std::string message;
    } cases[] = {
        {[](STDbg *w) { w->fIsDlOFile = 2; }, H + "fIsDlOFile flag (2)"},
        {[](STDbg *w) { w->producerType = 33; }, H + "producerType (33)"},
        {[](STDbg *w) { w->producer = 0x10000; }, H + "producerType (65536)"},
        {[](STDbg *w) { w->language = 17; }, H + "language (17)"},
        {[](STDbg *w) { w->compilationHostType = 7; }, H + "compilationHostType (7)"},
        {[](STDbg *w) { w->lcAbiStyle = 17; }, H + "lcAbiStyle (17)"},
        {[](STDbg *w) { w->lcMangleVersion = 17; }, H + "lcMangleVersion (17)"},
        {[](STDbg *w) { w->fCodeCoverageAnalysis = 3; }, H + "fCodeCoverageAnalysis (3)"},
        {[](STDbg *w) { w->iSymGlobal = 6; }, H + "iSymGlobal (6)"},
        {[](STDbg *w) { w->iSymGlobal = -2; }, H + "iSymGlobal (-2)"},
        {[](STDbg *w) { w->dnmStringBase = -1; }, H + "dnmStringBase (-1)"},
        {[](STDbg *w) { w->numDnmStrings = -5; }, H + "numDnmStrings (-5)"},
        {[](STDbg *w) { w->numTables = 62; }, H + "numTables (62)"},
        {[](STDbg *w) { STDbg_SetOpaqueTable(w, 7, -3, 0, nullptr, 0); }, H + "max -3 for table with index 7"},
        {[](STDbg *w) { STDbg_SetOpaqueTable(w, 9, 1, 21, nullptr, 0); }, H + "max 1 for table with index 9"},
        {[](STDbg *w) {
             w->producerType = 32, w->language = 255, w->compilationHostType = 6, w->lcMangleVersion = 16;
             w->fCodeCoverageAnalysis = 2, w->numTables = 61, w->iSymGlobal = 5;
             STDbg_SetOpaqueTable(w, 9, 1, 20, nullptr, 0);
         }, ""},
        {on_proc([](STDbg_Proc &p) { p.useName = 0x7777; }), P + "useName (0x7777)"},
        {on_proc([](STDbg_Proc &p) { p.mangledName = 0x6FFF; }), P + "mangledName (0x6fff)"},
        {on_proc([](STDbg_Proc &p) { p.useName = 0x7000, p.mangledName = 0x70FF; }), ""},
        {on_proc([](STDbg_Proc &p) { p.useName = 0x7100; }), P + "useName (0x7100)"},
        {on_proc([](STDbg_Proc &p) { p.begin = dbgw::adr(0x2000), p.end = dbgw::adr(0x1000); }),
         P + "begin (0x00002000) > end (0x00001000)"},
        {on_proc([](STDbg_Proc &p) { p.begin = dbgw::adr(0x2000), p.end = dbgw::adr(UINT64_MAX); }), ""},
        {on_proc([](STDbg_Proc &p) { p.preData = -1; }), P + "preData (-1)"},
        {on_proc([](STDbg_Proc &p) { p.postData = 0x80000000; }), P + "postData (-2147483648)"},
        {on_proc([](STDbg_Proc &p) { p.iSym = 2, p.iSymMax = 5; }), ""},
        {on_proc([](STDbg_Proc &p) { p.iSym = 5; }), P + "iSym (5)"},
        {on_proc([](STDbg_Proc &p) { p.iSym = 3, p.iSymMax = 2; }), P + "iSym (3)"},
        {on_proc([](STDbg_Proc &p) { p.iSymMax = 6; }), P + "iSymMax (6)"},
        {on_proc([](STDbg_Proc &p) { p.iLineStab = 3; }), P + "iLineStab (3)"},
        {on_proc([](STDbg_Proc &p) { p.iLineStabFirstByILine = -2; }), P + "iLineStabFirstByILine (-2)"},
        {on_proc([](STDbg_Proc &p) { p.iLineStabMax = 4; }), P + "iLineStabMax (4)"},
        {on_proc([](STDbg_Proc &p) { p.iLineStab = 2, p.iLineStabMax = 3; }), ""},
        {on_proc([](STDbg_Proc &p) { p.iLine = 3, p.iLineMax = 2; }), P + "iLine (3)"},
        {on_proc([](STDbg_Proc &p) { p.iLine = 2, p.iLineFirstLbrac = 1, p.iLineMax = 5; }), P + "iLineFirstLbrac (1)"},
        {on_proc([](STDbg_Proc &p) { p.iLine = 2, p.iLineFirstLbrac = 6, p.iLineMax = 5; }), P + "iLineFirstLbrac (6)"},
        {on_proc([](STDbg_Proc &p) { p.iLineMax = -2; }), P + "iLineMax (-2)"},
        {on_proc([](STDbg_Proc &p) { p.iFile = 1; }), P + "iFile (1)"},
        {on_proc([](STDbg_Proc &p) { p.iFile = 0, p.iFrameInfo = 1; }), ""},
        {on_proc([](STDbg_Proc &p) { p.iFrameInfo = 2; }), P + "iFrameInfo (2)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        DbgDesc d = dbg_sample({41}, GF_KIND_DBO);
        d.tweak = [&](STDbg *w) { tables(w), c.change(w); };
        Bytes bytes = dbgw::write_dbg(d);
        EXPECT_EQ(dbg_of(bytes) == nullptr, !c.message.empty());
        if (c.message.empty()) {
            EXPECT_TRUE(log.all().empty()) << log.joined();
            continue;
        }
        ASSERT_EQ(log.all().size(), 3u) << log.joined();
        EXPECT_EQ(log.all()[0] + log.all()[1], c.message + corruption(dbg_path));
        EXPECT_EQ(log.all()[2].rfind(E + "failed while reading \"" + dbg_path + "\" at 0x", 0), 0u);
        FlagScope nocheck(STFLAG_NoSanityCheck, c.message.rfind(P, 0) == 0);
        EXPECT_TRUE(dbg_of(bytes) || c.message.rfind(H, 0) == 0);
    }
    log.clear();

    // The whole-object check, after the stream is gone.
    DbgDesc d = dbg_sample({41});
    d.tweak = [](STDbg *w) {
        STDbg_SetOpaqueTable(w, STDBG_SYMS, 1, 0, nullptr, 0);
        STDbg_SetOpaqueTable(w, STDBG_SYM_COPY_FORWARD, 2, 0, nullptr, 0);
    };
    EXPECT_EQ(dbg_of(dbgw::write_dbg(d)), nullptr);
    EXPECT_EQ(log.all(), (Lines{E + "[STDbg_CheckSanity] Invalid STDbg_SymCopyForwardUpdateLinks (2) > STDbg_Syms (1)",
                                corruption(dbg_path), E + "failed while reading \"" + dbg_path + "\""}));
    log.clear();

    // A negative 4-byte offset (before version 36).
    Bytes bytes = dbgw::write_dbg(dbg_sample({35, false}));
    dbgw::patch32(bytes, size_t(dbg_of(bytes)->dirPos) + 8, 0x80000000);
    EXPECT_EQ(dbg_of(bytes), nullptr);
    EXPECT_EQ(log.all().front(), H + "offset 0xffffffff80000000 for table with index 2");
}

// Cut at every length, a file is refused; once its reader has begun, it
// reports why and where.
TEST_F(StRead, TruncationAtEveryLength) {
    const std::vector<std::pair<Bytes, size_t>> files = {
        {dbgw::write_dnm(dnm_sample({43, true, 2, 3})), 20},        {dbgw::write_dnm(dnm_sample({39, false, 2, 1})), 20},
        {dbgw::write_dnm(dnm_sample({16, false, 0, 2})), 20},       {dbgw::write_dbg(dbg_sample({41, true, 2, 3}, GF_KIND_DBO)), 41},
        {dbgw::write_dbg(dbg_sample({12, false, 2, 0}, GF_KIND_DBO)), 41}};
    for (const auto &[full, begun] : files) {
        const bool dnm = full[11] == GF_KIND_DNM;
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(testing::Message() << (dnm ? "name file" : "object") << " length " << n << " of " << full.size());
            log.clear();
            const Bytes cut(full.begin(), full.begin() + long(n));
            EXPECT_TRUE(dnm ? !dnm_of(cut) : !dbg_of(cut));
            if (!dnm && n < begun) continue;  // opening an object is quiet
            ASSERT_GE(log.all().size(), n < begun ? 1u : 2u) << log.joined();
            EXPECT_EQ(log.all().back().rfind(E + "failed while reading \"" + (dnm ? dnm_path : dbg_path) + "\"", 0), 0u);
        }
    }
}

TEST_F(StRead, CorruptTables) {
    // A damaged end marker fails the step of its table.
    Bytes good = dbgw::write_dnm(dnm_sample({43}));
    const Bytes marker = hex("5B454E4454424C5D");
    int step = 6;
    for (auto at = good.begin(); (at = std::search(at, good.end(), marker.begin(), marker.end())) != good.end(); ++at) {
        Bytes bad = good;
        bad[size_t(at - good.begin()) + 7] = '}';
        expect_refused(bad, "has no end marker at offset 0x", step++);
    }
    EXPECT_EQ(step, 9);
    // Packed strings (version 37 on, encodingType 0) that unpack to one
    // byte less or more than the table's size.
    Bytes packed = dbgw::write_dnm(dnm_sample({39, false}));
    Dnm dnm = dnm_of(packed);
    const size_t maxPos = size_t(dnm->dirPos) + 4 * dnm->numTables;
    const uint32_t size = uint32_t(dnm->tables[STDNM_STRINGS].count);
    Bytes bad = packed;
    dbgw::patch32(bad, maxPos, size + 1);
    expect_refused(bad, "unpacks to " + std::to_string(size) + " bytes instead of " + std::to_string(size + 1), 6);
    dbgw::patch32(bad, maxPos, size - 1);
    expect_refused(bad, "unpacks to more than its " + std::to_string(size - 1) + " bytes", 6);
    // A count far past the end of the file is refused before allocation.
    bad = packed;
    dbgw::patch32(bad, maxPos + 10, 0x10000000);
    dbgw::patch32(bad, maxPos + 20, 0x10000000);
    EXPECT_EQ(dnm_of(bad), nullptr);
    EXPECT_TRUE(log.contains("table \"Sections\" of")) << log.joined();
    expect_refused(bad, "Error while allocating tables for \"" + dnm_path + "\"", 5);
    // Records that do not decode: a LEB128 name reference too long, a
    // string table without its final zero byte.
    DnmDesc d = dnm_sample({43});
    d.tweak = [](STDnm *w) {
        const uint8_t rec[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
        STDnm_SetOpaqueTable(w, STDNM_SECTIONS, 1, 0, rec, sizeof rec);
        STDnm_SetIndexTable(w, STDNM_SECTIONS_BY_ADR, nullptr, 0);
    };
    expect_refused(dbgw::write_dnm(d), "does not fit in 32 bits", 7);
    d.tweak = [](STDnm *w) {
        const uint8_t text[] = {0, 'a', 'b'};
        STDnm_SetOpaqueTable(w, STDNM_STRINGS, 3, 0, text, 3);
        for (int t : {STDNM_SECTIONS, STDNM_DLO_FILES}) STDnm_SetOpaqueTable(w, t, 0, 0, nullptr, 0);
        for (int t : {STDNM_SECTIONS_BY_ADR, STDNM_DLO_FILES_BY_OFFSET}) STDnm_SetIndexTable(w, t, nullptr, 0);
        w->encodingType = 1;  // stored unpacked
    };
    expect_refused(dbgw::write_dnm(d), "does not end with a zero byte", 6);
    // A wrong kind of file; no container at all.
    expect_refused(dbgw::write_dbg({}), "\"" + dnm_path + "\" is not a name file (file kind 1)", 1);
    expect_refused(Bytes{'n', 'o', 't'}, "", 1);

    // In a debug object: a count past the end of the file, a damaged end
    // marker; a table whose least size reaches the last byte fits, its
    // records are what cannot be read then.
    Bytes bytes = dbgw::write_dbg(dbg_sample({35, false}));
    bad = bytes;
    Dbg dbg = dbg_of(bytes);
    dbgw::patch32(bad, size_t(dbg->dirPos) + 4 * dbg->numTables + 10 * STDBG_PROCS, 0x7FFFFFFF);
    EXPECT_EQ(dbg_of(bad), nullptr);
    EXPECT_TRUE(log.contains("table \"Procs\" of") && log.has(E + "Error while allocating tables for \"" + dbg_path + "\""))
        << log.joined();
    log.clear();
    bytes.back() = 'x';
    EXPECT_EQ(dbg_of(bytes), nullptr);
    EXPECT_TRUE(log.contains("has no end marker")) << log.joined();
    EXPECT_EQ(log.all().back().rfind(E + "failed while reading \"" + dbg_path + "\" at 0x", 0), 0u);
    Bytes whole = dbgw::write_dbg(dbg_sample({41}));
    const STTableDir dir = dbg_of(whole)->tables[STDBG_PROCS].dir;
    whole.resize(size_t(dir.offset + dir.max));
    log.clear();
    EXPECT_EQ(dbg_of(whole), nullptr);
    EXPECT_FALSE(log.contains("does not fit")) << log.joined();
}

TEST_F(StRead, StreamsConfigurationsAndMapping) {
    // A name file inside a larger file, read through an open stream, with
    // paths derived from the program's path; configuration 4 reads the Dlo
    // File tables without the sections.
    Bytes bytes = dbgw::write_dnm(dnm_sample({43, true, 2, 2}));
    bytes.insert(bytes.begin(), 13, 'z');
    FILE *fp = std::fopen(dbgw::temp_file(bytes, "archive.bin").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 13, SEEK_SET);
    STDnm own{};
    ASSERT_EQ(STDnm_Read(&own, fp, "dir.v/prog.x.elf", 4), &own);
    EXPECT_EQ(std::string(own.dnmPath) + " " + own.dlaPath, "dir.v/prog.x.dnm dir.v/prog.x.dla");
    EXPECT_EQ((V{own.tables[STDNM_SECTIONS].data != nullptr, STDnm_TableMax(&own, STDNM_SECTIONS), own.tables[STDNM_DLO_FILES].count,
                 STDnm_TableCount(&own, STDNM_DLO_FILES_BY_OFFSET)}), (V{0, 2, 2, 2}));
    // Reading the same object again from a damaged stream releases its
    // tables but keeps the object.
    std::fseek(fp, 14, SEEK_SET);
    EXPECT_EQ(STDnm_Read(&own, fp, "dir.v/prog", 0), nullptr);
    EXPECT_EQ(own.tables[STDNM_DLO_FILES].data, nullptr);
    EXPECT_EQ(log.all().back(), E + "failed while reading \"dir.v/prog.dnm\" (pos 1, errno 0)");
    STDnm_Release(&own);
    std::fclose(fp);
    log.clear();

    // A debug object read in two steps from a stream without a name;
    // configuration 3 leaves the procedures out. Into a record of the
    // caller's. A stream at the wrong position: not quiet, then quiet.
    bytes = dbgw::write_dbg(dbg_sample({41, true, 2, 2}, GF_KIND_DBO));
    bytes.insert(bytes.begin(), 9, 'a');
    fp = std::fopen(dbgw::temp_file(bytes, "archive.dla").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 9, SEEK_SET);
    Dbg dbg(STDbg_Open(nullptr, fp, nullptr, 3, 0, 0));
    ASSERT_NE(dbg, nullptr);
    EXPECT_STREQ(dbg->name, "UNKNOWN");
    ASSERT_EQ(STDbg_Read(dbg.get()), dbg.get());
    EXPECT_TRUE(procs(dbg) == nullptr && dbg->tables[STDBG_STRINGS].count > 0);
    std::fseek(fp, 9, SEEK_SET);
    STDbg ownDbg{};
    ASSERT_EQ(STDbg_Load(&ownDbg, fp, "member.dbo", 4), &ownDbg);
    EXPECT_EQ(ownDbg.tables[STDBG_PROCS].count, 3);
    STDbg_Free(&ownDbg);
    for (int quiet : {0, 1}) {
        std::fseek(fp, 3, SEEK_SET);
        EXPECT_EQ(quiet ? STDbg_Load(nullptr, fp, "member.dbo", 0) : STDbg_Open(nullptr, fp, "member.dbo", 0, 0, 0), nullptr);
    }
    EXPECT_EQ(log.all(), (Lines{E + "failed to read \"member.dbo\""}));
    std::fclose(fp);
    log.clear();

    // Read through the in-memory image: an unpacked string table is served
    // from it, a packed one is unpacked as usual.
    for (int32_t v : {36, 43}) {
        FlagScope map(STFLAG_useFileMemoryMappingForDnm, 1);
        Dnm dnm = dnm_of(dbgw::write_dnm(dnm_sample({v})));
        ASSERT_NE(dnm, nullptr) << log.joined();
        EXPECT_EQ(dnm->tables[STDNM_STRINGS].dir.mapped, v == 36 ? 1 : 0);
        int32_t n;
        EXPECT_STREQ(STDnm_String(dnm.get(), STDnm_DloFiles(dnm.get(), &n)[1].name), "util.dbo");
    }
    for (uint32_t kind : {uint32_t(GF_KIND_DBG), uint32_t(GF_KIND_DBO)}) {
        FlagScope map(kind == GF_KIND_DBO ? STFLAG_useFileMemoryMappingForDlo : STFLAG_useFileMemoryMappingForDbo, 1);
        for (int32_t v : {36, 41}) {
            dbg = dbg_of(dbgw::write_dbg(dbg_sample({v}, kind)));
            ASSERT_NE(dbg, nullptr) << log.joined();
            EXPECT_EQ(dbg->tables[STDBG_STRINGS].dir.mapped, v == 36 ? 1 : 0);
            EXPECT_STREQ(ST_ProcUseName(&procs(dbg)[2]), "g");
        }
    }
    // The mode stays when the flag is off.
    FlagScope keep(STFLAG_setGAdrModeOnBuildReadWrite, 0);
    gadr_set_mode(GADR_MODE_16BIT);
    EXPECT_NE(dnm_of(dbgw::write_dnm(dnm_sample({43, true, 2, 2}))), nullptr);
    EXPECT_EQ(gadr_get_mode(), GADR_MODE_16BIT);
    EXPECT_TRUE(log.all().empty()) << log.joined();

    // Names at the end of the object's strings and past the name file's.
    DbgDesc d = dbg_sample({41}, GF_KIND_DBO);
    d.tweak = [](STDbg *w) {
        w->dnmStringBase = 0x1000, w->numDnmStrings = 0x40;
        proc(w, 2).useName = uint32_t(w->tables[STDBG_STRINGS].count);
    };
    dbg = dbg_of(dbgw::write_dbg(d));
    ASSERT_NE(dbg, nullptr) << log.joined();
    EXPECT_EQ(std::string(ST_ProcUseName(&procs(dbg)[2])) + STDbg_String(dbg.get(), 0x103F), "<DBG_BAD_ISS_DNM_NOT_LOADED>");
    EXPECT_TRUE(log.all().empty()) << log.joined();
    EXPECT_STREQ(STDbg_String(dbg.get(), 0x1040), "<BAD_ISS>");
    EXPECT_EQ(log.all().size(), 1u);
}

}  // namespace
