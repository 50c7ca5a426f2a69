// The input walker: opens one file operand, identifies it, and hands it, or
// each member of an archive, to the format handler its file type selects.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive.h"
#include "genout.h"
#include "indgen.h"
#include "indgensys.h"
#include "instream.h"
#include "objfile.h"

format_handler handler_table[HANDLER_SLOTS];
int archive_is_elfa;
int archive_is_arch64;

namespace {

input_desc desc;

// Temporary copies of operands that cannot be sought; they are removed when
// the program ends, however it ends.
std::vector<std::string> &temporary_copies() {
    static std::vector<std::string> copies;
    return copies;
}

void remove_temporary_copies() {
    for (const std::string &c : temporary_copies()) gen_remove_file(c.c_str());
}

// Copies what is left of `in` (a pipe, a FIFO, a terminal: an operand that
// can be read only once, front to back) into a new temporary file and
// returns its name, so that the readers can seek in it and open it twice.
std::string copy_to_temporary(FILE *in, const char *name) {
    char *tmp = gen_tmpname(nullptr, nullptr, "tmp");
    FILE *out = tmp ? gen_fopen(tmp, "wb") : nullptr;
    if (!out) gen_fatal(1, "unable to copy input file '%s' to a temporary file", name);
    std::string copy = tmp;
    gen_free_fn(tmp);
    if (temporary_copies().empty()) std::atexit(remove_temporary_copies);
    temporary_copies().push_back(copy);
    char buf[1 << 16];
    size_t n;
    InStream source(in, name);
    while ((n = source.read(buf, sizeof buf)) > 0) gen_safe_fwrite64(copy.c_str(), buf, 1, int64_t(n), out);
    if (source.error()) gen_fatal(1, "failed reading input file '%s'", name);
    gen_safe_fclose(copy.c_str(), "temporary file", out);
    return copy;
}

bool is_archive(uint32_t type) {
    return type == FT_ARCHIVE || type == FT_AIX_ARCHIVE || type == FT_ELFA_ARCHIVE || type == FT_ARCH64_ARCHIVE;
}

// Identifies the input at the current position of `f` under the display name
// in `desc` and dispatches it. A member that cannot be identified leaves
// `result` alone.
void dispatch_member(FILE *f, FILE *f2, int &result) {
    desc.ident = identify_file(f, desc.name);
    if (desc.ident) result = dispatch_file(f, f2, &desc);
}

// An AIX big archive: a chain of members linked by file offsets.
int walk_aix(FILE *f, FILE *f2, const char *name) {
    char fixed[AIAFF_FL_HSZ];
    char header[AIAFF_AR_HBUF];
    if (!read_aix_fixed_header(f, fixed)) gen_fatal(1, "failed reading the header of AIX format library '%s'", name);
    int result = 0;
    for (char *m = first_aix_member(f, fixed, header); m; m = next_aix_member(f, fixed, header)) {
        desc.name = gen_strcat4(name, "(", m, ")");
        desc.member_name = m;
        desc.in_archive = 1;
        desc.member_offset = uint64_t(gen_ftell64(f));
        desc.member_header = nullptr;
        dispatch_member(f, f2, result);
        gen_free_fn(m);
        gen_free_fn(desc.name);
        desc.name = nullptr;
        desc.member_name = nullptr;
    }
    return result;
}

// The common, elfa and 64-bit archives: members one behind the other.
int walk_members(FILE *f, FILE *f2, const char *name, uint32_t type) {
    archive_is_arch64 = type == FT_ARCH64_ARCHIVE;
    gen_safe_fseek64(name, f, int64_t(archive_is_arch64 ? SARMAG64 : SARMAG), SEEK_SET);
    int result = 0;
    while (archive_member *hdr = read_archive_member(f, name)) {
        const int64_t pos = gen_ftell64(f);
        const int64_t size = hdr->size;
        desc.member_header = hdr;
        desc.member_name = hdr->name;
        desc.in_archive = 1;
        desc.member_offset = uint64_t(pos);
        if (hdr->is_symbol_table) {
            desc.name = gen_strcat2(name, "(table of contents)");
        } else {
            desc.name = gen_strcat4(name, "(", hdr->name, ")");
            dispatch_member(f, f2, result);
        }
        gen_free_fn(desc.name);
        desc.name = nullptr;
        desc.member_name = nullptr;
        desc.member_header = nullptr;
        // Resume behind the member, wherever the handler left `f`; an odd
        // size is followed by one padding byte. A negative size (already
        // warned about) would lead backwards, so the walk ends there.
        if (pos < 0 || size < 0 || uint64_t(size) + 1 > uint64_t(INT64_MAX - pos)) break;
        gen_safe_fseek64(name, f, pos + size + (size & 1), SEEK_SET);
    }
    return result;
}

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
    // Import objects and resource files have no handler of their own.
    case FT_IMPORT_OBJECT:
    case FT_RESOURCE: return -1;
    // Everything else, profile data and nested archives included.
    default: slot = HANDLER_UNKNOWN; break;
    }
    format_handler h = handler_table[slot];
    if (!h) return slot == HANDLER_UNKNOWN && d->in_archive ? 0 : -1;
    return h(f, f2, d);
}

int walk_input(const char *name, const char *mode) {
    FILE *f = gen_fopen(name, mode);
    // An operand without a position (a pipe or a FIFO) is read once, into a
    // temporary copy; both handles read the copy, under the operand's name.
    // A FIFO is thus never opened a second time after its writer has gone.
    const char *path = name;
    std::string copy;
    if (f && gen_ftell64(f) < 0) {
        copy = copy_to_temporary(f, name);
        std::fclose(f);
        path = copy.c_str();
        f = gen_fopen(path, mode);
    }
    FILE *f2 = f ? gen_fopen(path, mode) : nullptr;
    if (!f || !f2) gen_fatal(1, "unable to open input file '%s'", name);

    desc = input_desc{};
    int result = -1;
    desc.ident = identify_file(f, name);
    if (desc.ident) {
        const uint32_t type = desc.ident->file_type;
        archive_is_elfa = type == FT_ELFA_ARCHIVE;
        if (!is_archive(type)) {
            desc.name = const_cast<char *>(name);
            desc.member_name = const_cast<char *>(name);
            result = dispatch_file(f, f2, &desc);
        } else {
            desc.archive_name = const_cast<char *>(name);
            result = type == FT_AIX_ARCHIVE ? walk_aix(f, f2, name) : walk_members(f, f2, name, type);
        }
    }
    gen_safe_fclose(name, "input file", f);
    gen_safe_fclose(name, "input file", f2);
    return result;
}

int walk_input_readonly(const char *name) { return walk_input(name, "rb"); }
