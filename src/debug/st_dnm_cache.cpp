// The cache of name files read for debug objects met directly in a .dla:
// an archive walked member by member loads its name file once per member,
// and each load after the first takes the object the previous one released
// back from here instead of decoding the file again.
//
// A slot holds one object together with the state the read left it in (a
// copy of the record, whose pointers it shares) and the identity of the
// file read (with its bytes while the file is new). A load whose file still
// has that identity takes the object
// when it is idle; a release puts it back after resetting the record and
// the run-time fields of the entries that were touched, so that each load
// starts from the state a read gives. Anything else (a file that changed,
// an object that is still held, a read that gave a message) reads the file
// as before.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "genout.h"
#include "indgen.h"
#include "indgeninit.h"
#include "instream.h"
#include "platform.h"
#include "st_load_internal.h"
#include "viewpath.h"

namespace {

constexpr int SLOTS = 4;
constexpr int DEFAULT_SETTLE_SECONDS = 3;

// What tells one state of a file from another. Times are whole seconds:
// once a file's times lie `settle` seconds in the past, a later change
// (which sets the change time to the present, give or take the file
// system's granularity of up to two seconds) always gives times other than
// the ones kept, also when the size stays. A file younger than that may
// change within the same second, so its bytes are kept and compared.
struct FileKey {
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t size = 0;
    int64_t mtime = 0;
    int64_t ctime = 0;
    bool operator==(const FileKey &) const = default;
};

void silent_hook(int, const char *, va_list) {}

// Runs `look` without messages and with errno kept: the view path may tell
// where it found a file, and only the read's own lookup may say so.
template <typename F>
auto quietly(F look) {
    const int saved = errno;
    const gen_message_hook_t hook = gen_message_hook;
    gen_message_hook = silent_hook;
    auto result = look();
    gen_message_hook = hook;
    errno = saved;
    return result;
}

// The identity of the file that opening path for reading gives (through
// the view path when it is active, as the read's open goes); false unless
// it is a regular file (a pipe must be read once, by the read itself).
bool file_key(const char *path, FileKey *key) {
    const int saved = errno;
    char *resolved = nullptr;
    if (gen_viewpath_active()) resolved = quietly([&] { return gen_vp_resolve(path, gen_vp_fopen_intent("rb")); });
    struct stat st {};
    const int status = plat::file_status(resolved ? resolved : path, &st);
    gen_free_fn(resolved);
    errno = saved;
    if (status != 0 || !S_ISREG(st.st_mode)) return false;
    key->dev = uint64_t(st.st_dev);
    key->ino = uint64_t(st.st_ino);
    key->size = int64_t(st.st_size);
    key->mtime = int64_t(st.st_mtime);
    key->ctime = int64_t(st.st_ctime);
    return true;
}

// The file as opening path for reading gives it, when it holds exactly
// `size` bytes; false otherwise.
bool file_bytes(const char *path, int64_t size, std::vector<uint8_t> *out) {
    if (size < 0 || uint64_t(size) >= SIZE_MAX) return false;
    FILE *fp = quietly([&] { return gen_fopen(path, "rb"); });
    if (!fp) return false;
    const int saved = errno;
    out->resize(size_t(size) + 1);  // one more, to see a file that grew
    InStream in(fp);
    const size_t got = in.read(out->data(), out->size());
    const bool ok = !in.error() && got == size_t(size);
    std::fclose(fp);
    out->resize(got);
    errno = saved;
    return ok;
}

bool settled_at(const FileKey &key, std::time_t now, int settle) {
    return settle < 0 || std::max(key.mtime, key.ctime) <= int64_t(now) - settle;
}

// The flags a read consults that change what it gives.
uint32_t read_flags() {
    return (STConfig_GetOption(STFLAG_NoSanityCheck) ? 1u : 0u) |
           (STConfig_GetOption(STFLAG_useFileMemoryMappingForDnm) ? 2u : 0u);
}

// Counts the messages given while a read runs; they go on to the hook that
// was in place.
int messages_seen;
gen_message_hook_t forward_hook;

void counting_hook(int code, const char *fmt, va_list args) {
    ++messages_seen;
    forward_hook(code, fmt, args);
}

}  // namespace

struct STDnmCacheSlot {
    STDnm *obj = nullptr;
    bool out = false;  // a load holds the object
    uint64_t lastUse = 0;
    std::string path;  // of the name file, as the read was given it
    int32_t config = 0;
    uint32_t flags = 0;
    FileKey key;
    int errnoAfterRead = 0;
    bool settled = false;        // the key alone tells a change
    std::vector<uint8_t> bytes;  // the file as read, until it has settled
    STDnm pristine{};            // the record as the read left it
    std::vector<std::pair<uint64_t, int32_t>> byOffset;
    std::vector<std::pair<std::string_view, int32_t>> byMagic;
    bool magicIndexed = false;
    std::vector<int32_t> touched;
    bool touchedSorted = true;
};

namespace {

STDnmCacheSlot *slots[SLOTS];
uint64_t use_clock;
int settle_seconds = DEFAULT_SETTLE_SECONDS;
int64_t hits;

STDnm_DloFile *entries(const STDnm *dnm, int32_t *count) {
    auto *e = static_cast<STDnm_DloFile *>(STDnm_TableEntries(dnm, STDNM_DLO_FILES));
    *count = e ? STDnm_TableCount(dnm, STDNM_DLO_FILES) : 0;
    return e;
}

// Drops a slot. An idle object is freed without a message (its load saw it
// released already); a held one becomes an ordinary object of its holder.
void free_slot(int i) {
    STDnmCacheSlot *slot = slots[i];
    slots[i] = nullptr;
    if (!slot) return;
    if (slot->obj && !slot->out) {
        slot->obj->cacheSlot = nullptr;
        STDnm_Release(slot->obj);
    } else if (slot->obj) {
        slot->obj->cacheSlot = nullptr;  // its holder frees it as usual
    }
    delete slot;
}

int slot_index(const STDnmCacheSlot *slot) {
    for (int i = 0; i < SLOTS; ++i)
        if (slots[i] == slot) return i;
    return -1;
}

// A free slot position, after dropping the idle slot used least recently
// when all are taken; -1 when every object is held.
int free_position() {
    int victim = -1;
    for (int i = 0; i < SLOTS; ++i) {
        if (!slots[i]) return i;
        if (!slots[i]->out && (victim < 0 || slots[i]->lastUse < slots[victim]->lastUse)) victim = i;
    }
    if (victim >= 0) free_slot(victim);
    return victim;
}

bool same_table(const STTable &a, const STTable &b) {
    return a.data == b.data && a.count == b.count && a.opaque == b.opaque && a.opaqueSize == b.opaqueSize &&
           a.dir.offset == b.dir.offset && a.dir.max == b.dir.max && a.dir.aux == b.dir.aux &&
           a.dir.flags[0] == b.dir.flags[0] && a.dir.flags[1] == b.dir.flags[1] && a.dir.loaded == b.dir.loaded &&
           a.dir.skipped == b.dir.skipped && a.dir.mapped == b.dir.mapped;
}

// Whether the object still owns exactly the storage the read gave it, so
// that the kept record describes it.
bool owns_what_was_read(const STDnm *d, const STDnm &p) {
    if (d->gf || d->magic != p.magic || d->magic2 != p.magic2 || d->string3 != p.string3 ||
        d->string4 != p.string4 || d->name != p.name || d->dnmPath != p.dnmPath || d->dlaPath != p.dlaPath ||
        d->image != p.image || d->imageSize != p.imageSize || d->progPath != p.progPath ||
        d->progPath2 != p.progPath2)
        return false;
    for (int i = 0; i < STDNM_NUM_TABLES; ++i)
        if (!same_table(d->tables[i], p.tables[i])) return false;
    return true;
}

void index_offsets(STDnmCacheSlot *slot) {
    int32_t count = 0;
    const STDnm_DloFile *e = entries(slot->obj, &count);
    slot->byOffset.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) slot->byOffset.emplace_back(e[i].offset, i);
    std::sort(slot->byOffset.begin(), slot->byOffset.end());
}

void index_magic(STDnmCacheSlot *slot) {
    int32_t count = 0;
    const STDnm_DloFile *e = entries(slot->obj, &count);
    for (int32_t i = 0; i < count; ++i)
        if (const char *m = STDnm_String(slot->obj, e[i].magic)) slot->byMagic.emplace_back(m, i);
    std::sort(slot->byMagic.begin(), slot->byMagic.end());
    slot->magicIndexed = true;
}

// Keeps a name file just read (and held by its load). What the cache holds
// at the end stays reachable from it: the program ends without freeing.
void keep(STDnm *dnm, const std::string &path, int32_t config, const FileKey &key, int err, bool settled,
          std::vector<uint8_t> &&bytes) {
    int at = free_position();
    if (at < 0) return;
    auto *slot = new STDnmCacheSlot;
    slot->obj = dnm;
    slot->out = true;
    slot->lastUse = ++use_clock;
    slot->path = path;
    slot->config = config;
    slot->flags = read_flags();
    slot->key = key;
    slot->errnoAfterRead = err;
    slot->settled = settled;
    slot->bytes = std::move(bytes);
    dnm->cacheSlot = slot;
    slot->pristine = *dnm;
    index_offsets(slot);
    slots[at] = slot;
}

}  // namespace

namespace st {

STDnm *load_member_dnm(const char *archivePath, int32_t config) {
    const std::string path = [&] {
        char *p = with_extension(archivePath, ".dnm");
        std::string s(p);
        gen_free_fn(p);
        return s;
    }();
    FileKey key;
    const std::time_t now = std::time(nullptr);
    const bool known = file_key(path.c_str(), &key);
    // Scratch space for the bytes of files that have not settled.
    static std::vector<uint8_t> scratch;
    for (int i = 0; known && i < SLOTS; ++i) {
        STDnmCacheSlot *slot = slots[i];
        if (!slot || slot->path != path || slot->out) continue;
        bool same = slot->key == key && slot->config == config && slot->flags == read_flags();
        if (same && !slot->settled) {
            same = file_bytes(path.c_str(), key.size, &scratch) && scratch == slot->bytes;
            if (same && settled_at(key, now, settle_seconds)) {
                slot->settled = true;
                std::vector<uint8_t>().swap(slot->bytes);
            }
        }
        if (same) {
            // What the read does besides filling the object.
            STConfig_Init();
            slot->out = true;
            slot->lastUse = ++use_clock;
            ++hits;
            st::adopt_adr_mode(slot->obj->adrMode);
            errno = slot->errnoAfterRead;
            return slot->obj;
        }
        free_slot(i);  // the file changed: what is kept is of no more use
    }

    // A file that may still change unseen is read as bytes too, before and
    // after the read: kept only when they agree.
    const bool settled = known && settled_at(key, now, settle_seconds);
    std::vector<uint8_t> bytes;
    const bool racy = known && !settled && file_bytes(path.c_str(), key.size, &bytes);
    const int before = messages_seen;
    forward_hook = gen_message_hook;
    gen_message_hook = counting_hook;
    STDnm *dnm = STDnm_Read(nullptr, nullptr, archivePath, config);
    gen_message_hook = forward_hook;
    const int err = errno;
    if (!dnm) return nullptr;
    dnm->slot = dnm->prevSlot = -1;
    link_entries(dnm);

    FileKey after;
    if ((settled || racy) && messages_seen == before && file_key(path.c_str(), &after) && after == key &&
        (settled || (file_bytes(path.c_str(), key.size, &scratch) && scratch == bytes)))
        keep(dnm, path, config, key, err, settled, std::move(bytes));
    errno = err;
    return dnm;
}

bool dnm_cache_find_offset(const STDnm *dnm, uint64_t offset, int32_t *index) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot) return false;
    auto it = std::lower_bound(slot->byOffset.begin(), slot->byOffset.end(), std::make_pair(offset, INT32_MIN));
    *index = it != slot->byOffset.end() && it->first == offset ? it->second : -1;
    return true;
}

bool dnm_cache_find_magic(const STDnm *dnm, const char *magic, int32_t *index) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot) return false;
    if (!slot->magicIndexed) index_magic(slot);
    const std::string_view m(magic);
    auto it = std::lower_bound(slot->byMagic.begin(), slot->byMagic.end(), std::make_pair(m, INT32_MIN));
    *index = it != slot->byMagic.end() && it->first == m ? it->second : -1;
    return true;
}

void dnm_cache_touch(STDnm *dnm, int64_t index) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot || index < 0) return;
    if (!slot->touched.empty() && slot->touched.back() >= index) slot->touchedSorted = false;
    slot->touched.push_back(int32_t(index));
}

const std::vector<int32_t> *dnm_cache_touched(STDnm *dnm) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot) return nullptr;
    if (!slot->touchedSorted) {
        std::sort(slot->touched.begin(), slot->touched.end());
        slot->touched.erase(std::unique(slot->touched.begin(), slot->touched.end()), slot->touched.end());
        slot->touchedSorted = true;
    }
    return &slot->touched;
}

void dnm_cache_disown(STDnm *dnm) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot) return;
    dnm->cacheSlot = nullptr;
    int i = slot_index(slot);
    if (i >= 0) slots[i] = nullptr;
    delete slot;
}

bool dnm_cache_take_back(STDnm *dnm) {
    STDnmCacheSlot *slot = dnm ? dnm->cacheSlot : nullptr;
    if (!slot) return false;
    if (!owns_what_was_read(dnm, slot->pristine)) {
        dnm_cache_disown(dnm);
        return false;
    }
    int32_t count = 0;
    STDnm_DloFile *e = entries(dnm, &count);
    for (int32_t i : *dnm_cache_touched(dnm)) {
        if (i >= count) continue;
        e[i].owner = dnm;
        e[i].dbg = nullptr;
        e[i].loadType = 0;
        e[i].failed = 0;
        e[i].noLongerLoadable = 0;
    }
    slot->touched.clear();
    *dnm = slot->pristine;
    slot->out = false;
    return true;
}

int dnm_cache_set_settle(int seconds) {
    int old = settle_seconds;
    settle_seconds = seconds;
    return old;
}

int64_t dnm_cache_hits() { return hits; }

void dnm_cache_clear() {
    for (int i = 0; i < SLOTS; ++i) free_slot(i);
}

}  // namespace st
