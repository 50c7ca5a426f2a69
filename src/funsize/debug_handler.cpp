// The handler of the tool chain's debug-information files (file type 9). A
// debug object (.dbg, .dbo, or a member of a program's .dla) is read on its
// own; a name file (.dnm) is read into a symbol table and every debug object
// it lists is walked in turn. Each procedure becomes a function record with
// its start and end address.
#include <vector>

#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "machine_types.h"
#include "st_api.h"

namespace {

// The name file's sections as the report's range table.
std::vector<debug_range> section_ranges(const STDnm *dnm) {
    std::vector<debug_range> out;
    if (!dnm) return out;
    int32_t count = 0;
    const STDnm_Section *s = STDnm_Sections(dnm, &count);
    for (int32_t i = 0; s && i < count; ++i) out.push_back({s[i].begin, s[i].end});
    return out;
}

// The table keeps its own copy of the name.
void record_proc(const STDbg_Proc *p, const input_desc *d, const debug_range_list *ranges) {
    funsize_record_debug_proc(ST_ProcUseName(p), p->begin, p->end, d->name, ranges);
}

}  // namespace

int funsize_handle_debug_info(FILE *f, FILE *, input_desc *d) {
    funsize_reset();
    current_ident = d->ident;
    in_archive_member = int(d->in_archive);
    STDnm *dnm = nullptr;
    STSymTab *symTab = nullptr;
    std::vector<debug_range> ranges;
    debug_range_list range_list{nullptr, 0};

    const uint32_t kind = d->ident ? d->ident->machine_type : 0;
    if (kind == MT_DEBUG_DBG || kind == MT_DEBUG_DBO) {
        STDbg *dbg = ST_LoadDboFromDla(nullptr, &dnm, f, d->member_name, d->archive_name, d->member_offset, 0);
        if (!dbg) {
            if (dnm) STDnm_Free(dnm);
            gen_fatal(1, "File %s is not a readable dbo file.\n", d->name);
        }
        if (!dbg->fAdrLocated) {
            STDbg_Free(dbg);
            gen_fatal(1, "File %s is not an address located dbo file.\n", d->name);
        }
        ranges = section_ranges(dnm);
        range_list = {ranges.data(), ranges.size()};
        int32_t count = 0;
        const STDbg_Proc *procs = STDbg_Procs(dbg, &count);
        for (int32_t i = 0; i < count; ++i) record_proc(&procs[i], d, dnm ? &range_list : nullptr);
        ST_UnloadDboFromDla(dbg, &dnm, 0);
    } else if (kind == MT_DEBUG_DNM) {
        symTab = ST_CreateSymTab();
        dnm = ST_LoadDnmFile(symTab, d->name, nullptr, 0, 0);
        if (!dnm) gen_fatal(1, "Read DNM file error");
        ranges = section_ranges(dnm);
        range_list = {ranges.data(), ranges.size()};
        STProcIter iter;
        ST_ProcIterInit(&iter, symTab, nullptr, 1, 1);
        while (const STDbg_Proc *p = ST_ProcIterNext(&iter)) record_proc(p, d, &range_list);
        ST_ProcIterEnd(&iter);
    } else {
        gen_fatal(1, "Unknown LKS file type");
    }

    int result = funsize_report_input(d, dnm ? &range_list : nullptr);

    if (symTab)
        ST_DestroySymTab(symTab);
    else if (dnm)
        STDnm_Free(dnm);
    return result;
}
