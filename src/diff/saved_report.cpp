// A saved report in the "-gcompare" form: one function a line, "file:"
// in front when the report named its files, then the name padded with
// blanks, an address when -addr was given, and the size (decimal, or
// hexadecimal with "0x" when -hex was given).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "side.h"

namespace fdiff {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool parse_number(std::string_view digits, uint64_t &value) {
    int base = 10;
    bool negative = false;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    } else if (digits.size() > 1 && digits[0] == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 20) return false;
    uint64_t v = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = unsigned(c - 'A' + 10);
        else
            return false;
        if (v > (UINT64_MAX - d) / unsigned(base)) return false;
        v = v * unsigned(base) + d;
    }
    // The report prints sizes as signed numbers; a negative one stands for
    // the same 64 bits.
    value = negative ? uint64_t(0) - v : v;
    return true;
}

bool is_address(std::string_view token) {
    if (token.size() < 3 || token[0] != '0' || token[1] != 'x') return false;
    for (char c : token.substr(2))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Splits one line into its file prefix, name and size. False when it is
// not a report line.
bool parse_line(std::string_view line, std::string_view &prefix, std::string_view &name, uint64_t &size) {
    for (char c : line)
        if ((unsigned char)c < 0x20 && c != '\t') return false;
    size_t end = line.size();
    size_t start = end;
    while (start > 0 && !is_blank(line[start - 1])) --start;
    if (start == 0 || !parse_number(line.substr(start, end - start), size)) return false;
    // The blanks in front of the size, and an address before them.
    size_t rest = start;
    while (rest > 0 && is_blank(line[rest - 1])) --rest;
    size_t token = rest;
    while (token > 0 && !is_blank(line[token - 1])) --token;
    if (token > 0 && is_address(line.substr(token, rest - token))) {
        rest = token;
        while (rest > 0 && is_blank(line[rest - 1])) --rest;
    }
    std::string_view text = line.substr(0, rest);
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        prefix = text.substr(0, colon);
        name = text.substr(colon + 1);
    } else {
        prefix = {};
        name = text;
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

}  // namespace

ReadStatus read_saved_report(const std::string &file, Side &side, std::string &error) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(file.c_str(), "rb"));
    if (!f) {
        error = std::strerror(errno);
        return ReadStatus::failed;
    }
    // Lines are taken as the blocks come, so that a large file that is no
    // report is given up at its first line.
    std::unordered_map<std::string, uint32_t> units;
    uint32_t unit = UINT32_MAX;
    std::string unit_prefix;
    size_t line_number = 0;
    auto take = [&](std::string_view line) {
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view prefix, name;
        uint64_t size;
        if (!parse_line(line, prefix, name, size)) {
            if (line_number == 1) return ReadStatus::unrecognised;
            error = std::to_string(line_number).append(": not a line of a saved report (a function name and its size)");
            return ReadStatus::failed;
        }
        while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
        if (unit == UINT32_MAX || prefix != unit_prefix) {
            unit_prefix = prefix;
            auto [it, fresh] = units.try_emplace(unit_prefix, 0);
            if (fresh) it->second = side.add_unit(unit_prefix, std::string(), true);
            unit = it->second;
        }
        side.add(unit, name, size);
        return ReadStatus::read;
    };
    std::string pending;
    char block[1 << 16];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f.get())) > 0;) {
        pending.append(block, n);
        size_t start = 0;
        for (size_t eol; (eol = pending.find('\n', start)) != std::string::npos; start = eol + 1) {
            const ReadStatus status = take(std::string_view(pending).substr(start, eol - start));
            if (status != ReadStatus::read) return status;
        }
        pending.erase(0, start);
        // A first line this long is no report line.
        if (line_number == 0 && pending.size() > (1 << 20)) return ReadStatus::unrecognised;
    }
    if (std::ferror(f.get())) {
        error = std::strerror(errno);
        return ReadStatus::failed;
    }
    if (!pending.empty()) return take(pending);
    return ReadStatus::read;
}

}  // namespace fdiff
