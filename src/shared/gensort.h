// In-place sorting of arrays of fixed-size elements.
//
// gen_sort is a quicksort with an explicit stack of pending ranges; callers
// may rely on the exact sequence of comparisons and swaps it makes:
//   - a range of fewer than 6 elements gets one exchange pass: for each i
//     and each later j, swap(i, j) when cmp(i, j) > 0;
//   - otherwise the pivot is the median of the first, middle (index
//     ceil(n/2)) and last elements; from 36 elements on, each of the three is
//     first replaced by the median of three elements n/8 apart around it;
//   - the partition moves i up from the first and j down from the last
//     element towards the pivot, which moves along with the swaps;
//   - the larger part is deferred and the smaller sorted first, so the stack
//     holds at most about log2(n) ranges;
//   - a range of 6 or more elements that lies 2 * floor(log2(n)) partitions
//     deep is heapsorted instead, so no input costs more than n log n
//     comparisons; inputs that never get that deep are untouched by this.
// gen_sort_stable does the same, but decides every comparison that returns 0
// by the elements' starting positions and moves those along with each swap;
// equal elements thus keep their order. Its pivot choice uses the plain
// comparison. Above 64 elements it allocates n * 4 bytes (gen_calloc_fn).
//
// A null swap selects gen_sort_default_swap.
#pragma once

#include <cstddef>

// Negative, zero or positive as *a is before, equal to or after *b.
using gen_sort_cmp_fn = int (*)(void *context, const void *a, const void *b);
// Exchanges the `size` bytes at a and b.
using gen_sort_swap_fn = void (*)(void *a, void *b, size_t size);

void gen_sort(void *context, void *base, size_t n, size_t size, gen_sort_cmp_fn cmp, gen_sort_swap_fn swap);
void gen_sort_stable(void *context, void *base, size_t n, size_t size, gen_sort_cmp_fn cmp, gen_sort_swap_fn swap);

// Four bytes at a time when both addresses and the size are multiples of 4,
// byte by byte otherwise.
void gen_sort_default_swap(void *a, void *b, size_t size);
