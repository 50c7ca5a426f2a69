// Matching the functions of two sides: by unit, then by name and order of
// occurrence within the unit.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "diff.h"

namespace fdiff {

namespace {

constexpr uint32_t none = UINT32_MAX;

// The entries of each unit of a side, in the order the report met them.
std::vector<std::vector<uint32_t>> entries_by_unit(const Side &side) {
    std::vector<std::vector<uint32_t>> by_unit(side.units.size());
    for (size_t r = 0; r < side.runs.size(); ++r) {
        const uint32_t end = r + 1 < side.runs.size() ? side.runs[r + 1].first : uint32_t(side.entries.size());
        std::vector<uint32_t> &list = by_unit[side.runs[r].unit];
        for (uint32_t i = side.runs[r].first; i < end; ++i) list.push_back(i);
    }
    return by_unit;
}

uint64_t name_hash(const char *s) {
    uint64_t h = 0xcbf29ce484222325u;
    for (; *s; ++s) h = (h ^ uint8_t(*s)) * 0x100000001b3u;
    return h ^ (h >> 29);
}

// The OLD entries of one unit by name: an open-addressed table of chains,
// each chain the entries of one name in order of occurrence. Taking an
// entry moves its chain's head on.
class NameChains {
  public:
    NameChains(const Side &side, const std::vector<uint32_t> &list, size_t from) : side_(side), list_(list) {
        size_t size = 16;
        while (size < 2 * (list.size() - from)) size *= 2;
        mask_ = size - 1;
        slots_.assign(size, Slot{none, none, 0});
        next_.assign(list.size(), none);
        for (size_t i = from; i < list.size(); ++i) {
            const char *n = name(uint32_t(i));
            Slot &slot = find(n, name_hash(n));
            if (slot.head == none && slot.tail == none) {
                slot.head = slot.tail = uint32_t(i);
            } else {
                next_[slot.tail] = uint32_t(i);
                slot.tail = uint32_t(i);
            }
        }
    }
    // The position in `list` of the next unmatched entry of this name, or none.
    uint32_t take(const char *n) {
        Slot &slot = find(n, name_hash(n));
        const uint32_t i = slot.head;
        if (i != none) slot.head = next_[i];
        return i;
    }

  private:
    struct Slot {
        uint32_t head;  // none once the chain is used up
        uint32_t tail;  // none while the slot is free
        uint32_t tag;   // high bits of the name's hash
    };
    const char *name(uint32_t i) const { return side_.entries[list_[i]].name; }
    // The slot of the name, or the free slot where it goes.
    Slot &find(const char *n, uint64_t hash) {
        const uint32_t tag = uint32_t(hash >> 32);
        for (size_t k = hash & mask_;; k = (k + 1) & mask_) {
            Slot &slot = slots_[k];
            if (slot.tail == none) {
                slot.tag = tag;
                return slot;
            }
            if (slot.tag == tag && std::strcmp(name(slot.tail), n) == 0) return slot;
        }
    }
    const Side &side_;
    const std::vector<uint32_t> &list_;
    size_t mask_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> next_;
};

class Matcher {
  public:
    Matcher(const Side &old_side, const Side &new_side, bool keep_unchanged, Comparison &c)
        : old_(old_side), new_(new_side), keep_unchanged_(keep_unchanged), c_(c) {}

    // Matches the entries of one OLD unit (or none) with those of one NEW
    // unit (or none). Equal names at equal positions from the start pair up
    // at once; the rest pair by name, the n-th occurrence with the n-th.
    void match(const std::vector<uint32_t> *olds, const std::vector<uint32_t> *news) {
        static const std::vector<uint32_t> empty;
        const std::vector<uint32_t> &o = olds ? *olds : empty;
        const std::vector<uint32_t> &n = news ? *news : empty;
        size_t same = 0;
        while (same < o.size() && same < n.size() &&
               std::strcmp(old_.entries[o[same]].name, new_.entries[n[same]].name) == 0) {
            add(o[same], n[same]);
            ++same;
        }
        if (same == o.size()) {
            for (size_t j = same; j < n.size(); ++j) add(none, n[j]);
            return;
        }
        NameChains chains(old_, o, same);
        std::vector<bool> taken(o.size(), false);
        for (size_t j = same; j < n.size(); ++j) {
            const uint32_t i = chains.take(new_.entries[n[j]].name);
            if (i == none) {
                add(none, n[j]);
                continue;
            }
            taken[i] = true;
            add(o[i], n[j]);
        }
        for (size_t i = same; i < o.size(); ++i)
            if (!taken[i]) add(o[i], none);
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

