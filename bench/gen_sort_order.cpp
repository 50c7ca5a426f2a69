// Prints an ordering of N keys built against gen_sort's pivot choice, one
// key a line: the keys are decided while gen_sort runs, by an adversary that
// keeps undecided elements greater than every decided one and, when two
// undecided elements meet, decides the one that is most likely the pivot.
// Every partition then splits off as little as the pivot choice allows.
//
// usage: gen_sort_order N
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gensort.h"

namespace {

std::vector<uint32_t> key;
uint32_t gas;
uint32_t decided;
size_t candidate = SIZE_MAX;

int compare(void *, const void *a, const void *b) {
    const size_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    if (key[x] == gas && key[y] == gas) key[x == candidate ? x : y] = decided++;
    if (key[x] == gas)
        candidate = x;
    else if (key[y] == gas)
        candidate = y;
    return key[x] < key[y] ? -1 : key[x] > key[y] ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_sort_order N\n");
        return 2;
    }
    const size_t n = std::strtoul(argv[1], nullptr, 10);
    gas = uint32_t(n);
    key.assign(n, gas);
    std::vector<uint32_t> index(n);
    for (size_t i = 0; i < n; ++i) index[i] = uint32_t(i);
    gen_sort(nullptr, index.data(), n, sizeof index[0], compare, nullptr);
    for (uint32_t &k : key)
        if (k == gas) k = decided++;
    for (uint32_t k : key) std::printf("%u\n", k);
    return 0;
}
