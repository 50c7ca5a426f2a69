// Opening funsize-diff pages in headless Chromium for the page tests.
//
// open_page writes the page as NAME.html into the build folder
// (tests/pages), takes a screenshot of it (NAME.png, 1280 x 900), then opens
// a copy with driver.js and `steps` appended, the body of an async function
// that drives the page and calls report(key, value). It returns what was
// reported, after checking that the page script ran without an error.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "diff.h"

namespace pagetest {

struct Seen {
    std::map<std::string, std::string> values;
    // The reported value, or "(not reported)".
    std::string at(const std::string &key) const;
};

// The page of a comparison as write_html writes it.
std::string page_of(const fdiff::Comparison &c);

Seen open_page(const std::string &name, const std::string &page, const std::string &steps);

// Skips a test when no browser was found at configuration.
class PageTest : public testing::Test {
protected:
    void SetUp() override;
};

}  // namespace pagetest
