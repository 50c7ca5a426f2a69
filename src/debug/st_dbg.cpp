// Debug objects (.dbo/.dbg): header, table directory, the "Procs" and
// "Strings" tables, sanity checks, name lookups and the writer.
#include <cerrno>
#include <cstring>

#include "indgen.h"
#include "indgeninit.h"
#include "st_internal.h"

namespace {

constexpr const char *table_names[STDBG_NUM_TABLES] = {
    "Strings",
    "Files",
    "Procs",
    "Syms",
    "AuxTypes",
    "Auxs",
    "Frames",
    "Typedefs",
    "HashDefineHashs",
    "HashDefines",
    "Lines",
    "Static Calls",
    "Cross References",
    "Sym Copy Forward",
    "Attributes",
    "References / Location",
    "Include References",
    "IAux Indirects",
    "Code Trees",
    "Actual Calls",
    "Stack Frames / Function Offset",
};

constexpr const char *op_double = "STDbg_TableDouble";

// The order in which the tables are read.
constexpr int read_order[] = {3, 4, 5, 1, 10, 2, 7, 6, 8, 9, 11, 12, 16, 18, 14, 0, 19, 20};

bool flag(int n) { return STConfig_GetOption(n) != 0; }

int32_t entry_size(int index) { return index == STDBG_PROCS ? int32_t(sizeof(STDbg_Proc)) : 1; }

bool strings_packed(const STDbg *d) { return d->version >= 37; }

int32_t table_count(const STDbg *d, int index) {
    const STTable &t = d->tables[index];
    return t.dir.loaded ? t.count : t.dir.max;
}

void free_fields(STDbg *d) {
    for (STTable &t : d->tables) {
        st::free_table(&t);
        t.dir.skipped = 0;
    }
    if (d->gf) gf_Close(d->gf);
    d->gf = nullptr;
    gen_free_and_clear(reinterpret_cast<void **>(&d->magic));
    gen_free_and_clear(reinterpret_cast<void **>(&d->name));
    gen_free_and_clear(reinterpret_cast<void **>(&d->image));
    d->imageSize = 0;
    d->loaded = 0;
}

bool version_supported(const STDbg *d) {
    if (d->version < STDBG_MIN_VERSION) {
        ST_Error("\"%s\" has version %d, which is no longer supported", d->name, d->version);
        return false;
    }
    if (d->version == STDBG_DEV_VERSION) {
        ST_Warning("\"%s\" has version %d, which is the development version", d->name, d->version);
    } else if (d->version > STDBG_DEV_VERSION) {
        const char *prog = gen_getprogname();
        ST_Error("\"%s\" has version %d, %s only supports up to version %d", d->name, d->version,
                 prog && *prog ? prog : "this utility", STDBG_MAX_VERSION);
        return false;
    }
    return true;
}

// The header after the version and the magic string.
void read_header(STDbg *d, GReader &r) {
    const int32_t v = d->version;
    d->adrEncoding = r.u8();
    if (r.ok()) d->adrMode = gadr_mode_from_encoding(d->adrEncoding);
    d->fIsDlOFile = r.u8();
    d->fAdrLocated = v >= 15 ? r.u8() : d->fIsDlOFile;
    d->byteA = r.u8();
    if (v >= 12) {
        d->byte12a = r.u8();
        d->producerType = r.u8();
        d->byte12b = r.u8();
        if (v <= 20) {
            uint32_t b = r.u8();
            d->producer = b & 0x80 ? b | 0x100 : b;
        } else {
            d->producer = r.fixed32();
        }
    }
    d->language = v >= 14 ? r.u8() : 31;
    if (v >= 23) {
        d->lcAbiStyle = r.u8();
        d->lcAbiVersion = r.u8();
        d->lcMangleStyle = r.u8();
        d->lcMangleVersion = r.u8();
    }
    if (v >= 27) {
        d->compilationHostType = r.u8();
        d->byte27a = r.u8();
        d->fCodeCoverageAnalysis = r.u8();
        d->flags = r.u8() & 3;
        d->byte27b = r.u8();
    }
    d->iSymGlobal = int32_t(r.fixed32());
    if (d->fIsDlOFile == 1) {
        d->dnmStringBase = int32_t(r.fixed32());
        d->numDnmStrings = int32_t(r.fixed32());
    } else {
        d->dnmStringBase = d->numDnmStrings = 0;
    }
    d->numTables = r.u8();
    d->dirPos = r.pos();
    st::read_directory(r, d->numTables, v >= 36, d->tables, STDBG_NUM_TABLES);
}

void write_header(STDbg *d, GFile *gf, const int32_t *maxima) {
    const int32_t v = d->version;
    gf_PutFixed32(gf, uint32_t(v));
    gf_PutString(gf, d->magic);
    gf_Put8(gf, uint8_t(gadr_encoding_from_mode(d->adrMode)));
    gf_Put8(gf, d->fIsDlOFile);
    if (v >= 15) gf_Put8(gf, d->fAdrLocated);
    gf_Put8(gf, d->byteA);
    if (v >= 12) {
        gf_Put8(gf, d->byte12a);
        gf_Put8(gf, d->producerType);
        gf_Put8(gf, d->byte12b);
        v <= 20 ? gf_Put8(gf, uint8_t(d->producer)) : gf_PutFixed32(gf, d->producer);
    }
    if (v >= 14) gf_Put8(gf, d->language);
    if (v >= 23) {
        gf_Put8(gf, d->lcAbiStyle);
        gf_Put8(gf, d->lcAbiVersion);
        gf_Put8(gf, d->lcMangleStyle);
        gf_Put8(gf, d->lcMangleVersion);
    }
    if (v >= 27) {
        gf_Put8(gf, d->compilationHostType);
        gf_Put8(gf, d->byte27a);
        gf_Put8(gf, d->fCodeCoverageAnalysis);
        gf_Put8(gf, d->flags);
        gf_Put8(gf, d->byte27b);
    }
    gf_PutFixed32(gf, uint32_t(d->iSymGlobal));
    if (d->fIsDlOFile == 1) {
        gf_PutFixed32(gf, uint32_t(d->dnmStringBase));
        gf_PutFixed32(gf, uint32_t(d->numDnmStrings));
    }
    gf_Put8(gf, d->numTables);
    d->dirPos = st::write_directory(gf, d->numTables, v >= 36, d->tables, maxima, STDBG_NUM_TABLES);
}

void read_proc(STDbg *d, GReader &r, STDbg_Proc &p) {
    const int32_t v = d->version;
    uint32_t a, b, c;
    r.pair(p.useName, p.mangledName);
    if (d->fAdrLocated) {
        r.range(p.begin, p.end);
    } else {
        gadr_set_invalid(p.begin);
        gadr_set_invalid(p.end);
    }
    p.preData = r.s32();
    p.postData = v >= 9 ? r.u32() : 0;
    r.pair(a, b);
    p.iSym = STIndex(a);
    p.iSymMax = STIndex(b);
    if (v >= 22) {
        r.triple(a, b, c);
        p.iLineStab = STIndex(a);
        p.iLineStabFirstByILine = STIndex(b);
        p.iLineStabMax = STIndex(c);
    } else {
        r.pair(a, c);
        p.iLineStab = STIndex(a);
        p.iLineStabFirstByILine = -1;
        p.iLineStabMax = STIndex(c);
    }
    r.triple(a, b, c);
    p.iLine = STIndex(a);
    p.iLineFirstLbrac = STIndex(b);
    p.iLineMax = STIndex(c);
    p.iFile = r.index();
    p.iFrameInfo = r.index();
    p.small = v >= 6 ? ST_UInt64ToUInt8(r.u32()) : 0;
    if (v >= 26)
        p.flags = r.u32() & 0x1FFFF;
    else
        p.flags = v >= 7 ? r.u8() : 0;
    p.dbg = d;
}

void write_proc(const STDbg *d, GFile *gf, const STDbg_Proc &p) {
    const int32_t v = d->version;
    gf_PutPair(gf, p.useName, p.mangledName);
    if (d->fAdrLocated) gf_PutRange(gf, p.begin, p.end);
    gf_PutS32(gf, p.preData);
    if (v >= 9) gf_PutU32(gf, p.postData);
    gf_PutPair(gf, uint32_t(p.iSym), uint32_t(p.iSymMax));
    if (v >= 22)
        gf_PutTriple(gf, uint32_t(p.iLineStab), uint32_t(p.iLineStabFirstByILine), uint32_t(p.iLineStabMax));
    else
        gf_PutPair(gf, uint32_t(p.iLineStab), uint32_t(p.iLineStabMax));
    gf_PutTriple(gf, uint32_t(p.iLine), uint32_t(p.iLineFirstLbrac), uint32_t(p.iLineMax));
    gf_PutIndex(gf, p.iFile);
    gf_PutIndex(gf, p.iFrameInfo);
    if (v >= 6) gf_PutU32(gf, p.small);
    if (v >= 26)
        gf_PutU32(gf, p.flags & 0x1FFFF);
    else if (v >= 7)
        gf_Put8(gf, uint8_t(p.flags));
}

bool corrupt(STDbg *d) {
    ST_ReportCorruption(nullptr, 0, d->name);
    return false;
}

bool read_procs(STDbg *d, GFile *gf) {
    STTable &t = d->tables[STDBG_PROCS];
    GReader r(gf, t.dir.offset);
    auto *rec = static_cast<STDbg_Proc *>(t.data);
    bool check = !flag(STFLAG_NoSanityCheck);
    for (int32_t i = 0; i < t.dir.max; ++i) {
        read_proc(d, r, rec[i]);
        if (!r.ok()) return false;
        if (check && STDbg_CheckProcSanity(d, &rec[i])) return corrupt(d);
        t.count = i + 1;
    }
    t.dir.loaded = 1;
    return r.end_marker(table_names[STDBG_PROCS]);
}

bool read_table(STDbg *d, GFile *gf, int index) {
    STTable &t = d->tables[index];
    if (t.dir.skipped || t.dir.max == 0) return true;
    if (index == STDBG_PROCS) return read_procs(d, gf);
    if (index == STDBG_STRINGS) {
        GReader r(gf, t.dir.offset);
        bool packed = strings_packed(d);
        return st::read_raw_table(r, &t, table_names[index], packed, !packed && gf->image != nullptr);
    }
    // The records of the other tables are not interpreted here.
    return true;
}

bool allocate_tables(STDbg *d, GFile *gf) {
    bool ok = true;
    for (int i : {int(STDBG_STRINGS), int(STDBG_PROCS)}) {
        STTable &t = d->tables[i];
        if (t.dir.skipped || t.dir.max == 0) continue;
        if (t.dir.max < 0) {
            ST_Error("table \"%s\" of \"%s\" has a negative size (%d)", table_names[i], d->name, t.dir.max);
            ok = false;
            break;
        }
        bool packed = i == STDBG_STRINGS && strings_packed(d);
        int64_t least = packed ? (int64_t(t.dir.max) + 8) / 9 : t.dir.max;
        if (!st::table_fits(gf, table_names[i], t.dir.offset, least, 1, 0)) {
            ok = false;
            break;
        }
        if (i == STDBG_STRINGS && !packed && gf->image) continue;  // served from the image
        t.count = 0;
        STTable_AllocForBuild(&t.dir, &t.count, &t.data, entry_size(i));
    }
    if (!ok) {
        ST_Error("Error while allocating tables for \"%s\"", d->name);
        for (STTable &t : d->tables) st::free_table(&t);
    }
    return ok;
}

bool bad_name(const STDbg *d, uint32_t iss) {
    uint32_t size = uint32_t(table_count(d, STDBG_STRINGS));
    if (iss == 0 || iss <= size) return false;
    uint32_t base = uint32_t(d->dnmStringBase);
    return !(iss >= base && uint64_t(iss) < uint64_t(base) + uint32_t(d->numDnmStrings));
}

}  // namespace

// ------------------------------------------------------------ tables

const char *STDbg_TableName(int index) {
    return index >= 0 && index < STDBG_NUM_TABLES ? table_names[index] : "Unknown";
}

int STDbg_TableDouble(STDbg *dbg, int index, int32_t newMax) {
    if (!dbg || index < 0 || index >= STDBG_NUM_TABLES) return -1;
    return st::table_double(op_double, &dbg->tables[index], table_names[index], newMax, entry_size(index));
}

const char *STDbg_String(const STDbg *dbg, uint64_t iss) {
    const STTable &t = dbg->tables[STDBG_STRINGS];
    const char *table = static_cast<const char *>(t.data);
    if (iss <= uint64_t(t.count)) return table && iss < uint64_t(t.count) ? table + iss : "";
    uint64_t base = uint32_t(dbg->dnmStringBase);
    if (base != 0 && iss >= base && iss - base < uint64_t(uint32_t(dbg->numDnmStrings))) {
        if (!dbg->dnm || !dbg->dnm->tables[STDNM_STRINGS].dir.loaded) return "<DBG_BAD_ISS_DNM_NOT_LOADED>";
        return STDnm_String(dbg->dnm, iss - base);
    }
    return ST_StringFromISS(table, t.count, iss);
}

const STDbg_Proc *STDbg_Procs(const STDbg *dbg, int32_t *count) {
    *count = dbg->tables[STDBG_PROCS].count;
    return static_cast<const STDbg_Proc *>(dbg->tables[STDBG_PROCS].data);
}

const char *ST_ProcUseName(const STDbg_Proc *p) {
    if (!p || !p->dbg) return "";
    return STDbg_String(p->dbg, p->useName);
}

// ------------------------------------------------------------ checks

int STDbg_CheckHeadSanity(STDbg *dbg) {
    const STDbg *d = dbg;
    auto bad = [](const char *what, int64_t value) {
        char *fmt = gen_strcat3("[STDbg_CheckHeadSanity] Invalid ", what, " (%d)");
        ST_Error(fmt, int32_t(value));
        gen_free_fn(fmt);
        return 1;
    };
    if (d->version < STDBG_MIN_VERSION || d->version > 92) return bad("dbg version", d->version);
    if (d->adrMode >= 11) return bad("address mode", d->adrMode);
    if (d->fIsDlOFile > 1) return bad("fIsDlOFile flag", d->fIsDlOFile);
    if (d->producerType > 32) return bad("producerType", d->producerType);
    if (d->producer >= 0x10000) return bad("producerType", d->producer);
    if (d->language >= 17 && d->language <= 254 && d->language != 30 && d->language != 31)
        return bad("language", d->language);
    if (d->compilationHostType >= 7) return bad("compilationHostType", d->compilationHostType);
    if (d->lcAbiStyle >= 17) return bad("lcAbiStyle", d->lcAbiStyle);
    if (d->lcAbiVersion >= 17) return bad("lcAbiVersion", d->lcAbiVersion);
    if (d->lcMangleStyle >= 17) return bad("lcMangleStyle", d->lcMangleStyle);
    if (d->lcMangleVersion >= 17) return bad("lcMangleVersion", d->lcMangleVersion);
    if (d->fCodeCoverageAnalysis >= 3) return bad("fCodeCoverageAnalysis", d->fCodeCoverageAnalysis);
    if (d->iSymGlobal != -1 && (d->iSymGlobal < 0 || d->iSymGlobal > table_count(d, STDBG_SYMS)))
        return bad("iSymGlobal", d->iSymGlobal);
    if (d->dnmStringBase < 0) return bad("dnmStringBase", d->dnmStringBase);
    if (d->numDnmStrings < 0) return bad("numDnmStrings", d->numDnmStrings);
    if (d->numTables >= 62) return bad("numTables", d->numTables);
    int kept = d->numTables < STDBG_NUM_TABLES ? int(d->numTables) : int(STDBG_NUM_TABLES);
    for (int i = 0; i < kept; ++i) {
        const STTableDir &t = d->tables[i].dir;
        if (t.offset < 0) {
            ST_Error("[STDbg_CheckHeadSanity] Invalid offset 0x%I64x for table with index %d", t.offset, i);
            return 1;
        }
        if (t.max < 0 || t.aux > 20) {
            ST_Error("[STDbg_CheckHeadSanity] Invalid max %d for table with index %d", t.max, i);
            return 1;
        }
    }
    return 0;
}

int STDbg_CheckProcSanity(STDbg *dbg, const STDbg_Proc *p) {
    auto bad = [](const char *what, int32_t value) {
        char *fmt = gen_strcat3("[STDbg_CheckProcSanity] Invalid ", what, " (%d)");
        ST_Error(fmt, value);
        gen_free_fn(fmt);
        return 1;
    };
    if (bad_name(dbg, p->useName)) {
        ST_Error("[STDbg_CheckProcSanity] Invalid useName (0x%I64x)", uint64_t(p->useName));
        return 1;
    }
    if (bad_name(dbg, p->mangledName)) {
        ST_Error("[STDbg_CheckProcSanity] Invalid mangledName (0x%I64x)", uint64_t(p->mangledName));
        return 1;
    }
    if (gadr_is_valid(p->end) && gadr_compare(p->begin, p->end) > 0) {
        // Two scratch buffers: the second call must not overwrite the first.
        const char *b = gadr_to_string(p->begin);
        const char *e = gadr_to_string(p->end);
        ST_Error("[STDbg_CheckProcSanity] Invalid begin (%s) > end (%s)", b, e);
        return 1;
    }
    const int32_t syms = table_count(dbg, STDBG_SYMS);
    const int32_t lines = table_count(dbg, STDBG_LINES);
    const int32_t files = table_count(dbg, STDBG_FILES);
    const int32_t frames = table_count(dbg, STDBG_FRAMES);
    if (p->preData < 0) return bad("preData", p->preData);
    if (int32_t(p->postData) < 0) return bad("postData", int32_t(p->postData));
    if (p->iSym != -1 && (p->iSym < 0 || p->iSym > p->iSymMax || p->iSym >= syms)) return bad("iSym", p->iSym);
    if (p->iSymMax != -1 && (p->iSymMax < 0 || p->iSymMax > syms)) return bad("iSymMax", p->iSymMax);
    if (p->iLineStab != -1 && (p->iLineStab < 0 || p->iLineStab >= lines)) return bad("iLineStab", p->iLineStab);
    if (p->iLineStabFirstByILine != -1 && (p->iLineStabFirstByILine < 0 || p->iLineStabFirstByILine >= lines))
        return bad("iLineStabFirstByILine", p->iLineStabFirstByILine);
    if (p->iLineStabMax != -1 && (p->iLineStabMax < 0 || p->iLineStabMax > lines))
        return bad("iLineStabMax", p->iLineStabMax);
    if (p->iLine != -1 && (p->iLine < 0 || p->iLine > p->iLineMax)) return bad("iLine", p->iLine);
    if (p->iLineFirstLbrac != -1 &&
        (p->iLineFirstLbrac < 0 || p->iLineFirstLbrac < p->iLine || p->iLineFirstLbrac > p->iLineMax))
        return bad("iLineFirstLbrac", p->iLineFirstLbrac);
    if (p->iLineMax < -1) return bad("iLineMax", p->iLineMax);
    if (p->iFile != -1 && (p->iFile < 0 || p->iFile >= files)) return bad("iFile", p->iFile);
    if (p->iFrameInfo != -1 && (p->iFrameInfo < 0 || p->iFrameInfo >= frames)) return bad("iFrameInfo", p->iFrameInfo);
    return 0;
}

int STDbg_CheckSanity(STDbg *dbg) {
    const int32_t syms = table_count(dbg, STDBG_SYMS);
    if (dbg->iSymGlobal != -1 && (dbg->iSymGlobal < 0 || dbg->iSymGlobal > syms)) {
        ST_Error("[STDbg_CheckSanity] Invalid iSymGlobal (%d)", dbg->iSymGlobal);
        return 1;
    }
    const int32_t links = table_count(dbg, STDBG_SYM_COPY_FORWARD);
    if (links > syms) {
        ST_Error("[STDbg_CheckSanity] Invalid STDbg_SymCopyForwardUpdateLinks (%d) > STDbg_Syms (%d)", links, syms);
        return 1;
    }
    for (int i = 0; i < STDBG_NUM_TABLES; ++i) {
        const STTable &t = dbg->tables[i];
        if (t.dir.loaded && t.count != t.dir.max) {
            ST_Error("[STDbg_CheckSanity] table with index %d has count %d, but its loaded table size is %d", i,
                     t.dir.max, t.count);
            return 1;
        }
        if (!t.dir.loaded && t.count != 0) {
            ST_Error("[STDbg_CheckSanity] table with index %d is not loaded, but its table size is %d", i, t.count);
            return 1;
        }
    }
    return 0;
}

// ------------------------------------------------------------ reading

STDbg *STDbg_Open(STDbg *dbg, FILE *fp, const char *path, int32_t config, int quiet, int reopen) {
    STConfig_Init();
    if (!dbg) {
        dbg = static_cast<STDbg *>(gen_calloc_fn(1, sizeof(STDbg)));
        dbg->owned = 1;
    } else if (reopen) {
        if (dbg->gf) gf_Close(dbg->gf);
        dbg->gf = nullptr;
        gen_free_and_clear(reinterpret_cast<void **>(&dbg->magic));
        gen_free_and_clear(reinterpret_cast<void **>(&dbg->name));
    }
    dbg->name = gen_strdup(path ? path : "UNKNOWN");
    dbg->config = config;

    GFile *gf = gf_OpenRead(fp, path, dbg->name, quiet);
    bool ok = gf != nullptr;
    if (ok && gf->kind != GF_KIND_DBG && gf->kind != GF_KIND_DBO) {
        if (!quiet) ST_Error("\"%s\" is not a debug object (file kind %d)", dbg->name, gf->kind);
        ok = false;
    }
    dbg->gf = gf;
    if (ok) {
        dbg->kind = gf->kind;
        GReader r(gf, GF_HEADER_SIZE);
        dbg->version = int32_t(r.fixed32());
        ok = r.ok() && version_supported(dbg);
        if (ok) {
            dbg->magic = r.string();
            ok = r.ok();
            if (ok && !dbg->magic) ST_Warning("\"%s\" has a NULL magic string\n", dbg->name);
        }
        dbg->hdrPos = r.pos();
    }
    if (ok) return dbg;

    if (!quiet) ST_Error("failed to read \"%s\"", dbg->name);
    if (dbg->owned) {
        STDbg_Free(dbg);
    } else {
        free_fields(dbg);
    }
    return nullptr;
}

STDbg *STDbg_Read(STDbg *dbg) {
    if (!dbg || !dbg->gf) return nullptr;
    GFile *gf = dbg->gf;
    gf->quiet = 0;  // only the opening is quiet
    int64_t failPos = -1;
    bool ok;
    {
        GReader r(gf, dbg->hdrPos);
        read_header(dbg, r);
        ok = true;
        if (r.ok() && !flag(STFLAG_NoSanityCheck) && STDbg_CheckHeadSanity(dbg)) ok = corrupt(dbg);
        if (ok && ST_CheckStream(gf, 0, "reading .dbg header") != 0) ok = false;
        if (!ok) failPos = gf->base + r.pos();
    }
    if (ok) st::adopt_adr_mode(dbg->adrMode);
    if (ok) {
        int mapFlag = dbg->fIsDlOFile == 1 ? STFLAG_useFileMemoryMappingForDlo : STFLAG_useFileMemoryMappingForDbo;
        if (flag(mapFlag) && gf_Map(gf) != 0) ok = false;
        uint32_t selected = STDbg_TablesForConfig(dbg->config);
        for (int i = 0; i < STDBG_NUM_TABLES; ++i) dbg->tables[i].dir.skipped = !(selected >> i & 1);
        if (ok) ok = allocate_tables(dbg, gf);
        if (!ok) failPos = gf->base + dbg->hdrPos;
    }
    for (int i = 0; ok && i < int(sizeof read_order / sizeof read_order[0]); ++i) {
        ok = read_table(dbg, gf, read_order[i]);
        if (!ok) failPos = gf->base + dbg->tables[read_order[i]].dir.offset;
    }
    if (ok) {
        if (gf->image) dbg->image = gf_TakeImage(gf, &dbg->imageSize);
        gf_Close(gf);
        dbg->gf = gf = nullptr;
        if (!flag(STFLAG_NoSanityCheck) && STDbg_CheckSanity(dbg)) ok = corrupt(dbg);
    }
    if (ok) {
        dbg->loaded = 1;
        return dbg;
    }
    if (dbg->gf)
        ST_Error("failed while reading \"%s\" at 0x%I64x", dbg->name, failPos);
    else
        ST_Error("failed while reading \"%s\"", dbg->name);
    STDbg_Free(dbg);
    return nullptr;
}

STDbg *STDbg_Load(STDbg *dbg, FILE *fp, const char *path, int32_t config) {
    STDbg *opened = STDbg_Open(dbg, fp, path, config, 1, 0);
    return opened ? STDbg_Read(opened) : nullptr;
}

void STDbg_Free(STDbg *dbg) {
    if (!dbg) return;
    free_fields(dbg);
    if (dbg->owned) gen_free_fn(dbg);
}

// ------------------------------------------------------------ building and writing

STDbg *STDbg_Create(uint32_t kind) {
    STConfig_Init();
    STDbg *d = static_cast<STDbg *>(gen_calloc_fn(1, sizeof(STDbg)));
    d->owned = 1;
    d->kind = kind == GF_KIND_DBO ? GF_KIND_DBO : GF_KIND_DBG;
    d->version = STDBG_MAX_VERSION;
    d->adrMode = gadr_get_mode();
    d->adrEncoding = uint8_t(gadr_encoding_from_mode(d->adrMode));
    d->fIsDlOFile = d->kind == GF_KIND_DBO ? 1 : 0;
    d->fAdrLocated = 1;
    d->language = 0;
    d->iSymGlobal = -1;
    d->numTables = STDBG_NUM_TABLES;
    d->name = gen_strdup("UNKNOWN");
    return d;
}

uint32_t STDbg_AddString(STDbg *dbg, const char *s) {
    return st::add_string(op_double, &dbg->tables[STDBG_STRINGS], table_names[STDBG_STRINGS], s);
}

STIndex STDbg_AddProc(STDbg *dbg, const STDbg_Proc *p) {
    STTable &t = dbg->tables[STDBG_PROCS];
    if (t.count >= t.dir.max) STDbg_TableDouble(dbg, STDBG_PROCS, -1);
    STDbg_Proc &slot = static_cast<STDbg_Proc *>(t.data)[t.count];
    slot = *p;
    slot.dbg = dbg;
    t.dir.loaded = 1;
    return t.count++;
}

void STDbg_SetOpaqueTable(STDbg *dbg, int index, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size) {
    if (index < 0 || index >= STDBG_NUM_TABLES) return;
    st::set_opaque(&dbg->tables[index], max, aux, bytes, size);
}

int STDbg_Write(STDbg *dbg, FILE *fp, const char *path, const GFileOptions &opt, uint8_t **image, int64_t *size) {
    STConfig_Init();
    GFile *gf = gf_OpenWrite(fp, path, dbg->kind ? dbg->kind : uint32_t(GF_KIND_DBG), dbg->adrMode, opt);
    if (!gf) return -1;
    const bool wide = dbg->version >= 36;
    const int kept = dbg->numTables < STDBG_NUM_TABLES ? int(dbg->numTables) : int(STDBG_NUM_TABLES);
    int32_t maxima[STDBG_NUM_TABLES] = {};
    for (int i = 0; i < kept; ++i) {
        const STTable &t = dbg->tables[i];
        maxima[i] = t.opaque ? t.dir.max : (i == STDBG_STRINGS || i == STDBG_PROCS) ? t.count : 0;
    }
    write_header(dbg, gf, maxima);
    int result = ST_CheckStream(gf, 0, "writing .dbg header");
    for (int i = 0; i < kept; ++i) {
        const STTable &t = dbg->tables[i];
        if (maxima[i] == 0 && !(t.opaque && t.opaqueSize > 0)) continue;
        st::patch_offset(gf, dbg->dirPos, wide, i, gf_Pos(gf));
        if (t.opaque) {
            st::write_opaque(gf, &t);
        } else if (i == STDBG_STRINGS) {
            st::write_raw_table(gf, &t, strings_packed(dbg));
        } else {
            for (int32_t k = 0; k < t.count; ++k) write_proc(dbg, gf, static_cast<const STDbg_Proc *>(t.data)[k]);
            gf_PutEndMarker(gf);
        }
    }
    if (result == 0) result = ST_CheckStream(gf, 0, "fixing .dbg table offsets");
    if (image) {
        std::span<const uint8_t> out = gf_Output(gf);
        *size = int64_t(out.size());
        *image = static_cast<uint8_t *>(gen_memdup(out.data(), out.size()));
    }
    int closed = gf_CloseWrite(gf);
    return result != 0 ? result : closed;
}
