// The self-contained page of a comparison (--html): the summary lines of the
// text output, a treemap of the new build and a table of every function.
//
// The style sheet, the page script, the markup and the treemap layout
// library are compiled in (page/, embedded by page/embed.cmake); this file
// writes them around the comparison's data, one JSON object in a
// <script type="application/json"> element:
//
//   {"oneSide":false,
//    "units":["dir/a.o","","dir/a.o", "lib/libx.a","m.o","lib/libx.a(m.o)", ...],
//    "fns":[0,"main",120,136, 1,"f",-1,40, ...]}
//
// A file (or archive member) is three strings: its path, which the treemap
// splits into folders, its member, and the label the text output gives it.
//
// A record is (unit index, name, old size, new size); a size of -1 means the
// function is missing on that side. With only one build the old size is
// left out and a record has three fields. Names are interned nowhere: they
// are the bulk of the data and rarely repeat, while a file's path is written
// once however many functions it holds.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "assets.h"
#include "block_writer.h"
#include "diff.h"

namespace fdiff {

namespace {

// The length of the well-formed UTF-8 sequence that starts at s[i], or 0.
size_t utf8_length(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
    const auto cont = [&](size_t k) { return (byte(k) & 0xC0) == 0x80; };
    const unsigned lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return cont(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        // No overlong forms (E0 80..9F) and no surrogates (ED A0..BF).
        const unsigned second = byte(1);
        if (lead == 0xE0 && second < 0xA0) return 0;
        if (lead == 0xED && second > 0x9F) return 0;
        return cont(1) && cont(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned second = byte(1);
        if (lead == 0xF0 && second < 0x90) return 0;
        if (lead == 0xF4 && second > 0x8F) return 0;
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

// Appends `s` as a JSON string that may stand inside a <script> element:
// '<', '>' and '&' are written as \u escapes, so that neither "</script>" nor
// "<!--" can appear, and every byte that is not part of well-formed UTF-8
// becomes U+FFFD (names come from object files, in whatever encoding their
// compiler used).
void append_json_string(std::string &out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            out.append("\\u00");
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else if (c < 0x80) {
            out.push_back(char(c));
        } else if (const size_t n = utf8_length(s, i); n != 0) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        } else {
            out.append("\\ufffd");
        }
        ++i;
    }
    out.push_back('"');
}

void append_number(std::string &out, bool present, uint64_t v) {
    if (!present) {
        out.append("-1");
        return;
    }
    char buf[24];
    const int n = std::snprintf(buf, sizeof buf, "%" PRIu64, v);
    out.append(buf, size_t(n));
}

// Text for an element's content: the summary lines hold only digits and
// punctuation, but nothing is written into markup unescaped.
std::string html_text(std::string_view s) {
    std::string out;
    for (const char c : s) {
        if (c == '<') out.append("&lt;");
        else if (c == '>') out.append("&gt;");
        else if (c == '&') out.append("&amp;");
        else out.push_back(c);
    }
    return out;
}

void write_data(BlockWriter &w, const Comparison &c) {
    // Files (and archive members) are numbered in the order they are first
    // met; a record refers to its file by that number. The two sides each
    // have their own record of a file, so a file is known by its names.
    std::unordered_map<std::string, size_t> unit_index;
    std::vector<size_t> unit_of(c.functions.size());
    std::string units;
    for (size_t i = 0; i < c.functions.size(); ++i) {
        const Unit &u = *c.functions[i].unit;
        std::string key = u.path;
        key.push_back('\0');
        key.append(u.member);
        key.push_back('\0');
        key.append(u.key);
        const auto [it, inserted] = unit_index.emplace(std::move(key), unit_index.size());
        if (inserted) {
            if (!units.empty()) units.push_back(',');
            append_json_string(units, u.path);
            units.push_back(',');
            append_json_string(units, u.member);
            units.push_back(',');
            append_json_string(units, u.key);
        }
        unit_of[i] = it->second;
    }

    std::string &out = w.text();
    out.append(c.one_side ? "{\"oneSide\":true,\"units\":[" : "{\"oneSide\":false,\"units\":[");
    out.append(units);
    out.append("],\"fns\":[");
    for (size_t i = 0; i < c.functions.size(); ++i) {
        const Function &f = c.functions[i];
        if (i != 0) out.push_back(',');
        append_number(out, true, unit_of[i]);
        out.push_back(',');
        append_json_string(out, f.name);
        if (!c.one_side) {
            out.push_back(',');
            append_number(out, f.has_old, f.old_size);
        }
        out.push_back(',');
        append_number(out, f.has_new, f.new_size);
        w.spill();
    }
    out.append("]}");
}

}  // namespace

bool write_html(FILE *out, const Comparison &c) {
    namespace a = page_assets;
    const auto asset = [](const unsigned char *bytes, size_t size) {
        return std::string_view(reinterpret_cast<const char *>(bytes), size);
    };
    BlockWriter w(out);
    w << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>funsize-diff</title>\n<style>\n"
      << asset(a::style, a::style_size)
      << "</style>\n</head>\n<body>\n<header>\n<h1>funsize-diff</h1>\n<pre id=\"summary\">"
      << html_text(summary_line(c.summary)) << "\n" << html_text(total_line(c.summary)) << "</pre>\n</header>\n"
      << asset(a::body, a::body_size) << "<script type=\"application/json\" id=\"funsize-data\">";
    write_data(w, c);
    w << "</script>\n<script>\n" << asset(a::layout, a::layout_size) << "\n</script>\n<script>\n"
      << asset(a::script, a::script_size) << "</script>\n</body>\n</html>\n";
    return w.finish();
}

}  // namespace fdiff
