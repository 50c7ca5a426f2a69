// Table directory, raw byte tables and table growth, shared by name files
// and debug objects.
#include <cstring>
#include <vector>

#include "indgen.h"
#include "st_internal.h"

namespace st {

void read_directory(GReader &r, int numTables, bool wide, STTable *tables, int keep) {
    for (int i = 0; i < numTables; ++i) {
        int64_t offset = wide ? int64_t(r.fixed64()) : int64_t(int32_t(r.fixed32()));
        if (i < keep) tables[i].dir.offset = offset;
    }
    for (int i = 0; i < numTables; ++i) {
        int32_t max = int32_t(r.u32());
        uint32_t aux = r.u32();
        uint8_t f0 = r.u8();
        uint8_t f1 = r.u8();
        if (i >= keep) continue;
        tables[i].dir.max = max;
        tables[i].dir.aux = aux;
        tables[i].dir.flags[0] = f0;
        tables[i].dir.flags[1] = f1;
    }
}

int64_t write_directory(GFile *gf, int numTables, bool wide, const STTable *tables, const int32_t *maxima, int keep) {
    int64_t dirPos = gf_Pos(gf);
    for (int i = 0; i < numTables; ++i) wide ? gf_PutFixed64(gf, 0) : gf_PutFixed32(gf, 0);
    for (int i = 0; i < numTables; ++i) {
        if (i < keep) {
            gf_PutU32(gf, uint32_t(maxima[i]));
            gf_PutU32(gf, tables[i].dir.aux);
            gf_Put8(gf, tables[i].dir.flags[0]);
            gf_Put8(gf, tables[i].dir.flags[1]);
        } else {
            gf_PutU32(gf, 0);
            gf_PutU32(gf, 0);
            gf_Put8(gf, 0);
            gf_Put8(gf, 0);
        }
    }
    return dirPos;
}

void patch_offset(GFile *gf, int64_t dirPos, bool wide, int index, int64_t offset) {
    if (wide)
        gf_PatchFixed64(gf, dirPos + 8 * index, uint64_t(offset));
    else
        gf_PatchFixed32(gf, dirPos + 4 * index, uint32_t(offset));
}

bool table_fits(GFile *gf, const char *table, int64_t offset, int64_t entries, int64_t minBytes, int64_t extra) {
    int64_t left = offset >= 0 && offset <= gf->limit ? gf->limit - offset : -1;
    // entries and minBytes are below 2^32 each, so the product cannot overflow.
    if (left >= 0 && entries >= 0 && extra >= 0 && entries * minBytes + extra <= left) return true;
    ST_Error("table \"%s\" of \"%s\" (%I64d entries at offset 0x%I64x) does not fit in the file", table, gf_Name(gf),
             entries, offset);
    return false;
}

bool read_raw_table(GReader &r, STTable *t, const char *table, bool packed, bool mapped) {
    int32_t max = t->dir.max;
    if (packed) {
        int64_t at = r.pos();
        uint32_t word = r.fixed32();
        if (!r.ok()) return false;
        if (word != GF_PACK) {
            r.fail("packed table \"%s\" of \"%s\" does not begin with PACK at offset 0x%I64x", table, gf_Name(r.file()),
                   at);
            return false;
        }
        int64_t len = r.sleb(32);
        if (!r.ok()) return false;
        if (len < 0) {
            r.fail("packed table \"%s\" of \"%s\" has a negative length (%I64d)", table, gf_Name(r.file()), len);
            return false;
        }
        std::span<const uint8_t> in = r.view(len);
        if (!r.ok()) return false;
        int64_t produced = gf_Unpack(in, static_cast<uint8_t *>(t->data), max);
        if (produced != max) {
            if (produced > max)
                r.fail("packed table \"%s\" of \"%s\" unpacks to more than its %d bytes", table, gf_Name(r.file()),
                       max);
            else
                r.fail("packed table \"%s\" of \"%s\" unpacks to %I64d bytes instead of %d", table, gf_Name(r.file()),
                       produced, max);
            return false;
        }
    } else if (mapped) {
        std::span<const uint8_t> s = r.view(max);
        if (!r.ok()) return false;
        t->data = const_cast<uint8_t *>(s.data());
        t->dir.mapped = 1;
    } else if (!r.raw(static_cast<uint8_t *>(t->data), max)) {
        return false;
    }
    if (max > 0 && static_cast<const uint8_t *>(t->data)[max - 1] != 0) {
        r.fail("table \"%s\" of \"%s\" does not end with a zero byte", table, gf_Name(r.file()));
        return false;
    }
    if (!r.end_marker(table)) return false;
    t->count = max;
    t->dir.loaded = 1;
    return true;
}

void write_raw_table(GFile *gf, const STTable *t, bool packed) {
    std::span<const uint8_t> bytes(static_cast<const uint8_t *>(t->data), size_t(t->count));
    if (packed) {
        std::vector<uint8_t> p = gf_Pack(bytes);
        gf_PutFixed32(gf, GF_PACK);
        gf_PutSLEB(gf, int64_t(p.size()));
        gf_PutRaw(gf, p.data(), int64_t(p.size()));
    } else {
        gf_PutRaw(gf, bytes.data(), int64_t(bytes.size()));
    }
    gf_PutEndMarker(gf);
}

void write_opaque(GFile *gf, const STTable *t) {
    gf_PutRaw(gf, t->data, t->opaqueSize);
    gf_PutEndMarker(gf);
}

int table_double(const char *op, STTable *t, const char *table, int32_t newMax, int32_t entrySize) {
    if (newMax < 0) {
        int32_t size = STTable_GrowSize(op, table, t->count, -newMax, entrySize);
        if (STConfig_GetOption(STFLAG_reportTableDoubling))
            ST_Info("[%s] %s from %d to %d", op, table, t->dir.max, size);
        newMax = size;
    }
    t->dir.max = newMax;
    return STTable_AllocForBuild(&t->dir, &t->count, &t->data, entrySize);
}

uint32_t add_string(const char *op, STTable *t, const char *table, const char *s) {
    int32_t len = int32_t(std::strlen(s ? s : "")) + 1;
    if (t->count > t->dir.max - len) table_double(op, t, table, -len, 1);
    uint32_t at = uint32_t(t->count);
    std::memcpy(static_cast<char *>(t->data) + at, s ? s : "", size_t(len));
    t->count += len;
    t->dir.loaded = 1;
    return at;
}

void free_table(STTable *t) {
    if (!t->dir.mapped) gen_free_fn(t->data);
    t->data = nullptr;
    t->count = 0;
    t->opaque = 0;
    t->opaqueSize = 0;
    t->dir.loaded = 0;
    t->dir.mapped = 0;
}

void set_opaque(STTable *t, int32_t max, uint32_t aux, const uint8_t *bytes, int64_t size) {
    free_table(t);
    t->opaque = 1;
    t->opaqueSize = size;
    t->data = size > 0 ? gen_memdup(bytes, size_t(size)) : nullptr;
    t->dir.max = max;
    t->dir.aux = aux;
}

}  // namespace st
