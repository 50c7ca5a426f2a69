// Debug objects out of a program's .dla: the cached archive handle, loading
// and unloading the objects a name file lists (permanently or into the
// temporary load slots), objects met directly in the input, and the walk
// over every procedure of a program.
#include <cerrno>
#include <cstring>
#include <string>

#include "genout.h"
#include "indgen.h"
#include "instream.h"
#include "indgensys.h"
#include "platform.h"
#include "st_load_internal.h"

namespace {

constexpr int REBUILT_WARNINGS = 4;

bool flag(int n) { return STConfig_GetOption(n) != 0; }

// Result codes of the magic-string comparison.
enum : int { MAGIC_EQUAL = 0, MAGIC_NO_DBG = 1, MAGIC_NO_DLO = 2, MAGIC_DIFFERENT = 3 };

int compare_magic(const char *dbg, const char *dlo) {
    if (!dbg && !dlo) return MAGIC_EQUAL;
    if (!dbg) return MAGIC_NO_DBG;
    if (!dlo) return MAGIC_NO_DLO;
    return std::strcmp(dbg, dlo) == 0 ? MAGIC_EQUAL : MAGIC_DIFFERENT;
}

bool is_archive(FILE *fp) {
    char head[10] = {};
    size_t got = InStream(fp).read(head, sizeof head);
    return (got >= 8 && std::memcmp(head, "!<arch>\n", 8) == 0) ||
           (got == 10 && std::memcmp(head, "!<arch64>\n", 10) == 0);
}

// "could not open" with or without the system's reason, as the switch says.
void report_open_failure(const char *what, const char *path, int err) {
    if (!gen_switch_get(&GSwitch_ShowReasonForFileOpenErrorInSymTab)) {
        ST_Error("%scould not open \"%s\"", what, path);
        return;
    }
    const char *text = err ? plat::error_text(err) : nullptr;
    if (text && *text)
        ST_Error("%scould not open \"%s\" (errno %d, %s)", what, path, err, text);
    else
        ST_Error("%scould not open \"%s\" (errno %d)", what, path, err);
}

STTime file_time(const char *path) {
    int64_t t = 0;
    if (!path || gen_file_mtime(path, &t) != 0) return 0;
    return ST_TimeToTime(time_t(t));
}

void check_rebuilt(STDnm *dnm) {
    if (dnm->dlaMtime == 0) return;
    if (file_time(dnm->dlaPath) == dnm->dlaMtime) {
        dnm->rebuiltWarnings = 0;
        return;
    }
    if (dnm->rebuiltWarnings >= REBUILT_WARNINGS) return;
    ST_Warning("\"%s\" appears to have been rebuilt", dnm->dlaPath);
    if (++dnm->rebuiltWarnings == REBUILT_WARNINGS) ST_Warning("\"%s\" warnings will no longer be given", dnm->dlaPath);
}

STSymTab *cache_owner(const STDnm *dnm) { return st::is_attached(dnm) ? dnm->symTab : nullptr; }

// The name file's .dla, open and checked to be an archive; the cached handle
// when it is this name file's. Null after the open failure was reported
// (errno tells why; 0 for a file that is not an archive).
FILE *open_dla(STDnm *dnm) {
    STSymTab *symTab = cache_owner(dnm);
    if (symTab && symTab->dla.fp && symTab->dla.slot == dnm->slot) return symTab->dla.fp;
    FILE *fp = dnm->dlaPath ? gen_fopen(dnm->dlaPath, "rb") : nullptr;
    if (!fp) {
        int err = dnm->dlaPath ? errno : ENOENT;
        report_open_failure("", dnm->dlaPath ? dnm->dlaPath : "(null)", err);
        errno = err;
        return nullptr;
    }
    if (!is_archive(fp)) {
        std::fclose(fp);
        errno = 0;
        return nullptr;
    }
    if (symTab && symTab->dla.nesting > 0) {
        if (symTab->dla.fp) std::fclose(symTab->dla.fp);
        symTab->dla.fp = fp;
        symTab->dla.slot = dnm->slot;
    }
    return fp;
}

void release_dla(const STDnm *dnm, FILE *fp) {
    STSymTab *symTab = cache_owner(dnm);
    if (symTab && symTab->dla.fp == fp) return;
    if (symTab && symTab->dla.fp && symTab->dla.slot == dnm->slot)
        ST_Error("Inconsistent file pointer for dla file: %s\n", dnm->dlaPath);
    std::fclose(fp);
}

uint32_t tables_read(const STDbg *dbg) {
    uint32_t mask = 0;
    for (int i = 0; i < STDBG_NUM_TABLES; ++i)
        if (!dbg->tables[i].dir.skipped) mask |= 1u << i;
    return mask;
}

int32_t entry_index(const STDnm *dnm, const STDnm_DloFile *e) {
    int32_t count = 0;
    const STDnm_DloFile *dlos = STDnm_DloFiles(dnm, &count);
    return dlos && e >= dlos && e < dlos + count ? int32_t(e - dlos) : -1;
}

void link(STDnm *dnm, STDnm_DloFile *e, STDbg *dbg, int64_t index) {
    st::dnm_cache_touch(dnm, index);
    e->dbg = dbg;
    dbg->dnm = dnm;
    dbg->dlo = e;
    dbg->iDlo = ST_Int64ToIndex(index);
    dbg->symTab = dnm->symTab;
}

// Loads the object that entry `e` of `dnm` lists out of the name file's .dla.
STDbg *load_listed(STDnm *dnm, STDnm_DloFile *e, int32_t config, int32_t loadType) {
    if (e->failed) return nullptr;
    const char *base = STDnm_String(dnm, e->baseName);
    std::string display = std::string(dnm->dlaPath ? dnm->dlaPath : "") + "(" + (base ? base : "") + ")";
    if (flag(STFLAG_reportDloLoads)) ST_Info("loading \"%s\"", display.c_str());

    FILE *fp = open_dla(dnm);
    if (!fp) {
        report_open_failure(".dlo load failed, ", display.c_str(), errno);
        st::dnm_cache_touch(dnm, entry_index(dnm, e));
        e->failed = 1;
        return nullptr;
    }
    check_rebuilt(dnm);
    const int64_t size = InStream(fp).size();
    if (e->offset >= uint64_t(INT64_MAX) || int64_t(e->offset) >= size ||
        gen_fseek64(fp, int64_t(e->offset), SEEK_SET) != 0) {
        ST_Error(".dlo load failed, could not seek to \"%s\"", display.c_str());
        release_dla(dnm, fp);
        st::dnm_cache_touch(dnm, entry_index(dnm, e));
        e->failed = 1;
        return nullptr;
    }
    const bool allowStale = (e->flags >> 1 & 1) != 0;
    STDbg *dbg = STDbg_OpenChecked(fp, dnm->dlaPath, config, STDnm_String(dnm, e->magic), allowStale);
    if (!dbg) {
        ST_Error(".dlo load failed for \"%s\"", display.c_str());
        st::note("exec mtime from symbol: 0x%x", uint32_t(dnm->progMtime));
        st::note("exec mtime from file: 0x%x", uint32_t(file_time(dnm->progPath)));
        release_dla(dnm, fp);
        st::dnm_cache_touch(dnm, entry_index(dnm, e));
        e->failed = 1;
        return nullptr;
    }
    release_dla(dnm, fp);
    link(dnm, e, dbg, entry_index(dnm, e));
    e->loadType = loadType;
    dbg->loadType = loadType;
    st::adopt_adr_mode(dbg->adrMode);
    return dbg;
}

bool browse_config(int32_t config) {
    return config == 7 || config == 8 || config == 11 || config == 13 || config == 14 || config == 16;
}

// The entry that follows the iterator's position, loaded; null at the end.
STDbg *next_object(STProcIter *it) {
    STSymTab *symTab = it->symTab;
    while (symTab && it->iOrder < symTab->numOrder) {
        if (it->iOrder < 0) {
            it->iOrder = 0;
            it->iDlo = -1;
            continue;
        }
        STDnm *dnm = symTab->dnms[symTab->order[it->iOrder]];
        int32_t count = 0;
        auto *dlos = static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES));
        count = dlos ? STDnm_TableCount(dnm, STDNM_DLO_FILES) : 0;
        if (++it->iDlo >= count) {
            ++it->iOrder;
            it->iDlo = -1;
            continue;
        }
        STDnm_DloFile *e = &dlos[it->iDlo];
        if (e->noLongerLoadable) continue;
        if (STDbg *dbg = ST_LoadDloFileFromDloFileInfo(e, it->config, it->loadType)) return dbg;
    }
    return nullptr;
}

}  // namespace

namespace st {

char *with_extension(const char *path, const char *ext) {
    const char *base = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    const char *dot = std::strrchr(base, '.');
    size_t keep = dot ? size_t(dot - path) : std::strlen(path);
    char *stem = gen_strndup(path, int64_t(keep));
    char *result = gen_strcat2(stem, ext);
    gen_free_fn(stem);
    return result;
}

void forget_temp(STDbg *dbg) {
    STSymTab *symTab = dbg->symTab;
    if (!symTab) return;
    for (STDbg *&slot : symTab->temp)
        if (slot == dbg) slot = nullptr;
}

void close_dla_cache(STSymTab *symTab) {
    if (symTab->dla.nesting > 0) return;
    if (symTab->dla.fp) std::fclose(symTab->dla.fp);
    symTab->dla.fp = nullptr;
    symTab->dla.slot = -1;
}

}  // namespace st

// ------------------------------------------------------------ the .dla handle

void ST_BeginDlaCaching(STSymTab *symTab) {
    if (!symTab || flag(STFLAG_noDlaFpCaching)) return;
    ++symTab->dla.nesting;
}

void ST_EndDlaCaching(STSymTab *symTab) {
    if (!symTab || symTab->dla.nesting <= 0) return;
    if (--symTab->dla.nesting == 0) st::close_dla_cache(symTab);
}

// ------------------------------------------------------------ listed debug objects

STDbg *STDbg_OpenChecked(FILE *fp, const char *path, int32_t config, const char *magic, int allowStale) {
    STDbg *dbg = STDbg_Open(nullptr, fp, path, config, 0, 0);
    if (!dbg) return nullptr;
    int code = compare_magic(dbg->magic, magic);
    if (code != MAGIC_EQUAL && !(allowStale && code == MAGIC_DIFFERENT)) {
        ST_Error("magic from dbg (%s) does not match magic from dlo (%s): %d", dbg->magic ? dbg->magic : "null",
                 magic ? magic : "null", code);
        if (!flag(STFLAG_NoSanityCheck)) ST_ReportCorruption(nullptr, 0, path);
        STDbg_Free(dbg);
        return nullptr;
    }
    dbg = STDbg_Read(dbg);
    if (!dbg) return nullptr;
    dbg->iDlo = -1;
    dbg->tablesLoaded = tables_read(dbg);
    dbg->refCount = 1;
    return dbg;
}

STDbg *ST_LoadDloFileFromDloFileInfo(STDnm_DloFile *entry, int32_t config, int32_t loadType) {
    if (!entry || !entry->owner) return nullptr;
    STDnm *dnm = entry->owner;
    if (ST_defaultLoadConfig != ST_DEFAULT_LOAD_CONFIG && loadType == ST_LOADTYPE_PERMANENT)
        config = ST_defaultLoadConfig;
    if (STDbg *dbg = entry->dbg) {
        if (dbg->tablesLoaded == STDBG_ALL_TABLES || dbg->config == config) return dbg;
        uint32_t need = STDbg_TablesForConfig(config);
        if ((dbg->tablesLoaded & need) == need) return dbg;
        bool silent = (flag(STFLAG_dontUnloadBrowseInfo) && browse_config(dbg->config)) || dbg->loadType == 4;
        if (!silent) ST_Warning("[ST_LoadDloFileFromDloFileInfo]: attempting full load of a partially loaded dbo");
        ST_UnloadDloFile(entry);
    }
    if (loadType < 0 || loadType >= ST_NUM_LOAD_TYPES) {
        ST_Error("[ST_LoadDloFileFromDloFileInfo] bad loadType(%d)", loadType);
        loadType = ST_LOADTYPE_PERMANENT;
    }
    STSymTab *symTab = st::is_attached(dnm) ? dnm->symTab : nullptr;
    const bool temporary = loadType != ST_LOADTYPE_PERMANENT;
    if (temporary && symTab && symTab->temp[loadType]) {
        STDbg *old = symTab->temp[loadType];
        if (old->dlo) ST_UnloadDloFile(old->dlo);
        symTab->temp[loadType] = nullptr;
    }
    STDbg *dbg = load_listed(dnm, entry, config, loadType);
    if (dbg && temporary && symTab) symTab->temp[loadType] = dbg;
    return dbg;
}

STDbg *ST_LoadDloFile(STDnm *dnm, int32_t iDlo, int32_t config, int32_t loadType) {
    int32_t count = 0;
    auto *dlos = dnm ? static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES)) : nullptr;
    count = dlos ? STDnm_TableCount(dnm, STDNM_DLO_FILES) : 0;
    if (iDlo < 0 || iDlo >= count) {
        ST_Error("[ST_LoadDloFile]: bad iDlo (%d)", iDlo);
        return nullptr;
    }
    return ST_LoadDloFileFromDloFileInfo(&dlos[iDlo], config, loadType);
}

void ST_UnloadDloFile(STDnm_DloFile *entry) {
    if (!entry || !entry->dbg) return;
    STDbg *dbg = entry->dbg;
    STDnm *dnm = entry->owner;
    if (flag(STFLAG_reportDloLoads) && dnm) {
        const char *base = STDnm_String(dnm, entry->baseName);
        ST_Info("unloading \"%s(%s)\"", dnm->dlaPath ? dnm->dlaPath : "", base ? base : "");
    }
    st::forget_temp(dbg);
    entry->dbg = nullptr;
    dbg->dlo = nullptr;
    STDbg_DetachFrom(dbg);
    if (dnm && !st::is_attached(dnm)) {
        st::dnm_cache_touch(dnm, entry_index(dnm, entry));
        entry->noLongerLoadable = 1;
    }
}

int ST_UnloadTempDloFilesFromLoadType(STSymTab *symTab, int32_t loadType) {
    if (loadType < 2 || loadType > 5) {
        ST_Error("[ST_UnloadTempDloFilesFromLoadType] bad loadType(%d)", loadType);
        return -1;
    }
    if (!symTab) return 0;
    if (STDbg *dbg = symTab->temp[loadType]) {
        symTab->temp[loadType] = nullptr;
        if (dbg->dlo)
            ST_UnloadDloFile(dbg->dlo);
        else
            STDbg_DetachFrom(dbg);
    }
    return 0;
}

// ------------------------------------------------------------ objects met directly

STDbg *ST_LoadDboFromDla(STSymTab *symTab, STDnm **dnm, FILE *fp, const char *memberPath, const char *archivePath,
                         uint64_t memberOffset, int32_t config) {
    STDbg *dbg = STDbg_Load(nullptr, fp, memberPath, config);
    if (!dbg) return nullptr;
    dbg->iDlo = -1;
    dbg->tablesLoaded = tables_read(dbg);
    dbg->refCount = 1;
    dbg->symTab = symTab;
    bool fresh = false;
    if (!*dnm) {
        // Only an archive member has a name file beside it: a .dbo on its
        // own does not know its program.
        if (dbg->dnmStringBase != 0 && archivePath) {
            *dnm = st::load_member_dnm(archivePath, 4);
            fresh = true;
        } else {
            st::adopt_adr_mode(dbg->adrMode);
        }
    }
    if (!*dnm) return dbg;

    int32_t count = 0;
    auto *dlos = static_cast<STDnm_DloFile *>(STDnm_TableEntries(*dnm, STDNM_DLO_FILES));
    count = dlos ? STDnm_TableCount(*dnm, STDNM_DLO_FILES) : 0;
    // The first entry at the member's offset, else the first with its magic
    // string; a name file just taken from the cache has both indexed.
    int32_t found = -1;
    if (!fresh || !st::dnm_cache_find_offset(*dnm, memberOffset, &found)) {
        for (int32_t i = 0; i < count && found < 0; ++i)
            if (dlos[i].offset == memberOffset) found = i;
    }
    if (found < 0 && dbg->magic) {
        if (!fresh || !st::dnm_cache_find_magic(*dnm, dbg->magic, &found)) {
            for (int32_t i = 0; i < count && found < 0; ++i) {
                const char *magic = STDnm_String(*dnm, dlos[i].magic);
                if (magic && std::strcmp(magic, dbg->magic) == 0) found = i;
            }
        }
        if (found >= 0)
            ST_Warning(".dnm file offset for \"%s\" is out of sync with .dla archive", memberPath ? memberPath : "");
    }
    if (found < 0) {
        // The name file does not list the object: nothing links them.
        STDnm_Free(*dnm);
        *dnm = nullptr;
        return dbg;
    }
    link(*dnm, &dlos[found], dbg, found);
    dbg->symTab = symTab;
    return dbg;
}

void ST_UnloadDboFromDla(STDbg *dbg, STDnm **dnm, int release) {
    if (!dbg) return;
    if (dnm && *dnm) {
        int32_t count = STDnm_TableCount(*dnm, STDNM_DLO_FILES);
        int32_t index = dbg->dlo ? entry_index(*dnm, dbg->dlo) : -1;
        if (dbg->dlo && dbg->dlo->dbg == dbg) dbg->dlo->dbg = nullptr;
        dbg->dlo = nullptr;
        dbg->dnm = nullptr;
        if (release != 0 || index == count - 1) {
            STDnm_Free(*dnm);
            *dnm = nullptr;
        }
    }
    st::forget_temp(dbg);
    STDbg_Free(dbg);
}

// ------------------------------------------------------------ the procedure walk

void ST_ProcIterInit(STProcIter *iter, STSymTab *symTab, const void *filter, int32_t config, int unloadTemps) {
    *iter = STProcIter{};
    iter->symTab = symTab;
    iter->filter = filter;
    iter->config = config;
    iter->loadType = unloadTemps ? 2 : ST_LOADTYPE_PERMANENT;
    iter->iOrder = -1;
    iter->iDlo = -1;
    if (symTab && iter->loadType == 2) ST_UnloadTempDloFilesFromLoadType(symTab, 2);
    ST_BeginDlaCaching(symTab);
}

const STDbg_Proc *ST_ProcIterNext(STProcIter *iter) {
    for (;;) {
        if (iter->dbg) {
            int32_t count = 0;
            const STDbg_Proc *procs = STDbg_Procs(iter->dbg, &count);
            if (iter->iProc < count) return &procs[iter->iProc++];
        }
        iter->dbg = next_object(iter);
        iter->iProc = 0;
        if (!iter->dbg) return nullptr;
    }
}

void ST_ProcIterEnd(STProcIter *iter) {
    STSymTab *symTab = iter->symTab;
    if (symTab && iter->loadType != ST_LOADTYPE_PERMANENT) ST_UnloadTempDloFilesFromLoadType(symTab, iter->loadType);
    ST_EndDlaCaching(symTab);
    iter->iOrder = -1;
    iter->iDlo = -1;
    iter->dbg = nullptr;
    iter->iProc = 0;
}
