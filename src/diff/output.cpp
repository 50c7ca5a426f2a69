// The comparison as text, Markdown, CSV or JSON.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "block_writer.h"
#include "diff.h"

namespace fdiff {

namespace {

std::string size_text(bool present, uint64_t size) { return present ? std::to_string(size) : std::string("-"); }

std::string delta_text(int64_t delta) {
    char buf[32];
    std::snprintf(buf, sizeof buf, delta == 0 ? "%" PRId64 : "%+" PRId64, delta);
    return buf;
}

bool listed(const Function &f, const OutputOptions &o) { return o.all || f.changed(); }

// Columns: the file (when several took part), the name left-aligned, the
// three numbers right-aligned.
void write_text(BlockWriter &w, const Comparison &c, const OutputOptions &o) {
    size_t file_width = 4, name_width = 8, old_width = 3, new_width = 3, delta_width = 5;
    for (const Function &f : c.functions) {
        if (!listed(f, o)) continue;
        file_width = std::max(file_width, f.unit->key.size());
        name_width = std::max(name_width, f.name.size());
        old_width = std::max(old_width, size_text(f.has_old, f.old_size).size());
        new_width = std::max(new_width, size_text(f.has_new, f.new_size).size());
        delta_width = std::max(delta_width, delta_text(f.delta()).size());
    }
    auto row = [&](std::string_view file, std::string_view name, const std::string &old_size,
                   const std::string &new_size, const std::string &delta) {
        if (c.several_files) w << file << std::string(file_width - file.size() + 1, ' ');
        w << name;
        w.pad(name_width - name.size() + 1 + old_width - old_size.size()) << old_size;
        w.pad(1 + new_width - new_size.size()) << new_size;
        w.pad(1 + delta_width - delta.size()) << delta << "\n";
    };
    w << summary_line(c.summary) << "\n";
    row("file", "function", "old", "new", "delta");
    for (const Function &f : c.functions)
        if (listed(f, o))
            row(f.unit->key, f.name, size_text(f.has_old, f.old_size), size_text(f.has_new, f.new_size), delta_text(f.delta()));
    w << total_line(c.summary) << "\n";
}

// Every character that Markdown could read as markup inside a table cell is
// escaped, so that a name shows as it is and a '|' does not split the cell.
std::string markdown_text(std::string_view s) {
    std::string out;
    for (char ch : s) {
        if (std::strchr("\\`*_[]<>|~&", ch) && ch) out += '\\';
        out += ch;
    }
    return out;
}

void write_markdown(BlockWriter &w, const Comparison &c, const OutputOptions &o) {
    w << summary_line(c.summary) << "\n\n";
    w << (c.several_files ? "| file | function | old | new | delta |\n|:---|:---|---:|---:|---:|\n"
                          : "| function | old | new | delta |\n|:---|---:|---:|---:|\n");
    for (const Function &f : c.functions) {
        if (!listed(f, o)) continue;
        w << "| ";
        if (c.several_files) w << markdown_text(f.unit->key) << " | ";
        w << markdown_text(f.name) << " | " << size_text(f.has_old, f.old_size) << " | "
          << size_text(f.has_new, f.new_size) << " | " << delta_text(f.delta()) << " |\n";
    }
    w << "\n" << total_line(c.summary) << "\n";
}

// A field is quoted when it holds a comma, a quote or a line break.
std::string csv_field(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out += '"';
}

void write_csv(BlockWriter &w, const Comparison &c, const OutputOptions &o) {
    w << "file,function,old,new,delta\n";
    for (const Function &f : c.functions) {
        if (!listed(f, o)) continue;
        w << csv_field(f.unit->key) << "," << csv_field(f.name) << "," << (f.has_old ? std::to_string(f.old_size) : "")
          << "," << (f.has_new ? std::to_string(f.new_size) : "") << "," << std::to_string(f.delta()) << "\n";
    }
}

void write_json(BlockWriter &w, const Comparison &c, const OutputOptions &o) {
    using json = nlohmann::ordered_json;
    const Summary &s = c.summary;
    json doc;
    doc["summary"] = {{"added", s.added}, {"removed", s.removed}, {"grown", s.grown}, {"shrunk", s.shrunk},
                      {"up", s.up},       {"down", s.down},       {"net", s.net()}};
    json totals = {{"before", s.total_old}, {"after", s.total_new}};
    totals["change_percent"] =
        s.total_old ? json(std::round(double(s.net()) * 10000.0 / double(s.total_old)) / 100.0) : json(nullptr);
    doc["totals"] = std::move(totals);
    json functions = json::array();
    for (const Function &f : c.functions) {
        if (!listed(f, o)) continue;
        json item;
        item["file"] = f.unit->key;
        item["name"] = std::string(f.name);
        item["old"] = f.has_old ? json(f.old_size) : json(nullptr);
        item["new"] = f.has_new ? json(f.new_size) : json(nullptr);
        item["delta"] = f.delta();
        functions.push_back(std::move(item));
    }
    doc["functions"] = std::move(functions);
    // Names are bytes; one that is not UTF-8 is shown with replacement
    // characters rather than failing the whole document.
    w << doc.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace

bool write_comparison(FILE *out, const Comparison &c, const OutputOptions &o) {
    BlockWriter w(out);
    switch (o.format) {
    case Format::text: write_text(w, c, o); break;
    case Format::markdown: write_markdown(w, c, o); break;
    case Format::csv: write_csv(w, c, o); break;
    case Format::json: write_json(w, c, o); break;
    }
    return w.finish();
}

}  // namespace fdiff
