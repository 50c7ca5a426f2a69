// The symbol table: attached and detached name files with their reference
// counts, the built-in name file, loading a name file by path, and the
// release of name files and debug objects.
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgensys.h"
#include "st_load_internal.h"

namespace {

constexpr const char *SPECIAL_STRINGS[] = {"<<address_taken>>", "<<shared_object_not_loaded>>"};
constexpr int32_t SPECIAL_STRINGS_SIZE = 128;

bool flag(int n) { return STConfig_GetOption(n) != 0; }

bool attached(const STDnm *dnm, const STSymTab *symTab) {
    return dnm->symTab == symTab && dnm->slot >= 0 && dnm->slot < symTab->numSlots && symTab->dnms[dnm->slot] == dnm;
}

void append(STDnm ***list, int32_t *count, STDnm *dnm) {
    *list = static_cast<STDnm **>(gen_realloc_array(*list, *count + 1, sizeof(STDnm *)));
    (*list)[(*count)++] = dnm;
}

// True when the name file was one of the table's detached ones.
bool remove_detached(STSymTab *symTab, STDnm *dnm) {
    for (int32_t i = 0; i < symTab->numDetached; ++i) {
        if (symTab->detached[i] != dnm) continue;
        std::memmove(symTab->detached + i, symTab->detached + i + 1,
                     size_t(symTab->numDetached - i - 1) * sizeof(STDnm *));
        --symTab->numDetached;
        return true;
    }
    return false;
}

void recompute_order(STSymTab *symTab) {
    symTab->order = static_cast<int32_t *>(gen_realloc_array(symTab->order, symTab->numSlots + 1, sizeof(int32_t)));
    symTab->numOrder = 0;
    for (int32_t s = 0; s < symTab->numSlots; ++s)
        if (symTab->dnms[s]) symTab->order[symTab->numOrder++] = s;
}

bool same_program(const STDnm *a, const STDnm *b) {
    return gen_same_file(a->progPath, b->progPath) && a->progMtime == b->progMtime;
}

STTime file_time(const char *path) {
    int64_t t = 0;
    if (!path || gen_file_mtime(path, &t) != 0) return 0;
    return ST_TimeToTime(time_t(t));
}

// The built-in name file: a few strings and one entry that walks skip.
STDnm *make_special_dnm() {
    STDnm *d = STDnm_Create();
    for (char **p : {&d->name, &d->dnmPath, &d->dlaPath}) gen_strreplace(p, ST_SPECIAL_DNM_NAME);
    d->slot = d->prevSlot = -1;
    d->loaded = 1;
    if (flag(STFLAG_simpleSpecialDnm)) return d;
    STDnm_AddString(d, "");
    for (const char *s : SPECIAL_STRINGS) STDnm_AddString(d, s);
    uint32_t own = STDnm_AddString(d, ST_SPECIAL_DNM_NAME);
    while (STDnm_TableCount(d, STDNM_STRINGS) < SPECIAL_STRINGS_SIZE) STDnm_AddString(d, "");
    static const uint8_t label[16] = {};
    STDnm_SetOpaqueTable(d, STDNM_LABELS, 1, 0, label, sizeof label);
    d->tables[STDNM_LABELS].count = 1;
    d->tables[STDNM_LABELS].dir.loaded = 1;
    STDnm_DloFile f{};
    f.name = f.baseName = f.path = own;
    f.iTopLevelSourceFile = f.iTopLevelSourceFile2 = -1;
    f.language = 31;
    f.noLongerLoadable = 1;
    STDnm_AddDloFile(d, &f);
    st::link_entries(d);
    return d;
}

bool parse_decimal(const char *text, int64_t lo, int64_t hi, int32_t *out) {
    if (!text || !*text) return false;
    int64_t v = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > hi) return false;
    }
    if (v < lo) return false;
    *out = int32_t(v);
    return true;
}

}  // namespace

namespace st {

void note(const char *fmt, ...) {
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    gen_vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    gen_eventlog_note("libst", buf);
}

void link_entries(STDnm *dnm) {
    int32_t count = 0;
    auto *e = static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES));
    count = STDnm_TableCount(dnm, STDNM_DLO_FILES);
    for (int32_t i = 0; e && i < count; ++i) e[i].owner = dnm;
}

bool is_attached(const STDnm *dnm) { return dnm->symTab && attached(dnm, dnm->symTab); }

}  // namespace st

// ------------------------------------------------------------ the symbol table

STSymTab *ST_CreateSymTab(void *, void *, void *, void *) {
    STConfig_Init();
    auto *symTab = static_cast<STSymTab *>(gen_calloc_fn(1, sizeof(STSymTab)));
    symTab->language = 31;
    symTab->dla.slot = -1;
    STDnm *special = make_special_dnm();
    if (ST_AttachDnm(symTab, special, 0, 0) != 0) {
        STDnm_Free(special);
        ST_DestroySymTab(symTab);
        return nullptr;
    }
    return symTab;
}

void ST_DestroySymTab(STSymTab *symTab) {
    if (!symTab) return;
    symTab->dla.nesting = 0;
    st::close_dla_cache(symTab);
    for (int32_t s = 0; s < symTab->numSlots; ++s)
        if (STDnm *d = symTab->dnms[s]) ST_UnloadDnm(symTab, d, 1);
    while (symTab->numDetached > 0) STDnm_DetachFrom(symTab->detached[--symTab->numDetached]);
    gen_free_fn(symTab->dnms);
    gen_free_fn(symTab->detached);
    gen_free_fn(symTab->order);
    gen_free_fn(symTab);
}

// ------------------------------------------------------------ name files

STDnm *ST_LoadDnmFile(STSymTab *symTab, const char *progPath, const char *dnmPath, int32_t config, int replace) {
    const char *path = dnmPath ? dnmPath : progPath;
    if (!path) return nullptr;
    STConfig_Init();
    char *shown = st::with_extension(path, ".dnm");
    if (flag(STFLAG_reportDnmLoads)) ST_Info("loading \"%s\"", shown);
    st::note("ST_LoadDnmFile: %s", shown);
    gen_free_fn(shown);
    STDnm *dnm = STDnm_Read(nullptr, nullptr, path, config);
    if (!dnm) return nullptr;
    dnm->slot = dnm->prevSlot = -1;
    st::link_entries(dnm);
    dnm->progPath = gen_strdup(progPath);
    dnm->progPath2 = gen_strdup(progPath);
    dnm->progMtime = file_time(progPath);
    dnm->dlaMtime = file_time(dnm->dlaPath);
    if (symTab) {
        ST_AttachDnm(symTab, dnm, replace, 0);
        if (!attached(dnm, symTab)) {
            // Refused, or the same name file is attached already: the table
            // keeps this copy with its detached ones, to release it.
            append(&symTab->detached, &symTab->numDetached, dnm);
            dnm->symTab = symTab;
            STDnm_AttachTo(dnm);
        }
    }
    return dnm;
}

int ST_AttachDnm(STSymTab *symTab, STDnm *dnm, int replace, int) {
    if (!symTab || !dnm) return 1;
    if (attached(dnm, symTab)) return 0;
    for (int32_t s = 0; s < symTab->numSlots; ++s) {
        STDnm *other = symTab->dnms[s];
        if (!other || !gen_same_file(other->dnmPath, dnm->dnmPath)) continue;
        if (same_program(other, dnm)) return 0;
        if (!replace) {
            ST_Warning("Attempted to attach already loaded .dnm \"%s\"", dnm->name);
            return 7;
        }
        ST_UnloadDnm(symTab, other, flag(STFLAG_freeReplacedDnm) ? 1 : 0);
    }
    if (flag(STFLAG_reportDnmAttaches)) ST_Info("attaching \"%s\"", dnm->name);
    int32_t slot = -1;
    if (dnm->symTab == symTab && dnm->prevSlot >= 0 && dnm->prevSlot < symTab->numSlots && !symTab->dnms[dnm->prevSlot])
        slot = dnm->prevSlot;
    if (slot < 0) {
        int32_t last = -1;
        for (int32_t s = 0; s < symTab->numSlots; ++s)
            if (symTab->dnms[s]) last = s;
        slot = last + 1;
        if (slot >= symTab->numSlots) {
            symTab->dnms =
                static_cast<STDnm **>(gen_realloc_array(symTab->dnms, symTab->numSlots + 1, sizeof(STDnm *)));
            symTab->dnms[symTab->numSlots++] = nullptr;
        }
    }
    // The table holds one reference to each of its name files, attached or
    // detached.
    const bool held = remove_detached(symTab, dnm);
    symTab->dnms[slot] = dnm;
    dnm->symTab = symTab;
    dnm->slot = slot;
    if (!held) STDnm_AttachTo(dnm);
    recompute_order(symTab);

    int32_t count = 0;
    const STDnm_DloFile *dlos = STDnm_DloFiles(dnm, &count);
    for (int32_t i = 0; i < count; ++i)
        if (dlos[i].language == 3) symTab->language = 3;
    ST_NoteWcharAttributes(symTab, STDnm_Attribute(dnm, "scope.wchar_size"),
                           STDnm_Attribute(dnm, "scope.wchar_signed"));
    return 0;
}

void ST_DetachDnm(STSymTab *symTab, STDnm *dnm, int release) {
    if (!symTab || !dnm || !attached(dnm, symTab)) return;
    if (flag(STFLAG_reportDnmAttaches)) ST_Info("detaching \"%s\"", dnm->name);
    if (symTab->dla.slot == dnm->slot) {
        const int32_t nesting = symTab->dla.nesting;
        symTab->dla.nesting = 0;
        st::close_dla_cache(symTab);
        symTab->dla.nesting = nesting;
    }
    symTab->dnms[dnm->slot] = nullptr;
    dnm->prevSlot = dnm->slot;
    dnm->slot = -1;
    recompute_order(symTab);
    if (!release) append(&symTab->detached, &symTab->numDetached, dnm);
}

void ST_UnloadDnm(STSymTab *symTab, STDnm *dnm, int release) {
    ST_DetachDnm(symTab, dnm, release);
    if (!release) return;
    if (flag(STFLAG_reportDnmLoads)) ST_Info("unloading \"%s\"", dnm->name);
    STDnm_DetachFrom(dnm);
}

void STDnm_AttachTo(STDnm *dnm) {
    st::note("STDnm_AttachTo: %s", dnm->name);
    ++dnm->refCount;
}

void STDnm_DetachFrom(STDnm *dnm) {
    st::note("STDnm_DetachFrom: %s", dnm->name);
    if (dnm->refCount <= 1) {
        dnm->refCount = 0;
        STDnm_Free(dnm);
        return;
    }
    --dnm->refCount;
}

void STDnm_Free(STDnm *dnm) {
    if (!dnm) return;
    st::note("STDnm_Free: %s", dnm->name);
    int32_t count = 0;
    auto *dlos = static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES));
    count = dlos ? STDnm_TableCount(dnm, STDNM_DLO_FILES) : 0;
    auto drop = [&](int32_t i) {
        STDbg *dbg = dlos[i].dbg;
        if (!dbg) return;
        st::forget_temp(dbg);
        dlos[i].dbg = nullptr;
        dbg->dlo = nullptr;
        dbg->dnm = nullptr;
        STDbg_DetachFrom(dbg);
    };
    // A kept name file knows which of its entries were ever given an object.
    if (const std::vector<int32_t> *touched = st::dnm_cache_touched(dnm)) {
        const std::vector<int32_t> given = *touched;
        for (int32_t i : given)
            if (i < count) drop(i);
    } else {
        for (int32_t i = 0; i < count; ++i) drop(i);
    }
    if (STDnm_TableCount(dnm, STDNM_DLO_FILE_UPDATE_LINKS) > 0)
        ST_Warning("[STDnm_Free]: update links present for \"%s\"", dnm->name);
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->progPath));
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->progPath2));
    STDnm_Release(dnm);
}

const char *STDnm_Attribute(const STDnm *, const char *) {
    // The reader leaves the "Attributes" records unread (their layout is
    // not interpreted), so no name file brings attributes along.
    return nullptr;
}

int ST_NoteWcharAttributes(STSymTab *symTab, const char *sizeText, const char *signedText) {
    if (!symTab || (!sizeText && !signedText)) return 0;
    int32_t size = 0, sign = 0;
    if (!parse_decimal(sizeText, 8, 64, &size)) {
        ST_Warning("Invalid value for attribute \"scope.wchar_size\": %s\n", sizeText ? sizeText : "(null)");
        return 1;
    }
    if (!parse_decimal(signedText, 0, 1, &sign)) {
        ST_Warning("Invalid value for attribute \"scope.wchar_signed\": %s\n", signedText ? signedText : "(null)");
        return 1;
    }
    if (!symTab->wcharKnown) {
        symTab->wcharKnown = 1;
        symTab->wcharSize = size;
        symTab->wcharSigned = sign;
    } else if (symTab->wcharSize != size || symTab->wcharSigned != sign) {
        ST_Warning("Got inconsistent information for wchar_t: size %d bits vs %d bits, sign %d vs %d\n",
                   symTab->wcharSize, size, symTab->wcharSigned, sign);
        return 1;
    }
    return 0;
}

// ------------------------------------------------------------ debug objects

void STDbg_AttachTo(STDbg *dbg) { ++dbg->refCount; }

void STDbg_DetachFrom(STDbg *dbg) {
    if (!dbg) return;
    if (dbg->refCount == 0) {
        ST_Warning("[STDbg_DetachFrom]: refCount underflow");
    } else if (--dbg->refCount > 0) {
        return;
    }
    st::forget_temp(dbg);
    if (dbg->dlo && dbg->dlo->dbg == dbg) dbg->dlo->dbg = nullptr;
    STDbg_Free(dbg);
}
