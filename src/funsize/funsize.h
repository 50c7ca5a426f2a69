// The function-size report.
//
// The driver (main) reads the options into the opt_ settings and hands each
// file operand to the input walker. The format handlers fill the function
// table one symbol at a time (funsize_record_symbol); funsize_report closes
// the sizes the symbols did not give and prints one line per function.
// Needs the object-file library, the symbol-table library, gadr and the host
// support library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "gadr.h"
#include "objfile.h"

// Settings of the command line; they keep their value for the whole run.
extern int opt_addr;
extern int opt_hex;
extern int opt_file;
extern int opt_gcompare;
extern int opt_nounderscores;
extern int opt_nosize;
extern int opt_warnings;
extern int opt_skip_dot_ppc64;
extern const char *opt_section_name;
extern int32_t opt_section_number;
extern int in_archive_member;
extern file_ident *current_ident;

// Section of a record made from debug information.
constexpr uint32_t FUNSIZE_DEBUG_SECTION = 0xFFFFFFFFu;
// Name under which local labels are kept as boundaries.
constexpr const char *FUNSIZE_BOUNDARY_NAME = "@#$%";

struct function_record {
    char *name;
    gadr start;
    gadr end;
    uint32_t section;
    uint32_t order;
    uint8_t requested;
};

struct function_table {
    function_record *records;
    uint64_t capacity;
    uint64_t next;  // count of used records
    uint32_t requested_count;
    uint32_t found_count;
    uint64_t sized_count;
};

struct section_extent {
    uint64_t start;
    uint64_t size;
    uint8_t is_code;
    uint8_t excluded;
};

// An address range [low, high) of a loaded debug-information file.
struct debug_range {
    gadr low;
    gadr high;
};
struct debug_range_list {
    const debug_range *ranges;
    uint64_t count;
};

extern function_table funsize_table;
extern section_extent *section_table;
extern uint32_t section_count;

constexpr uint64_t FUNSIZE_INITIAL_CAPACITY = 32768;

void funsize_init_table();
// A copy of `name` that lives until the next funsize_reset.
char *funsize_copy_name(const char *name);
// Splits a decorated local name "function.middle.file" into its function
// part and its decoded file part (".XX" stands for the byte XX, any other
// '.' ends the file part). False when the name is not one or the file part
// decodes to nothing.
bool funsize_split_decorated(const char *name, std::string &function, std::string &file);
// While set, the names handed to funsize_record_symbol stay valid until the
// report has been printed, so the table keeps pointers instead of copies.
void funsize_names_stable(bool stable);
void funsize_reserve(uint64_t count);
// Gives back the memory a large input made the table take, between inputs
// of a run without requested names.
void funsize_release_table();
void funsize_add_requested(const char *name);
void funsize_reset();

// The naming rules that set the two kinds of input apart. One recorder
// serves both; these say where it behaves differently.
struct funsize_source {
    // "__caller." and "__callee." names are call-site labels, not functions.
    bool call_site_names;
    // A 64-bit PowerPC name "." + function is the function's entry point and
    // is recorded without the '.' (unless -no_skip_dot_ppc64).
    bool ppc64_dot_entry_points;
    // The file part of a decorated local name is a path of this host, cut to
    // its base name by the host's rules; otherwise by '/', '\\' and ':'.
    bool host_base_name;
    // A requested name met twice in one input is an error and the first
    // symbol stays; otherwise the later one silently replaces it.
    bool first_symbol_wins;
};
// Symbols of object files and executables.
inline constexpr funsize_source FUNSIZE_OBJECT_SYMBOLS{true, true, false, true};
// Procedures of the tool chain's debug information.
inline constexpr funsize_source FUNSIZE_DEBUG_PROCEDURES{false, false, true, false};

// Records one symbol: address, size (0 when the symbol has none) and
// 1-based section index. Returns 1 when every requested name has been
// found with a size of its own, so that the caller may stop reading.
int funsize_record_symbol(const char *name, uint64_t address, uint64_t size, uint32_t section);
// Records one procedure of debug information (start and end address, no
// section); file_name is not used; ranges (the name file's sections, or
// null) close a requested procedure whose start equals its end.
int funsize_record_debug_proc(const char *name, const gadr &start, const gadr &end, const char *file_name,
                              const debug_range_list *ranges);
int funsize_report(const char *file_name, const debug_range_list *debug_ranges);
// The report of one input as the format handlers print it: under the
// member name with -gcompare, else under the input's name, and without
// warnings for an archive member.
int funsize_report_input(const input_desc *d, const debug_range_list *debug_ranges);

// A report line handed to a caller instead of printed: the input's name
// (the archive's for a member), the member's name or null, the function's
// name as the report prints it, its address and size.
struct funsize_line {
    const char *file;
    const char *member;
    const char *name;
    uint64_t address;
    uint64_t size;
};
using funsize_sink = void (*)(void *context, const funsize_line &line);
// While a sink is set, funsize_report hands it every line it would print,
// prints nothing and warns of no missing name; null restores printing.
void funsize_set_sink(funsize_sink sink, void *context);

// Allocates a zeroed section table of `count` entries (section_table,
// section_count) and frees it again.
void funsize_alloc_sections(uint32_t count);
void funsize_free_sections();

[[noreturn]] void funsize_usage(int status);

// Format handlers.
int funsize_handle_debug_info(FILE *f, FILE *f2, input_desc *d);
int funsize_handle_aout(FILE *f, FILE *f2, input_desc *d);
int funsize_handle_elf(FILE *f, FILE *f2, input_desc *d);
int funsize_handle_coff(FILE *f, FILE *f2, input_desc *d);
int funsize_handle_unknown(FILE *f, FILE *f2, input_desc *d);
// Fills the walker's handler table.
void funsize_install_handlers();

// The driver, callable from tests.
int funsize_main(int argc, char **argv);
