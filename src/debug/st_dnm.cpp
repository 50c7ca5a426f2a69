// Name files (.dnm): header, table directory, the "Strings", "Sections" and
// "Dlo Files" tables with their inline index tables, sanity checks, and the
// writer of the same layout.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "indgen.h"
#include "indgeninit.h"
#include "st_load_internal.h"

namespace {

constexpr const char *table_names[STDNM_NUM_TABLES] = {
    "Strings",
    "Sections",
    "Dlo Files",
    "Files",
    "Files / Base Name",
    "Files / Rel Name",
    "Files / Full Name",
    "Labels",
    "Labels / Adr",
    "Labels / Use Name",
    "Labels / Mangled Name",
    "Labels / Link Name",
    "Types / Use Name",
    "Types / Mangled Name",
    "Libraries",
    "Updates",
    "Static Labels",
    "Dlo Files / Offset",
    "Dlo File Update Links",
    "Label Update Links",
    "Linked Againsts",
    "Labels / Against Adr",
    "Labels / Reg",
    "Labels / RegPlusOffset",
    "Stubs",
    "Stubs / Link Name",
    "Stubs / Adr",
    "Unqualified Members",
    "Types / Use Name",
    "Sections / Adr",
    "Attributes",
    "HashDefineHashs",
    "HashDefines",
    "Cpp Types / Rev Use Name",
    "TraceRegions",
    "Header Symbols",
};

constexpr const char *op_double = "STDnm_TableDouble";

bool flag(int n) { return STConfig_GetOption(n) != 0; }

int32_t entry_size(int index) {
    switch (index) {
        case STDNM_SECTIONS:
            return int32_t(sizeof(STDnm_Section));
        case STDNM_DLO_FILES:
            return int32_t(sizeof(STDnm_DloFile));
        case STDNM_DLO_FILES_BY_OFFSET:
        case STDNM_DLO_FILE_UPDATE_LINKS:
        case STDNM_SECTIONS_BY_ADR:
            return 4;
        default:
            return 1;
    }
}

// Tables stored right after another table's records, from a version on.
bool inline_present(int index, int32_t version) {
    switch (index) {
        case STDNM_DLO_FILES_BY_OFFSET:
            return version >= 17;
        case STDNM_DLO_FILE_UPDATE_LINKS:
            return version >= 22;
        case STDNM_SECTIONS_BY_ADR:
            return version >= 30;
        default:
            return false;
    }
}

bool is_inline(int index) {
    return index == STDNM_DLO_FILES_BY_OFFSET || index == STDNM_DLO_FILE_UPDATE_LINKS || index == STDNM_SECTIONS_BY_ADR;
}

bool strings_packed(const STDnm *d) { return d->version >= 37 && d->encodingType == 0; }

void free_header_strings(STDnm *d) {
    gen_free_and_clear(reinterpret_cast<void **>(&d->magic));
    gen_free_and_clear(reinterpret_cast<void **>(&d->magic2));
    gen_free_and_clear(reinterpret_cast<void **>(&d->string3));
    gen_free_and_clear(reinterpret_cast<void **>(&d->string4));
}

int32_t strings_size(const STDnm *d) {
    const STTable &t = d->tables[STDNM_STRINGS];
    return t.dir.loaded ? t.count : t.dir.max;
}

int32_t table_count(const STDnm *d, int index) {
    const STTable &t = d->tables[index];
    return t.dir.loaded ? t.count : t.dir.max;
}

// ------------------------------------------------------------ header

// The version rule; false when the file cannot be read.
bool version_supported(const STDnm *d) {
    if (d->version < STDNM_MIN_VERSION) {
        ST_Error("\"%s\" has version %d, which is no longer supported", d->name, d->version);
        return false;
    }
    if (d->version == STDNM_DEV_VERSION) {
        ST_Warning("\"%s\" has version %d, which is the development version", d->name, d->version);
    } else if (d->version > STDNM_DEV_VERSION) {
        const char *prog = gen_getprogname();
        ST_Error("\"%s\" has version %d, %s only supports up to version %d", d->name, d->version,
                 prog && *prog ? prog : "this utility", STDNM_MAX_VERSION);
        return false;
    }
    return true;
}

// Reads the header after the container header. False on a version that is
// not supported; a short file leaves the reader failed.
bool read_header(STDnm *d, GReader &r) {
    const int32_t v = d->version = int32_t(r.fixed32());
    if (!r.ok()) return true;
    if (!version_supported(d)) return false;
    if (v >= 16) d->magic = r.string();
    d->magic2 = v >= 20 ? r.string() : gen_strdup(d->magic);
    if (v >= 16) d->string3 = r.string();
    d->string4 = v >= 21 ? r.string() : gen_strdup(d->string3);
    d->adrEncoding = r.u8();
    d->endianFlag = r.u8();
    for (uint8_t &b : d->bytesA) b = r.u8();
    d->byte16 = v >= 16 ? r.u8() : 0;
    if (!r.ok()) return true;
    d->adrMode = gadr_mode_from_encoding(d->adrEncoding);
    d->lowAdr = r.adr();
    if (v >= 13)
        d->highAdr = r.adr();
    else
        gadr_set_invalid(d->highAdr);
    if (v >= 19) {
        d->byte19a = r.u8();
        d->objectModuleFormat = r.u8();
        d->objectModuleType = r.u8();
        d->byte19b = r.u8();
    }
    d->bytesPerTextAdrUnit = d->bytesPerDataAdrUnit = 1;
    if (v >= 25) {
        for (uint8_t &b : d->bytes25a) b = r.u8();
        if (v < 32) {
            uint8_t b = r.u8();
            if (b == 0) b = 1;
            d->bytesPerTextAdrUnit = b < 16 ? b : uint8_t(b & 15);
            d->bytesPerDataAdrUnit = b < 16 ? b : uint8_t(b >> 4);
        } else {
            d->bytesPerTextAdrUnit = r.u8();
            d->bytesPerDataAdrUnit = r.u8();
        }
        for (uint8_t &b : d->bytes25b) b = r.u8();
    }
    if (v >= 29) {
        d->byte29a = r.u8();
        d->cppAbiStyle = r.u8();
        d->cppMangleStyle = r.u8();
        d->byte29b = r.u8();
    } else {
        d->byte29a = d->bytesPerTextAdrUnit == 2 ? 1 : 0;
    }
    d->word1 = r.fixed32();
    if (v >= 22) {
        d->words22[0] = r.fixed32();
        d->words22[1] = r.fixed32();
    }
    if (v >= 31) {
        d->word31 = r.fixed32();
        d->encodingType = r.u8();
        d->flags = r.u8();
        d->bytes31[0] = r.u8();
        d->bytes31[1] = r.u8();
        d->words31[0] = int32_t(r.fixed32());
        d->words31[1] = int32_t(r.fixed32());
        if (v <= 42 && (d->flags == 0xFE || d->flags == 0xFF)) d->flags &= 3;
    } else {
        d->words31[0] = d->words31[1] = -1;
    }
    d->numTables = r.u8();
    d->dirPos = r.pos();
    st::read_directory(r, d->numTables, v >= 40, d->tables, STDNM_NUM_TABLES);
    return true;
}

void write_header(STDnm *d, GFile *gf, int numTables, const int32_t *maxima) {
    const int32_t v = d->version;
    gf_PutFixed32(gf, uint32_t(v));
    if (v >= 16) gf_PutString(gf, d->magic);
    if (v >= 20) gf_PutString(gf, d->magic2);
    if (v >= 16) gf_PutString(gf, d->string3);
    if (v >= 21) gf_PutString(gf, d->string4);
    gf_Put8(gf, uint8_t(gadr_encoding_from_mode(d->adrMode)));
    gf_Put8(gf, d->endianFlag);
    for (uint8_t b : d->bytesA) gf_Put8(gf, b);
    if (v >= 16) gf_Put8(gf, d->byte16);
    gf_PutAdr(gf, d->lowAdr);
    if (v >= 13) gf_PutAdr(gf, d->highAdr);
    if (v >= 19) {
        gf_Put8(gf, d->byte19a);
        gf_Put8(gf, d->objectModuleFormat);
        gf_Put8(gf, d->objectModuleType);
        gf_Put8(gf, d->byte19b);
    }
    if (v >= 25) {
        for (uint8_t b : d->bytes25a) gf_Put8(gf, b);
        if (v < 32) {
            uint8_t t = d->bytesPerTextAdrUnit, u = d->bytesPerDataAdrUnit;
            gf_Put8(gf, t == u && t < 16 ? t : uint8_t((t & 15) | u << 4));
        } else {
            gf_Put8(gf, d->bytesPerTextAdrUnit);
            gf_Put8(gf, d->bytesPerDataAdrUnit);
        }
        for (uint8_t b : d->bytes25b) gf_Put8(gf, b);
    }
    if (v >= 29) {
        gf_Put8(gf, d->byte29a);
        gf_Put8(gf, d->cppAbiStyle);
        gf_Put8(gf, d->cppMangleStyle);
        gf_Put8(gf, d->byte29b);
    }
    gf_PutFixed32(gf, d->word1);
    if (v >= 22) {
        gf_PutFixed32(gf, d->words22[0]);
        gf_PutFixed32(gf, d->words22[1]);
    }
    if (v >= 31) {
        gf_PutFixed32(gf, d->word31);
        gf_Put8(gf, d->encodingType);
        gf_Put8(gf, d->flags);
        gf_Put8(gf, d->bytes31[0]);
        gf_Put8(gf, d->bytes31[1]);
        gf_PutFixed32(gf, uint32_t(d->words31[0]));
        gf_PutFixed32(gf, uint32_t(d->words31[1]));
    }
    gf_Put8(gf, uint8_t(numTables));
    d->dirPos = st::write_directory(gf, numTables, v >= 40, d->tables, maxima, STDNM_NUM_TABLES);
}

// ------------------------------------------------------------ records

void read_section(STDnm *d, GReader &r, STDnm_Section &s) {
    const int32_t v = d->version;
    r.pair(s.name, s.altName);
    r.range(s.begin, s.end);
    s.value64 = v >= 40 ? r.u64() : r.fixed32();
    s.value32 = r.s32();
    s.sc = r.u8();
    s.index1 = v >= 24 ? r.index() : -1;
    s.index2 = v >= 24 ? r.index() : -1;
    s.index3 = v >= 30 ? r.index() : -1;
    if (v >= 30) {
        s.flags = r.u32() & 0x3FF;
    } else {
        s.flags = r.u8();
        // Older files keep the low four flags only in the storage class.
        if (v < 23) s.flags = (s.flags & ~0xFu) | (s.sc < 4 ? 1u << s.sc : 0u);
    }
    if (v >= 34) {
        s.value64b = v >= 40 ? r.u64() : r.fixed32();
        s.value32b = r.fixed32();
    } else {
        s.value64b = 0;
        s.value32b = 0;
    }
}

void write_section(const STDnm *d, GFile *gf, const STDnm_Section &s) {
    const int32_t v = d->version;
    gf_PutPair(gf, s.name, s.altName);
    gf_PutRange(gf, s.begin, s.end);
    v >= 40 ? gf_PutU64(gf, s.value64) : gf_PutFixed32(gf, uint32_t(s.value64));
    gf_PutS32(gf, s.value32);
    gf_Put8(gf, s.sc);
    if (v >= 24) {
        gf_PutIndex(gf, s.index1);
        gf_PutIndex(gf, s.index2);
    }
    if (v >= 30) gf_PutIndex(gf, s.index3);
    v >= 30 ? gf_PutU32(gf, s.flags & 0x3FF) : gf_Put8(gf, uint8_t(s.flags));
    if (v >= 34) {
        v >= 40 ? gf_PutU64(gf, s.value64b) : gf_PutFixed32(gf, uint32_t(s.value64b));
        gf_PutFixed32(gf, s.value32b);
    }
}

void read_dlo_file(STDnm *d, GReader &r, STDnm_DloFile &f) {
    const int32_t v = d->version;
    r.triple(f.name, f.baseName, f.path);
    r.pair(f.magic, f.magic2);
    if (v >= 11) {
        f.iTopLevelSourceFile = r.index();
        f.objectFileBaseName = uint32_t(r.index());
    } else {
        f.iTopLevelSourceFile = -1;
        f.objectFileBaseName = 0;
    }
    f.timeStamp = STTime(r.u32());
    f.offset = v >= 40 ? r.u64() : r.u32();
    f.language = v >= 19 ? r.u8() : 31;
    uint32_t flags = 0;
    if (v >= 13) {
        f.iTopLevelSourceFile2 = r.index();
        flags = r.u32();
    } else {
        f.iTopLevelSourceFile2 = -1;
    }
    f.flags = flags & 0xFFF;
    if (v < 17) f.flags = (f.flags & ~0x20u) | (flags & 1) << 5;
    uint32_t bit11 = v < 43 ? flags >> 8 & 1 : flags >> 9 & 1;
    f.flags = (f.flags & ~0x800u) | bit11 << 11;
}

void write_dlo_file(const STDnm *d, GFile *gf, const STDnm_DloFile &f) {
    const int32_t v = d->version;
    gf_PutTriple(gf, f.name, f.baseName, f.path);
    gf_PutPair(gf, f.magic, f.magic2);
    if (v >= 11) {
        gf_PutIndex(gf, f.iTopLevelSourceFile);
        gf_PutIndex(gf, int32_t(f.objectFileBaseName));
    }
    gf_PutU32(gf, uint32_t(f.timeStamp));
    v >= 40 ? gf_PutU64(gf, f.offset) : gf_PutU32(gf, uint32_t(f.offset));
    if (v >= 19) gf_Put8(gf, f.language);
    if (v >= 13) {
        gf_PutIndex(gf, f.iTopLevelSourceFile2);
        gf_PutU32(gf, f.flags & 0xFFF);
    }
}

// Reads an inline index table of dir.max values; kept when selected.
bool read_inline(STDnm *d, GReader &r, int index) {
    STTable &t = d->tables[index];
    if (!inline_present(index, d->version) || t.dir.max <= 0) return true;
    int64_t n = t.dir.max;
    if (r.left() < n * 4) {
        r.fail("table \"%s\" of \"%s\" (%I64d entries) runs past the end of the file", table_names[index], d->name, n);
        return false;
    }
    if (t.dir.skipped) {
        std::vector<int32_t> dropped(static_cast<size_t>(n));
        return r.array32(dropped.data(), n);
    }
    if (!r.array32(static_cast<int32_t *>(t.data), n)) return false;
    t.count = t.dir.max;
    t.dir.loaded = 1;
    return true;
}

bool corrupt(STDnm *d) {
    ST_ReportCorruption(nullptr, 1, d->name);
    return false;
}

bool read_strings(STDnm *d, GFile *gf) {
    STTable &t = d->tables[STDNM_STRINGS];
    if (t.dir.skipped || t.dir.max == 0) return true;
    GReader r(gf, t.dir.offset);
    bool packed = strings_packed(d);
    return st::read_raw_table(r, &t, table_names[STDNM_STRINGS], packed, !packed && gf->image != nullptr);
}

bool read_sections(STDnm *d, GFile *gf) {
    STTable &t = d->tables[STDNM_SECTIONS];
    if (t.dir.skipped || t.dir.max == 0) return true;
    GReader r(gf, t.dir.offset);
    auto *rec = static_cast<STDnm_Section *>(t.data);
    bool check = !flag(STFLAG_NoSanityCheck);
    for (int32_t i = 0; i < t.dir.max; ++i) {
        read_section(d, r, rec[i]);
        if (!r.ok()) return false;
        if (check && STDnm_CheckSectionSanity(d, &rec[i])) return corrupt(d);
        t.count = i + 1;
    }
    t.dir.loaded = 1;
    return read_inline(d, r, STDNM_SECTIONS_BY_ADR) && r.end_marker(table_names[STDNM_SECTIONS]);
}

bool read_dlo_files(STDnm *d, GFile *gf) {
    STTable &t = d->tables[STDNM_DLO_FILES];
    if (t.dir.skipped || t.dir.max == 0) return true;
    GReader r(gf, t.dir.offset);
    auto *rec = static_cast<STDnm_DloFile *>(t.data);
    bool check = !flag(STFLAG_NoSanityCheck);
    for (int32_t i = 0; i < t.dir.max; ++i) {
        read_dlo_file(d, r, rec[i]);
        if (!r.ok()) return false;
        if (check && STDnm_CheckDloFileSanity(d, &rec[i])) return corrupt(d);
        t.count = i + 1;
    }
    t.dir.loaded = 1;
    return read_inline(d, r, STDNM_DLO_FILES_BY_OFFSET) && read_inline(d, r, STDNM_DLO_FILE_UPDATE_LINKS) &&
           r.end_marker(table_names[STDNM_DLO_FILES]);
}

// Checks the room and allocates every table that will be read.
bool allocate_tables(STDnm *d, GFile *gf) {
    auto will_read = [&](int i) {
        const STTable &t = d->tables[i];
        if (t.dir.skipped || t.dir.max == 0) return false;
        if (is_inline(i)) {
            int main = i == STDNM_SECTIONS_BY_ADR ? STDNM_SECTIONS : STDNM_DLO_FILES;
            return inline_present(i, d->version) && !d->tables[main].dir.skipped && d->tables[main].dir.max > 0;
        }
        return i == STDNM_STRINGS || i == STDNM_SECTIONS || i == STDNM_DLO_FILES;
    };
    auto inline_bytes = [&](int i) -> int64_t {
        const STTable &t = d->tables[i];
        return inline_present(i, d->version) && t.dir.max > 0 ? int64_t(t.dir.max) * 4 : 0;
    };
    bool ok = true;
    for (int i = 0; i < STDNM_NUM_TABLES && ok; ++i) {
        STTable &t = d->tables[i];
        if (!will_read(i)) continue;
        if (t.dir.max < 0) {
            ST_Error("table \"%s\" of \"%s\" has a negative size (%d)", table_names[i], d->name, t.dir.max);
            ok = false;
            break;
        }
        if (i == STDNM_STRINGS) {
            bool packed = strings_packed(d);
            // A packed item of two bytes and one flag bit gives at most 18 bytes.
            int64_t least = packed ? (int64_t(t.dir.max) + 8) / 9 : t.dir.max;
            ok = st::table_fits(gf, table_names[i], t.dir.offset, least, 1, 0);
            if (ok && !packed && gf->image) continue;  // served from the image
        } else if (i == STDNM_SECTIONS) {
            ok = st::table_fits(gf, table_names[i], t.dir.offset, t.dir.max, 1, inline_bytes(STDNM_SECTIONS_BY_ADR));
        } else if (i == STDNM_DLO_FILES) {
            ok = st::table_fits(gf, table_names[i], t.dir.offset, t.dir.max, 1,
                                inline_bytes(STDNM_DLO_FILES_BY_OFFSET) + inline_bytes(STDNM_DLO_FILE_UPDATE_LINKS));
        }
        if (ok) {
            t.count = 0;
            STTable_AllocForBuild(&t.dir, &t.count, &t.data, entry_size(i));
        }
    }
    if (!ok) {
        ST_Error("Error while allocating tables for \"%s\"", d->name);
        STDnm_FreeTables(d);
    }
    return ok;
}

}  // namespace

// ------------------------------------------------------------ tables

const char *STDnm_TableName(int index) {
    return index >= 0 && index < STDNM_NUM_TABLES ? table_names[index] : "Unknown";
}

uint32_t STDnm_TableMax(const STDnm *dnm, int index) {
    if (!dnm || index < 0 || index >= STDNM_NUM_TABLES) return 0xFFFFFFFF;
    return uint32_t(dnm->tables[index].dir.max);
}

int32_t STDnm_TableCount(const STDnm *dnm, int index) {
    if (!dnm || index < 0 || index >= STDNM_NUM_TABLES) return -1;
    return dnm->tables[index].count;
}

void *STDnm_TableEntries(const STDnm *dnm, int index) {
    if (!dnm || index < 0 || index >= STDNM_NUM_TABLES) return nullptr;
    return dnm->tables[index].data;
}

int STDnm_TableDouble(STDnm *dnm, int index, int32_t newMax) {
    if (!dnm || index < 0 || index >= STDNM_NUM_TABLES) return -1;
    st::dnm_cache_disown(dnm);
    return st::table_double(op_double, &dnm->tables[index], table_names[index], newMax, entry_size(index));
}

void STDnm_FreeTables(STDnm *dnm) {
    st::dnm_cache_disown(dnm);
    for (STTable &t : dnm->tables) {
        st::free_table(&t);
        t.dir.skipped = 0;
    }
}

void STDnm_Release(STDnm *dnm) {
    if (!dnm || st::dnm_cache_take_back(dnm)) return;
    STDnm_FreeTables(dnm);
    free_header_strings(dnm);
    if (dnm->gf) gf_Close(dnm->gf);
    dnm->gf = nullptr;
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->name));
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->dnmPath));
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->dlaPath));
    gen_free_and_clear(reinterpret_cast<void **>(&dnm->image));
    dnm->imageSize = 0;
    dnm->loaded = 0;
    if (dnm->owned) gen_free_fn(dnm);
}

const char *STDnm_String(const STDnm *dnm, uint64_t iss) {
    const STTable &t = dnm->tables[STDNM_STRINGS];
    return ST_StringFromISS(static_cast<const char *>(t.data), t.count, iss);
}

const STDnm_Section *STDnm_Sections(const STDnm *dnm, int32_t *count) {
    *count = dnm->tables[STDNM_SECTIONS].count;
    return static_cast<const STDnm_Section *>(dnm->tables[STDNM_SECTIONS].data);
}

const STDnm_DloFile *STDnm_DloFiles(const STDnm *dnm, int32_t *count) {
    *count = dnm->tables[STDNM_DLO_FILES].count;
    return static_cast<const STDnm_DloFile *>(dnm->tables[STDNM_DLO_FILES].data);
}

// ------------------------------------------------------------ checks

int STDnm_CheckHeadSanity(STDnm *dnm) {
    const STDnm *d = dnm;
    if (d->version < STDNM_MIN_VERSION || d->version >= 95) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid dnm version (%d)", d->version);
        return 1;
    }
    if (d->adrMode > 3) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid address mode (%d)", d->adrMode);
        return 1;
    }
    if (d->endianFlag > 1) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid endian flag (%d)", d->endianFlag);
        return 1;
    }
    if (d->objectModuleFormat >= 4) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid object module format (%d)", d->objectModuleFormat);
        return 1;
    }
    if (d->objectModuleType >= 4) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid object module type (%d)", d->objectModuleType);
        return 1;
    }
    if (d->bytesPerTextAdrUnit == 0 || d->bytesPerTextAdrUnit > 32) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid bytes per text address unit (%d)", d->bytesPerTextAdrUnit);
        return 1;
    }
    if (d->bytesPerDataAdrUnit == 0 || d->bytesPerDataAdrUnit > 32) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid bytes per data address unit (%d)", d->bytesPerDataAdrUnit);
        return 1;
    }
    if (d->cppAbiStyle >= 8) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid C++ ABI style (%d)", d->cppAbiStyle);
        return 1;
    }
    if (d->cppMangleStyle >= 7) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid C++ mangle style (%d)", d->cppMangleStyle);
        return 1;
    }
    if (d->encodingType >= 2) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid encodingType (%d)", d->encodingType);
        return 1;
    }
    if (d->numTables >= 77) {
        ST_Error("[STDnm_CheckHeadSanity] Invalid numTables (%d)", d->numTables);
        return 1;
    }
    int kept = d->numTables < STDNM_NUM_TABLES ? int(d->numTables) : int(STDNM_NUM_TABLES);
    for (int i = 0; i < kept; ++i) {
        const STTableDir &t = d->tables[i].dir;
        if (t.offset < 0) {
            ST_Error("[STDnm_CheckHeadSanity] Invalid offset 0x%I64x for table with index %d", t.offset, i);
            return 1;
        }
        if (t.max < 0 || t.aux > 20) {
            ST_Error("[STDnm_CheckHeadSanity] Invalid max %d for table with index %d", t.max, i);
            return 1;
        }
    }
    static constexpr struct {
        int sub, main;
        const char *text;
    } relations[] = {
        {4, 3, "SourceFileByBaseNames max %d > SourceFiles max %d"},
        {5, 3, "SourceFileByRelNames max %d > SourceFiles max %d"},
        {6, 3, "SourceFileByFullNames max %d > SourceFiles max %d"},
        {17, 2, "DloFileByOffsets max %d > DloFiles max %d"},
        {18, 2, "DloFileUpdateLinks max %d > DloFiles max %d"},
        {8, 7, "LinkLabelByAdrs max %d > LinkLabel max %d"},
        {9, 7, "LinkLabelByUseNames max %d > LinkLabel max %d"},
        {10, 7, "LinkLabelByMangledNames max %d > LinkLabel max %d"},
        {11, 7, "LinkLabelByLinkNames max %d > LinkLabel max %d"},
        {16, 7, "LinkLabelByStaticIDbgSyms max %d > LinkLabel max %d"},
        {19, 7, "LinkLabelUpdateLinks max %d > LinkLabel max %d"},
        {21, 7, "LinkLabelByAdrAgainsts max %d > LinkLabel max %d"},
        {22, 7, "LinkLabelByRegs max %d > LinkLabel max %d"},
        {23, 7, "LinkLabelByRegPlusOffsets max %d > LinkLabel max %d"},
        {13, 12, "TypeByMangledNames max %d > Types max %d"},
        {28, 12, "TypeByUseNames max %d > Types max %d"},
        {33, 12, "CppTypesByRevUseName max %d > Types max %d"},
        {29, 1, "SectionByAdr max %d > Section max %d"},
        {25, 24, "LinkageStubByLinkNames max %d > LinkageStubs max %d"},
        {26, 24, "LinkageStubByAdrs max %d > LinkageStubs max %d"},
    };
    for (const auto &rel : relations) {
        int32_t sub = d->tables[rel.sub].dir.max, main = d->tables[rel.main].dir.max;
        if (sub > main) {
            char *fmt = gen_strcat2("[STDnm_CheckHeadSanity] Invalid ", rel.text);
            ST_Error(fmt, sub, main);
            gen_free_fn(fmt);
            return 1;
        }
    }
    return 0;
}

int STDnm_CheckSectionSanity(STDnm *, const STDnm_Section *s) {
    if (s->sc >= 43) {
        ST_Error("[STDnm_CheckSectionSanity] Invalid link label sc (%d)", s->sc);
        return 1;
    }
    return 0;
}

int STDnm_CheckDloFileSanity(STDnm *dnm, const STDnm_DloFile *f) {
    uint32_t size = uint32_t(strings_size(dnm));
    const struct {
        const char *field;
        uint32_t value;
    } names[] = {
        {"name", f->name}, {"baseName", f->baseName}, {"path", f->path}, {"objectFileBaseName", f->objectFileBaseName}};
    for (const auto &n : names) {
        if (n.value >= size) {
            ST_Error("[STDnm_CheckDloFileSanity] Invalid %s (0x%I64x)", n.field, uint64_t(n.value));
            return 1;
        }
    }
    int32_t files = table_count(dnm, STDNM_FILES);
    for (STIndex i : {f->iTopLevelSourceFile, f->iTopLevelSourceFile2}) {
        if (i != -1 && (i < 0 || i >= files)) {
            ST_Error("[STDnm_CheckDloFileSanity] Invalid iTopLevelSourceFile (%d)", i);
            return 1;
        }
    }
    if (f->timeStamp < 0 || int64_t(f->timeStamp) > int64_t(std::time(nullptr)) + 8640000) {
        ST_Error("[STDnm_CheckDloFileSanity] Invalid timeStamp (0x%x)", uint32_t(f->timeStamp));
        return 1;
    }
    if (f->language >= 17 && f->language <= 254 && f->language != 30 && f->language != 31) {
        ST_Error("[STDnm_CheckDloFileSanity] Invalid dlo file language (%d)", f->language);
        return 1;
    }
    return 0;
}

int STDnm_CheckSanity(STDnm *dnm) {
    for (int i = 0; i < STDNM_NUM_TABLES; ++i) {
        const STTable &t = dnm->tables[i];
        bool mismatch = t.dir.loaded ? t.dir.max != t.count : t.count != 0;
        if (!mismatch) continue;
        char *what = gen_strcat3(table_names[i], ", ", t.dir.loaded ? "loaded" : "not loaded");
        ST_Error("[STDnm_CheckSanity] max %d for table with index %d (%s) != table size %d", t.dir.max, i, what,
                 t.count);
        gen_free_fn(what);
        return 1;
    }
    return 0;
}

// ------------------------------------------------------------ reading

STDnm *STDnm_Read(STDnm *dnm, FILE *fp, const char *path, int32_t config) {
    STConfig_Init();
    errno = 0;
    bool supplied = dnm != nullptr;
    if (!dnm) {
        dnm = static_cast<STDnm *>(gen_calloc_fn(1, sizeof(STDnm)));
        dnm->owned = 1;
    } else {
        STDnm_FreeTables(dnm);
        free_header_strings(dnm);
        gen_free_and_clear(reinterpret_cast<void **>(&dnm->name));
        gen_free_and_clear(reinterpret_cast<void **>(&dnm->dnmPath));
        gen_free_and_clear(reinterpret_cast<void **>(&dnm->dlaPath));
        gen_free_and_clear(reinterpret_cast<void **>(&dnm->image));
    }
    dnm->loaded = 0;
    if (path) {
        dnm->name = st::with_extension(path, ".dnm");
        dnm->dnmPath = st::with_extension(path, ".dnm");
        dnm->dlaPath = st::with_extension(path, ".dla");
    } else {
        dnm->name = gen_strdup("UNKNOWN");
    }
    dnm->config = config;

    int step = 1;
    GFile *gf = gf_OpenRead(fp, dnm->dnmPath, dnm->name, 0);
    bool ok = gf != nullptr;
    if (ok && gf->kind != GF_KIND_DNM) {
        ST_Error("\"%s\" is not a name file (file kind %d)", dnm->name, gf->kind);
        ok = false;
    }
    dnm->gf = gf;

    if (ok) {
        step = 2;
        GReader r(gf, GF_HEADER_SIZE);
        ok = read_header(dnm, r);
        if (ok && r.ok() && !flag(STFLAG_NoSanityCheck) && STDnm_CheckHeadSanity(dnm)) ok = corrupt(dnm);
        if (ok && ST_CheckStream(gf, 0, "reading .dnm header") != 0) ok = false;
        if (ok) st::adopt_adr_mode(dnm->adrMode);
    }
    if (ok) {
        step = 3;
        if (flag(STFLAG_useFileMemoryMappingForDnm) && gf_Map(gf) != 0) ok = false;
    }
    if (ok) {
        step = 4;
        uint64_t selected = STDnm_TablesForConfig(config);
        for (int i = 0; i < STDNM_NUM_TABLES; ++i) dnm->tables[i].dir.skipped = !(selected >> i & 1);
        step = 5;
        ok = allocate_tables(dnm, gf);
    }
    if (ok) ok = (step = 6, read_strings(dnm, gf));
    if (ok) ok = (step = 7, read_sections(dnm, gf));
    if (ok) ok = (step = 8, read_dlo_files(dnm, gf));
    // Steps 9-20 read tables whose records this library does not interpret;
    // they are left unread (count 0, no storage).
    if (ok) {
        step = 21;
        if (gf->image) dnm->image = gf_TakeImage(gf, &dnm->imageSize);
        gf_Close(gf);
        dnm->gf = gf = nullptr;
        step = 30;
        if (!flag(STFLAG_NoSanityCheck) && STDnm_CheckSanity(dnm)) ok = corrupt(dnm);
    }
    if (ok) {
        st::adopt_adr_mode(dnm->adrMode);
        dnm->loaded = 1;
        return dnm;
    }

    ST_Error("failed while reading \"%s\" (pos %d, errno %d)", dnm->name, step, errno);
    if (dnm->gf) gf_Close(dnm->gf);
    dnm->gf = nullptr;
    if (supplied) {
        STDnm_FreeTables(dnm);
        gen_free_and_clear(reinterpret_cast<void **>(&dnm->image));
        return nullptr;
    }
    STDnm_Release(dnm);
    return nullptr;
}

// ------------------------------------------------------------ building and writing

STDnm *STDnm_Create() {
    STConfig_Init();
    STDnm *d = static_cast<STDnm *>(gen_calloc_fn(1, sizeof(STDnm)));
    d->owned = 1;
    d->version = STDNM_MAX_VERSION;
    d->adrMode = gadr_get_mode();
    d->adrEncoding = uint8_t(gadr_encoding_from_mode(d->adrMode));
    gadr_clear(d->lowAdr);
    gadr_set_invalid(d->highAdr);
    d->bytesPerTextAdrUnit = d->bytesPerDataAdrUnit = 1;
    d->words31[0] = d->words31[1] = -1;
    d->numTables = STDNM_NUM_TABLES;
    d->name = gen_strdup("UNKNOWN");
    return d;
}

uint32_t STDnm_AddString(STDnm *dnm, const char *s) {
    st::dnm_cache_disown(dnm);
    return st::add_string(op_double, &dnm->tables[STDNM_STRINGS], table_names[STDNM_STRINGS], s);
}

STIndex STDnm_AddSection(STDnm *dnm, const STDnm_Section *s) {
    st::dnm_cache_disown(dnm);
    STTable &t = dnm->tables[STDNM_SECTIONS];
    if (t.count >= t.dir.max) STDnm_TableDouble(dnm, STDNM_SECTIONS, -1);
    static_cast<STDnm_Section *>(t.data)[t.count] = *s;
    t.dir.loaded = 1;
    return t.count++;
}

STIndex STDnm_AddDloFile(STDnm *dnm, const STDnm_DloFile *f) {
    st::dnm_cache_disown(dnm);
    STTable &t = dnm->tables[STDNM_DLO_FILES];
    if (t.count >= t.dir.max) STDnm_TableDouble(dnm, STDNM_DLO_FILES, -1);
    static_cast<STDnm_DloFile *>(t.data)[t.count] = *f;
    t.dir.loaded = 1;
    return t.count++;
}

void STDnm_SetIndexTable(STDnm *dnm, int index, const int32_t *values, int32_t count) {
    if (!is_inline(index)) return;
    st::dnm_cache_disown(dnm);
    STTable &t = dnm->tables[index];
    st::free_table(&t);
    STDnm_TableDouble(dnm, index, count);
    if (count > 0) std::memcpy(t.data, values, size_t(count) * 4);
    t.count = count;
    t.dir.loaded = 1;
}

void STDnm_SetOpaqueTable(STDnm *dnm, int index, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size) {
    if (index < 0 || index >= STDNM_NUM_TABLES) return;
    st::dnm_cache_disown(dnm);
    st::set_opaque(&dnm->tables[index], max, aux, bytes, size);
}

int STDnm_Write(STDnm *dnm, FILE *fp, const char *path, const GFileOptions &opt, uint8_t **image, int64_t *size) {
    STConfig_Init();
    GFile *gf = gf_OpenWrite(fp, path, GF_KIND_DNM, dnm->adrMode, opt);
    if (!gf) return -1;
    const bool wide = dnm->version >= 40;
    const int numTables = dnm->numTables;
    const int kept = numTables < STDNM_NUM_TABLES ? numTables : int(STDNM_NUM_TABLES);

    // The directory gives each table's entry count: the records held, or
    // the declared size of a table written as it is.
    int32_t maxima[STDNM_NUM_TABLES] = {};
    for (int i = 0; i < kept; ++i) {
        const STTable &t = dnm->tables[i];
        if (t.opaque)
            maxima[i] = t.dir.max;
        else if (!is_inline(i) || inline_present(i, dnm->version))
            maxima[i] = t.count;
    }
    write_header(dnm, gf, numTables, maxima);

    auto put_inline = [&](int i) {
        const STTable &t = dnm->tables[i];
        if (i >= kept || !inline_present(i, dnm->version)) return;
        st::patch_offset(gf, dnm->dirPos, wide, i, gf_Pos(gf));
        if (t.opaque)
            gf_PutRaw(gf, t.data, t.opaqueSize);
        else
            gf_PutArray32(gf, static_cast<const int32_t *>(t.data), t.count);
    };
    for (int i = 0; i < kept; ++i) {
        const STTable &t = dnm->tables[i];
        if (is_inline(i) || (maxima[i] == 0 && !(t.opaque && t.opaqueSize > 0))) continue;
        st::patch_offset(gf, dnm->dirPos, wide, i, gf_Pos(gf));
        if (t.opaque) {
            gf_PutRaw(gf, t.data, t.opaqueSize);
            if (i == STDNM_SECTIONS) put_inline(STDNM_SECTIONS_BY_ADR);
            if (i == STDNM_DLO_FILES) {
                put_inline(STDNM_DLO_FILES_BY_OFFSET);
                put_inline(STDNM_DLO_FILE_UPDATE_LINKS);
            }
            gf_PutEndMarker(gf);
        } else if (i == STDNM_STRINGS) {
            st::write_raw_table(gf, &t, strings_packed(dnm));
        } else if (i == STDNM_SECTIONS) {
            for (int32_t k = 0; k < t.count; ++k) write_section(dnm, gf, static_cast<const STDnm_Section *>(t.data)[k]);
            put_inline(STDNM_SECTIONS_BY_ADR);
            gf_PutEndMarker(gf);
        } else if (i == STDNM_DLO_FILES) {
            for (int32_t k = 0; k < t.count; ++k)
                write_dlo_file(dnm, gf, static_cast<const STDnm_DloFile *>(t.data)[k]);
            put_inline(STDNM_DLO_FILES_BY_OFFSET);
            put_inline(STDNM_DLO_FILE_UPDATE_LINKS);
            gf_PutEndMarker(gf);
        }
    }
    if (image) {
        std::span<const uint8_t> out = gf_Output(gf);
        *size = int64_t(out.size());
        *image = static_cast<uint8_t *>(gen_memdup(out.data(), out.size()));
    }
    return gf_CloseWrite(gf);
}
