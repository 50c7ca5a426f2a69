// Synthetic programs: name file, .dla and plain debug objects.
#include "dla_writer.h"

#include <stdexcept>

#include "ar_writer.h"
#include "indgen.h"
#include "run_program.h"

namespace dlaw {

namespace {

std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Adds a string to the name file's table and gives its reference.
uint32_t add(STDnm *dnm, const std::string &s) { return STDnm_AddString(dnm, s.c_str()); }

}  // namespace

Program write_program(const ProgramDesc &p) {
    const dbgw::Encoding dnmEnc{STDNM_MAX_VERSION, p.compress, GF_LAYOUT_LITTLE, p.mode};
    const dbgw::Encoding dboEnc{STDBG_MAX_VERSION, p.compress, GF_LAYOUT_LITTLE, p.mode};

    // The name file's strings come first, so that the objects can refer to
    // them; the record offsets follow once the archive is laid out.
    STDnm *dnm = STDnm_Create();
    dnm->adrMode = p.mode;
    dnm->magic = gen_strdup("program magic");
    dnm->magic2 = gen_strdup("program magic");
    dnm->lowAdr = dbgw::adr(p.sections.empty() ? 0 : p.sections.front().begin);
    dnm->highAdr = dbgw::adr(p.sections.empty() ? 0 : p.sections.back().end);
    add(dnm, "");
    std::vector<STDnm_Section> sections;
    for (const dbgw::SectionDesc &s : p.sections) sections.push_back(dbgw::section_record(dnm, s));
    std::vector<STDnm_DloFile> entries;
    std::vector<std::vector<uint32_t>> procNames;
    for (const ObjectDesc &o : p.objects) {
        if (o.member.size() > 15) throw std::runtime_error("member name longer than 15 characters: " + o.member);
        entries.push_back(dbgw::dlo_record(dnm, {o.member, o.member, "obj/" + o.member, o.magic}));
        std::vector<uint32_t> names;
        for (const Proc &pr : o.procs) names.push_back(pr.in_dnm ? add(dnm, pr.name) : 0);
        procNames.push_back(names);
    }
    const int32_t dnmStrings = STDnm_TableCount(dnm, STDNM_STRINGS);

    Program out;
    std::vector<ar_writer::ArMember> members;
    for (size_t k = 0; k < p.objects.size(); ++k) {
        const ObjectDesc &o = p.objects[k];
        dbgw::DbgDesc d;
        d.enc = dboEnc;
        d.kind = GF_KIND_DBO;
        d.located = o.located;
        d.magic = o.magic;
        for (const Proc &pr : o.procs) d.procs.push_back({pr.name, pr.begin, pr.end, ""});
        d.tweak = [&, k](STDbg *dbg) {
            dbg->dnmStringBase = DNM_STRING_BASE;
            dbg->numDnmStrings = dnmStrings;
            auto *procs = static_cast<STDbg_Proc *>(dbg->tables[STDBG_PROCS].data);
            for (size_t i = 0; i < p.objects[k].procs.size(); ++i) {
                if (!p.objects[k].procs[i].in_dnm) continue;
                procs[i].useName = procs[i].mangledName = uint32_t(DNM_STRING_BASE) + procNames[k][i];
            }
        };
        out.dbos.push_back(dbgw::write_dbg(d));
        members.emplace_back(o.member, text(out.dbos.back()));
    }
    const std::string dla = ar_writer::write_archive(members);
    out.dla.assign(dla.begin(), dla.end());
    uint64_t at = 8;
    for (const Bytes &b : out.dbos) {
        at += 60;
        out.offsets.push_back(at);
        at += b.size() + (b.size() & 1);
    }

    std::vector<int32_t> byAdr, byOffset;
    for (const STDnm_Section &s : sections) byAdr.push_back(STDnm_AddSection(dnm, &s));
    for (size_t k = 0; k < entries.size(); ++k) {
        entries[k].offset = out.offsets[k];
        if (p.tweak_entry) p.tweak_entry(k, entries[k]);
        byOffset.push_back(STDnm_AddDloFile(dnm, &entries[k]));
    }
    STDnm_SetIndexTable(dnm, STDNM_SECTIONS_BY_ADR, byAdr.data(), int32_t(byAdr.size()));
    STDnm_SetIndexTable(dnm, STDNM_DLO_FILES_BY_OFFSET, byOffset.data(), int32_t(byOffset.size()));
    uint8_t *image = nullptr;
    int64_t size = 0;
    out.dnm = dbgw::taken(STDnm_Write(dnm, nullptr, nullptr, dbgw::options(dnmEnc), &image, &size), image, size);
    STDnm_Release(dnm);
    return out;
}

void write_files(const Program &prog, const ProgramDesc &p, const std::string &dir, const std::string &base) {
    testing_support::write_file(dir + "/" + base + ".dnm", text(prog.dnm));
    testing_support::write_file(dir + "/" + base + ".dla", text(prog.dla));
    for (size_t k = 0; k < p.objects.size(); ++k)
        testing_support::write_file(dir + "/" + p.objects[k].member, text(prog.dbos[k]));
}

}  // namespace dlaw
