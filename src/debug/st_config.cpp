// The library's message channel, its flag table, checked narrowing
// conversions and the growth of in-memory tables.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <type_traits>

#include "genout.h"
#include "indgen.h"
#include "platform.h"
#include "st_api.h"
#include "st_internal.h"

uint32_t STConfig_flags[ST_NUM_DEBUG_FLAGS];
const char *STConfig_flagNames[ST_NUM_DEBUG_FLAGS];
bool STConfig_initialized;
uint64_t ST_memoryResidentStringBits;
int32_t ST_defaultLoadConfig = 20;

namespace {

// ------------------------------------------------------------ messages

void vmessage(int cls, const char *fmt, va_list args) {
    char *text = gen_strcat2("<libst>: ", fmt);
    gen_message_hook(cls, text, args);
    gen_free_fn(text);
}

// ------------------------------------------------------------ flags

constexpr const char *flag_names[ST_NUM_DEBUG_FLAGS] = {
    "trz",
    "trz2",
    "trz3",
    "trz4",
    "compress",
    "useDescriptors",
    "stringSharing",
    "reportPerformance",
    "reportDloLoads",
    "reportUnusedSymbols",
    "reportArchiveExtractions",
    "libstTempDir",
    "dontUnloadBrowseInfo",
    "noDlaFpCaching",
    "putMacroStringsInDnm",
    "putAllStringsInDnm",
    "dontResolveTypedefToEmptyStruct",
    "reportTableDoubling",
    "noIFileMistakeWarning",
    nullptr,
    "noUndefinedInAdrMap",
    "ecomTweaks",
    "qldWorkArounds",
    "reportProgress",
    "simpleSpecialDnm",
    "noUnkonwnBoundArrayCheck",
    nullptr,
    "searchRunTimeLoadedSharedLibsFirst",
    "oldDefaultDnmSearchOrder",
    "narrowLanguageSearches",
    "dontConfuseGlobalWithStatic",
    "useFileMemoryMappingForDnm",
    "useFileMemoryMappingForDbo",
    "useFileMemoryMappingForDlo",
    nullptr,
    nullptr,
    "attemptToAllowRecursiveUpdates",
    "searchForStrongDefinitionOfWeakSymbol",
    "useOneLinkLabelForInlineProcsWithTheSameName",
    "noCouldNotDetermineTagVariantWarning",
    "runtimeDbgSortGeneration",
    "setGAdrModeOnBuildReadWrite",
    "Kestrel",
    "skipMergedLinestabs",
    "verifyConsistentStructSizes",
    "applyLineFixes",
    "warnForTruncatedTypeInformation",
    "warnForInvalidCCOMTypeInformation",
    "noDeleteUnusedPortionOfDboWithMultipleObjFix",
    "noWarnOnQuestionableILineFirstLBrac",
    "noWarnWhenNameNotInNamelist",
    "reportDnmLoads",
    "reportDnmOffsets",
    "reportDnmAttaches",
    "setRuntimeAddressModeTo64bit",
    "noStaticCallInfoWithoutSourceInfo",
    "canonicalizeFullPathNames",
    nullptr,
    "lazyLoadXrefTableOnBrowseRef",
    "onlySearchForMemberDefInCurDbg",
    "noActualCallInfoWithoutSourceInfo",
    "nullOutOverriddenWeakProcs",
    "moveMacroToDnm",
    "keepLoadedTable",
    "freeReplacedDnm",
    "warnOnIntInfoLost",
    "endFromLinkLabelPrevAliasFix",
    nullptr,
    nullptr,
    "checkShadowedLabelForLineFixes",
    "convertOverriddenProcsToDecls",
    "stressTableDoubling",
    "trashOldTableAfterGrowing",
    nullptr,
    "noFullPath",
    "earlyLabelShadowSrcCheck",
    "keepVolatile",
    "keepConst",
    "moveDlaIntoPlace",
    "fixFileCalls",
    "qdrift0",
    "qdrift1",
    "qdrift2",
    "qdrift3",
    "qdrift4",
    "ClearTempDloPtr",
    "FixTemplateFunc",
    "FixClassMemXref",
    "ResolveInlinedLinkLabel",
    "FixSquareBracketInCanonicalFuncName",
    "FixDotProc",
    "FixSymTabScan",
    "ImproveAdrFromProcAndILineHeuristic",
    "NoDloLowering",
    "OutOfOrderLineScan",
    "IgnoreStEndInSearch",
    "KeepThreadLocal",
    "FixSymFromVar",
    "NoHeaderSymTable",
    "NoLastTextStack",
    "FixVectorValue",
    "FixKeepTypedef",
    "FixCpp11",
    "FixAnyHostPath",
    "NoTools27458Fix",
    "NoTools27600Fix",
    "NoLinkLabelSequentialScan",
    "NoTools28094Fix",
    "NoTools28123Fix",
    "NoTools28228Fix",
    "NoTools28271Fix",
    "qdrift5",
    "qdrift6",
    "qdrift7",
    "qdrift8",
    "qdrift9",
    "NoOrbit43880Fix",
    "NoDoubleValTypes",
    "NoTools30087Fix",
    "NoTools30262Fix",
    "CheckForStrayLinLabel",
    "NoTicket74814Fix",
    "NullOutDeletedProcs",
    "AbsoluteFilePathFirst",
    "MoreFixForLastExecSourceLineInFile",
    "NoTicket95570Fix",
    "FixClassNameSearch",
    "HostString",
    "IgnoreMasterLinFix",
    "FixFileFromName",
    "NoLambdaNulling",
    "FixTypeSearchInLocalScope",
    "UseLambdaFlag",
    "NoTools35179Fix",
    "NoSanityCheck",
    "NoLowerUnnamedUseNames",
    "HandleParamPackCaptures",
    "NoLowerLineRangesWithLocs",
    nullptr,
    "NoTools36578Fix",
    "FixPackedMembersInLambdaClass",
    nullptr,
    "PromoteBitfieldIntoInt",
    "FixSizeofRef",
    "FixIntTemplate",
    "FixPureAbstractFunc",
    "TableOverflowFixes",
    "ForceTableOverflow",
    "NoTools37654Fix",
    "NoTools37784Fix",
    "NoTools38924Fix",
    "NoTools39136Fix",
    "NoTools39406Fix",
};

constexpr int flags_on_by_default[] = {4,   18,  22,  30,  38,  39,  40,  41,  43,  45,  58,  59,  61,  63,
                                       65,  66,  69,  70,  75,  76,  77,  78,  79,  85,  86,  87,  88,  89,
                                       90,  91,  92,  94,  95,  97,  100, 101, 102, 103, 106, 123, 124, 126,
                                       127, 129, 131, 132, 136, 138, 140, 141, 142, 143, 144, 145, 146};

bool flag_on(int n) { return STConfig_GetOption(n) != 0; }

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A text of decimal digits followed by white space only; -2 when the text
// is not of that form, -1 when the number is out of range.
int parse_flag_number(const char *text) {
    const char *p = text;
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= ST_NUM_DEBUG_FLAGS) value = value * 10 + (*p - '0');
        ++p;
    }
    if (p == text) return -2;
    while (is_space(*p)) ++p;
    if (*p) return -2;
    return value < ST_NUM_DEBUG_FLAGS ? int(value) : -1;
}

}  // namespace

// ------------------------------------------------------------ messages

void ST_Fatal(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vmessage(GEN_MSG_FATAL, fmt, args);
    va_end(args);
    gen_exit_fn(1);
    plat::exit_now(1);
}

#define ST_FORWARD(cls)         \
    va_list args;               \
    va_start(args, fmt);        \
    vmessage((cls), fmt, args); \
    va_end(args)

void ST_Error(const char *fmt, ...) { ST_FORWARD(GEN_MSG_ERROR); }
void ST_ErrorErrno(const char *fmt, ...) { ST_FORWARD(GEN_SYSERR + GEN_MSG_ERROR); }
void ST_Warning(const char *fmt, ...) { ST_FORWARD(GEN_MSG_WARNING); }
void ST_Info(const char *fmt, ...) { ST_FORWARD(GEN_MSG_INFO); }

void ST_ReportCorruption(void *, int, const char *fileName) {
    ST_Error("Corruption in symbol file is detected:\n%s", fileName ? fileName : "UNKNOWN");
}

int ST_CheckStream(GFile *gf, int force, const char *context) {
    bool bad = force != 0;
    if (gf) bad = bad || gf->failed || (gf->fp && std::ferror(gf->fp));
    if (!bad) return 0;
    ST_Error("while %s in \"%s\"", context, gf_Name(gf));
    return -1;
}

// ------------------------------------------------------------ flags

void STConfig_Init() {
    if (STConfig_initialized) return;
    STConfig_initialized = true;
    ST_memoryResidentStringBits = 0xC000000000000000ull;
    for (int i = 0; i < ST_NUM_DEBUG_FLAGS; ++i) {
        STConfig_flagNames[i] = flag_names[i];
        STConfig_flags[i] = 0;
    }
    for (int n : flags_on_by_default) STConfig_flags[n] = 1;
    STConfig_flags[62] = 0;
    STConfig_flags[64] = 0;
    STConfig_flags[74] = 0;
}

uint32_t STConfig_GetOption(int n) {
    STConfig_Init();
    if (n < 0 || n >= ST_NUM_DEBUG_FLAGS) {
        ST_Error("[STConfig_GetOption]: bad debug flag number (%d)", n);
        return 0;
    }
    return STConfig_flags[n];
}

const char *STConfig_GetOptionName(int n) {
    STConfig_Init();
    if (n < 0 || n >= ST_NUM_DEBUG_FLAGS) {
        ST_Error("[STConfig_GetOption]: bad debug flag number (%d)", n);
        return nullptr;
    }
    return STConfig_flagNames[n];
}

int ST_SetDebugFlagFNumber(int n, uint32_t value) {
    STConfig_Init();
    if (n < 0 || n >= ST_NUM_DEBUG_FLAGS) {
        ST_Error("[ST_SetDebugFlagFNumber]: bad debug flag number (%d)", n);
        return -1;
    }
    STConfig_flags[n] = value;
    return 0;
}

int ST_LookupDebugFlag(const char *text) {
    STConfig_Init();
    if (text && *text) {
        int n = parse_flag_number(text);
        if (n >= 0) return n;
        if (n == -2) {
            for (int i = 0; i < ST_NUM_DEBUG_FLAGS; ++i)
                if (STConfig_flagNames[i] && gen_strequal_nocase(STConfig_flagNames[i], text)) return i;
        }
    }
    ST_Error("[ST_SetDebugFlagFName]: no such debug flag (\"%s\")", text ? text : "NULL");
    return -1;
}

int ST_SetDebugFlagFName(const char *text, uint32_t value) {
    int n = ST_LookupDebugFlag(text);
    if (n < 0) return -1;
    return ST_SetDebugFlagFNumber(n, value);
}

int ST_SetDebugFlagFromSwitch(const char *text) {
    if (!text || (text[0] != 'X' && text[0] != 'Z')) return 1;
    return ST_SetDebugFlagFName(text + 1, text[0] == 'X' ? 1 : 0);
}

void st::adopt_adr_mode(uint32_t mode) {
    if (flag_on(STFLAG_setGAdrModeOnBuildReadWrite)) gadr_set_mode(mode);
}

bool STConfig_Compress() { return flag_on(STFLAG_compress); }
bool STConfig_UseDescriptors() { return flag_on(STFLAG_useDescriptors); }

// ------------------------------------------------------------ conversions

namespace {

// v as a To; a value that does not survive the conversion is warned about
// (flag warnOnIntInfoLost) as "casting <from> to <to>".
template <typename To, typename From>
To narrow(From v, const char *from, const char *to) {
    static_assert(std::is_signed_v<To> == std::is_signed_v<From>);
    const To r = To(v);
    if (r != v && flag_on(STFLAG_warnOnIntInfoLost)) ST_Warning("Value truncated when casting %s to %s.", from, to);
    return r;
}

}  // namespace

int32_t ST_Int64ToInt32(int64_t v) { return narrow<int32_t>(v, "64-bit int", "32-bit int"); }
uint32_t ST_UInt64ToUInt32(uint64_t v) { return narrow<uint32_t>(v, "64-bit uint", "32-bit uint"); }
uint8_t ST_UInt64ToUInt8(uint64_t v) { return narrow<uint8_t>(v, "64-bit uint", "8-bit uint"); }
int16_t ST_Int64ToInt16(int64_t v) { return narrow<int16_t>(v, "64-bit int", "16-bit int"); }
STLong ST_Int64ToLong(int64_t v) { return narrow<STLong>(v, "64-bit int", "long"); }
STULong ST_UInt64ToULong(uint64_t v) { return narrow<STULong>(v, "64-bit uint", "ulong"); }
STTime ST_TimeToTime(time_t v) { return narrow<STTime>(v, "time_t", "Time"); }
STIndex ST_Int64ToIndex(int64_t v) { return narrow<STIndex>(v, "64-bit int", "Index"); }
STTableSize ST_Int64ToTableSize(int64_t v) { return narrow<STTableSize>(v, "64-bit int", "TableSize"); }

int32_t ST_LongToInt(STLong v) { return v; }
STIndex ST_LongToIndex(STLong v) { return v; }
STTime ST_LongToTime(STLong v) { return v; }

// ------------------------------------------------------------ tables

int32_t STTable_GrowSize(const char *op, const char *table, int32_t count, int32_t need, int32_t entrySize) {
    // 32-bit signed arithmetic that wraps instead of overflowing.
    uint32_t n = flag_on(STFLAG_stressTableDoubling) ? uint32_t(count) + uint32_t(count / 10) + uint32_t(need)
                                                     : 2u * uint32_t(count) + uint32_t(need);
    int32_t size = int32_t(n);
    if (flag_on(STFLAG_ForceTableOverflow)) {
        while (size > 0) size = int32_t(uint32_t(size) * 2u);
        ST_SetDebugFlagFNumber(STFLAG_ForceTableOverflow, 0);
    }
    if (!flag_on(STFLAG_TableOverflowFixes)) return size;

    int32_t limit = 0x7FFFFFF0 / (entrySize > 0 ? entrySize : 1);
    // A size that wrapped round to a small positive number is an overflow too.
    if (size >= 0 && size <= limit && int64_t(size) - count >= need) return size;
    size = int32_t(uint32_t(count) + 0x20000000u);
    if (size < 0 || size > limit || need > 0x20000000) size = limit;
    if (int64_t(size) - count < need) ST_Fatal("[%s]: \"%s\" table entry limit exceeded", op, table);
    return size;
}

int STTable_AllocForBuild(STTableDir *dir, int32_t *count, void **storage, int32_t entrySize) {
    if (!storage) ST_Fatal("STTable_AllocForBuild: NULL table given.");
    if (dir->max < 0) ST_Fatal("STTable_AllocForBuild: table max is negative.");
    if (dir->max == 0) {
        if (!dir->mapped) gen_free_fn(*storage);
        *storage = nullptr;
        *count = 0;
        dir->loaded = 0;
        dir->mapped = 0;
        return 0;
    }
    int64_t newBytes = int64_t(dir->max) * entrySize;
    int64_t oldBytes = *storage ? int64_t(*count) * entrySize : 0;
    if (newBytes > INT32_MAX) {
        if (!dir->mapped) gen_free_fn(*storage);
        *storage = nullptr;
        *count = 0;
        ST_Fatal("STTable_AllocForBuild: failed to allocate.");
    }
    if (oldBytes > newBytes) ST_Error("table is shrinking from %I64d to %I64d\n", oldBytes, newBytes);
    if (oldBytes == newBytes && *storage) return 0;

    void *old = *storage;
    uint8_t *fresh;
    if (!old) {
        fresh = static_cast<uint8_t *>(gen_calloc_fn(size_t(newBytes), 1));
    } else if (dir->mapped || flag_on(STFLAG_trashOldTableAfterGrowing)) {
        fresh = static_cast<uint8_t *>(gen_calloc_fn(size_t(newBytes), 1));
        if (fresh) std::memcpy(fresh, old, size_t(oldBytes < newBytes ? oldBytes : newBytes));
        if (!dir->mapped) {
            std::memset(old, 0xAB, size_t(oldBytes));
            gen_free_fn(old);
        }
    } else {
        fresh = static_cast<uint8_t *>(gen_realloc_fn(old, newBytes));
    }
    if (!fresh) {
        *storage = nullptr;
        *count = 0;
        ST_Fatal("STTable_AllocForBuild: failed to allocate.");
    }
    if (newBytes > oldBytes) std::memset(fresh + oldBytes, 0, size_t(newBytes - oldBytes));
    *storage = fresh;
    dir->mapped = 0;
    if (*count > dir->max) *count = dir->max;
    return 0;
}

uint64_t STDnm_TablesForConfig(int32_t config) {
    constexpr uint64_t base = 1ull << STDNM_STRINGS | 1ull << STDNM_ATTRIBUTES;
    switch (config) {
        case 0:
        case 1:
            return (1ull << STDNM_NUM_TABLES) - 1;
        case 2:
        case 3:
            return base;
        case 4:
            return base | 1ull << STDNM_DLO_FILES | 1ull << STDNM_DLO_FILES_BY_OFFSET |
                   1ull << STDNM_DLO_FILE_UPDATE_LINKS;
        case 5:
        case 6:
            return base | 1ull << 14;
        default:
            ST_Error("Unknown load configuration");
            return base;
    }
}

uint32_t STDbg_TablesForConfig(int32_t config) {
    static constexpr struct {
        int32_t config;
        std::initializer_list<int> tables;
    } selection[] = {
        {3, {0, 14}},
        {4, {0, 2, 6, 14}},
        {5, {0, 1, 14}},
        {6, {0, 1, 2, 6, 14}},
        {7, {0, 2, 11, 14}},
        {8, {0, 1, 3, 12, 13, 14}},
        {9, {0, 1, 3, 4, 5, 12, 13, 14, 17}},
        {10, {0, 3, 13, 14}},
        {11, {0, 3, 4, 5, 13, 14, 17}},
        {12, {0, 2, 3, 4, 5, 6, 13, 14, 17}},
        {13, {0, 1, 14, 16}},
        {14, {0, 2, 6, 11, 14}},
        {15, {0, 2, 6, 10, 14}},
        {16, {0, 14, 19}},
        {17, {0, 14, 20}},
        {18, {0, 1, 2, 6, 10, 14}},
        {19, {0, 2, 3, 4, 5, 6, 10, 13, 14, 17}},
    };
    constexpr uint32_t all = (1u << STDBG_NUM_TABLES) - 1;
    if (config == 0 || config == 1) return all;
    if (config == 2) return 0;
    for (const auto &s : selection) {
        if (s.config != config) continue;
        uint32_t mask = 0;
        for (int t : s.tables) mask |= 1u << t;
        return mask;
    }
    ST_Error("Unknown load configuration");
    return all;
}

// ------------------------------------------------------------ strings

uint64_t ST_MemoryString(const char *s) {
    STConfig_Init();
    uint64_t p = uint64_t(reinterpret_cast<uintptr_t>(s));
    uint64_t bits = ST_memoryResidentStringBits;
    if (p & bits) {
        ST_Error("memory string collides with memoryResidentStringBits (%p,%p,%p)!", reinterpret_cast<void *>(p),
                 reinterpret_cast<void *>(bits), reinterpret_cast<void *>(p & bits));
        return UINT64_MAX & ~bits;  // resolves to "<BAD_ISS>"
    }
    return p | bits;
}

const char *ST_StringFromISS(const char *table, int64_t size, uint64_t iss) {
    STConfig_Init();
    if (table && size > 0 && iss < uint64_t(size)) return table + iss;
    uint64_t bits = ST_memoryResidentStringBits;
    if ((iss & bits) == bits) return reinterpret_cast<const char *>(uintptr_t(iss & ~bits));
    ST_Error("memory string collides with memoryResidentStringBits (%p,%p,%p)!", reinterpret_cast<void *>(iss),
             reinterpret_cast<void *>(bits), reinterpret_cast<void *>(iss & bits));
    return "<BAD_ISS>";
}
