// Unsigned values of 1 to 8 bytes into a byte string, in either byte order;
// shared by the writers and by tests that patch what they wrote.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace testing_support {

// Overwrites the `width` bytes at `at`.
inline void put(std::string &bytes, uint64_t at, uint64_t value, int width, bool big_endian) {
    if (at + uint64_t(width) > bytes.size()) throw std::out_of_range("put past the end");
    for (int i = 0; i < width; ++i) bytes[size_t(at) + size_t(i)] = char(value >> 8 * (big_endian ? width - 1 - i : i));
}

// Appends `width` bytes.
inline void add(std::string &bytes, uint64_t value, int width, bool big_endian) {
    bytes.append(size_t(width), '\0');
    put(bytes, bytes.size() - uint64_t(width), value, width, big_endian);
}

}  // namespace testing_support
