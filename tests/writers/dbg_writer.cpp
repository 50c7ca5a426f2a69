// Name files and debug objects from descriptions, temporary files, and the
// message recorder of the symbol-table library tests.
#include "dbg_writer.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "genout.h"
#include "indgen.h"
#include "run_program.h"

namespace dbgw {

namespace {

MessageLog *current_log;

void record_message(int code, const char *fmt, va_list args) {
    char buf[2048];
    gen_vsnprintf(buf, sizeof buf, fmt, args);
    std::string text(buf);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (current_log) current_log->record(std::to_string(code) + "|" + text);
}

void throw_exit(int status) { throw Exited{status}; }

const std::string &temp_dir() {
    static const struct TempDir {
        std::string path = testing_support::make_temp_dir();
        ~TempDir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } dir;
    return dir.path;
}

}  // namespace

GFileOptions options(const Encoding &enc) { return GFileOptions{uint32_t(enc.compress ? 1 : 0), enc.layout, 0}; }

Bytes taken(int status, uint8_t *const &image, const int64_t &size) {
    if (status != 0) throw std::runtime_error("the library's writer failed");
    Bytes out(image, image + size);
    gen_free_fn(image);
    return out;
}

gadr adr(uint64_t v) {
    gadr g;
    if (v == UINT64_MAX)
        gadr_set_invalid(g);
    else
        gadr_from_u64(g, v);
    return g;
}

STDnm_Section section_record(STDnm *dnm, const SectionDesc &s) {
    STDnm_Section rec{};
    rec.name = rec.altName = STDnm_AddString(dnm, s.name.c_str());
    rec.begin = adr(s.begin);
    rec.end = adr(s.end);
    rec.value64 = 0x10;
    rec.value32 = -2;
    rec.sc = s.sc;
    rec.index1 = rec.index2 = rec.index3 = -1;
    rec.flags = dnm->version >= 23 ? 0x201 : s.sc < 4 ? 1u << s.sc : 0;
    return rec;
}

STDnm_DloFile dlo_record(STDnm *dnm, const DloDesc &f) {
    STDnm_DloFile rec{};
    rec.name = STDnm_AddString(dnm, f.name.c_str());
    rec.baseName = STDnm_AddString(dnm, f.baseName.c_str());
    rec.path = STDnm_AddString(dnm, f.path.c_str());
    rec.magic = rec.magic2 = STDnm_AddString(dnm, f.magic.c_str());
    rec.iTopLevelSourceFile = rec.iTopLevelSourceFile2 = -1;
    rec.objectFileBaseName = dnm->version >= 11 ? rec.baseName : 0;
    rec.timeStamp = f.timeStamp;
    rec.offset = f.offset;
    rec.language = dnm->version >= 19 ? f.language : 31;
    rec.flags = dnm->version >= 13 ? f.flags : 0;
    return rec;
}

Bytes write_dnm(const DnmDesc &d) {
    STDnm *dnm = STDnm_Create();
    dnm->version = d.enc.version;
    dnm->adrMode = d.enc.mode;
    dnm->magic = gen_strdup("dnm magic");
    dnm->magic2 = gen_strdup("dnm magic 2");
    dnm->string3 = gen_strdup("third");
    dnm->string4 = gen_strdup("fourth");
    dnm->lowAdr = adr(0x100);
    dnm->highAdr = adr(0x8000);
    STDnm_AddString(dnm, "");
    std::vector<int32_t> byAdr, byOffset;
    for (const SectionDesc &s : d.sections) {
        const STDnm_Section rec = section_record(dnm, s);
        byAdr.push_back(STDnm_AddSection(dnm, &rec));
    }
    for (const DloDesc &f : d.dlos) {
        const STDnm_DloFile rec = dlo_record(dnm, f);
        byOffset.push_back(STDnm_AddDloFile(dnm, &rec));
    }
    STDnm_SetIndexTable(dnm, STDNM_SECTIONS_BY_ADR, byAdr.data(), int32_t(byAdr.size()));
    STDnm_SetIndexTable(dnm, STDNM_DLO_FILES_BY_OFFSET, byOffset.data(), int32_t(byOffset.size()));
    if (d.tweak) d.tweak(dnm);
    uint8_t *image = nullptr;
    int64_t size = 0;
    Bytes out = taken(STDnm_Write(dnm, nullptr, nullptr, options(d.enc), &image, &size), image, size);
    STDnm_Release(dnm);
    return out;
}

Bytes write_dbg(const DbgDesc &d) {
    STDbg *dbg = STDbg_Create(d.kind);
    dbg->version = d.enc.version;
    dbg->adrMode = d.enc.mode;
    dbg->fAdrLocated = d.located ? 1 : 0;
    dbg->magic = d.magic.empty() ? nullptr : gen_strdup(d.magic.c_str());
    if (d.enc.version < 15) dbg->fIsDlOFile = dbg->fAdrLocated;
    STDbg_AddString(dbg, "");
    for (const ProcDesc &p : d.procs) {
        STDbg_Proc rec{};
        rec.useName = STDbg_AddString(dbg, p.name.c_str());
        rec.mangledName = p.mangled.empty() ? rec.useName : STDbg_AddString(dbg, p.mangled.c_str());
        rec.begin = adr(p.begin);
        rec.end = adr(p.end);
        rec.iSym = rec.iSymMax = -1;
        rec.iLineStab = rec.iLineStabFirstByILine = rec.iLineStabMax = -1;
        rec.iLine = rec.iLineFirstLbrac = rec.iLineMax = -1;
        rec.iFile = rec.iFrameInfo = -1;
        STDbg_AddProc(dbg, &rec);
    }
    if (d.tweak) d.tweak(dbg);
    uint8_t *image = nullptr;
    int64_t size = 0;
    Bytes out = taken(STDbg_Write(dbg, nullptr, nullptr, options(d.enc), &image, &size), image, size);
    STDbg_Free(dbg);
    return out;
}

std::string temp_file(const Bytes &bytes, const std::string &name) {
    std::string path = temp_dir() + "/" + name;
    // A new file rather than a truncated one: rewriting a file in place makes
    // some file systems flush it at once, which is slow in long loops.
    std::error_code ec;
    std::filesystem::remove(path, ec);
    testing_support::write_file(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

STDnm *read_dnm(const Bytes &bytes, int32_t config) {
    return STDnm_Read(nullptr, nullptr, temp_file(bytes, "input.dnm").c_str(), config);
}

STDbg *read_dbg(const Bytes &bytes, int32_t config) {
    return STDbg_Load(nullptr, nullptr, temp_file(bytes, "input.dbg").c_str(), config);
}

void put32(Bytes &b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

Bytes hex(const char *text) {
    Bytes b;
    std::string digits;
    for (const char *p = text; *p; ++p)
        if (*p != ' ') digits += *p;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) b.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return b;
}

bool rewrite_dnm(const std::string &path, const std::function<void(STDnm *)> &change) {
    STDnm *d = STDnm_Read(nullptr, nullptr, path.c_str(), 1);
    if (!d) return false;
    change(d);
    const bool written = STDnm_Write(d, nullptr, path.c_str(), options(Encoding{STDNM_MAX_VERSION})) == 0;
    STDnm_Release(d);
    return written;
}

void patch32(Bytes &b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b.at(at + size_t(k)) = uint8_t(v >> (24 - 8 * k));
}

// ------------------------------------------------------------ messages

MessageLog::MessageLog() {
    old_hook_ = reinterpret_cast<void *>(gen_message_hook);
    old_exit_ = reinterpret_cast<void *>(gen_exit_fn);
    gen_message_hook = record_message;
    gen_exit_fn = throw_exit;
    current_log = this;
}

MessageLog::~MessageLog() {
    gen_message_hook = reinterpret_cast<gen_message_hook_t>(old_hook_);
    gen_exit_fn = reinterpret_cast<gen_exit_fn_t>(old_exit_);
    current_log = nullptr;
}

std::string MessageLog::joined() const {
    std::string s;
    for (const std::string &l : lines_) s.append(l).push_back('\n');
    return s;
}

bool MessageLog::has(const std::string &line) const {
    for (const std::string &l : lines_)
        if (l == line) return true;
    return false;
}

bool MessageLog::contains(const std::string &part) const {
    for (const std::string &l : lines_)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

FlagScope::FlagScope(int flag, uint32_t value) : flag_(flag), old_(STConfig_GetOption(flag)) {
    ST_SetDebugFlagFNumber(flag, value);
}

FlagScope::~FlagScope() { ST_SetDebugFlagFNumber(flag_, old_); }

}  // namespace dbgw
