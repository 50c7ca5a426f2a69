// Matching the functions of two sides: by unit, then by name and order of
// occurrence within the unit.
#include <algorithm>
#include <unordered_map>

#include "diff.h"

namespace fdiff {

namespace {

constexpr uint32_t none = UINT32_MAX;

// The entries of each unit of a side, in the order the report met them.
std::vector<std::vector<uint32_t>> entries_by_unit(const Side &side) {
    std::vector<std::vector<uint32_t>> by_unit(side.units.size());
    for (uint32_t i = 0; i < side.entries.size(); ++i) by_unit[side.entries[i].unit].push_back(i);
    return by_unit;
}

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
               old_.entries[o[same]].name_view() == new_.entries[n[same]].name_view()) {
            add(o[same], n[same]);
            ++same;
        }
        if (same == o.size()) {
            for (size_t j = same; j < n.size(); ++j) add(none, n[j]);
            return;
        }
        // Each name's OLD entries as a chain in order of occurrence.
        std::unordered_map<std::string_view, std::pair<uint32_t, uint32_t>> chains;  // first, last
        chains.reserve(o.size() - same);
        next_.assign(o.size(), none);
        for (size_t i = same; i < o.size(); ++i) {
            auto [it, fresh] = chains.try_emplace(old_.entries[o[i]].name_view(), uint32_t(i), uint32_t(i));
            if (!fresh) {
                next_[it->second.second] = uint32_t(i);
                it->second.second = uint32_t(i);
            }
        }
        std::vector<bool> taken(o.size(), false);
        for (size_t j = same; j < n.size(); ++j) {
            auto it = chains.find(new_.entries[n[j]].name_view());
            if (it == chains.end() || it->second.first == none) {
                add(none, n[j]);
                continue;
            }
            const uint32_t i = it->second.first;
            it->second.first = next_[i];
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
            const Entry &e = old_.entries[o];
            f.unit = &old_.units[e.unit];
            f.name = e.name_view();
            f.has_old = true;
            f.old_size = e.size;
        }
        if (n != none) {
            const Entry &e = new_.entries[n];
            f.unit = &new_.units[e.unit];
            f.name = e.name_view();
            f.has_new = true;
            f.new_size = e.size;
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
        if (keep_unchanged_ || f.changed()) c_.functions.push_back(f);
    }

    const Side &old_;
    const Side &new_;
    bool keep_unchanged_;
    Comparison &c_;
    std::vector<uint32_t> next_;
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

