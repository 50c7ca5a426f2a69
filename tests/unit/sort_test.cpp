// The library's sort: the exact comparisons and swaps it makes, stability of
// the stable variant, the default swap, and n log n behaviour on the inputs
// that make simple quicksorts quadratic.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "gensort.h"

namespace {

using Pair = std::pair<int, int>;
using Pairs = std::vector<Pair>;

// Records every comparison and swap by element index.
struct Recorder {
    const int *base = nullptr;
    Pairs compares;
    Pairs swaps;
    uint64_t count = 0;
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
    return r;
}

std::vector<int> iota(int n, int from = 0) {
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = from + i;
    return v;
}

TEST(GenSortProtocol, FiveElementsGetOnlyTheExchangePass) {
    std::vector<int> v = {2, 0, 1, 4, 3};
    Recorder r = sort_recorded(v);
    EXPECT_EQ(v, iota(5));
    EXPECT_EQ(r.compares, (Pairs{{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}}));
    EXPECT_EQ(r.swaps, (Pairs{{0, 1}, {1, 2}, {3, 4}}));

    // Nothing at all for no elements; one element is compared with nothing.
    Recorder none = sort_recorded(v = {}, false);
    EXPECT_TRUE(none.compares.empty());
    gen_sort(nullptr, nullptr, 0, sizeof(int), nullptr, nullptr);
    gen_sort_stable(nullptr, nullptr, 0, sizeof(int), nullptr, nullptr);
    v = {7};
    EXPECT_TRUE(sort_recorded(v).compares.empty());
}

TEST(GenSortProtocol, SixSortedElementsUseAPivot) {
    std::vector<int> v = iota(6);
    Recorder r = sort_recorded(v);
    EXPECT_EQ(v, iota(6));
    // Median of elements 0, 3 (= ceil(6/2)) and 5 is element 3; i runs up to
    // it, j down to it; the part behind it (2 elements) is smaller than the
    // one before it (3), so it goes first and the front is deferred.
    EXPECT_EQ(r.compares, (Pairs{{0, 3}, {3, 5},                           // pivot
                                 {0, 3}, {1, 3}, {2, 3}, {3, 5}, {3, 4},  // partition
                                 {4, 5},                                   // [4, 6)
                                 {0, 1}, {0, 2}, {1, 2}}));                // [0, 3)
    EXPECT_TRUE(r.swaps.empty());
}

TEST(GenSortProtocol, PivotMovesWithTheSwaps) {
    // Reversed: two swaps around the pivot (element 3), then j stands on the
    // pivot and the third swap carries it to i's place; the part behind it
    // (3 elements) is the larger one and is deferred.
    std::vector<int> v = {6, 5, 4, 3, 2, 1};
    Recorder r = sort_recorded(v);
    EXPECT_EQ(v, iota(6, 1));
    EXPECT_EQ(r.compares, (Pairs{{0, 3}, {3, 5},                                  // pivot
                                 {0, 3}, {3, 5}, {1, 3}, {3, 4}, {2, 3},         // partition
                                 {0, 1},                                         // [0, 2)
                                 {3, 4}, {3, 5}, {4, 5}}));                      // [3, 6)
    EXPECT_EQ(r.swaps, (Pairs{{0, 5}, {1, 4}, {2, 3}}));

    // The pivot is the last candidate (median 3 of 1, 4, 3) and moves both
    // ways: to i's place, to j's, and to i's again.
    v = {1, 5, 6, 4, 2, 3};
    r = sort_recorded(v);
    EXPECT_EQ(v, iota(6, 1));
    EXPECT_EQ(r.compares, (Pairs{{0, 3}, {3, 5}, {0, 5},                          // pivot
                                 {0, 5}, {1, 5}, {1, 4}, {2, 4}, {2, 3},         // partition
                                 {0, 1},                                         // [0, 2)
                                 {3, 4}, {3, 5}, {4, 5}}));                      // [3, 6)
    EXPECT_EQ(r.swaps, (Pairs{{1, 5}, {1, 4}, {2, 4}, {4, 5}}));
}

TEST(GenSortProtocol, MedianOfMediansFrom36Elements) {
    // 40 elements: candidates n/8 = 5 apart around 0, around 20 (= ceil(40/2))
    // and around 39; then the median of the three medians.
    std::vector<int> v = iota(40);
    Recorder r = sort_recorded(v);
    ASSERT_GE(r.compares.size(), 8u);
    EXPECT_EQ(Pairs(r.compares.begin(), r.compares.begin() + 8),
              (Pairs{{0, 5}, {5, 10}, {15, 20}, {20, 25}, {29, 34}, {34, 39}, {5, 20}, {20, 34}}));
    // The partition then compares everything with the pivot at 20.
    EXPECT_EQ(r.compares[8], Pair(0, 20));
    EXPECT_EQ(r.compares[27], Pair(19, 20));
    EXPECT_EQ(r.compares[28], Pair(20, 39));

    // 35 elements: the plain median of 0, 18 and 34.
    v = iota(35);
    r = sort_recorded(v);
    EXPECT_EQ(Pairs(r.compares.begin(), r.compares.begin() + 3), (Pairs{{0, 18}, {18, 34}, {0, 18}}));
}

TEST(GenSortProtocol, MedianOfThreeCases) {
    // Six elements whose candidates (0, 3, 5) take every order; the first
    // comparisons show which branch chose which median.
    struct Case {
        int a, b, c;
        Pairs choice;
    };
    const Case cases[] = {
        {1, 2, 3, {{0, 3}, {3, 5}}},          // a <= b <= c: b
        {1, 3, 2, {{0, 3}, {3, 5}, {0, 5}}},  // a <= c < b: c
        {2, 3, 1, {{0, 3}, {3, 5}, {0, 5}}},  // c < a <= b: a
        {3, 2, 1, {{0, 3}, {3, 5}}},          // a > b >= c: b
        {3, 1, 2, {{0, 3}, {3, 5}, {0, 5}}},  // b < c < a: c
        {2, 1, 3, {{0, 3}, {3, 5}, {0, 5}}},  // b < a <= c: a
    };
    for (const Case &c : cases) {
        std::vector<int> v = {c.a * 10, 15, 25, c.b * 10, 5, c.c * 10};
        Recorder r = sort_recorded(v);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
        ASSERT_GT(r.compares.size(), c.choice.size());
        EXPECT_EQ(Pairs(r.compares.begin(), r.compares.begin() + long(c.choice.size())), c.choice)
            << c.a << c.b << c.c;
        // The first partition comparison names the pivot chosen.
        const int median = std::max(std::min(c.a, c.b), std::min(std::max(c.a, c.b), c.c));
        const int pivot = median == c.a ? 0 : median == c.b ? 3 : 5;
        const Pair first = r.compares[c.choice.size()];
        EXPECT_TRUE(first.first == pivot || first.second == pivot) << c.a << c.b << c.c;
    }
}

// ------------------------------------------------------------ stability

struct Item {
    int key;
    int id;
};

int by_key(void *, const void *a, const void *b) {
    const int x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}
int all_equal(void *, const void *, const void *) { return 0; }

std::vector<Item> items(size_t n, int distinct_keys, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Item> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = {int(rng() % uint32_t(distinct_keys)), int(i)};
    return v;
}

TEST(GenSortStable, EqualElementsKeepTheirOrder) {
    // Below and above the 64 positions kept on the stack.
    for (size_t n : {5u, 6u, 40u, 64u, 65u, 1000u, 20000u}) {
        SCOPED_TRACE(n);
        std::vector<Item> v = items(n, 7, uint32_t(n));
        std::vector<Item> expected = v;
        std::stable_sort(expected.begin(), expected.end(), [](const Item &a, const Item &b) { return a.key < b.key; });
        gen_sort_stable(nullptr, v.data(), v.size(), sizeof(Item), by_key, nullptr);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(v[i].key, expected[i].key) << i;
            ASSERT_EQ(v[i].id, expected[i].id) << i;
        }

        // A comparison that calls everything equal leaves the array alone.
        v = items(n, 1000, 7);
        std::vector<Item> before = v;
        gen_sort_stable(nullptr, v.data(), v.size(), sizeof(Item), all_equal, nullptr);
        EXPECT_EQ(std::memcmp(v.data(), before.data(), n * sizeof(Item)), 0);
    }
}

TEST(GenSortStable, PlainSortIsASortButNotStable) {
    std::vector<Item> v = items(5000, 3, 11);
    gen_sort(nullptr, v.data(), v.size(), sizeof(Item), by_key, nullptr);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](const Item &a, const Item &b) { return a.key < b.key; }));
    bool in_order = true;
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i - 1].key == v[i].key && v[i - 1].id > v[i].id) in_order = false;
    EXPECT_FALSE(in_order) << "so the stable variant's tie-break is doing the work above";

    // The stable variant's ties cost no comparisons of the caller's beyond
    // the plain scheme's: it sorts sorted input with the same calls.
    std::vector<int> plain = iota(50), stable = iota(50);
    EXPECT_EQ(sort_recorded(plain).compares, sort_recorded(stable, true).compares);
}

// ------------------------------------------------------------ default swap

TEST(GenSortSwap, DefaultSwapExchangesExactlyTheElements) {
    alignas(8) unsigned char buf[40];
    for (int i = 0; i < 40; ++i) buf[i] = uint8_t(i);
    // Aligned, 8 bytes: 4 at a time.
    gen_sort_default_swap(buf + 0, buf + 16, 8);
    // Unaligned and an odd size: byte by byte; the neighbours stay.
    gen_sort_default_swap(buf + 9, buf + 26, 3);
    const unsigned char expected[40] = {16, 17, 18, 19, 20, 21, 22, 23, 8,  26, 27, 28, 12, 13, 14, 15, 0,  1,  2,  3,
                                        4,  5,  6,  7,  24, 25, 9,  10, 11, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39};
    EXPECT_EQ(std::memcmp(buf, expected, sizeof buf), 0);
}

struct Odd {
    uint8_t key;
    uint8_t pad[2];
};
static_assert(sizeof(Odd) == 3);

int odd_cmp(void *, const void *a, const void *b) {
    return int(static_cast<const Odd *>(a)->key) - int(static_cast<const Odd *>(b)->key);
}
int u64_cmp(void *, const void *a, const void *b) {
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return x < y ? -1 : x > y ? 1 : 0;
}

TEST(GenSortSwap, OddSizesAndUnalignedArrays) {
    std::mt19937 rng(3);
    // Three-byte elements, starting at an odd address.
    std::vector<unsigned char> store(1 + 300 * 3);
    for (int i = 0; i < 300; ++i) {
        store[size_t(1 + i * 3)] = uint8_t(rng());
        store[size_t(2 + i * 3)] = store[size_t(3 + i * 3)] = uint8_t(0xA0 + store[size_t(1 + i * 3)] % 16);
    }
    gen_sort(nullptr, store.data() + 1, 300, 3, odd_cmp, nullptr);
    for (int i = 0; i < 300; ++i) {
        const unsigned char *e = store.data() + 1 + i * 3;
        if (i > 0) {
            ASSERT_LE(e[-3], e[0]);
        }
        EXPECT_EQ(e[1], 0xA0 + e[0] % 16) << "element kept together";
        EXPECT_EQ(e[2], e[1]);
    }

    // Eight-byte elements two bytes off alignment.
    std::vector<unsigned char> wide(2 + 500 * 8);
    std::vector<uint64_t> values(500);
    for (auto &x : values) x = (uint64_t(rng()) << 32) | rng();
    std::memcpy(wide.data() + 2, values.data(), 500 * 8);
    gen_sort_stable(nullptr, wide.data() + 2, 500, 8, u64_cmp, nullptr);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::memcmp(wide.data() + 2, values.data(), 500 * 8), 0);
}

// ------------------------------------------------------------ growth

uint64_t counted;
int count_cmp(void *, const void *a, const void *b) {
    ++counted;
    const uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

TEST(GenSortGrowth, NoQuadraticCaseOnCommonInputs) {
    constexpr size_t n = 200000;
    const double limit = 4.0 * double(n) * std::log2(double(n));
    struct Input {
        const char *name;
        std::vector<uint32_t> keys;
    };
    std::vector<Input> inputs;
    inputs.push_back({"equal", std::vector<uint32_t>(n, 42)});
    std::vector<uint32_t> k(n);
    for (size_t i = 0; i < n; ++i) k[i] = uint32_t(i);
    inputs.push_back({"sorted", k});
    std::reverse(k.begin(), k.end());
    inputs.push_back({"reversed", k});
    for (size_t i = 0; i < n; ++i) k[i] = uint32_t(i % 2 ? n - i : i);
    inputs.push_back({"interleaved", k});
    for (size_t i = 0; i < n; ++i) k[i] = uint32_t(i % 1000);
    inputs.push_back({"sawtooth", k});

    for (const Input &in : inputs) {
        for (bool stable : {false, true}) {
            SCOPED_TRACE(std::string(in.name) + (stable ? " stable" : " plain"));
            std::vector<uint32_t> v = in.keys;
            counted = 0;
            auto t0 = std::chrono::steady_clock::now();
            (stable ? gen_sort_stable : gen_sort)(nullptr, v.data(), n, 4, count_cmp, nullptr);
            auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
            EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
            EXPECT_LT(double(counted), limit) << counted << " comparisons";
            EXPECT_LT(ms, 5000);
        }
    }
}

}  // namespace
