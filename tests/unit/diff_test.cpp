// The comparison's matching and its machine-read formats, read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "diff.h"

namespace {

using fdiff::Comparison;
using fdiff::Format;
using fdiff::Side;

std::string written(const Comparison &c, Format format) {
    std::FILE *f = std::tmpfile();
    EXPECT_TRUE(fdiff::write_comparison(f, c, {format, false}));
    std::rewind(f);
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    return text;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t eol; (eol = text.find('\n', start)) != std::string::npos; start = eol + 1)
        lines.push_back(text.substr(start, eol - start));
    return lines;
}

// The cells of a Markdown table row: split at '|' that no backslash
// escapes, escapes removed, blanks around a cell trimmed.
std::vector<std::string> markdown_cells(const std::string &row) {
    std::vector<std::string> cells(1);
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size())
            cells.back() += row[++i];
        else if (row[i] == '|')
            cells.emplace_back();
        else
            cells.back() += row[i];
    }
    for (std::string &c : cells) {
        c.erase(0, c.find_first_not_of(' '));
        c.erase(c.find_last_not_of(' ') + 1);
    }
    // The row starts and ends with '|'.
    return std::vector<std::string>(cells.begin() + 1, cells.end() - 1);
}

// The fields of one CSV record (quoted fields with doubled quotes).
std::vector<std::string> csv_fields(const std::string &record) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < record.size(); ++i) {
        const char ch = record[i];
        if (quoted && ch == '"' && i + 1 < record.size() && record[i + 1] == '"')
            fields.back() += record[++i];
        else if (ch == '"')
            quoted = !quoted;
        else if (ch == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += ch;
    }
    return fields;
}

// Names that the formats must carry through unchanged.
const std::vector<std::string> awkward = {"a|b", "under_score*star", "`tick`", "back\\slash", "<tag>&amp;",
                                          "comma,\"quote\"", "operator<<", "caf\xc3\xa9"};

TEST(DiffFormats, AwkwardNamesReadBackFromMarkdownCsvAndJson) {
    Side old_side, new_side;
    const uint32_t ou = old_side.add_unit("x.o", "", true);
    const uint32_t nu = new_side.add_unit("x.o", "", true);
    for (size_t i = 0; i < awkward.size(); ++i) {
        old_side.add(ou, awkward[i], 10);
        new_side.add(nu, awkward[i], 10 + i + 1);
    }
    const Comparison c = fdiff::compare(old_side, new_side, false);
    ASSERT_EQ(c.functions.size(), awkward.size());

    std::vector<std::string> md = lines_of(written(c, Format::markdown));
    ASSERT_EQ(md.size(), 4 + awkward.size() + 2);
    EXPECT_EQ(markdown_cells(md[2]), (std::vector<std::string>{"function", "old", "new", "delta"}));
    for (size_t i = 0; i < awkward.size(); ++i) {
        // The largest growth comes first.
        const size_t k = awkward.size() - 1 - i;
        EXPECT_EQ(markdown_cells(md[4 + i]),
                  (std::vector<std::string>{awkward[k], "10", std::to_string(10 + k + 1), "+" + std::to_string(k + 1)}));
    }

    std::vector<std::string> csv = lines_of(written(c, Format::csv));
    ASSERT_EQ(csv.size(), 1 + awkward.size());
    for (size_t i = 0; i < awkward.size(); ++i) {
        const size_t k = awkward.size() - 1 - i;
        EXPECT_EQ(csv_fields(csv[1 + i]),
                  (std::vector<std::string>{"x.o", awkward[k], "10", std::to_string(10 + k + 1), std::to_string(k + 1)}));
    }

    const auto doc = nlohmann::json::parse(written(c, Format::json));
    ASSERT_EQ(doc["functions"].size(), awkward.size());
    EXPECT_EQ(doc["functions"][0]["name"], awkward.back());
    EXPECT_EQ(doc["functions"][awkward.size() - 1]["name"], awkward.front());
    EXPECT_EQ(doc["summary"]["grown"], awkward.size());
    EXPECT_EQ(doc["totals"]["after"].get<uint64_t>() - doc["totals"]["before"].get<uint64_t>(),
              doc["summary"]["net"].get<uint64_t>());
}

}  // namespace
