// Comparisons for the page tests and the page benchmark, made without
// reading any build.
//
// A description has one function a line, its fields split by '|':
//
//   PATH | MEMBER | NAME | OLD | NEW
//
// with '-' for no archive member and for a size on a side that lacks the
// function; blank lines and lines starting with '#' are skipped. A line
// "one-side" makes a comparison of the new build alone. The functions are
// ordered and summed as the comparison orders and sums them.
#pragma once

#include <cstdint>
#include <string>

#include "diff.h"

namespace pagetest {

// Throws std::invalid_argument for a line it cannot read.
fdiff::Comparison parse_description(const std::string &text);

// Orders the functions (largest change first, ties by name, then file) and
// fills the summary.
void finish(fdiff::Comparison &c);

// A synthetic build of `count` functions in nested folders and archives,
// with sizes spread over four orders of magnitude and a few per cent of the
// functions grown, shrunk, added or removed; the same seed gives the same
// comparison.
fdiff::Comparison generate(uint64_t count, bool one_side, uint64_t seed = 1);

}  // namespace pagetest
