// The handler of the tool chain's debug-information files (file type 9) and
// the recorder of debug procedures. A debug object (.dbg, .dbo, or a member
// of a program's .dla) is read on its own; a name file (.dnm) is read into a
// symbol table and every debug object it lists is walked in turn. Each
// procedure becomes a function record with its start and end address.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "machine_types.h"
#include "st_api.h"

namespace {

constexpr const char *UNDERSCORED_BOUNDARY_NAME = "_@#$%";

bool leading_underscore() { return current_ident && current_ident->leading_underscore; }

// The decorated-local-name rewrite, with the file part's base name taken
// as a host path.
bool rewrite_decorated(const char *name, std::string &out) {
    std::string function, file;
    if (!funsize_split_decorated(name, function, file)) return false;
    out = function + "(" + gen_basename(file.c_str()) + ".o)";
    return true;
}

const char *drop_first(const char *name) { return leading_underscore() && *name ? name + 1 : name; }

function_record *requested_records() { return funsize_table.records; }

int record_all_functions(const char *name, const gadr &start, const gadr &end) {
    funsize_reserve(funsize_table.next + 1);
    std::string rewritten;
    if (rewrite_decorated(name, rewritten)) name = rewritten.c_str();
    name = drop_first(name);
    function_record &r = funsize_table.records[funsize_table.next++];
    r = function_record{};
    r.name = funsize_copy_name(name);
    r.start = start;
    r.end = end;
    r.section = FUNSIZE_DEBUG_SECTION;
    r.order = uint32_t(funsize_table.next);
    return 0;
}

// The end of the first range holding start, else the end of the last one.
gadr range_end_for(const debug_range_list *ranges, const gadr &start) {
    for (uint64_t i = 0; i < ranges->count; ++i) {
        const debug_range &r = ranges->ranges[i];
        if (gadr_less_equal(r.low, start) && gadr_less(start, r.high)) return r.high;
    }
    return ranges->ranges[ranges->count - 1].high;
}

int record_requested(const char *name, const gadr &start, const gadr &end, const debug_range_list *ranges) {
    name = drop_first(name);
    const uint32_t n = funsize_table.requested_count;
    function_record *req = requested_records();
    function_record *match = nullptr;
    for (uint32_t i = 0; i < n && !match; ++i)
        if (req[i].name && std::strcmp(req[i].name, name) == 0) match = &req[i];
    if (match) {
        match->start = start;
        match->end = end;
        match->section = FUNSIZE_DEBUG_SECTION;
        if (gadr_not_equal(start, end)) {
            match->order = 1;
            ++funsize_table.sized_count;
        } else if (ranges && ranges->count > 0) {
            match->end = range_end_for(ranges, start);
        }
        ++funsize_table.found_count;
        if (funsize_table.sized_count == n) return 1;
        if (match->order == 0) {
            for (uint64_t i = n; i < funsize_table.next; ++i) {
                const function_record &b = funsize_table.records[i];
                if (gadr_less(match->start, b.start) && gadr_less(b.start, match->end)) match->end = b.start;
            }
        }
    }
    if (funsize_table.found_count < n) {
        funsize_reserve(funsize_table.next + 1);
        function_record &b = funsize_table.records[funsize_table.next++];
        b = function_record{};
        b.start = start;
        b.end = end;
        b.section = FUNSIZE_DEBUG_SECTION;
        req = requested_records();
    }
    for (uint32_t i = 0; i < n; ++i) {
        function_record &r = req[i];
        if (r.section != 0 && r.order == 0 && gadr_less(r.start, start) && gadr_less(start, r.end)) r.end = start;
    }
    return 0;
}

// The name file's sections as the report's range table.
std::vector<debug_range> section_ranges(const STDnm *dnm) {
    std::vector<debug_range> out;
    if (!dnm) return out;
    int32_t count = 0;
    const STDnm_Section *s = STDnm_Sections(dnm, &count);
    for (int32_t i = 0; s && i < count; ++i) out.push_back({s[i].begin, s[i].end});
    return out;
}

void record_proc(const STDbg_Proc *p, const input_desc *d, const debug_range_list *ranges) {
    char *name = gen_strdup(ST_ProcUseName(p));
    funsize_record_debug_proc(name, p->begin, p->end, d->name, ranges);
    gen_free_fn(name);
}

}  // namespace

int funsize_record_debug_proc(const char *name, const gadr &start, const gadr &end, const char *,
                              const debug_range_list *ranges) {
    if (!name) name = "";
    if (std::strncmp(name, "..lx", 4) == 0) return 0;
    if (std::strncmp(name, "..", 2) == 0 || std::strncmp(name, "%%", 2) == 0) {
        if (std::strncmp(name + 2, "lin", 3) == 0) return 0;
        name = leading_underscore() ? UNDERSCORED_BOUNDARY_NAME : FUNSIZE_BOUNDARY_NAME;
    }
    if (funsize_table.requested_count == 0) return record_all_functions(name, start, end);
    return record_requested(name, start, end, ranges);
}

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
