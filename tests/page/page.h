// The page tests: funsize-diff pages opened in headless Chromium.
//
// A comparison is built from a list of functions, without reading any
// build, or read by the real funsize-diff (page_e2e_test.cpp). check_page
// writes the page as NAME.html into the build folder (tests/pages), takes a
// screenshot of it (NAME.png, 1280 x 900), then opens a copy with driver.js
// appended and evaluates each check's expression there in turn (an action
// may come first: "sortBy('delta'), column('delta')"), comparing what each
// gave with what the check wants. Without Chromium the tests are skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diff.h"

namespace pagetest {

struct Fn {
    std::string path, member, name;
    int64_t old_size, new_size;  // -1: missing on that side
};

// Two sides filled with the functions, each file (path and member) added to
// a side once, and compared as funsize-diff compares two directories; with
// `one_side` the page draws the new build alone.
struct Compared {
    explicit Compared(const std::vector<Fn> &fns, bool one_side = false);
    fdiff::Side old_side, new_side;
    fdiff::Comparison comparison;
};

// The page of a comparison as write_html writes it.
std::string page_of(const fdiff::Comparison &c);

struct Check {
    std::string expr, want;
};
void check_page(const std::string &name, const std::string &page, const std::vector<Check> &checks);

class PageTest : public testing::Test {
protected:
    void SetUp() override;
};

}  // namespace pagetest
