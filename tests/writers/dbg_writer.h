// Test inputs of the debug-information family: name files and debug
// objects built from short descriptions through the library's own writer,
// files on disk for the readers, and a recorder of the messages that the
// symbol-table library sends through the program's message hook.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "st_api.h"

namespace dbgw {

using Bytes = std::vector<uint8_t>;

struct Encoding {
    int32_t version;
    bool compress = true;
    uint8_t layout = GF_LAYOUT_LITTLE;
    uint32_t mode = GADR_MODE_32BIT;
};

struct SectionDesc {
    std::string name;
    uint64_t begin = 0, end = 0;  // UINT64_MAX: no address
    uint8_t sc = 1;
};

struct DloDesc {
    std::string name, baseName, path, magic;
    uint64_t offset = 0;
    int32_t timeStamp = 1000;
    uint8_t language = 1;
    uint32_t flags = 0;
};

struct DnmDesc {
    Encoding enc{STDNM_MAX_VERSION};
    std::vector<SectionDesc> sections;
    std::vector<DloDesc> dlos;
    std::function<void(STDnm *)> tweak;  // last changes before writing
};

struct ProcDesc {
    std::string name;
    uint64_t begin = 0, end = 0;  // UINT64_MAX: no address
    std::string mangled;
};

struct DbgDesc {
    Encoding enc{STDBG_MAX_VERSION};
    uint32_t kind = GF_KIND_DBG;
    bool located = true;
    std::string magic = "dbg magic 1";
    std::vector<ProcDesc> procs;
    std::function<void(STDbg *)> tweak;
};

// The container options of an encoding.
GFileOptions options(const Encoding &enc);
// An address from a 64-bit number; UINT64_MAX is the invalid address.
gadr adr(uint64_t v);

// The records of a section and an object entry, their strings added to the
// name file's (the fields its version does not store left at their defaults).
STDnm_Section section_record(STDnm *dnm, const SectionDesc &s);
STDnm_DloFile dlo_record(STDnm *dnm, const DloDesc &f);
Bytes write_dnm(const DnmDesc &d);
// The image a library writer made in memory (freed here; read once the call
// that gives `status` has filled it in); throws when the writer failed.
Bytes taken(int status, uint8_t *const &image, const int64_t &size);
Bytes write_dbg(const DbgDesc &d);

// The path of a file `name` holding `bytes`, in a temporary directory of
// the test run (removed at exit); a later call with the same name
// overwrites it.
std::string temp_file(const Bytes &bytes, const std::string &name);

// Reads bytes through the library, from a file on disk.
STDnm *read_dnm(const Bytes &bytes, int32_t config = 0);
STDbg *read_dbg(const Bytes &bytes, int32_t config = 0);

// Appends, or overwrites, a 32-bit big-endian word.
void put32(Bytes &b, uint32_t v);
void patch32(Bytes &b, size_t at, uint32_t v);
// Bytes from hex digits; blanks only group fields.
Bytes hex(const char *text);
// Reads the name file at `path` with every table, applies `change` and
// writes it back (compressed, little-endian); false when either step fails.
bool rewrite_dnm(const std::string &path, const std::function<void(STDnm *)> &change);

// Records every message while alive: "class|text" (text without the line
// end the message routine would add). An exit through gen_exit_fn throws
// Exited with the status.
struct Exited {
    int status;
};

class MessageLog {
  public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    const std::vector<std::string> &all() const { return lines_; }
    std::string joined() const;
    bool has(const std::string &line) const;
    bool contains(const std::string &part) const;
    void clear() { lines_.clear(); }
    void record(const std::string &line) { lines_.push_back(line); }

  private:
    std::vector<std::string> lines_;
    void *old_hook_;
    void *old_exit_;
};

// Sets a library flag for the life of the object.
class FlagScope {
  public:
    FlagScope(int flag, uint32_t value);
    ~FlagScope();

  private:
    int flag_;
    uint32_t old_;
};

}  // namespace dbgw
