// libFuzzer entry: one input, written to a file, runs the whole path of one
// operand (identification, archive walk, dispatch and report) through the
// driver, once in all-functions mode and once with a "-func=" name. An
// input that holds a name file and its .dla (fuzz_pair.h) is written as the
// two files side by side, and both are run.
//
// Every way out of the driver goes through gen_exit_fn; here that slot
// jumps back to the entry, so a fatal message ends the run instead of the
// process. The process-wide state the driver builds (function table, name
// arena, section table, option settings, address mode) is given back or
// reset before each run (in the program a fatal message ends the process,
// so nothing after it sees that state). Files the skipped frames left open are closed
// through the fopen/fclose wrappers below (the target links with
// -Wl,--wrap=fopen,--wrap=fopen64,--wrap=fclose).
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "funsize.h"
#include "fuzz_pair.h"
#include "gadr.h"
#include "genout.h"
#include "indgen.h"

extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
FILE *__real_fopen64(const char *path, const char *mode);
int __real_fclose(FILE *fp);
FILE *__wrap_fopen(const char *path, const char *mode);
FILE *__wrap_fopen64(const char *path, const char *mode);
int __wrap_fclose(FILE *fp);
}

namespace {

std::jmp_buf back_to_entry;
bool in_run;
std::vector<FILE *> open_files;

void exit_to_entry(int status) {
    std::longjmp(back_to_entry, status + 1);
}

FILE *remember(FILE *fp) {
    if (fp && in_run) open_files.push_back(fp);
    return fp;
}

// The driver's settings as the program starts with them.
void reset_state() {
    opt_addr = 0;
    opt_hex = 0;
    opt_file = 0;
    opt_gcompare = 0;
    opt_nounderscores = 0;
    opt_nosize = 0;
    opt_warnings = 1;
    opt_skip_dot_ppc64 = 1;
    opt_section_name = nullptr;
    opt_section_number = 0;
    in_archive_member = 0;
    current_ident = nullptr;
    // A handler that ended through a fatal message may have left the table
    // keeping name pointers into buffers that are gone now.
    funsize_names_stable(false);
    gadr_set_mode(GADR_MODE_32BIT);
}

// Gives back what a run left behind: the names and records of the function
// table, the section table and the files still open.
void clean_up() {
    if (funsize_table.records) {
        funsize_reset();
        gen_free_fn(funsize_table.records);
        funsize_table = function_table{};
    }
    funsize_free_sections();
    for (FILE *fp : open_files) __real_fclose(fp);
    open_files.clear();
}

void run_once(const std::string &path, const char *option) {
    std::vector<std::string> args = {"funsize"};
    if (option) args.push_back(option);
    args.push_back(path);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    reset_state();
    gen_exit_fn = exit_to_entry;
    in_run = true;
    if (setjmp(back_to_entry) == 0) funsize_main(int(args.size()), argv.data());
    in_run = false;
    clean_up();
}

}  // namespace

extern "C" FILE *__wrap_fopen(const char *path, const char *mode) { return remember(__real_fopen(path, mode)); }
extern "C" FILE *__wrap_fopen64(const char *path, const char *mode) { return remember(__real_fopen64(path, mode)); }
extern "C" int __wrap_fclose(FILE *fp) {
    for (size_t i = 0; i < open_files.size(); ++i) {
        if (open_files[i] == fp) {
            open_files.erase(open_files.begin() + long(i));
            break;
        }
    }
    return __real_fclose(fp);
}

namespace {

void write_input(const std::string &path, const uint8_t *data, size_t size) {
    FILE *fp = __real_fopen(path.c_str(), "wb");
    if (!fp) std::abort();
    if (size && std::fwrite(data, 1, size, fp) != size) std::abort();
    __real_fclose(fp);
}

void run_both_modes(const std::string &path) {
    run_once(path, nullptr);
    run_once(path, "-func=main");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string base = [] {
        const char *dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_operand." + std::to_string(getpid());
    }();
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const size_t cut = input.find(FUZZ_PAIR_SEPARATOR);
    if (cut == std::string_view::npos) {
        write_input(base + ".o", data, size);
        run_both_modes(base + ".o");
        return 0;
    }
    const size_t rest = cut + sizeof FUZZ_PAIR_SEPARATOR - 1;
    write_input(base + ".dnm", data, cut);
    write_input(base + ".dla", data + rest, size - rest);
    run_both_modes(base + ".dla");
    run_both_modes(base + ".dnm");
    return 0;
}
