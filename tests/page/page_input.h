// Comparisons for the page tests and the page benchmark, made without
// reading any build: two sides are filled from a description (or generated)
// and compared as funsize-diff compares what it read.
//
// A description has one function a line, its fields split by '|':
//
//   PATH | MEMBER | NAME | OLD | NEW
//
// with '-' for no archive member and for a size on a side that lacks the
// function; blank lines and lines starting with '#' are skipped. A line
// "one-side" makes a comparison of the new build alone. Files are known by
// their paths, as when two directories are compared.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "diff.h"

namespace pagetest {

// The comparison points into the sides, which it keeps.
struct Compared {
    fdiff::Side old_side, new_side;
    fdiff::Comparison comparison;
};

// Throws std::invalid_argument for a line it cannot read.
std::unique_ptr<Compared> parse_description(const std::string &text);

// A synthetic build of `count` functions in nested folders and archives,
// with sizes spread over four orders of magnitude and a few per cent of the
// functions grown, shrunk, added or removed; the same seed gives the same
// comparison.
std::unique_ptr<Compared> generate(uint64_t count, bool one_side, uint64_t seed = 1);

}  // namespace pagetest
