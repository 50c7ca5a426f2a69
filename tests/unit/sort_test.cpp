// The library's sort: the exact comparisons and swaps it makes, stability of
// the stable variant, the default swap, and n log n behaviour on the inputs
// that make simple quicksorts quadratic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gensort.h"

namespace {

using Pairs = std::vector<std::pair<int, int>>;

// Records every comparison and swap by element index.
struct Recorder {
    const int *base = nullptr;
    Pairs compares, swaps;
};
Recorder *recorder;

int index_of(const void *p) { return int(static_cast<const int *>(p) - recorder->base); }

int record_cmp(void *context, const void *a, const void *b) {
    EXPECT_EQ(context, recorder);
    recorder->compares.emplace_back(index_of(a), index_of(b));
    const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

void record_swap(void *a, void *b, size_t size) {
    EXPECT_EQ(size, sizeof(int));
    recorder->swaps.emplace_back(index_of(a), index_of(b));
    std::swap(*static_cast<int *>(a), *static_cast<int *>(b));
}

Recorder sort_recorded(std::vector<int> &v, bool stable = false) {
    Recorder r;
    r.base = v.data();
    recorder = &r;
    (stable ? gen_sort_stable : gen_sort)(&r, v.data(), v.size(), sizeof(int), record_cmp, record_swap);
    recorder = nullptr;
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    return r;
}

std::vector<int> iota(int n) {
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = i;
    return v;
}

Pairs head(const Pairs &p, size_t n) { return Pairs(p.begin(), p.begin() + long(std::min(n, p.size()))); }

TEST(GenSortProtocol, ExactComparisonsAndSwaps) {
    struct Case {
        std::vector<int> in;
        Pairs compares, swaps;
    };
    const Case cases[] = {
        // Five elements: only the exchange pass.
        {{2, 0, 1, 4, 3},
         {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}},
         {{0, 1}, {1, 2}, {3, 4}}},
        // Sorted six: the median of 0, 3 (= ceil(6/2)) and 5 is 3; i runs up
        // to it, j down to it; the smaller part behind it goes first.
        {iota(6),
         {{0, 3}, {3, 5}, {0, 3}, {1, 3}, {2, 3}, {3, 5}, {3, 4}, {4, 5}, {0, 1}, {0, 2}, {1, 2}},
         {}},
        // Reversed: two swaps around the pivot, then the third carries it to
        // i's place; the larger part behind it is deferred.
        {{6, 5, 4, 3, 2, 1},
         {{0, 3}, {3, 5}, {0, 3}, {3, 5}, {1, 3}, {3, 4}, {2, 3}, {0, 1}, {3, 4}, {3, 5}, {4, 5}},
         {{0, 5}, {1, 4}, {2, 3}}},
        // The pivot is the last candidate and moves to i's place, to j's, and
        // to i's again.
        {{1, 5, 6, 4, 2, 3},
         {{0, 3}, {3, 5}, {0, 5}, {0, 5}, {1, 5}, {1, 4}, {2, 4}, {2, 3}, {0, 1}, {3, 4}, {3, 5}, {4, 5}},
         {{1, 5}, {1, 4}, {2, 4}, {4, 5}}},
        {{}, {}, {}},
        {{7}, {}, {}},
    };
    for (const Case &c : cases) {
        std::vector<int> v = c.in;
        Recorder r = sort_recorded(v);
        EXPECT_EQ(r.compares, c.compares) << c.in.size();
        EXPECT_EQ(r.swaps, c.swaps) << c.in.size();
    }
    gen_sort(nullptr, nullptr, 0, sizeof(int), nullptr, nullptr);
    gen_sort_stable(nullptr, nullptr, 0, sizeof(int), nullptr, nullptr);

    // Every order of the three candidates (0, 3, 5) picks the median; the
    // first partition comparison names the pivot chosen.
    const int orders[][3] = {{1, 2, 3}, {1, 3, 2}, {2, 3, 1}, {3, 2, 1}, {3, 1, 2}, {2, 1, 3}};
    for (const auto &o : orders) {
        std::vector<int> v = {o[0] * 10, 15, 25, o[1] * 10, 5, o[2] * 10};
        Recorder r = sort_recorded(v);
        const size_t n = o[1] == 2 ? 2 : 3;  // a third comparison unless b is the median
        Pairs expected = {{0, 3}, {3, 5}, {0, 5}};
        EXPECT_EQ(head(r.compares, n), head(expected, n)) << o[0] << o[1] << o[2];
        const int pivot = o[0] == 2 ? 0 : o[1] == 2 ? 3 : 5;
        ASSERT_GT(r.compares.size(), n);
        EXPECT_TRUE(r.compares[n].first == pivot || r.compares[n].second == pivot) << o[0] << o[1] << o[2];
    }

    // From 36 elements on, each candidate is the median of three n/8 apart
    // around 0, ceil(n/2) and n-1; then the median of those three.
    std::vector<int> v = iota(36);
    Recorder r = sort_recorded(v);
    EXPECT_EQ(head(r.compares, 9), (Pairs{{0, 4}, {4, 8}, {14, 18}, {18, 22}, {27, 31}, {31, 35}, {4, 18}, {18, 31},
                                          {0, 18}}));
    EXPECT_EQ(r.compares[25], std::make_pair(17, 18));
    EXPECT_EQ(r.compares[26], std::make_pair(18, 35));
    v = iota(35);
    EXPECT_EQ(head(sort_recorded(v).compares, 3), (Pairs{{0, 18}, {18, 34}, {0, 18}}));
}

struct Item {
    int key;
    int id;
};

int by_key(void *, const void *a, const void *b) {
    const int x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}
int all_equal(void *, const void *, const void *) { return 0; }
bool key_less(const Item &a, const Item &b) { return a.key < b.key; }

std::vector<Item> items(size_t n, int distinct_keys, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Item> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = {int(rng() % uint32_t(distinct_keys)), int(i)};
    return v;
}

TEST(GenSortStable, EqualElementsKeepTheirOrder) {
    // Below and above the 64 positions kept on the stack.
    for (size_t n : {6u, 64u, 65u, 20000u}) {
        SCOPED_TRACE(n);
        std::vector<Item> v = items(n, 7, uint32_t(n)), expected = v;
        std::stable_sort(expected.begin(), expected.end(), key_less);
        gen_sort_stable(nullptr, v.data(), v.size(), sizeof(Item), by_key, nullptr);
        for (size_t i = 0; i < n; ++i) ASSERT_TRUE(v[i].key == expected[i].key && v[i].id == expected[i].id) << i;

        // A comparison that calls everything equal leaves the array alone.
        v = items(n, 1000, 7);
        expected = v;
        gen_sort_stable(nullptr, v.data(), v.size(), sizeof(Item), all_equal, nullptr);
        EXPECT_EQ(std::memcmp(v.data(), expected.data(), n * sizeof(Item)), 0);
    }

    // The plain sort sorts but does not keep ties in order, so the stable
    // variant's tie-break is what does the work above.
    std::vector<Item> v = items(5000, 3, 11);
    gen_sort(nullptr, v.data(), v.size(), sizeof(Item), by_key, nullptr);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), key_less));
    EXPECT_TRUE(std::adjacent_find(v.begin(), v.end(), [](const Item &a, const Item &b) {
                    return a.key == b.key && a.id > b.id;
                }) != v.end());

    // Its ties cost no calls of the caller's comparison beyond the plain
    // scheme's: sorted input gets the same calls.
    std::vector<int> plain = iota(50), stable = iota(50);
    EXPECT_EQ(sort_recorded(plain).compares, sort_recorded(stable, true).compares);
}

int u8_cmp(void *, const void *a, const void *b) {
    return int(*static_cast<const uint8_t *>(a)) - int(*static_cast<const uint8_t *>(b));
}

TEST(GenSortSwap, DefaultSwapAndOddSizes) {
    alignas(8) unsigned char buf[40];
    for (int i = 0; i < 40; ++i) buf[i] = uint8_t(i);
    // Aligned, 8 bytes: 4 at a time; unaligned and an odd size: byte by byte.
    gen_sort_default_swap(buf + 0, buf + 16, 8);
    gen_sort_default_swap(buf + 9, buf + 26, 3);
    const unsigned char expected[40] = {16, 17, 18, 19, 20, 21, 22, 23, 8,  26, 27, 28, 12, 13, 14, 15, 0,  1,  2,  3,
                                        4,  5,  6,  7,  24, 25, 9,  10, 11, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39};
    EXPECT_EQ(std::memcmp(buf, expected, sizeof buf), 0);

    // Three-byte elements at an odd address stay whole.
    std::mt19937 rng(3);
    std::vector<unsigned char> odd(1 + 300 * 3);
    for (size_t i = 1; i < odd.size(); i += 3) {
        odd[i] = uint8_t(rng());
        odd[i + 1] = odd[i + 2] = uint8_t(0xA0 + odd[i] % 16);
    }
    gen_sort(nullptr, odd.data() + 1, 300, 3, u8_cmp, nullptr);
    for (size_t i = 1; i < odd.size(); i += 3) {
        ASSERT_TRUE(i == 1 || odd[i - 3] <= odd[i]) << i;
        ASSERT_TRUE(odd[i + 1] == 0xA0 + odd[i] % 16 && odd[i + 2] == odd[i + 1]) << i;
    }
}

uint64_t counted;
int count_cmp(void *, const void *a, const void *b) {
    ++counted;
    const uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

TEST(GenSortGrowth, NoQuadraticCaseOnCommonInputs) {
    constexpr size_t n = 200000;
    const double limit = 4.0 * double(n) * std::log2(double(n));
    const char *names[] = {"equal", "sorted", "reversed", "interleaved", "sawtooth"};
    for (int kind = 0; kind < 5; ++kind) {
        std::vector<uint32_t> keys(n);
        for (size_t i = 0; i < n; ++i) {
            const size_t k[] = {42, i, n - i, i % 2 ? n - i : i, i % 1000};
            keys[i] = uint32_t(k[kind]);
        }
        for (bool stable : {false, true}) {
            SCOPED_TRACE(std::string(names[kind]) + (stable ? " stable" : " plain"));
            std::vector<uint32_t> v = keys;
            counted = 0;
            (stable ? gen_sort_stable : gen_sort)(nullptr, v.data(), n, 4, count_cmp, nullptr);
            EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
            EXPECT_LT(double(counted), limit) << counted << " comparisons";
        }
    }
}

}  // namespace
