// Reading one side of a comparison: a file the report reads, a directory
// of such files, or a saved "-gcompare" report.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "funsize.h"
#include "genout.h"
#include "indgen.h"
#include "side.h"

namespace fdiff {

namespace {

constexpr size_t name_block = size_t(1) << 20;

// What the report's sink fills while one file is read.
struct Collector {
    Side *side;
    std::string path;  // the unit path of the file being read
    bool by_member;    // file side: a member is known by its name alone
    uint32_t unit = UINT32_MAX;
    std::string last_member;
    bool unrecognised = false;
};

Collector *collector;

void collect(void *context, const funsize_line &line) {
    Collector &c = *static_cast<Collector *>(context);
    const char *member = line.member ? line.member : "";
    if (c.unit == UINT32_MAX || c.last_member != member) {
        // A new report: the table holds at most this many lines, so the
        // entries grow once, not by doubling.
        std::vector<Entry> &entries = c.side->entries;
        if (entries.capacity() < entries.size() + funsize_table.next)
            entries.reserve(std::max(entries.size() + funsize_table.next, 2 * entries.capacity()));
        c.last_member = member;
        c.unit = c.side->add_unit(c.path, member, c.by_member);
    }
    c.side->add(c.unit, line.name, line.size);
}

// An input no handler reads is skipped without a word; whether that is an
// error is for the caller to say.
int note_unrecognised(FILE *, FILE *, input_desc *d) {
    if (collector && !d->in_archive) collector->unrecognised = true;
    return 0;
}

}  // namespace

uint32_t Side::add_unit(std::string path, std::string member, bool by_member) {
    std::string key = by_member && !member.empty() ? member : unit_label(path, member);
    units.push_back(Unit{std::move(path), std::move(member), std::move(key)});
    return uint32_t(units.size() - 1);
}

void Side::add(uint32_t unit, std::string_view name, uint64_t size) {
    // A block is never grown past its first capacity, so that the names
    // already in it stay where they are.
    if (name_store.empty() || name_store.back().capacity() - name_store.back().size() < name.size() + 1) {
        name_store.emplace_back();
        name_store.back().reserve(std::max(name_block, name.size() + 1));
    }
    std::string &block = name_store.back();
    const char *at = block.data() + block.size();
    block.append(name).push_back('\0');
    if (runs.empty() || runs.back().unit != unit) runs.push_back(UnitRun{uint32_t(entries.size()), unit});
    entries.push_back(Entry{at, size});
}

void Side::clear() {
    units.clear();
    entries.clear();
    runs.clear();
    name_store.clear();
}

std::string unit_label(const std::string &path, const std::string &member) {
    if (member.empty()) return path;
    if (path.empty()) return member;
    return std::string(path).append("(").append(member).append(")");
}

ReadStatus read_object_file(const std::string &file, const std::string &unit_path, bool by_member, Side &side) {
    Collector c{&side, unit_path, by_member, UINT32_MAX, {}, false};
    collector = &c;
    funsize_set_sink(collect, &c);
    const uint32_t errors_before = gen_total_errors;
    in_archive_member = 0;
    walk_input_readonly(file.c_str());
    funsize_set_sink(nullptr, nullptr);
    collector = nullptr;
    if (gen_total_errors != errors_before) return ReadStatus::failed;
    return c.unrecognised ? ReadStatus::unrecognised : ReadStatus::read;
}

void install_diff_handlers() {
    funsize_install_handlers();
    handler_table[HANDLER_UNKNOWN] = note_unrecognised;
}

bool list_directory(const std::string &dir, std::vector<std::string> &files, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(fs::path(dir), fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec)) continue;
        files.push_back(it->path().lexically_relative(fs::path(dir)).generic_string());
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

}  // namespace fdiff
