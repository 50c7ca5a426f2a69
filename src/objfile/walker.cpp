// The input walker: opens one file operand, identifies it and hands it to
// the format handler that its file type selects.
#include <cstring>

#include "genout.h"
#include "indgen.h"
#include "objfile.h"

format_handler handler_table[HANDLER_SLOTS];
int archive_is_elfa;
int archive_is_arch64;

namespace {

input_desc desc;

}  // namespace

int dispatch_file(FILE *f, FILE *f2, input_desc *d) {
    int slot;
    switch (d->ident->file_type) {
    case FT_DEBUG_INFO: slot = HANDLER_DEBUG_INFO; break;
    case FT_AOUT: slot = HANDLER_AOUT; break;
    case FT_ELF: slot = HANDLER_ELF; break;
    case FT_COFF:
    case FT_COFF4:
    case FT_XCOFF:
    case FT_PE: slot = HANDLER_COFF; break;
    case FT_IMPORT_OBJECT:
    case FT_RESOURCE: return -1;
    default: slot = HANDLER_UNKNOWN; break;
    }
    format_handler h = handler_table[slot];
    if (!h) return slot == HANDLER_UNKNOWN && d->in_archive ? 0 : -1;
    return h(f, f2, d);
}

int walk_input(const char *name, const char *mode) {
    FILE *f = gen_fopen(name, mode);
    FILE *f2 = f ? gen_fopen(name, mode) : nullptr;
    if (!f || !f2) gen_fatal(1, "unable to open input file '%s'", name);

    desc = input_desc{};
    int result = -1;
    desc.ident = identify_file(f, name);
    if (desc.ident) {
        desc.name = const_cast<char *>(name);
        desc.member_name = const_cast<char *>(name);
        result = dispatch_file(f, f2, &desc);
    }
    std::fclose(f);
    std::fclose(f2);
    return result;
}

int walk_input_readonly(const char *name) { return walk_input(name, "rb"); }
