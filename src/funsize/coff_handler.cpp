// The COFF handler: COFF objects of many targets, XCOFF and PE images. The
// section table comes from the section headers, the functions from the
// symbol table (C_EXT and C_STAT symbols in code sections, with the size of
// a function's auxiliary entry when it has one), then the report.
#include <cstdint>
#include <cstring>
#include <optional>

#include "coff.h"
#include "coff_reader.h"
#include "machine_types.h"
#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "instream.h"

namespace {

// The longest section name compared with "-sect=".
constexpr size_t SECTION_NAME_MAX = 255;

// Prefixes of names that never stand for a function.
constexpr const char *LOCAL_LABEL_PREFIX = "..lx";
constexpr const char *FUNCTION_END_PREFIX = "__lks_eofn_";

[[noreturn]] void symbol_eof(uint64_t index, const char *file_name) {
    gen_fatal(2, "Unexpected EOF on symbol %d in '%s'", int(index), file_name);
}

// Sets the reader up for the input's target: byte order, entry size and the
// section-header layout.
void configure_reader(file_ident *ident) {
    coff_big_endian = ident->big_endian ? 1 : 0;
    m88k_layout = ident->machine_type == MT_M88000 ? 1 : 0;
    ti_coff = ident->machine_type == MT_TI ? 1 : 0;
    ident->ti_coff = uint32_t(ti_coff);
    // An entry is never shorter than the fields the reader takes from it.
    const uint32_t least = m88k_layout ? M88K_SYMESZ : SYMESZ;
    coff_symbol_entry_size = int(ident->symbol_entry_size < least ? least : ident->symbol_entry_size);
}

// The name of a section for "-sect=": its eight-byte field, or the string
// table entry it points to (read through `f`, whose position is kept).
void section_name(FILE *f, const char *file_name, const coff_section_header &h, int64_t strings,
                  char (&name)[SECTION_NAME_MAX + 1]) {
    if (!coff_name_is_long(h.s_name)) {
        std::memcpy(name, h.s_name, SYMNMLEN);
        name[SYMNMLEN] = 0;
        return;
    }
    const int64_t here = gen_ftell64(f);
    if (coff_read_name(f, strings, coff_name_offset(h.s_name), name, sizeof name) != 0) name[0] = 0;
    gen_safe_fseek64(file_name, f, here, SEEK_SET);
}

// Fills the section table from the `count` headers at the current position.
void read_sections(FILE *f, const char *file_name, uint32_t count, int64_t strings) {
    const bool filter = opt_section_name != nullptr || opt_section_number != 0;
    const uint32_t size = coff_section_header_size();
    // The whole table must be in the file before anything is allocated.
    InStream in(f, file_name);
    if (count != 0 && !in.holds_here(count, size)) {
        const int64_t left = in.left();
        gen_fatal(2, "Unexpected EOF on section header %d in '%s'", int(uint64_t(left > 0 ? left : 0) / size), file_name);
    }

    funsize_alloc_sections(count);
    for (uint32_t i = 0; i < count; ++i) {
        coff_section_header h;
        if (coff_read_section_header(f, &h) != 0)
            gen_fatal(2, "Unexpected EOF on section header %d in '%s'", int(i), file_name);
        section_extent &e = section_table[i];
        e.start = uint64_t(int64_t(int32_t(h.s_vaddr)));
        e.size = uint64_t(int64_t(int32_t(h.s_size)));
        e.is_code = (h.s_flags & STYP_TEXT) != 0;
        e.excluded = filter;
        if (opt_section_name) {
            char name[SECTION_NAME_MAX + 1];
            section_name(f, file_name, h, strings, name);
            if (std::strcmp(name, opt_section_name) == 0) {
                opt_section_number = int32_t(i + 1);
                e.excluded = 0;
            }
        } else if (opt_section_number == int32_t(i + 1)) {
            e.excluded = 0;
        }
    }
}

// Positions `f` at entry `index` of the symbol table; no seek is needed when
// the entry before has been read whole.
bool seek_entry(FILE *f, int64_t symbols, uint64_t index) {
    return InStream(f).move_to(symbols + int64_t(index) * coff_symbol_entry_size);
}

// Reads and drops n bytes; false at the end of the file.
bool skip_bytes(FILE *f, uint64_t n) { return InStream(f).skip(n); }

// The auxiliary entry of a function: tag index (not used) and size.
bool read_function_aux(FILE *f, int64_t symbols, uint64_t index, int64_t &size) {
    uint32_t tag, fsize;
    if (!seek_entry(f, symbols, index) || coff_read_u32(&tag, f) != 0 || coff_read_u32(&fsize, f) != 0 ||
        !skip_bytes(f, uint64_t(coff_symbol_entry_size) - 8))
        return false;
    size = int32_t(fsize);
    return true;
}

bool skip_aux(FILE *f, int64_t symbols, uint64_t index) {
    return seek_entry(f, symbols, index) && skip_bytes(f, uint64_t(coff_symbol_entry_size));
}

bool taken(const coff_symbol &s) {
    const bool section_symbol = s.n_sclass == C_STAT && s.n_type == T_NULL && s.n_numaux == 1;
    if (section_symbol || (s.n_sclass != C_EXT && s.n_sclass != C_STAT)) return false;
    const int32_t section = int16_t(s.n_scnum);
    if (opt_section_number != 0 && opt_section_number != section) return false;
    if (section < 1 || uint32_t(section) > section_count) return false;
    const section_extent &e = section_table[section - 1];
    return !e.excluded && e.is_code;
}

// Reads the file header and the section table, then records the function
// symbols of the COFF image at the current position of `f`. Names in the
// string table are read through `f2` into `names`, which the records point
// into and which must outlive the report.
void read_coff(FILE *f, FILE *f2, const char *file_name, std::optional<coff_string_table> &names) {
    const int64_t start = gen_ftell64(f);
    if (current_ident->machine_type == 0)
        gen_fatal(2, "unknown magic number 0x%4x in file '%s'", current_ident->machine, file_name);
    configure_reader(current_ident);
    if (current_ident->file_type == FT_PE && coff_skip_pe_stub(f) != 0)
        gen_fatal(2, "no PE header behind the MZ stub of '%s'", file_name);

    // The fields of the file header that the file does not hold read as 0.
    coff_file_header h;
    coff_read_file_header(f, &h);
    const int64_t symbols = start + int64_t(h.f_symptr);
    const int64_t strings = symbols + int64_t(h.f_nsyms) * coff_symbol_entry_size;
    if (h.f_opthdr > 0) gen_safe_fseek64(file_name, f, h.f_opthdr, SEEK_CUR);
    read_sections(f, file_name, h.f_nscns, strings);
    names.emplace(f2, strings);

    // Only the all-functions report keeps the names it is given; requested
    // names are compared and dropped.
    const bool keep_names = funsize_table.requested_count == 0;
    gen_safe_fseek64(file_name, f, symbols, SEEK_SET);
    for (uint64_t i = 0; i < h.f_nsyms;) {
        coff_symbol s;
        if (i > uint64_t(INT32_MAX) || coff_read_symbol(f, symbols, int(i), &s) != 0) symbol_eof(i, file_name);
        uint64_t next = i + 1;
        int64_t size = 0;
        if (coff_is_function_type(s.n_type) && s.n_numaux == 1) {
            if (!read_function_aux(f, symbols, next, size)) symbol_eof(next, file_name);
            ++next;
        } else {
            for (unsigned k = 0; k < s.n_numaux; ++k, ++next)
                if (!skip_aux(f, symbols, next)) symbol_eof(next, file_name);
        }

        if (taken(s)) {
            char short_name[SYMNMLEN + 1];
            const char *name = short_name;
            const bool long_name = coff_name_is_long(s.n_name);
            if (long_name) {
                name = names->name(coff_name_offset(s.n_name), keep_names);
                if (!name) gen_fatal(2, "unexpected EOF in string table in '%s'", file_name);
            } else {
                std::memcpy(short_name, s.n_name, SYMNMLEN);
                short_name[SYMNMLEN] = 0;
            }
            // Names from the string table live as long as `names` and are
            // kept as pointers; an eight-character name on this stack is
            // copied.
            funsize_names_stable(long_name && keep_names);
            if (!gen_strprefix(name, LOCAL_LABEL_PREFIX) && !gen_strprefix(name, FUNCTION_END_PREFIX) &&
                funsize_record_symbol(name, s.n_value, uint64_t(size), uint32_t(int16_t(s.n_scnum))) == 1)
                break;
        }
        i = next;
    }
}

}  // namespace

int funsize_handle_coff(FILE *f, FILE *f2, input_desc *d) {
    funsize_reset();
    current_ident = d->ident;
    in_archive_member = int(d->in_archive);

    std::optional<coff_string_table> names;
    read_coff(f, f2, d->name, names);
    funsize_names_stable(false);

    const int result = funsize_report_input(d, nullptr);
    funsize_free_sections();
    return result;
}
