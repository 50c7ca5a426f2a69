// Writes a synthetic program's debug information for the benchmark: a name
// file OUT.dnm and an archive OUT.dla of OBJECTS debug objects holding
// PROCS procedures in all, with the symbol-table library's own writer.
// Object k holds the procedures k*per .. (k+1)*per-1, each 16 bytes long,
// named function_NNNNNNN, in one 32-bit section.
//
// usage: gen_debug OBJECTS PROCS OUT
//        gen_debug --walk OUT.dnm
// The second form walks every procedure of the program the way funsize
// does, with the library reporting each debug object it loads, and prints
// the number of loads, of distinct objects loaded and of procedures seen.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "st_api.h"

namespace {

gadr adr(uint64_t v) {
    gadr g;
    gadr_from_u64(g, v);
    return g;
}

std::string field(const std::string &s, size_t width) {
    std::string out = s.substr(0, width);
    out.resize(width, ' ');
    return out;
}

std::multiset<std::string> loads;

void count_loads(int, const char *fmt, va_list args) {
    char text[4096];
    gen_vsnprintf(text, sizeof text, fmt, args);
    const char *prefix = "<libst>: loading \"";
    if (std::strncmp(text, prefix, std::strlen(prefix)) == 0) loads.insert(text + std::strlen(prefix));
}

int walk(const char *path) {
    gen_message_hook = count_loads;
    ST_SetDebugFlagFName("reportDloLoads", 1);
    STSymTab *symTab = ST_CreateSymTab();
    if (!ST_LoadDnmFile(symTab, path, nullptr, 0, 0)) return 1;
    STProcIter it;
    ST_ProcIterInit(&it, symTab, nullptr, 1, 1);
    long procs = 0;
    while (ST_ProcIterNext(&it)) ++procs;
    ST_ProcIterEnd(&it);
    ST_DestroySymTab(symTab);
    std::set<std::string> distinct(loads.begin(), loads.end());
    std::printf("%zu %zu %ld\n", loads.size(), distinct.size(), procs);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--walk") == 0) return walk(argv[2]);
    if (argc != 4) {
        std::fprintf(stderr, "usage: gen_debug OBJECTS PROCS OUT\n");
        return 2;
    }
    const long objects = std::atol(argv[1]);
    const long procs = std::atol(argv[2]);
    const std::string out = argv[3];
    if (objects <= 0 || procs < objects) return 2;
    const GFileOptions opt = gf_DefaultOptions();

    // The archive, member by member; the name file records where each
    // member's data begins.
    FILE *dla = std::fopen((out + ".dla").c_str(), "wb");
    if (!dla) return 1;
    std::fputs("!<arch>\n", dla);
    uint64_t pos = 8;
    std::vector<uint64_t> offsets;
    long next = 0;
    for (long k = 0; k < objects; ++k) {
        const long count = procs / objects + (k < procs % objects ? 1 : 0);
        STDbg *dbg = STDbg_Create(GF_KIND_DBO);
        char magic[32];
        std::snprintf(magic, sizeof magic, "obj %ld", k);
        dbg->magic = gen_strdup(magic);
        dbg->dnmStringBase = 0x1000000;
        STDbg_AddString(dbg, "");
        for (long i = 0; i < count; ++i, ++next) {
            char name[32];
            std::snprintf(name, sizeof name, "function_%07ld", next);
            STDbg_Proc p{};
            p.useName = p.mangledName = STDbg_AddString(dbg, name);
            p.begin = adr(0x10000 + 16 * uint64_t(next));
            p.end = adr(0x10000 + 16 * uint64_t(next) + 16);
            p.iSym = p.iSymMax = p.iLineStab = p.iLineStabFirstByILine = p.iLineStabMax = -1;
            p.iLine = p.iLineFirstLbrac = p.iLineMax = p.iFile = p.iFrameInfo = -1;
            STDbg_AddProc(dbg, &p);
        }
        uint8_t *image = nullptr;
        int64_t size = 0;
        if (STDbg_Write(dbg, nullptr, nullptr, opt, &image, &size) != 0) return 1;
        char member[16];
        std::snprintf(member, sizeof member, "o%ld.dbo/", k);
        std::string header = field(member, 16) + field("0", 12) + field("0", 6) + field("0", 6) + field("644", 8) +
                             field(std::to_string(size), 10) + "`\n";
        std::fwrite(header.data(), 1, header.size(), dla);
        offsets.push_back(pos + header.size());
        std::fwrite(image, 1, size_t(size), dla);
        if (size & 1) std::fputc('\n', dla);
        pos += header.size() + uint64_t(size) + uint64_t(size & 1);
        gen_free_fn(image);
        STDbg_Free(dbg);
    }
    std::fclose(dla);

    STDnm *dnm = STDnm_Create();
    dnm->magic = gen_strdup("benchmark program");
    dnm->magic2 = gen_strdup("benchmark program");
    dnm->lowAdr = adr(0x10000);
    dnm->highAdr = adr(0x10000 + 16 * uint64_t(procs));
    STDnm_AddString(dnm, "");
    STDnm_Section text{};
    text.name = text.altName = STDnm_AddString(dnm, ".text");
    text.begin = dnm->lowAdr;
    text.end = dnm->highAdr;
    text.sc = 1;
    text.index1 = text.index2 = text.index3 = -1;
    text.flags = 0x201;
    STDnm_AddSection(dnm, &text);
    std::vector<int32_t> byOffset;
    for (long k = 0; k < objects; ++k) {
        char member[16], magic[32];
        std::snprintf(member, sizeof member, "o%ld.dbo", k);
        std::snprintf(magic, sizeof magic, "obj %ld", k);
        STDnm_DloFile f{};
        f.name = f.baseName = f.objectFileBaseName = STDnm_AddString(dnm, member);
        f.path = f.name;
        f.magic = f.magic2 = STDnm_AddString(dnm, magic);
        f.iTopLevelSourceFile = f.iTopLevelSourceFile2 = -1;
        f.timeStamp = 1000;
        f.offset = offsets[size_t(k)];
        f.language = 1;
        byOffset.push_back(STDnm_AddDloFile(dnm, &f));
    }
    STDnm_SetIndexTable(dnm, STDNM_DLO_FILES_BY_OFFSET, byOffset.data(), int32_t(byOffset.size()));
    int32_t zero = 0;
    STDnm_SetIndexTable(dnm, STDNM_SECTIONS_BY_ADR, &zero, 1);
    int status = STDnm_Write(dnm, nullptr, (out + ".dnm").c_str(), opt);
    STDnm_Release(dnm);
    return status == 0 ? 0 : 1;
}
