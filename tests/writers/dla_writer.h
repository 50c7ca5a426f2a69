// A complete synthetic program's debug information: a name file (.dnm), the
// archive of its debug objects (.dla, one "!<arch>\n" member per object)
// and the same objects as plain .dbo files, built from one description
// through the symbol-table library's writer.
//
//   dlaw::ProgramDesc p;
//   p.sections = {{".text", 0x1000, 0x2000}};
//   p.objects = {{"a.dbo", "magic a", {{"main", 0x1000, 0x1040}}}};
//   dlaw::Program out = dlaw::write_program(p);   // out.dnm, out.dla, out.dbos
//
// Each object is listed in the name file with its member's data offset in
// the .dla and its magic string. A procedure marked in_dnm keeps its name in
// the name file's strings (the object refers to them above its
// dnmStringBase), so that it resolves only when the object is attached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbg_writer.h"

namespace dlaw {

using dbgw::Bytes;

struct Proc {
    std::string name;
    uint64_t begin = 0;
    uint64_t end = 0;  // UINT64_MAX: no address
    bool in_dnm = false;
};

struct ObjectDesc {
    std::string member;  // at most 15 characters
    std::string magic;
    std::vector<Proc> procs;
    bool located = true;
};

struct ProgramDesc {
    uint32_t mode = GADR_MODE_32BIT;
    bool compress = true;
    std::vector<dbgw::SectionDesc> sections;
    std::vector<ObjectDesc> objects;
    // Last changes to an entry of "Dlo Files" before the name file is
    // written (entry index, record).
    std::function<void(size_t, STDnm_DloFile &)> tweak_entry;
};

struct Program {
    Bytes dnm;
    Bytes dla;
    std::vector<Bytes> dbos;        // each object on its own
    std::vector<uint64_t> offsets;  // of each member's data in the .dla
};

// The base of the name-file string references in the objects.
constexpr int32_t DNM_STRING_BASE = 0x1000000;

Program write_program(const ProgramDesc &p);

// Writes base.dnm, base.dla and every object under its member name into dir.
void write_files(const Program &prog, const ProgramDesc &p, const std::string &dir, const std::string &base);

}  // namespace dlaw
