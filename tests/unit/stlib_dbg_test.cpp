// Debug objects: hand-assembled bytes, version rules, sanity checks, name
// lookups, truncation, streams, configurations and mapping.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <memory>
#include <tuple>

#include "indgeninit.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
using dbgw::DbgDesc;
using StDbg = StTest;

std::string input_path() { return dbgw::temp_file({}, "input.dbg"); }

DbgDesc sample(const dbgw::Encoding &enc, uint32_t kind = GF_KIND_DBG) {
    DbgDesc d;
    d.enc = enc, d.kind = kind;
    uint64_t b = enc.mode == GADR_MODE_64BIT ? 0x700000000ull : enc.mode == GADR_MODE_16BIT_16SEG ? 0x30000 : 0;
    d.procs = {{"main", b + 0x1000, b + 0x1040, "_main"}, {"f", b + 0x1040, b + 0x1040, ""}, {"g", b + 0x1100, UINT64_MAX, ""}};
    return d;
}
struct FreeDbg {
    void operator()(STDbg *d) const { STDbg_Free(d); }
};
using Dbg = std::unique_ptr<STDbg, FreeDbg>;
Dbg read(const Bytes &b) { return Dbg(dbgw::read_dbg(b)); }
Dbg round_trip(const DbgDesc &d) { return read(dbgw::write_dbg(d)); }
const STDbg_Proc *procs(const Dbg &dbg, int32_t &n) { return STDbg_Procs(dbg.get(), &n); }

std::string failed_prefix() { return E + "failed while reading \"" + input_path() + "\""; }
std::string corruption() { return E + "Corruption in symbol file is detected:\n" + input_path(); }
bool starts(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }

// Every value of a procedure, in declaration order (the names aside).
V values(const STDbg_Proc &p) {
    return {int64_t(gadr_to_u64(p.begin)), int64_t(gadr_to_u64(p.end)), p.preData, p.postData, p.iSym, p.iSymMax,
            p.iLineStab, p.iLineStabFirstByILine, p.iLineStabMax, p.iLine, p.iLineFirstLbrac, p.iLineMax, p.iFile,
            p.iFrameInfo, p.small, p.flags};
}

// The oldest version fixed-width, and the newest in LEB128 with 64-bit
// addresses and packed strings: the reader and the writer against the same
// bytes, for an object with one procedure "main".
TEST_F(StDbg, HandAssembledOldestAndNewest) {
    const Bytes v5 = hex(
        "7F4C4B53 00000001 00000001 00000000 04000000"  // container header
        "00000005 00000002 6D00 04 01 00"               // version, magic, address mode, fIsDlOFile, a byte
        "FFFFFFFF 00000000 00000000 03"                 // iSymGlobal, dnmStringBase, numDnmStrings, numTables
        "00000058 00000000 00000066"                    // table offsets
        "00000006 00000000 0000 00000000 00000000 0000 00000001 00000000 0000"  // max, aux of each
        "00 6D61696E00 5B454E4454424C5D"                // strings, end marker
        "00000001 00000001 00001000 00001040 00000000"  // proc: names, begin, end, preData
        "FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFF"  // iSym .. iFrameInfo
        "5B454E4454424C5D");
    const Bytes v41 = hex(
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
    // Indices not stored read as -1.
    STDbg_Proc p5{}, p41{};
    for (STDbg_Proc *p : {&p5, &p41})
        p->iSym = p->iSymMax = p->iLineStab = p->iLineStabMax = p->iLine = p->iLineFirstLbrac = p->iLineMax =
            p->iFile = p->iFrameInfo = p->iLineStabFirstByILine = -1;
    p5.begin = dbgw::adr(0x1000), p5.end = dbgw::adr(0x1040);
    p41.begin = dbgw::adr(0x100001000ull), p41.end = dbgw::adr(0x100001040ull);
    p41.preData = -3, p41.postData = 5, p41.iLineStab = 2, p41.iLineStabMax = 7, p41.iFile = 0;
    p41.small = 9, p41.flags = 0x10001;

    FlagScope nocheck(STFLAG_NoSanityCheck, 1);  // the indices of p41 point at tables left out here
    const struct {
        const Bytes &bytes;
        const STDbg_Proc &proc;
        int32_t version;
        uint32_t mode;
        GFileOptions opt;
    } cases[] = {{v5, p5, 5, GADR_MODE_32BIT, {0, 0, 0}}, {v41, p41, 41, GADR_MODE_64BIT, {1, 2, 0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        gadr_set_mode(GADR_MODE_16BIT);
        Dbg dbg = read(c.bytes);
        ASSERT_NE(dbg, nullptr) << log.joined();
        // Before version 15 fAdrLocated is the same as fIsDlOFile.
        EXPECT_EQ((V{gadr_get_mode(), dbg->version, dbg->fIsDlOFile, dbg->fAdrLocated}),
                  (V{c.mode, c.version, c.version == 5, 1}));
        EXPECT_STREQ(dbg->magic, "m");
        int32_t n = 0;
        const STDbg_Proc *p = procs(dbg, n);
        ASSERT_EQ(n, 1);
        EXPECT_STREQ(ST_ProcUseName(p), "main");
        EXPECT_EQ(values(*p), values(c.proc));

        STDbg *w = STDbg_Create(GF_KIND_DBG);
        w->version = c.version, w->adrMode = c.mode, w->fIsDlOFile = c.version == 5;
        w->magic = gen_strdup("m"), w->numTables = 3;
        STDbg_AddString(w, "");
        STDbg_Proc wp = c.proc;
        wp.useName = wp.mangledName = STDbg_AddString(w, "main");
        STDbg_AddProc(w, &wp);
        uint8_t *image = nullptr;
        int64_t size = 0;
        ASSERT_EQ(STDbg_Write(w, nullptr, nullptr, c.opt, &image, &size), 0);
        EXPECT_EQ(Bytes(image, image + size), c.bytes);
        gen_free_fn(image);
        STDbg_Free(w);
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

TEST_F(StDbg, VersionRule) {
    const std::string path = input_path(), p = "\"" + path + "\" has version ";
    EXPECT_EQ(round_trip(sample({4})), nullptr);
    EXPECT_NE(round_trip(sample({42})), nullptr);
    EXPECT_EQ(round_trip(sample({43})), nullptr);
    EXPECT_EQ(log.all(), (Lines{E + p + "4, which is no longer supported", W + p + "42, which is the development version",
                                E + p + "43, this utility only supports up to version 41"}));
    log.clear();
    // Not quiet, under the program's name: the failure is reported too.
    gen_setprogname("funsize");
    dbgw::temp_file(dbgw::write_dbg(sample({43})), "input.dbg");
    EXPECT_EQ(STDbg_Open(nullptr, nullptr, path.c_str(), 0, 0, 0), nullptr);
    gen_setprogname(nullptr);
    dbgw::temp_file(dbgw::write_dnm({}), "input.dbg");
    EXPECT_EQ(STDbg_Open(nullptr, nullptr, path.c_str(), 0, 0, 0), nullptr);
    const std::string failed = E + "failed to read \"" + path + "\"";
    EXPECT_EQ(log.all(), (Lines{E + p + "43, funsize only supports up to version 41", failed,
                                E + "\"" + path + "\" is not a debug object (file kind 3)", failed}));
    // A missing magic string is a warning only.
    log.clear();
    DbgDesc d = sample({41});
    d.magic = "";
    EXPECT_EQ(round_trip(d)->magic, nullptr);
    EXPECT_EQ(log.all(), (Lines{W + "\"" + path + "\" has a NULL magic string"}));
}

// Each check refuses the object with its own message, the corruption
// notice and where it failed; with the checks off a bad procedure reads.
// The object: 5 symbols, 3 lines, 1 file, no frames, 0x100 name-file strings
// from 0x7000; procedure 1 is changed. Empty message: accepted.
TEST_F(StDbg, SanityChecks) {
    const std::string H = E + "[STDbg_CheckHeadSanity] Invalid ", P = E + "[STDbg_CheckProcSanity] Invalid ";
    using Change = std::function<void(STDbg *)>;
    auto proc = [](const std::function<void(STDbg_Proc &)> &f) -> Change {
        return [=](STDbg *w) { f(static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data)[1]); };
    };
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
         }, ""},
        {proc([](STDbg_Proc &p) { p.useName = 0x7777; }), P + "useName (0x7777)"},
        {proc([](STDbg_Proc &p) { p.mangledName = 0x6FFF; }), P + "mangledName (0x6fff)"},
        {proc([](STDbg_Proc &p) { p.useName = 0x7000; }), ""},
        {proc([](STDbg_Proc &p) { p.useName = 0x70FF; }), ""},
        {proc([](STDbg_Proc &p) { p.useName = 0x7100; }), P + "useName (0x7100)"},
        {proc([](STDbg_Proc &p) { p.begin = dbgw::adr(0x2000), p.end = dbgw::adr(0x1000); }),
         P + "begin (0x00002000) > end (0x00001000)"},
        {proc([](STDbg_Proc &p) { p.begin = dbgw::adr(0x2000), p.end = dbgw::adr(UINT64_MAX); }), ""},
        {proc([](STDbg_Proc &p) { p.preData = -1; }), P + "preData (-1)"},
        {proc([](STDbg_Proc &p) { p.postData = 0x80000000; }), P + "postData (-2147483648)"},
        {proc([](STDbg_Proc &p) { p.iSym = 2, p.iSymMax = 5; }), ""},
        {proc([](STDbg_Proc &p) { p.iSym = 5; }), P + "iSym (5)"},
        {proc([](STDbg_Proc &p) { p.iSym = 3, p.iSymMax = 2; }), P + "iSym (3)"},
        {proc([](STDbg_Proc &p) { p.iSymMax = 6; }), P + "iSymMax (6)"},
        {proc([](STDbg_Proc &p) { p.iLineStab = 3; }), P + "iLineStab (3)"},
        {proc([](STDbg_Proc &p) { p.iLineStabFirstByILine = -2; }), P + "iLineStabFirstByILine (-2)"},
        {proc([](STDbg_Proc &p) { p.iLineStabMax = 4; }), P + "iLineStabMax (4)"},
        {proc([](STDbg_Proc &p) { p.iLineStab = 2, p.iLineStabMax = 3; }), ""},
        {proc([](STDbg_Proc &p) { p.iLine = 3, p.iLineMax = 2; }), P + "iLine (3)"},
        {proc([](STDbg_Proc &p) { p.iLine = 2, p.iLineFirstLbrac = 1, p.iLineMax = 5; }), P + "iLineFirstLbrac (1)"},
        {proc([](STDbg_Proc &p) { p.iLine = 2, p.iLineFirstLbrac = 6, p.iLineMax = 5; }), P + "iLineFirstLbrac (6)"},
        {proc([](STDbg_Proc &p) { p.iLineMax = -2; }), P + "iLineMax (-2)"},
        {proc([](STDbg_Proc &p) { p.iFile = 1; }), P + "iFile (1)"},
        {proc([](STDbg_Proc &p) { p.iFile = 0; }), ""},
        {proc([](STDbg_Proc &p) { p.iFrameInfo = 0; }), P + "iFrameInfo (0)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        DbgDesc d = sample({41}, GF_KIND_DBO);
        d.tweak = [&](STDbg *w) {
            w->dnmStringBase = 0x7000, w->numDnmStrings = 0x100;
            STDbg_SetOpaqueTable(w, STDBG_SYMS, 5, 0, nullptr, 0);
            STDbg_SetOpaqueTable(w, STDBG_LINES, 3, 0, nullptr, 0);
            STDbg_SetOpaqueTable(w, STDBG_FILES, 1, 0, nullptr, 0);
            c.change(w);
        };
        Bytes bytes = dbgw::write_dbg(d);
        Dbg dbg = read(bytes);
        if (c.message.empty()) {
            EXPECT_NE(dbg, nullptr);
            EXPECT_TRUE(log.all().empty()) << log.joined();
                continue;
        }
        EXPECT_EQ(dbg, nullptr);
        ASSERT_EQ(log.all().size(), 3u) << log.joined();
        EXPECT_EQ(log.all()[0], c.message);
        EXPECT_EQ(log.all()[1], corruption());
        EXPECT_TRUE(starts(log.all()[2], failed_prefix() + " at 0x"));
        log.clear();
        if (starts(c.message, P)) {
            FlagScope nocheck(STFLAG_NoSanityCheck, 1);
            dbg = read(bytes);
            EXPECT_NE(dbg, nullptr);
            }
    }

    // The whole-object check, after the stream is gone.
    DbgDesc d = sample({41});
    d.tweak = [](STDbg *w) {
        STDbg_SetOpaqueTable(w, STDBG_SYMS, 1, 0, nullptr, 0);
        STDbg_SetOpaqueTable(w, STDBG_SYM_COPY_FORWARD, 2, 0, nullptr, 0);
    };
    EXPECT_EQ(round_trip(d), nullptr);
    EXPECT_EQ(log.all(), (Lines{E + "[STDbg_CheckSanity] Invalid STDbg_SymCopyForwardUpdateLinks (2) > STDbg_Syms (1)",
                                corruption(), failed_prefix()}));
    log.clear();

    // A negative 4-byte offset (before version 36).
    Bytes bytes = dbgw::write_dbg(sample({35, false}));
    Dbg dbg = read(bytes);
    ASSERT_NE(dbg, nullptr);
    dbgw::patch32(bytes, size_t(dbg->dirPos) + 8, 0x80000000);
    EXPECT_EQ(read(bytes), nullptr);
    EXPECT_EQ(log.all().front(), H + "offset 0xffffffff80000000 for table with index 2");
    log.clear();

    // Checks no file can fail, called directly.
    STDbg *w = STDbg_Create(GF_KIND_DBG);
    for (auto [version, mode, bad] : {std::tuple{93, 0u, 1}, {4, 0u, 1}, {92, 11u, 1}, {92, 10u, 0}}) {
        w->version = version, w->adrMode = mode;
        EXPECT_EQ(STDbg_CheckHeadSanity(w), bad) << version << " " << mode;
    }
    EXPECT_EQ(log.all(), (Lines{H + "dbg version (93)", H + "dbg version (4)", H + "address mode (11)"}));
    STDbg_Free(w);
}

TEST_F(StDbg, NamesFromTheNameFile) {
    DbgDesc d = sample({41}, GF_KIND_DBO);
    d.tweak = [](STDbg *w) {
        w->dnmStringBase = 0x1000, w->numDnmStrings = 0x40;
        auto *p = static_cast<STDbg_Proc *>(w->tables[STDBG_PROCS].data);
        p[1].useName = 0x1000 + 1;
        p[2].useName = uint32_t(w->tables[STDBG_STRINGS].count);
    };
    Dbg dbg = round_trip(d);
    ASSERT_NE(dbg, nullptr) << log.joined();
    int32_t n;
    const STDbg_Proc *p = procs(dbg, n);
    EXPECT_STREQ(ST_ProcUseName(&p[1]), "<DBG_BAD_ISS_DNM_NOT_LOADED>");
    EXPECT_STREQ(ST_ProcUseName(&p[2]), "");

    dbgw::DnmDesc nd;
    nd.sections = {{".text", 0, 0x100, 1}};
    STDnm *dnm = dbgw::read_dnm(dbgw::write_dnm(nd));
    ASSERT_NE(dnm, nullptr);
    dbg->dnm = dnm;
    EXPECT_STREQ(ST_ProcUseName(&p[1]), ".text");
    EXPECT_STREQ(ST_ProcUseName(&p[0]), "main");
    EXPECT_STREQ(ST_ProcUseName(nullptr), "");
    EXPECT_TRUE(log.all().empty()) << log.joined();
    EXPECT_STREQ(STDbg_String(dbg.get(), 0x1041), "<BAD_ISS>");
    EXPECT_STREQ(STDbg_String(dbg.get(), 0x1030), "<BAD_ISS>");  // past the name file's strings
    EXPECT_EQ(log.all().size(), 2u);
    dbg.reset();
    STDnm_Release(dnm);
}

TEST_F(StDbg, TruncationAndCorruption) {
    for (const dbgw::Encoding &enc : {dbgw::Encoding{41, true, 2, 3}, {35, false, 0, 1}, {12, true, 2, 0}}) {
        Bytes full = dbgw::write_dbg(sample(enc, GF_KIND_DBO));
        for (size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(testing::Message() << "version " << enc.version << " length " << n);
            log.clear();
            EXPECT_EQ(read(Bytes(full.begin(), full.begin() + long(n))), nullptr);
            // Opening is quiet; once the magic string is read, the read
            // reports why and where it failed.
            if (n > 40) {
                ASSERT_GE(log.all().size(), 2u);
                EXPECT_TRUE(starts(log.all().back(), failed_prefix())) << log.joined();
            }
        }
    }
    log.clear();
    // A count past the end of the file, and a damaged end marker.
    Bytes bytes = dbgw::write_dbg(sample({35, false}));
    Dbg dbg = read(bytes);
    ASSERT_NE(dbg, nullptr);
    Bytes bad = bytes;
    dbgw::patch32(bad, size_t(dbg->dirPos) + 4 * dbg->numTables + 10 * STDBG_PROCS, 0x7FFFFFFF);
    EXPECT_EQ(read(bad), nullptr);
    EXPECT_TRUE(log.contains("table \"Procs\" of")) << log.joined();
    EXPECT_TRUE(log.has(E + "Error while allocating tables for \"" + input_path() + "\"")) << log.joined();
    log.clear();
    bytes.back() = 'x';
    EXPECT_EQ(read(bytes), nullptr);
    EXPECT_TRUE(log.contains("has no end marker")) << log.joined();
    EXPECT_TRUE(starts(log.all().back(), failed_prefix() + " at 0x"));
    // A table whose least size reaches the last byte fits; its records are
    // what cannot be read then.
    Bytes whole = dbgw::write_dbg(sample({41}));
    const STTableDir dir = read(whole)->tables[STDBG_PROCS].dir;
    whole.resize(size_t(dir.offset + dir.max));
    log.clear();
    EXPECT_EQ(read(whole), nullptr);
    EXPECT_FALSE(log.contains("does not fit")) << log.joined();
}

TEST_F(StDbg, OpenFromStreamsConfigurationsAndMapping) {
    Bytes bytes = dbgw::write_dbg(sample({41, true, 2, 2}, GF_KIND_DBO));
    bytes.insert(bytes.begin(), 9, 'a');
    FILE *fp = std::fopen(dbgw::temp_file(bytes, "archive.dla").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::fseek(fp, 9, SEEK_SET);
    Dbg dbg(STDbg_Open(nullptr, fp, nullptr, 3, 0, 0));
    ASSERT_NE(dbg, nullptr);
    EXPECT_STREQ(dbg->name, "UNKNOWN");
    ASSERT_EQ(STDbg_Read(dbg.get()), dbg.get());
    int32_t n = -1;
    EXPECT_EQ(procs(dbg, n), nullptr);  // configuration 3 leaves the procedures out
    EXPECT_GT(dbg->tables[STDBG_STRINGS].count, 0);

    std::fseek(fp, 9, SEEK_SET);
    STDbg own{};
    ASSERT_EQ(STDbg_Load(&own, fp, "member.dbo", 4), &own);
    STDbg_Procs(&own, &n);
    EXPECT_EQ(n, 3);
    STDbg_Free(&own);
    // A stream at the wrong position: not quiet, then quiet.
    std::fseek(fp, 3, SEEK_SET);
    EXPECT_EQ(STDbg_Open(nullptr, fp, "member.dbo", 0, 0, 0), nullptr);
    std::fseek(fp, 3, SEEK_SET);
    EXPECT_EQ(STDbg_Load(nullptr, fp, "member.dbo", 0), nullptr);
    EXPECT_EQ(log.all(), (Lines{E + "failed to read \"member.dbo\""}));
    log.clear();
    std::fclose(fp);

    // Read through the in-memory image, for both kinds of object.
    for (uint32_t kind : {uint32_t(GF_KIND_DBG), uint32_t(GF_KIND_DBO)}) {
        FlagScope map(kind == GF_KIND_DBO ? STFLAG_useFileMemoryMappingForDlo : STFLAG_useFileMemoryMappingForDbo, 1);
        for (int32_t v : {36, 41}) {
            dbg = round_trip(sample({v}, kind));
            ASSERT_NE(dbg, nullptr) << log.joined();
            EXPECT_EQ(dbg->tables[STDBG_STRINGS].dir.mapped, v == 36 ? 1 : 0);
            EXPECT_STREQ(ST_ProcUseName(&procs(dbg, n)[2]), "g");
            }
    }
    EXPECT_TRUE(log.all().empty()) << log.joined();
}

}  // namespace
