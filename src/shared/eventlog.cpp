// Crash and event logging: a fixed ring of the most recent notifications,
// written out when the program dies of an assertion failure, an abort or a
// fatal signal. Everything the writer touches is set up in advance (the
// file name, the header) and lives in static storage, so that it can run
// inside a signal handler: no allocation, no formatting, plain writes.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "genout.h"
#include "indgen.h"
#include "indgensys.h"
#include "platform.h"

namespace {

constexpr size_t RING_ENTRIES = 64;
constexpr size_t ENTRY_BYTES = 256;

char ring[RING_ENTRIES][ENTRY_BYTES];
uint64_t noted;  // entries ever noted; the ring holds the last RING_ENTRIES

char dump_path[4096];  // "" while nothing is to be written
char header[512];
volatile bool dumping;

// Appends s to dst (capacity cap, length *len), one line: line ends become
// blanks and the text is cut where it does not fit.
void append(char *dst, size_t cap, size_t *len, const char *s) {
    for (; *s && *len + 1 < cap; ++s) dst[(*len)++] = *s == '\n' || *s == '\r' ? ' ' : *s;
    dst[*len] = '\0';
}

void put(int fd, const char *s) { plat::raw_write(fd, s, uint32_t(std::strlen(s))); }

void write_dump(const char *reason) {
    if (!dump_path[0] || dumping) return;
    dumping = true;
    int fd = plat::open_file(dump_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    put(fd, header);
    put(fd, reason);
    put(fd, "\n");
    for (uint64_t i = noted > RING_ENTRIES ? noted - RING_ENTRIES : 0; i < noted; ++i) {
        put(fd, ring[i % RING_ENTRIES]);
        put(fd, "\n");
    }
    plat::close_file(fd);
}

void on_fatal_signal(int sig) {
    write_dump(plat::signal_name(sig));
    plat::raise_default(sig);
}

}  // namespace

void gen_eventlog_init(const char *program_name) {
    dump_path[0] = '\0';
    const char *folder = gen_getenv("LKS_RNE_DUMP_PATH", nullptr);
    if (!folder || !program_name) return;
    const std::string pid = std::to_string(plat::process_id());
    const std::string file = std::string(program_name) + "-" + pid + ".log";
    char *path = gen_path_join(folder, file.c_str());
    const size_t n = std::strlen(path);
    if (n < sizeof dump_path) std::memcpy(dump_path, path, n + 1);
    gen_free_fn(path);
    if (!dump_path[0]) return;
    gen_snprintf(header, sizeof header, "event log of %s, process %s, ended by: ", program_name, pid.c_str());
    plat::catch_fatal_signals(on_fatal_signal);
}

void gen_eventlog_note(const char *label, const char *text) {
    char *entry = ring[noted % RING_ENTRIES];
    size_t len = 0;
    entry[0] = '\0';
    append(entry, ENTRY_BYTES, &len, label ? label : "");
    append(entry, ENTRY_BYTES, &len, ": ");
    append(entry, ENTRY_BYTES, &len, text ? text : "");
    while (len > 0 && entry[len - 1] == ' ') entry[--len] = '\0';
    ++noted;
}

void gen_crashdump_note(const char *reason) { write_dump(reason); }
