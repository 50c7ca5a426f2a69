// The two lines that sum up a comparison in every output form.
#include <cinttypes>
#include <cstdio>

#include "diff.h"

namespace fdiff {

namespace {

std::string signed_bytes(int64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+" PRId64, v);
    return buf;
}

}  // namespace

std::string summary_line(const Summary &s) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "add/remove: %" PRIu64 "/%" PRIu64 " grow/shrink: %" PRIu64 "/%" PRIu64 " up/down: +%" PRIu64 "/-%" PRIu64 " (%s)",
                  s.added, s.removed, s.grown, s.shrunk, s.up, s.down, signed_bytes(s.net()).c_str());
    return buf;
}

std::string total_line(const Summary &s) {
    char change[48];
    if (s.total_old == 0)
        std::snprintf(change, sizeof change, "%s", s.total_new == 0 ? "+0.00%" : "n/a");
    else
        std::snprintf(change, sizeof change, "%+.2f%%", double(s.net()) * 100.0 / double(s.total_old));
    char buf[160];
    std::snprintf(buf, sizeof buf, "Total: Before=%" PRIu64 ", After=%" PRIu64 ", chg %s", s.total_old, s.total_new, change);
    return buf;
}

}  // namespace fdiff
