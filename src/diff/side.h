// The readers of one side of a comparison, for the command line.
#pragma once

#include <string>
#include <vector>

#include "diff.h"

namespace fdiff {

enum class ReadStatus { read, unrecognised, failed };

// The report's handlers, with unrecognised inputs skipped quietly.
void install_diff_handlers();

// Reads one file through the report's readers into `side` under the unit
// path given; `by_member` keys an archive's members by their names alone.
// `failed` when a reader complained (it said why).
ReadStatus read_object_file(const std::string &file, const std::string &unit_path, bool by_member, Side &side);

// The regular files below `dir`, as '/'-separated paths relative to it, in
// byte order.
bool list_directory(const std::string &dir, std::vector<std::string> &files, std::string &error);

// A saved report. `unrecognised` when the text does not start like one;
// `failed` with `error` ("LINE: what") when a later line is damaged.
ReadStatus read_saved_report(const std::string &file, Side &side, std::string &error);

}  // namespace fdiff
