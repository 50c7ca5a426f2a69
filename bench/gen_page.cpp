// Writes the funsize-diff page of a synthetic build, for bench/run_page.sh:
//
//   gen_page --generate N [--one-side] PAGE.html [LIST.txt]
//
// N functions in nested folders and archives, with sizes spread over four
// orders of magnitude and a few per cent of them grown, shrunk, added or
// removed (the same every run); LIST gets the text output of the same
// comparison, unchanged functions too.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "diff.h"

int main(int argc, char **argv) {
    const bool one_side = argc >= 4 && std::strcmp(argv[3], "--one-side") == 0;
    const int at = one_side ? 4 : 3;
    if (argc <= at || argc > at + 2 || std::strcmp(argv[1], "--generate") != 0) {
        std::fprintf(stderr, "usage: gen_page --generate N [--one-side] PAGE.html [LIST.txt]\n");
        return 2;
    }
    const uint64_t count = std::strtoull(argv[2], nullptr, 10);
    uint64_t state = 0x9E3779B97F4A7C16ull;
    const auto uniform = [&state]() {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return double((state * 0x2545F4914F6CDD1Dull) >> 11) / double(1ull << 53);
    };
    fdiff::Side old_side, new_side;
    uint32_t old_unit = 0, new_unit = 0;
    char path[96], member[96], name[96];
    for (uint64_t i = 0; i < count; ++i) {
        if (i % 400 == 0) {
            // A new object file every 400 functions: one in eight is a member
            // of an archive.
            const unsigned unit = unsigned(i / 400);
            std::snprintf(path, sizeof path, "src/mod%02u/part%u/file%05u.o", unit % 37, unit % 5, unit);
            member[0] = '\0';
            if (unit % 8 == 7) {
                std::snprintf(path, sizeof path, "lib/libmod%02u.a", unit % 37);
                std::snprintf(member, sizeof member, "obj%05u.o", unit);
            }
            if (!one_side) old_unit = old_side.add_unit(path, member, false);
            new_unit = new_side.add_unit(path, member, false);
        }
        std::snprintf(name, sizeof name, "ns%u::function_%07u(int)", unsigned(i % 53), unsigned(i));
        const uint64_t size = uint64_t(std::exp(uniform() * 9.0));  // 1 .. 8103 bytes
        // Grown below 0.05, shrunk below 0.08, added below 0.09, removed below 0.1.
        const double r = uniform();
        const uint64_t old_size = r < 0.05 && size > 8 ? size - size / 8 : r >= 0.05 && r < 0.08 ? size + size / 5 + 1 : size;
        if (!one_side && !(r >= 0.08 && r < 0.09)) old_side.add(old_unit, name, old_size);  // else added
        if (one_side || !(r >= 0.09 && r < 0.10)) new_side.add(new_unit, name, size);      // else removed
    }
    fdiff::Comparison c = fdiff::compare(old_side, new_side, true);
    c.one_side = one_side;
    FILE *page = std::fopen(argv[at], "wb");
    if (!page || !fdiff::write_html(page, c) || std::fclose(page) != 0) {
        std::fprintf(stderr, "gen_page: cannot write %s\n", argv[at]);
        return 1;
    }
    fdiff::OutputOptions all;
    all.all = true;
    FILE *list = argc > at + 1 ? std::fopen(argv[at + 1], "wb") : nullptr;
    if (argc > at + 1 && (!list || !fdiff::write_comparison(list, c, all) || std::fclose(list) != 0)) {
        std::fprintf(stderr, "gen_page: cannot write %s\n", argv[at + 1]);
        return 1;
    }
    return 0;
}
