// The page's assets, embedded at build time by embed.cmake: the style sheet,
// the treemap layout library, the page script and the body markup. Each
// array holds the file's bytes followed by a terminating zero that the size
// does not count.
#pragma once

#include <cstddef>

namespace fdiff::page_assets {

extern const unsigned char style[];
extern const size_t style_size;
extern const unsigned char layout[];
extern const size_t layout_size;
extern const unsigned char script[];
extern const size_t script_size;
extern const unsigned char body[];
extern const size_t body_size;

}  // namespace fdiff::page_assets
