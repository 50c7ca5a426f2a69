// The library's sort: the exact comparisons and swaps it makes, the default
// swap, and its depth limit: inputs built to make every partition lopsided,
// and the common orders that make simple quicksorts quadratic, still sort
// in n log n comparisons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "gensort.h"

namespace {

using Pairs = std::vector<std::pair<int, int>>;

// Every comparison and swap, by element index.
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
void record_swap(void *a, void *b, size_t) {
    recorder->swaps.emplace_back(index_of(a), index_of(b));
    std::swap(*static_cast<int *>(a), *static_cast<int *>(b));
}
Recorder sort_recorded(std::vector<int> v, bool stable = false) {
    Recorder r;
    r.base = v.data();
    recorder = &r;
    (stable ? gen_sort_stable : gen_sort)(&r, v.data(), v.size(), sizeof(int), record_cmp, record_swap);
    recorder = nullptr;
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    return r;
}
std::vector<int> iota(int n) {
    std::vector<int> v(size_t(n), 0);
    for (int i = 0; i < n; ++i) v[size_t(i)] = i;
    return v;
}
Pairs head(const Pairs &p, size_t n) { return Pairs(p.begin(), p.begin() + long(std::min(n, p.size()))); }

TEST(GenSort, ExactComparisonsAndSwaps) {
    const struct {
        std::vector<int> in;
        Pairs compares, swaps;
    } cases[] = {
        // Five elements: only the exchange pass.
        {{2, 0, 1, 4, 3},
         {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}},
         {{0, 1}, {1, 2}, {3, 4}}},
        // Sorted six: the median of 0, 3 (= ceil(6/2)) and 5 is 3; i runs up
        // to it, j down to it; the smaller part behind it goes first.
        {iota(6), {{0, 3}, {3, 5}, {0, 3}, {1, 3}, {2, 3}, {3, 5}, {3, 4}, {4, 5}, {0, 1}, {0, 2}, {1, 2}}, {}},
        // Reversed: the third swap carries the pivot to i's place.
        {{6, 5, 4, 3, 2, 1},
         {{0, 3}, {3, 5}, {0, 3}, {3, 5}, {1, 3}, {3, 4}, {2, 3}, {0, 1}, {3, 4}, {3, 5}, {4, 5}},
         {{0, 5}, {1, 4}, {2, 3}}},
        // The pivot is the last candidate and moves to i's, j's, i's place.
        {{1, 5, 6, 4, 2, 3},
         {{0, 3}, {3, 5}, {0, 5}, {0, 5}, {1, 5}, {1, 4}, {2, 4}, {2, 3}, {0, 1}, {3, 4}, {3, 5}, {4, 5}},
         {{1, 5}, {1, 4}, {2, 4}, {4, 5}}},
        {{}, {}, {}},
    };
    for (const auto &c : cases) {
        Recorder r = sort_recorded(c.in);
        EXPECT_EQ(r.compares, c.compares) << c.in.size();
        EXPECT_EQ(r.swaps, c.swaps) << c.in.size();
    }
    // Every order of the three candidates (0, 3, 5) picks the median: the
    // first partition comparison names it.
    const int orders[][3] = {{1, 2, 3}, {1, 3, 2}, {2, 3, 1}, {3, 2, 1}, {3, 1, 2}, {2, 1, 3}};
    for (const auto &o : orders) {
        Recorder r = sort_recorded({o[0] * 10, 15, 25, o[1] * 10, 5, o[2] * 10});
        const size_t n = o[1] == 2 ? 2 : 3;  // a third comparison unless b is the median
        EXPECT_EQ(head(r.compares, n), head(Pairs{{0, 3}, {3, 5}, {0, 5}}, n)) << o[0] << o[1] << o[2];
        const int pivot = o[0] == 2 ? 0 : o[1] == 2 ? 3 : 5;
        ASSERT_GT(r.compares.size(), n);
        EXPECT_TRUE(r.compares[n].first == pivot || r.compares[n].second == pivot) << o[0] << o[1] << o[2];
    }
    // From 36 elements on, each candidate is the median of three n/8 apart.
    Recorder r = sort_recorded(iota(36));
    EXPECT_EQ(head(r.compares, 9),
              (Pairs{{0, 4}, {4, 8}, {14, 18}, {18, 22}, {27, 31}, {31, 35}, {4, 18}, {18, 31}, {0, 18}}));
    EXPECT_EQ(head(sort_recorded(iota(35)).compares, 3), (Pairs{{0, 18}, {18, 34}, {0, 18}}));
    // The stable variant's ties cost no extra calls of the comparison.
    EXPECT_EQ(sort_recorded(iota(50)).compares, sort_recorded(iota(50), true).compares);
}

TEST(GenSort, DefaultSwapWordsAndBytes) {
    alignas(8) unsigned char buf[32];
    for (int i = 0; i < 32; ++i) buf[i] = uint8_t(i);
    // Aligned, 8 bytes: 4 at a time; unaligned and an odd size: byte by byte.
    gen_sort_default_swap(buf + 0, buf + 16, 8);
    gen_sort_default_swap(buf + 9, buf + 26, 3);
    const unsigned char expected[32] = {16, 17, 18, 19, 20, 21, 22, 23, 8, 26, 27, 28, 12, 13, 14, 15,
                                        0,  1,  2,  3,  4,  5,  6,  7,  24, 25, 9,  10, 11, 29, 30, 31};
    EXPECT_EQ(std::memcmp(buf, expected, sizeof buf), 0);
}

// An adversary that decides the keys while the sort runs: every element
// starts as "gas", greater than any decided key and not yet ordered against
// other gas; when two gas elements meet, one of them is frozen to the next
// key. Freezing the element that is most likely the pivot makes each
// partition split off almost nothing. The keys it hands out, in the order of
// the input, are an ordering built against the sort's pivot choice.
struct Adversary {
    std::vector<uint32_t> key;  // per element index; gas while == gas
    uint32_t gas;
    uint32_t frozen = 0;
    size_t candidate = SIZE_MAX;
    const uint32_t *base = nullptr;

    explicit Adversary(size_t n) : key(n, uint32_t(n)), gas(uint32_t(n)) {}
    void freeze(size_t i) { key[i] = frozen++; }
};
Adversary *adversary;

int adversary_cmp(void *, const void *a, const void *b) {
    Adversary &adv = *adversary;
    const size_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
    if (adv.key[x] == adv.gas && adv.key[y] == adv.gas) adv.freeze(x == adv.candidate ? x : y);
    if (adv.key[x] == adv.gas)
        adv.candidate = x;
    else if (adv.key[y] == adv.gas)
        adv.candidate = y;
    return adv.key[x] < adv.key[y] ? -1 : adv.key[x] > adv.key[y] ? 1 : 0;
}

// Keys that lead gen_sort (or its stable variant) into its worst partitions.
std::vector<uint32_t> killer_order(size_t n, bool stable) {
    Adversary adv(n);
    adversary = &adv;
    std::vector<uint32_t> index(n);
    for (size_t i = 0; i < n; ++i) index[i] = uint32_t(i);
    (stable ? gen_sort_stable : gen_sort)(nullptr, index.data(), n, 4, adversary_cmp, nullptr);
    adversary = nullptr;
    // Elements never frozen only ever compared greater than frozen ones.
    for (uint32_t &k : adv.key)
        if (k == adv.gas) k = adv.frozen++;
    return adv.key;
}

struct Keyed {
    uint32_t key, id;
};

uint64_t compares;
int counting_cmp(void *, const void *a, const void *b) {
    ++compares;
    const uint32_t x = static_cast<const Keyed *>(a)->key, y = static_cast<const Keyed *>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

// Sorts the keys (tagged with their positions) and checks the result:
// ascending keys, and with the stable variant ascending positions among
// equal keys. Returns the number of comparisons.
uint64_t sort_and_check(const std::vector<uint32_t> &keys, bool stable) {
    std::vector<Keyed> v(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) v[i] = {keys[i], uint32_t(i)};
    compares = 0;
    (stable ? gen_sort_stable : gen_sort)(nullptr, v.data(), v.size(), sizeof(Keyed), counting_cmp, nullptr);
    std::vector<uint32_t> expected = keys, got(v.size());
    std::sort(expected.begin(), expected.end());
    for (size_t i = 0; i < v.size(); ++i) got[i] = v[i].key;
    EXPECT_EQ(got, expected);
    auto out_of_order = [](const Keyed &a, const Keyed &b) { return a.key == b.key && a.id > b.id; };
    if (stable) {
        EXPECT_EQ(std::adjacent_find(v.begin(), v.end(), out_of_order), v.end()) << "equal keys out of order";
    }
    return compares;
}

double n_log_n(size_t n) { return double(n) * std::log2(double(n)); }

TEST(GenSortDepth, AdversarialOrdersStayNLogN) {
    // A quicksort left to itself needs about n * n / 4 comparisons here.
    for (size_t n : {size_t(6), size_t(37), size_t(1000), size_t(30000)}) {
        for (bool stable : {false, true}) {
            SCOPED_TRACE(testing::Message() << n << (stable ? " stable" : " plain"));
            const uint64_t count = sort_and_check(killer_order(n, stable), stable);
            EXPECT_LE(double(count), 4.0 * n_log_n(n) + 20) << count << " comparisons";
        }
    }
}

TEST(GenSortDepth, CommonAndTwoValuedKeysStayNLogN) {
    struct Pattern {
        const char *name;
        uint32_t (*key)(size_t i, size_t n);
    };
    const Pattern patterns[] = {{"equal", [](size_t, size_t) { return uint32_t(42); }},
                                {"sorted", [](size_t i, size_t) { return uint32_t(i); }},
                                {"reversed", [](size_t i, size_t n) { return uint32_t(n - i); }},
                                {"interleaved", [](size_t i, size_t n) { return uint32_t(i % 2 ? n - i : i); }},
                                {"sawtooth", [](size_t i, size_t) { return uint32_t(i % 1000); }},
                                {"alternating", [](size_t i, size_t) { return uint32_t(i % 2); }},
                                {"pairs", [](size_t i, size_t) { return uint32_t(i / 2 % 2); }},
                                {"mostly one value", [](size_t i, size_t) { return uint32_t(i % 97 == 0); }}};
    // 40 elements: the stable variant keeps their positions on the stack.
    for (size_t n : {size_t(40), size_t(100000)}) {
        for (const Pattern &p : patterns) {
            std::vector<uint32_t> keys(n);
            for (size_t i = 0; i < n; ++i) keys[i] = p.key(i, n) * 0x1000;
            for (bool stable : {false, true}) {
                SCOPED_TRACE(testing::Message() << p.name << " " << n << (stable ? " stable" : " plain"));
                const uint64_t count = sort_and_check(keys, stable);
                EXPECT_LE(double(count), 4.0 * n_log_n(n)) << count << " comparisons";
            }
        }
    }
}

}  // namespace
