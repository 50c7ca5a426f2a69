// The sort's depth limit: inputs built to make every partition lopsided,
// and the common orders that make simple quicksorts quadratic, still sort
// in n log n comparisons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "gensort.h"

namespace {

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
