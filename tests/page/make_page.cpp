// Writes a funsize-diff page without reading any build, for the page
// benchmark and for looking at a page by hand.
//
//   make_page DESCRIPTION PAGE.html           functions from a description (page_input.h)
//   make_page --generate N [--one-side] PAGE.html [LIST.txt]
//                                             N synthetic functions; LIST gets the
//                                             text output (unchanged functions too)
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "page_input.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: make_page DESCRIPTION PAGE.html\n"
                         "       make_page --generate N [--one-side] PAGE.html [LIST.txt]\n");
    return 2;
}

// The text output of the same comparison, unchanged functions too.
bool write_list(const char *path, const fdiff::Comparison &c) {
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    fdiff::OutputOptions options;
    options.all = true;
    const bool ok = fdiff::write_comparison(f, c, options);
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    std::unique_ptr<pagetest::Compared> c;
    const char *page = nullptr, *list = nullptr;
    try {
        if (argc >= 4 && std::strcmp(argv[1], "--generate") == 0) {
            const bool one_side = std::strcmp(argv[3], "--one-side") == 0;
            const int at = one_side ? 4 : 3;
            if (argc <= at) return usage();
            page = argv[at];
            list = argc > at + 1 ? argv[at + 1] : nullptr;
            c = pagetest::generate(std::stoull(argv[2]), one_side);
        } else if (argc == 3) {
            std::ifstream in(argv[1], std::ios::binary);
            if (!in) return std::fprintf(stderr, "make_page: cannot read %s\n", argv[1]), 1;
            std::ostringstream text;
            text << in.rdbuf();
            c = pagetest::parse_description(text.str());
            page = argv[2];
        } else {
            return usage();
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_page: %s\n", e.what());
        return 1;
    }
    FILE *out = std::fopen(page, "wb");
    if (!out || !fdiff::write_html(out, c->comparison) || std::fclose(out) != 0) {
        std::fprintf(stderr, "make_page: cannot write %s\n", page);
        return 1;
    }
    if (list && !write_list(list, c->comparison)) {
        std::fprintf(stderr, "make_page: cannot write %s\n", list);
        return 1;
    }
    return 0;
}
