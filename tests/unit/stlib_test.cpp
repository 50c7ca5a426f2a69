// The symbol-table library's flags, fatal exits, checked conversions, table
// growth, memory strings and load configurations.
#include <gtest/gtest.h>

#include <string>

#include "genout.h"
#include "st_test_support.h"

namespace {

using namespace st_test;
const std::string F = std::to_string(GEN_MSG_FATAL) + "|<libst>: ";

// "status|last message" of the exit that f ends in, or "returned".
template <typename Fn>
std::string exit_of(const MessageLog &log, Fn f) {
    try {
        f();
    } catch (const dbgw::Exited &e) { return std::to_string(e.status) + "|" + log.all().back(); }
    return "returned";
}

TEST(StConfig, FlagsByNameAndNumber) {
    MessageLog log;
    // Names in any case, numbers up to the last flag with trailing blanks
    // only.
    for (const char *good : {"reportdnmloads", "REPORTDNMLOADS", "51", "51 \t\r"}) EXPECT_EQ(ST_LookupDebugFlag(good), 51) << good;
    EXPECT_EQ((V{ST_LookupDebugFlag("0"), ST_LookupDebugFlag("152")}), (V{0, 152}));
    V on;  // the flags that are on until changed
    for (int n = 0; n <= 152; ++n)
        if (STConfig_GetOption(n)) on.push_back(n);
    EXPECT_EQ(on, (V{4,   18,  22,  30,  38,  39,  40,  41,  43,  45,  58,  59,  61,  63,  65,  66,  69,  70,  75,
                     76,  77,  78,  79,  85,  86,  87,  88,  89,  90,  91,  92,  94,  95,  97,  100, 101, 102, 103,
                     106, 123, 124, 126, 127, 129, 131, 132, 136, 138, 140, 141, 142, 143, 144, 145, 146}));
    EXPECT_TRUE(log.all().empty());
    Lines expected;
    for (const char *bad : {"51x", "153", "99999999999999999999", " 51", "", static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(ST_LookupDebugFlag(bad), -1);
        expected.push_back(E + "[ST_SetDebugFlagFName]: no such debug flag (\"" + (bad ? bad : "NULL") + "\")");
    }
    EXPECT_EQ((V{STConfig_GetOption(153), ST_SetDebugFlagFNumber(200, 1)}), (V{0, -1}));
    EXPECT_TRUE(STConfig_GetOptionName(-1) == nullptr && STConfig_GetOptionName(153) == nullptr);
    EXPECT_STREQ(STConfig_GetOptionName(51), "reportDnmLoads");
    expected.insert(expected.end(), {E + "[STConfig_GetOption]: bad debug flag number (153)",
                                     E + "[ST_SetDebugFlagFNumber]: bad debug flag number (200)",
                                     E + "[STConfig_GetOption]: bad debug flag number (-1)",
                                     E + "[STConfig_GetOption]: bad debug flag number (153)"});
    EXPECT_EQ(log.all(), expected);
    log.clear();

    // Setting: by name with a value, by switch (Z off, X on), by number.
    FlagScope keep(STFLAG_reportDnmLoads, 0);
    auto flag = [] { return int64_t(STConfig_GetOption(STFLAG_reportDnmLoads)); };
    EXPECT_EQ((V{ST_SetDebugFlagFName("reportdnmloads", 7), flag(), ST_SetDebugFlagFromSwitch("Z51"), flag(),
                 ST_SetDebugFlagFromSwitch("XReportDnmLoads"), flag(), ST_SetDebugFlagFNumber(STFLAG_reportDnmLoads, 0), flag()}),
              (V{0, 7, 0, 0, 0, 1, 0, 0}));
    // Refused without a message: empty text, another first letter; with one:
    // an unknown name.
    for (const char *bad : {"", "x51", "Y51"}) EXPECT_NE(ST_SetDebugFlagFromSwitch(bad), 0) << bad;
    EXPECT_TRUE(log.all().empty());
    EXPECT_NE(ST_SetDebugFlagFromSwitch("Xnonsense"), 0);
    EXPECT_EQ(ST_SetDebugFlagFName("nonsense", 1), -1);
    EXPECT_EQ(log.all().size(), 2u);
}

TEST(StConfig, CheckedConversions) {
    MessageLog log;
    // Each narrowing that loses bits warns once, in the order called.
    const struct {
        int64_t got, want;
        const char *what;
    } lossy[] = {
        {ST_Int64ToInt32(0x100000000LL), 0, "64-bit int to 32-bit int"},
        {ST_UInt64ToUInt32(0x100000001ULL), 1, "64-bit uint to 32-bit uint"},
        {ST_UInt64ToUInt8(0x1FF), 0xFF, "64-bit uint to 8-bit uint"},
        {ST_Int64ToInt16(40000), 40000 - 65536, "64-bit int to 16-bit int"},
        {ST_Int64ToLong(-0x100000000LL), 0, "64-bit int to long"},
        {int64_t(ST_UInt64ToULong(0x100000000ULL)), 0, "64-bit uint to ulong"},
        {ST_TimeToTime(time_t(0x100000000LL)), 0, "time_t to Time"},
        {ST_Int64ToIndex(0x80000000LL), INT32_MIN, "64-bit int to Index"},
        {ST_Int64ToTableSize(-0x80000001LL), INT32_MAX, "64-bit int to TableSize"},
    };
    Lines expected;
    for (const auto &c : lossy) {
        EXPECT_EQ(c.got, c.want) << c.what;
        expected.push_back(W + "Value truncated when casting " + c.what + ".");
    }
    EXPECT_EQ(log.all(), expected);
    log.clear();
    // Values at the edges fit; the warning can be switched off.
    EXPECT_EQ((V{ST_Int64ToInt16(-32768), ST_UInt64ToUInt8(255), ST_Int64ToIndex(INT32_MIN)}), (V{-32768, 255, INT32_MIN}));
    FlagScope quiet(STFLAG_warnOnIntInfoLost, 0);
    EXPECT_EQ(ST_Int64ToInt32(0x100000000LL), 0);
    EXPECT_TRUE(log.all().empty());
}

TEST(StConfig, GrowthSizes) {
    MessageLog log;
    auto grow = [](int32_t count, int32_t need, int32_t size) { return int64_t(STTable_GrowSize("op", "T", count, need, size)); };
    // count + 2^29 when doubling overflows the limit but that still fits.
    EXPECT_EQ((V{grow(1000, 1, 8), grow(20000000, 1, 104), grow(0x40000000, 1, 1)}), (V{2001, 0x7FFFFFF0 / 104, 0x60000000}));
    {
        FlagScope stress(STFLAG_stressTableDoubling, 1);
        EXPECT_EQ(grow(1000, 1, 8), 1101);
    }
    {
        FlagScope nofix(STFLAG_TableOverflowFixes, 0);
        EXPECT_EQ(grow(20000000, 1, 104), 40000001);
        EXPECT_LT(grow(0x40000000, 1, 1), 0);
    }
    EXPECT_TRUE(log.all().empty());

    // At the limit: no room for what is needed. Needing more than 2^29
    // entries near the limit.
    EXPECT_EQ(exit_of(log, [] { STTable_GrowSize("STDnm_TableDouble", "Labels", 20648881, 1, 104); }),
              "1|" + F + "[STDnm_TableDouble]: \"Labels\" table entry limit exceeded");
    EXPECT_EQ(grow(0x30000000, 0x20000001, 1), 0x7FFFFFF0);
    EXPECT_EQ(exit_of(log, [] { STTable_GrowSize("STDbg_TableDouble", "Procs", 0x70000000, 0x20000001, 1); }),
              "1|" + F + "[STDbg_TableDouble]: \"Procs\" table entry limit exceeded");

    // Forced overflow: doubled until not positive, then held at the limit;
    // the flag switches itself off.
    FlagScope force(STFLAG_ForceTableOverflow, 1);
    EXPECT_EQ((V{grow(1000, 1, 104), STConfig_GetOption(STFLAG_ForceTableOverflow), grow(1000, 1, 104)}), (V{20648881, 0, 2001}));
}

TEST(StConfig, AllocForBuildAndTableDouble) {
    MessageLog log;
    STTableDir dir{};
    int32_t count = 0;
    void *data = nullptr;
    dir.max = 4;
    EXPECT_EQ(STTable_AllocForBuild(&dir, &count, &data, 4), 0);
    ASSERT_NE(data, nullptr);
    auto *v = static_cast<int32_t *>(data);
    EXPECT_EQ(V(v, v + 4), V(4, 0));
    v[0] = 11, v[3] = 44, count = 4;
    // Growing keeps the records and zeroes the rest, also through a copy.
    for (uint32_t trash : {0u, 1u}) {
        FlagScope t(STFLAG_trashOldTableAfterGrowing, trash);
        dir.max += 4;
        STTable_AllocForBuild(&dir, &count, &data, 4);
        v = static_cast<int32_t *>(data);
        EXPECT_EQ((V{v[0], v[3], v[dir.max - 1]}), (V{11, 44, 0}));
        count = dir.max;
    }
    EXPECT_TRUE(log.all().empty());
    dir.max = 2;
    STTable_AllocForBuild(&dir, &count, &data, 4);
    EXPECT_EQ(log.all(), (Lines{E + "table is shrinking from 48 to 8"}));
    EXPECT_EQ((V{static_cast<int32_t *>(data)[0], count}), (V{11, 2}));
    dir.max = 0, dir.loaded = 1;
    STTable_AllocForBuild(&dir, &count, &data, 4);
    EXPECT_EQ((V{data != nullptr, count, dir.loaded}), (V{0, 0, 0}));
    EXPECT_EQ(exit_of(log, [&] { STTable_AllocForBuild(&dir, &count, nullptr, 4); }),
              "1|" + F + "STTable_AllocForBuild: NULL table given.");
    dir.max = -1;
    EXPECT_EQ(exit_of(log, [&] { STTable_AllocForBuild(&dir, &count, &data, 4); }),
              "1|" + F + "STTable_AllocForBuild: table max is negative.");
    dir.max = 0x40000000;
    EXPECT_EQ(exit_of(log, [&] { STTable_AllocForBuild(&dir, &count, &data, 4); }),
              "1|" + F + "STTable_AllocForBuild: failed to allocate.");
    EXPECT_EQ(data, nullptr);
    log.clear();

    // Tables of the objects: unknown indices, growth as reported, a maximum
    // set directly.
    STDnm *dnm = STDnm_Create();
    EXPECT_EQ((V{STDnm_TableDouble(dnm, 36, 5), STDnm_TableDouble(dnm, -1, 5), STDnm_TableMax(dnm, 36)}), (V{-1, -1, 0xFFFFFFFF}));
    EXPECT_EQ(STDnm_TableEntries(dnm, STDNM_NUM_TABLES), nullptr);
    EXPECT_STREQ(STDnm_TableName(36), "Unknown");
    {
        FlagScope report(STFLAG_reportTableDoubling, 1);
        STDnm_Section s{};
        for (int i = 0; i < 4; ++i) STDnm_AddSection(dnm, &s);
    }
    EXPECT_EQ(log.all(), (Lines{I + "[STDnm_TableDouble] Sections from 0 to 1", I + "[STDnm_TableDouble] Sections from 1 to 3",
                                I + "[STDnm_TableDouble] Sections from 3 to 7"}));
    EXPECT_EQ((V{STDnm_TableMax(dnm, STDNM_SECTIONS), STDnm_TableCount(dnm, STDNM_SECTIONS),
                 STDnm_TableDouble(dnm, STDNM_SECTIONS, 5), STDnm_TableMax(dnm, STDNM_SECTIONS)}), (V{7, 4, 0, 5}));
    STDnm_Release(dnm);
    STDbg *dbg = STDbg_Create(GF_KIND_DBG);
    EXPECT_EQ((V{STDbg_TableDouble(dbg, 21, 1), STDbg_TableDouble(dbg, -1, 1), STDbg_TableDouble(dbg, 0, 4)}), (V{-1, -1, 0}));
    EXPECT_STREQ(STDbg_TableName(21), "Unknown");
    STDbg_Free(dbg);
}

TEST(StConfig, StringReferences) {
    MessageLog log;
    const char table[] = "\0main\0f";
    static const char text[] = "in memory";
    EXPECT_STREQ(ST_StringFromISS(table, sizeof table, 6), "f");
    EXPECT_STREQ(ST_StringFromISS(table, sizeof table, ST_MemoryString(text)), "in memory");
    EXPECT_TRUE(log.all().empty());
    EXPECT_STREQ(ST_StringFromISS(table, sizeof table, sizeof table), "<BAD_ISS>");
    EXPECT_STREQ(ST_StringFromISS(nullptr, 0, 0), "<BAD_ISS>");
    ASSERT_EQ(log.all().size(), 2u);
    EXPECT_EQ(log.all()[0].rfind(E + "memory string collides with memoryResidentStringBits (", 0), 0u);
}

// The tables each load configuration reads: bit i for table i.
TEST(StConfig, LoadConfigurations) {
    MessageLog log;
    const uint32_t dbg[] = {0x1FFFFF, 0x1FFFFF, 0,       0x4001,  0x4045,  0x4003,   0x4047,   0x4805, 0x700B, 0x2703B,
                            0x6009,   0x26039,  0x2607D, 0x14003, 0x4845,  0x4445,   0x84001,  0x104001, 0x4447, 0x2647D};
    for (int32_t c = 0; c < 20; ++c) EXPECT_EQ(STDbg_TablesForConfig(c), dbg[c]) << c;
    const uint64_t strings = 1, dlo_files = 1u << 2 | 1u << 17 | 1u << 18, attributes = 1ull << 30;
    const uint64_t dnm[] = {(1ull << 36) - 1, (1ull << 36) - 1, strings | attributes, strings | attributes,
                            strings | attributes | dlo_files, strings | attributes | 1u << 14, strings | attributes | 1u << 14};
    for (int32_t c = 0; c < 7; ++c) EXPECT_EQ(STDnm_TablesForConfig(c), dnm[c]) << c;
    EXPECT_TRUE(log.all().empty());
    // Any other: all tables of a debug object, the strings and attributes of
    // a name file.
    EXPECT_EQ((V{int64_t(STDnm_TablesForConfig(20)), STDbg_TablesForConfig(20)}), (V{1 | 1ll << 30, 0x1FFFFF}));
    EXPECT_EQ(log.all(), (Lines{E + "Unknown load configuration", E + "Unknown load configuration"}));
}

}  // namespace
