// Matching the functions of two sides: by unit, then by name and order of
// occurrence within the unit.
#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "diff.h"

namespace fdiff {

namespace {

constexpr uint32_t none = UINT32_MAX;

// The entries of one unit in the order the report met them: a range of
// the side's entries when the unit is one run (the usual case), a list
// otherwise.
struct UnitEntries {
    uint32_t first = 0;
    uint32_t count = 0;
    std::vector<uint32_t> list;
    size_t size() const { return list.empty() ? count : list.size(); }
    uint32_t operator[](size_t i) const { return list.empty() ? first + uint32_t(i) : list[i]; }
};

std::vector<UnitEntries> entries_by_unit(const Side &side) {
    std::vector<UnitEntries> by_unit(side.units.size());
    std::vector<uint32_t> runs_of(side.units.size(), 0);
    for (const UnitRun &run : side.runs) ++runs_of[run.unit];
    for (size_t r = 0; r < side.runs.size(); ++r) {
        const uint32_t end = r + 1 < side.runs.size() ? side.runs[r + 1].first : uint32_t(side.entries.size());
        const uint32_t u = side.runs[r].unit;
        if (runs_of[u] == 1) {
            by_unit[u].first = side.runs[r].first;
            by_unit[u].count = end - side.runs[r].first;
        } else {
            for (uint32_t i = side.runs[r].first; i < end; ++i) by_unit[u].list.push_back(i);
        }
    }
    return by_unit;
}

// FNV-1a over the bytes, then a finishing mix so that names differing in
// their last characters only (function_1, function_2, ...) spread over the
// whole table rather than into neighbouring slots.
uint64_t name_hash(const char *s) {
    uint64_t h = 0xcbf29ce484222325u;
    for (; *s; ++s) h = (h ^ uint8_t(*s)) * 0x100000001b3u;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdu;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53u;
    return h ^ (h >> 33);
}

// The length of two equal names, or not_equal.
constexpr size_t not_equal = SIZE_MAX;
size_t equal_length(const char *a, const char *b) {
    size_t n = 0;
    for (; a[n] == b[n]; ++n)
        if (!a[n]) return n;
    return not_equal;
}

// A key of a name of known length that costs a few instructions: its last
// eight bytes (or fewer) and its length, mixed.
uint64_t quick_key(const char *s, size_t length) {
    uint64_t w = 0;
    const size_t k = length < 8 ? length : 8;
    std::memcpy(&w, s + length - k, k);
    return (w ^ length) * 0x9e3779b97f4a7c15u;
}

// The entries of one unit pair that wait for a partner, by name: for each
// name a chain of the entries met so far on one side and not yet paired, in
// order of occurrence. At most one side of a name waits at any time. An
// open-addressed table that grows; a name keeps its slot once it has one.
class Waiting {
  public:
    Waiting() : slots_(16) {}
    size_t count() const { return count_; }
    // False when no entry of this name has ever waited (a quick test on a
    // filter of the names' quick keys; true may be wrong).
    bool may_have(uint64_t key) const { return filter_[(key >> 58)] >> ((key >> 52) & 63) & 1; }
    // Whether entries of this name wait on either side.
    bool any(const char *name, uint64_t hash) {
        const Slot *slot = find(name, hash);
        return slot && slot->head != none;
    }
    // Entry `pos` of side `s` (0 OLD, 1 NEW) meets the waiting entries of
    // its name: gives the position of its partner on the other side, or
    // none when it waits itself.
    uint32_t offer(int s, uint32_t pos, const char *name, uint64_t hash) {
        Slot *slot = find(name, hash);
        if (slot && slot->head != none && slot->side != s) {
            const uint32_t partner = slot->head;
            auto &links = next_[slot->side];
            auto link = links.find(partner);
            slot->head = link == links.end() ? none : link->second;
            if (link != links.end()) links.erase(link);
            --count_;
            return partner;
        }
        if (!slot) {
            slot = insert(name, hash);
            const uint64_t key = quick_key(name, std::strlen(name));
            filter_[key >> 58] |= uint64_t(1) << ((key >> 52) & 63);
        }
        if (slot->head == none) {
            slot->head = slot->tail = pos;
            slot->side = uint8_t(s);
        } else {
            next_[s][slot->tail] = pos;  // few entries wait: links only for them
            slot->tail = pos;
        }
        ++count_;
        return none;
    }

  private:
    struct Slot {
        const char *name = nullptr;  // null while the slot is free
        uint64_t hash = 0;
        uint32_t head = none;  // none while no entry of the name waits
        uint32_t tail = none;
        uint8_t side = 0;
    };
    Slot *find(const char *name, uint64_t hash) {
        const size_t mask = slots_.size() - 1;
        for (size_t k = hash & mask;; k = (k + 1) & mask) {
            Slot &slot = slots_[k];
            if (!slot.name) return nullptr;
            if (slot.hash == hash && std::strcmp(slot.name, name) == 0) return &slot;
        }
    }
    Slot *insert(const char *name, uint64_t hash) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        size_t k = hash & mask;
        while (slots_[k].name) k = (k + 1) & mask;
        ++used_;
        slots_[k].name = name;
        slots_[k].hash = hash;
        return &slots_[k];
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.name) continue;
            size_t k = slot.hash & mask;
            while (slots_[k].name) k = (k + 1) & mask;
            slots_[k] = slot;
        }
    }
    std::array<std::unordered_map<uint32_t, uint32_t>, 2> next_;  // the entry behind an entry in its chain
    std::vector<Slot> slots_;
    std::array<uint64_t, 64> filter_{};
    size_t used_ = 0;
    size_t count_ = 0;
};

class Matcher {
  public:
    Matcher(const Side &old_side, const Side &new_side, bool keep_unchanged, Comparison &c)
        : old_(old_side), new_(new_side), keep_unchanged_(keep_unchanged), c_(c) {}

    // Matches the entries of one OLD unit (or none) with those of one NEW
    // unit (or none): the n-th occurrence of a name with the n-th. Both
    // lists are walked side by side; an entry whose name waits on neither
    // side pairs with the entry at the same step when the names agree, and
    // otherwise pairs with the first entry of its name that waits on the
    // other side, or waits itself. Two builds of one program list their
    // functions in much the same order, so few entries ever wait.
    void match(const UnitEntries *olds, const UnitEntries *news) {
        static const UnitEntries empty;
        const UnitEntries &o = olds ? *olds : empty;
        const UnitEntries &n = news ? *news : empty;
        Waiting waiting;
        std::vector<bool> paired_old(o.size()), paired_new(n.size());
        auto pair = [&](uint32_t i, uint32_t j) {
            paired_old[i] = paired_new[j] = true;
            add(o[i], n[j]);
        };
        for (size_t i = 0, j = 0; i < o.size() || j < n.size(); ++i, ++j) {
            const char *on = i < o.size() ? old_.entries[o[i]].name : nullptr;
            const char *nn = j < n.size() ? new_.entries[n[j]].name : nullptr;
            const size_t length = on && nn ? equal_length(on, nn) : not_equal;
            if (length != not_equal &&
                (!waiting.count() || !waiting.may_have(quick_key(on, length)) || !waiting.any(on, name_hash(on)))) {
                pair(uint32_t(i), uint32_t(j));
                continue;
            }
            if (on) {
                const uint32_t partner = waiting.offer(0, uint32_t(i), on, name_hash(on));
                if (partner != none) pair(uint32_t(i), partner);
            }
            if (nn) {
                const uint32_t partner = waiting.offer(1, uint32_t(j), nn, name_hash(nn));
                if (partner != none) pair(partner, uint32_t(j));
            }
        }
        for (size_t i = 0; i < o.size(); ++i)
            if (!paired_old[i]) add(o[i], none);
        for (size_t j = 0; j < n.size(); ++j)
            if (!paired_new[j]) add(none, n[j]);
    }

  private:
    void add(uint32_t o, uint32_t n) {
        Function f{};
        if (o != none) {
            f.name = old_.entries[o].name;
            f.has_old = true;
            f.old_size = old_.entries[o].size;
        }
        if (n != none) {
            f.name = new_.entries[n].name;
            f.has_new = true;
            f.new_size = new_.entries[n].size;
        }
        Summary &s = c_.summary;
        s.total_old += f.old_size;
        s.total_new += f.new_size;
        if (!f.has_old) {
            ++s.added;
            s.up += f.new_size;
        } else if (!f.has_new) {
            ++s.removed;
            s.down += f.old_size;
        } else if (f.new_size > f.old_size) {
            ++s.grown;
            s.up += f.new_size - f.old_size;
        } else if (f.new_size < f.old_size) {
            ++s.shrunk;
            s.down += f.old_size - f.new_size;
        }
        if (!keep_unchanged_ && !f.changed()) return;
        f.unit = n != none ? &new_.units[unit_of(new_, n)] : &old_.units[unit_of(old_, o)];
        c_.functions.push_back(f);
    }

    // The unit of an entry: the run that holds it.
    static uint32_t unit_of(const Side &side, uint32_t entry) {
        auto it = std::upper_bound(side.runs.begin(), side.runs.end(), entry,
                                   [](uint32_t e, const UnitRun &r) { return e < r.first; });
        return (it - 1)->unit;
    }

    const Side &old_;
    const Side &new_;
    bool keep_unchanged_;
    Comparison &c_;
};

uint64_t magnitude(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }

}  // namespace

Comparison compare(const Side &old_side, const Side &new_side, bool keep_unchanged) {
    Comparison c;
    Matcher matcher(old_side, new_side, keep_unchanged, c);
    const auto old_units = entries_by_unit(old_side);
    const auto new_units = entries_by_unit(new_side);
    if (old_side.units.size() == 1 && new_side.units.size() == 1) {
        // One file against one file: whatever their names.
        matcher.match(&old_units[0], &new_units[0]);
    } else {
        // A unit's key may occur more than once (a saved report's file
        // listed in two places, two members of one name); the n-th unit of
        // a key matches the n-th of the other side.
        std::unordered_map<std::string_view, std::vector<uint32_t>> old_by_key;
        for (uint32_t u = 0; u < old_side.units.size(); ++u) old_by_key[old_side.units[u].key].push_back(u);
        std::unordered_map<std::string_view, size_t> used;
        std::vector<bool> old_done(old_side.units.size(), false);
        for (uint32_t u = 0; u < new_side.units.size(); ++u) {
            const std::string &key = new_side.units[u].key;
            auto it = old_by_key.find(key);
            size_t &k = used[key];
            if (it != old_by_key.end() && k < it->second.size()) {
                const uint32_t ou = it->second[k++];
                old_done[ou] = true;
                matcher.match(&old_units[ou], &new_units[u]);
            } else {
                matcher.match(nullptr, &new_units[u]);
            }
        }
        for (uint32_t u = 0; u < old_side.units.size(); ++u)
            if (!old_done[u]) matcher.match(&old_units[u], nullptr);
        std::vector<std::string_view> keys;
        for (const Unit &u : old_side.units) keys.push_back(u.key);
        for (const Unit &u : new_side.units) keys.push_back(u.key);
        std::sort(keys.begin(), keys.end());
        c.several_files = std::unique(keys.begin(), keys.end()) - keys.begin() > 1;
    }
    std::stable_sort(c.functions.begin(), c.functions.end(), [](const Function &a, const Function &b) {
        const uint64_t da = magnitude(a.delta()), db = magnitude(b.delta());
        if (da != db) return da > db;
        if (a.name != b.name) return a.name < b.name;
        return a.unit->key < b.unit->key;
    });
    return c;
}

}  // namespace fdiff

