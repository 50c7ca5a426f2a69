// The a.out handler: one section (the text), the text symbols in address
// order, then the report. a.out symbols carry no sizes: each function ends
// at the next symbol above it, the last one at the end of the text.
#include <span>
#include <string>
#include <string_view>

#include "aout.h"
#include "bytes.h"
#include "funsize.h"
#include "indgen.h"

namespace {

// Names by n_strx in the string table as read (its size word included). A
// name that runs to the end of the table without a NUL is copied so that it
// can be handed on as a C string; an offset outside the table is an empty
// name.
class Names {
  public:
    explicit Names(const bsd_file &b)
        : table_(reinterpret_cast<const uint8_t *>(b.strings),
                 b.strings && b.strsize > 0 ? size_t(b.strsize) : 0) {}

    const char *at(uint32_t offset) {
        std::string_view v = bytes::string_at(table_, offset);
        if (v.empty()) return "";
        if (v.data() + v.size() < reinterpret_cast<const char *>(table_.data()) + table_.size()) return v.data();
        spill_.assign(v);
        return spill_.c_str();
    }

  private:
    std::span<const uint8_t> table_;
    std::string spill_;
};

bool is_text(uint8_t type) { return type == N_TEXT || type == (N_TEXT | N_EXT); }

// Only names that the compilers of these targets give functions: a leading
// underscore, or the "." and "%" of local and compiler-made labels.
bool function_like(const char *name) { return name[0] == '_' || name[0] == '.' || name[0] == '%'; }

void read_aout(FILE *f, const input_desc *d) {
    bsd_file b;
    if (!Bsd_Open(f, &b, d->member_name, d->archive_name, -1)) return;
    Bsd_ReadSymbols(f, &b);
    Bsd_SortSymbols(&b);

    funsize_alloc_sections(1);
    section_extent &text = section_table[0];
    text.start = 0;
    text.size = b.a_text;
    text.is_code = 0;
    text.excluded = 0;

    Names names(b);
    bool first = true;
    for (int32_t i = 0; i < b.nsyms; ++i) {
        const nlist &s = b.symbols[i];
        if (!is_text(s.n_type)) continue;
        const char *name = names.at(s.n_strx);
        if (!function_like(name)) continue;
        // The lowest function address stands for the start of the text.
        if (first) text.start = s.n_value;
        first = false;
        funsize_record_symbol(name, s.n_value, 0, 1);
    }
    Bsd_Close(&b);
}

}  // namespace

int funsize_handle_aout(FILE *f, FILE *, input_desc *d) {
    funsize_reset();
    current_ident = d->ident;
    in_archive_member = int(d->in_archive);

    read_aout(f, d);

    const int result = funsize_report_input(d, nullptr);
    funsize_free_sections();
    return result;
}
