// The library's quicksort and its stable variant.
//
// Both run one scheme over element indices; they differ only in how two
// elements are ordered and exchanged, which a small operations object
// supplies (the stable one carries the starting positions).
#include "gensort.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "genout.h"
#include "indgen.h"

namespace {

// Ranges of fewer elements than this get the exchange pass.
constexpr size_t kExchangeBelow = 6;
// From this many elements on, the three candidates are medians themselves.
constexpr size_t kNintherFrom = 36;
// The stable sort keeps up to this many starting positions on the stack.
constexpr size_t kLocalPositions = 64;

class PlainOps {
  public:
    PlainOps(void *context, void *base, size_t size, gen_sort_cmp_fn cmp, gen_sort_swap_fn swap)
        : context_(context), base_(static_cast<unsigned char *>(base)), size_(size), cmp_(cmp),
          swap_(swap ? swap : gen_sort_default_swap) {}

    // The caller's comparison, as the pivot choice uses it.
    int plain(size_t a, size_t b) const { return cmp_(context_, at(a), at(b)); }
    int order(size_t a, size_t b) const { return plain(a, b); }
    void exchange(size_t a, size_t b) const { swap_(at(a), at(b), size_); }

  private:
    void *at(size_t i) const { return base_ + i * size_; }

    void *context_;
    unsigned char *base_;
    size_t size_;
    gen_sort_cmp_fn cmp_;
    gen_sort_swap_fn swap_;
};

// Ties go to the smaller starting position; positions travel with the
// elements.
class StableOps : public PlainOps {
  public:
    StableOps(const PlainOps &plain, uint32_t *positions) : PlainOps(plain), positions_(positions) {}

    int order(size_t a, size_t b) const {
        int r = plain(a, b);
        if (r != 0) return r;
        return positions_[a] < positions_[b] ? -1 : positions_[a] > positions_[b] ? 1 : 0;
    }
    void exchange(size_t a, size_t b) const {
        PlainOps::exchange(a, b);
        std::swap(positions_[a], positions_[b]);
    }

  private:
    uint32_t *positions_;
};

template <typename Ops>
size_t median_of_three(const Ops &ops, size_t a, size_t b, size_t c) {
    if (ops.plain(a, b) < 1) {
        if (ops.plain(b, c) <= 0) return b;
        return ops.plain(a, c) > 0 ? a : c;
    }
    if (ops.plain(b, c) >= 0) return b;
    return ops.plain(a, c) > 0 ? c : a;
}

template <typename Ops>
size_t choose_pivot(const Ops &ops, size_t low, size_t high) {
    const size_t n = high - low;
    size_t first = low;
    size_t middle = low + (n + 1) / 2;
    size_t last = high - 1;
    if (n >= kNintherFrom) {
        const size_t d = n / 8;
        first = median_of_three(ops, first, first + d, first + 2 * d);
        middle = median_of_three(ops, middle - d, middle, middle + d);
        last = median_of_three(ops, last - 2 * d, last - d, last);
    }
    return median_of_three(ops, first, middle, last);
}

// Partitions [low, high) around the element at p; returns where the pivot
// ends up. i only runs up to the pivot and j only down to it, so they meet
// exactly at the pivot's final place.
template <typename Ops>
size_t partition(const Ops &ops, size_t low, size_t high, size_t p) {
    size_t i = low;
    size_t j = high - 1;
    for (;;) {
        while (i < p && ops.order(i, p) <= 0) ++i;
        while (p < j && ops.order(p, j) <= 0) --j;
        if (i == j) return p;
        ops.exchange(i, j);
        if (i == p) {
            p = j;
            ++i;
        } else if (j == p) {
            p = i;
            --j;
        } else {
            ++i;
            --j;
        }
    }
}

// Number of partition levels after which a range is heapsorted: twice the
// binary logarithm of the whole count. Inputs that drive the pivot choice
// into lopsided splits (many equal keys, orders built against the medians)
// thus cost n log n at most; every other input never gets there.
size_t depth_limit(size_t n) {
    size_t levels = 0;
    for (; n > 1; n >>= 1) ++levels;
    return 2 * levels;
}

// Restores the heap below `root` in the `count` elements from `low` on.
template <typename Ops>
void sift_down(const Ops &ops, size_t low, size_t root, size_t count) {
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= count) return;
        if (child + 1 < count && ops.order(low + child, low + child + 1) < 0) ++child;
        if (ops.order(low + root, low + child) >= 0) return;
        ops.exchange(low + root, low + child);
        root = child;
    }
}

template <typename Ops>
void heapsort(const Ops &ops, size_t low, size_t high) {
    const size_t count = high - low;
    for (size_t root = count / 2; root-- > 0;) sift_down(ops, low, root, count);
    for (size_t end = count - 1; end > 0; --end) {
        ops.exchange(low, low + end);
        sift_down(ops, low, 0, end);
    }
}

template <typename Ops>
void quicksort(const Ops &ops, size_t n) {
    struct Range {
        size_t low, high, level;
    };
    // Every deferred range is at least as large as the one worked on, so the
    // range in hand halves with each push: 64 entries hold any size_t count.
    Range pending[64];
    size_t depth = 0;
    size_t low = 0;
    size_t high = n;
    size_t level = 0;  // partitions between the whole array and this range
    const size_t limit = depth_limit(n);
    auto resume = [&] {
        if (depth == 0) return false;
        --depth;
        low = pending[depth].low;
        high = pending[depth].high;
        level = pending[depth].level;
        return true;
    };
    for (;;) {
        if (high - low < kExchangeBelow) {
            for (size_t i = low; i + 1 < high; ++i)
                for (size_t j = i + 1; j < high; ++j)
                    if (ops.order(i, j) > 0) ops.exchange(i, j);
            if (!resume()) return;
            continue;
        }
        if (level >= limit) {
            heapsort(ops, low, high);
            if (!resume()) return;
            continue;
        }
        const size_t p = partition(ops, low, high, choose_pivot(ops, low, high));
        const size_t before = p - low;
        const size_t after = high - p - 1;
        ++level;
        if (before >= 2 && after >= 1) {
            if (after >= before) {
                pending[depth++] = Range{p + 1, high, level};
                high = p;
            } else {
                pending[depth++] = Range{low, p, level};
                low = p + 1;
            }
        } else if (before >= 2) {
            high = p;
        } else if (after >= 1) {
            low = p + 1;
        } else if (!resume()) {
            return;
        }
    }
}

}  // namespace

void gen_sort_default_swap(void *a, void *b, size_t size) {
    auto *pa = static_cast<unsigned char *>(a);
    auto *pb = static_cast<unsigned char *>(b);
    if (reinterpret_cast<uintptr_t>(a) % 4 == 0 && reinterpret_cast<uintptr_t>(b) % 4 == 0 && size % 4 == 0) {
        for (size_t k = 0; k < size; k += 4) {
            uint32_t wa, wb;
            std::memcpy(&wa, pa + k, 4);
            std::memcpy(&wb, pb + k, 4);
            std::memcpy(pa + k, &wb, 4);
            std::memcpy(pb + k, &wa, 4);
        }
        return;
    }
    for (size_t k = 0; k < size; ++k) std::swap(pa[k], pb[k]);
}

void gen_sort(void *context, void *base, size_t n, size_t size, gen_sort_cmp_fn cmp, gen_sort_swap_fn swap) {
    if (n == 0) return;
    quicksort(PlainOps(context, base, size, cmp, swap), n);
}

void gen_sort_stable(void *context, void *base, size_t n, size_t size, gen_sort_cmp_fn cmp, gen_sort_swap_fn swap) {
    if (n == 0) return;
    // Starting positions are 32-bit.
    GEN_ASSERT(n <= UINT32_MAX);
    uint32_t local[kLocalPositions];
    uint32_t *positions = n <= kLocalPositions ? local : static_cast<uint32_t *>(gen_calloc_fn(n, 4));
    for (size_t i = 0; i < n; ++i) positions[i] = uint32_t(i);
    quicksort(StableOps(PlainOps(context, base, size, cmp, swap), positions), n);
    if (positions != local) gen_free_fn(positions);
}
