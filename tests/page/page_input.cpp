#include "page_input.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace pagetest {

namespace {

std::string trim(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> fields(const std::string &line) {
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        const size_t bar = line.find('|', from);
        out.push_back(trim(line.substr(from, bar == std::string::npos ? std::string::npos : bar - from)));
        if (bar == std::string::npos) return out;
        from = bar + 1;
    }
}

// A size field: "-" for a missing side.
bool size_field(const std::string &text, uint64_t &size) {
    if (text == "-") return false;
    char *end = nullptr;
    size = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') throw std::invalid_argument(std::string("not a size: ").append(text));
    return true;
}

// The file column of the text output: "path", "member" or "path(member)".
std::string unit_label(const fdiff::Function &f) {
    if (f.member.empty()) return f.path;
    if (f.path.empty()) return f.member;
    return std::string(f.path).append("(").append(f.member).append(")");
}

}  // namespace

fdiff::Comparison parse_description(const std::string &text) {
    fdiff::Comparison c;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t == "one-side") {
            c.one_side = true;
            continue;
        }
        // The name keeps inner '|' characters: it is everything between the
        // second bar and the second-to-last one.
        std::vector<std::string> f = fields(line);
        if (f.size() < 5) throw std::invalid_argument(std::string("bad line: ").append(line));
        fdiff::Function fn;
        fn.path = f[0];
        fn.member = f[1] == "-" ? "" : f[1];
        const size_t first = line.find('|', line.find('|') + 1) + 1;
        const size_t last = line.rfind('|', line.rfind('|') - 1);
        fn.name = trim(line.substr(first, last - first));
        fn.has_old = size_field(f[f.size() - 2], fn.old_size);
        fn.has_new = size_field(f[f.size() - 1], fn.new_size);
        if (!fn.has_old && !fn.has_new) throw std::invalid_argument(std::string("no side: ").append(line));
        c.functions.push_back(fn);
    }
    finish(c);
    return c;
}

void finish(fdiff::Comparison &c) {
    std::stable_sort(c.functions.begin(), c.functions.end(), [](const fdiff::Function &a, const fdiff::Function &b) {
        const uint64_t da = uint64_t(std::llabs(a.delta())), db = uint64_t(std::llabs(b.delta()));
        if (da != db) return da > db;
        if (a.name != b.name) return a.name < b.name;
        return unit_label(a) < unit_label(b);
    });
    fdiff::Summary s;
    std::vector<std::string> units;
    for (const fdiff::Function &f : c.functions) {
        if (f.has_old) s.total_old += f.old_size;
        if (f.has_new) s.total_new += f.new_size;
        const int64_t d = f.delta();
        if (d > 0) s.up += uint64_t(d);
        if (d < 0) s.down += uint64_t(-d);
        if (!f.has_old) ++s.added;
        else if (!f.has_new) ++s.removed;
        else if (d > 0) ++s.grown;
        else if (d < 0) ++s.shrunk;
        units.push_back(unit_label(f));
    }
    std::sort(units.begin(), units.end());
    c.several_files = std::unique(units.begin(), units.end()) - units.begin() > 1;
    c.summary = s;
}

fdiff::Comparison generate(uint64_t count, bool one_side, uint64_t seed) {
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto next = [&state]() {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    };
    const auto uniform = [&next]() { return double(next() >> 11) / double(1ull << 53); };

    fdiff::Comparison c;
    c.one_side = one_side;
    c.functions.reserve(count);
    const uint64_t per_unit = 400;
    std::string path, member;
    char buf[96];
    for (uint64_t i = 0; i < count; ++i) {
        if (i % per_unit == 0) {
            // A new object file every few hundred functions: one in eight is
            // a member of an archive.
            const uint64_t unit = i / per_unit;
            std::snprintf(buf, sizeof buf, "src/mod%02u/part%u/file%05u.o", unsigned(unit % 37), unsigned(unit % 5),
                          unsigned(unit));
            path = buf;
            member.clear();
            if (unit % 8 == 7) {
                std::snprintf(buf, sizeof buf, "lib/libmod%02u.a", unsigned(unit % 37));
                path = buf;
                std::snprintf(buf, sizeof buf, "obj%05u.o", unsigned(unit));
                member = buf;
            }
        }
        fdiff::Function f;
        f.path = path;
        f.member = member;
        std::snprintf(buf, sizeof buf, "ns%u::function_%07u(int)", unsigned(i % 53), unsigned(i));
        f.name = buf;
        const uint64_t size = uint64_t(std::exp(uniform() * 9.0));  // 1 .. 8103 bytes
        f.has_new = true;
        f.new_size = size;
        if (!one_side) {
            const double r = uniform();
            f.has_old = true;
            f.old_size = size;
            if (r < 0.05) f.old_size = size > 8 ? size - size / 8 : size;  // grown
            else if (r < 0.08) f.old_size = size + size / 5 + 1;         // shrunk
            else if (r < 0.09) f.has_old = false, f.old_size = 0;      // added
            else if (r < 0.10) f.has_new = false, f.new_size = 0;      // removed
        }
        c.functions.push_back(std::move(f));
    }
    finish(c);
    return c;
}

}  // namespace pagetest
