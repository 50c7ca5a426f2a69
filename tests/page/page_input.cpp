#include "page_input.h"

#include <cmath>
#include <cstdlib>
#include <map>
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

// A size field: "-" for a missing side.
bool size_field(const std::string &text, uint64_t &size) {
    if (text == "-") return false;
    char *end = nullptr;
    size = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') throw std::invalid_argument(std::string("not a size: ").append(text));
    return true;
}

// Both sides of a comparison being filled: each file (path and member) is
// added to a side once, when its first function is.
class Builder {
public:
    explicit Builder(bool one_side) : out_(std::make_unique<Compared>()), one_side_(one_side) {
        out_->old_side.kind = out_->new_side.kind = fdiff::SideKind::directory;
    }
    void add(const std::string &path, const std::string &member, const std::string &name, bool has_old, uint64_t old_size,
             bool has_new, uint64_t new_size) {
        if (has_old && !one_side_) out_->old_side.add(unit(out_->old_side, old_units_, path, member), name, old_size);
        if (has_new) out_->new_side.add(unit(out_->new_side, new_units_, path, member), name, new_size);
    }
    std::unique_ptr<Compared> finish() {
        out_->comparison = fdiff::compare(out_->old_side, out_->new_side, true);
        out_->comparison.one_side = one_side_;
        return std::move(out_);
    }

private:
    using Units = std::map<std::pair<std::string, std::string>, uint32_t>;
    static uint32_t unit(fdiff::Side &side, Units &units, const std::string &path, const std::string &member) {
        const auto [it, fresh] = units.try_emplace({path, member}, 0);
        if (fresh) it->second = side.add_unit(path, member, false);
        return it->second;
    }
    std::unique_ptr<Compared> out_;
    bool one_side_;
    Units old_units_, new_units_;
};

}  // namespace

std::unique_ptr<Compared> parse_description(const std::string &text) {
    bool one_side = false;
    std::string line;
    for (std::istringstream in(text); std::getline(in, line);) one_side = one_side || trim(line) == "one-side";
    Builder b(one_side);
    std::istringstream in(text);
    while (std::getline(in, line)) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#' || t == "one-side") continue;
        // PATH | MEMBER | NAME | OLD | NEW, where the name may hold '|' too:
        // it is everything between the second bar and the second-to-last.
        const size_t bar1 = line.find('|'), bar2 = bar1 == std::string::npos ? bar1 : line.find('|', bar1 + 1);
        const size_t bar4 = line.rfind('|'), bar3 = bar4 == 0 || bar4 == std::string::npos ? bar4 : line.rfind('|', bar4 - 1);
        if (bar2 == std::string::npos || bar3 == std::string::npos || bar3 <= bar2)
            throw std::invalid_argument(std::string("bad line: ").append(line));
        const std::string member = trim(line.substr(bar1 + 1, bar2 - bar1 - 1));
        uint64_t old_size = 0, new_size = 0;
        const bool has_old = size_field(trim(line.substr(bar3 + 1, bar4 - bar3 - 1)), old_size);
        const bool has_new = size_field(trim(line.substr(bar4 + 1)), new_size);
        if (!has_old && !has_new) throw std::invalid_argument(std::string("no side: ").append(line));
        b.add(trim(line.substr(0, bar1)), member == "-" ? "" : member, trim(line.substr(bar2 + 1, bar3 - bar2 - 1)), has_old,
              old_size, has_new, new_size);
    }
    return b.finish();
}

std::unique_ptr<Compared> generate(uint64_t count, bool one_side, uint64_t seed) {
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto next = [&state]() {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    };
    const auto uniform = [&next]() { return double(next() >> 11) / double(1ull << 53); };

    Builder b(one_side);
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
        std::snprintf(buf, sizeof buf, "ns%u::function_%07u(int)", unsigned(i % 53), unsigned(i));
        const uint64_t size = uint64_t(std::exp(uniform() * 9.0));  // 1 .. 8103 bytes
        uint64_t old_size = size;
        bool has_old = true, has_new = true;
        const double r = uniform();
        if (r < 0.05) old_size = size > 8 ? size - size / 8 : size;  // grown
        else if (r < 0.08) old_size = size + size / 5 + 1;         // shrunk
        else if (r < 0.09) has_old = false;                        // added
        else if (r < 0.10) has_new = false;                        // removed
        if (one_side) has_new = true;
        b.add(path, member, buf, has_old, old_size, has_new, size);
    }
    return b.finish();
}

}  // namespace pagetest
