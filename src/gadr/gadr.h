// Target addresses.
//
// A gadr is two unsigned 32-bit words (lo, then hi) read under one
// process-wide address mode: 0 16-bit, 1 segmented 16-bit, 2 32-bit (the
// initial mode), 3 64-bit. Comparisons, arithmetic and formatting look only
// at the part of the value that the mode defines; the raw 64-bit value is
// hi * 2^32 + lo whatever the mode. The all-ones value means "no address".
// Needs only the host support library (messages and scratch buffers).
#pragma once

#include <cstdint>

struct gadr {
    uint32_t lo;
    uint32_t hi;
};

enum : uint32_t {
    GADR_MODE_16BIT = 0,
    GADR_MODE_16BIT_16SEG = 1,
    GADR_MODE_32BIT = 2,
    GADR_MODE_64BIT = 3,
};

extern uint32_t gadr_mode;

// Mode and encodings.
uint32_t gadr_set_mode(uint32_t mode);
uint32_t gadr_get_mode();
bool gadr_mode_is_16bit();
bool gadr_mode_is_16bit_16seg();
bool gadr_mode_is_32bit();
bool gadr_mode_is_64bit();
const char *adr_name_from_mode(uint32_t mode);
uint32_t gadr_get_mode_for_adr_byte_size(uint32_t size, uint32_t segment_size);
uint32_t gadr_encoding_from_mode(uint32_t mode);
uint32_t gadr_mode_from_encoding(uint32_t encoding);

// Construction and access.
void gadr_from_u64(gadr &g, uint64_t value);
void gadr_from_u32(gadr &g, uint32_t value);
void gadr_clear(gadr &g);
void gadr_set_invalid(gadr &g);
void gadr_copy(gadr &dst, const gadr &src);
uint64_t gadr_to_u64(const gadr &g);
int gadr_check_format(gadr &g, int complain);

// Predicates.
bool gadr_is_zero(const gadr &a);
bool gadr_is_nonzero(const gadr &a);
bool gadr_is_invalid(const gadr &a);
bool gadr_is_valid(const gadr &a);
bool gadr_is_zero_or_invalid(const gadr &a);
bool gadr_is_set(const gadr &a);

// Comparisons.
int gadr_compare(const gadr &a, const gadr &b);
bool gadr_less(const gadr &a, const gadr &b);
bool gadr_less_equal(const gadr &a, const gadr &b);
bool gadr_equal(const gadr &a, const gadr &b);
bool gadr_not_equal(const gadr &a, const gadr &b);
int gadr_compare_u64(const gadr &a, uint64_t value);
int gadr_compare_u32(const gadr &a, uint32_t value);
bool gadr_less_u32(const gadr &a, uint32_t value);
bool gadr_less_equal_u32(const gadr &a, uint32_t value);

// Arithmetic.
void gadr_add(gadr &out, const gadr &a, const gadr &b);
void gadr_add_in_place(gadr &a, const gadr &b);
void gadr_add_if_valid(gadr &a, const gadr &b);
void gadr_add_s32(gadr &out, const gadr &a, int32_t d);
void gadr_add_s32_in_place(gadr &a, int32_t d);
void gadr_add_s32_if_valid(gadr &a, int32_t d);
void gadr_add_u64(gadr &out, const gadr &a, uint64_t d);
void gadr_add_u64_in_place(gadr &a, uint64_t d);
void gadr_subtract(gadr &out, const gadr &a, const gadr &b);
void gadr_subtract_in_place(gadr &a, const gadr &b);
void gadr_sub_s32(gadr &out, const gadr &a, int32_t d);
void gadr_sub_s32_in_place(gadr &a, int32_t d);
void gadr_sub_u64(gadr &out, const gadr &a, uint64_t d);
void gadr_sub_u64_in_place(gadr &a, uint64_t d);
int32_t gadr_diff_s32(const gadr &a, const gadr &b);
uint64_t gadr_diff_u64(const gadr &a, const gadr &b);
void gadr_scale_up(gadr &a, uint32_t factor);
void gadr_scale_down(gadr &a, uint32_t divisor);
void gadr_align_down(gadr &a, uint64_t alignment);
void gadr_align_up(gadr &a, uint64_t alignment);
void gadr_min(gadr &out, const gadr &a, const gadr &b);
void gadr_max(gadr &out, const gadr &a, const gadr &b);
const gadr &gadr_min_of(const gadr &a, const gadr &b);
const gadr &gadr_max_of(const gadr &a, const gadr &b);
void gadr_sign_extend_32(gadr &a);

// Formatting into rotating scratch buffers of 32 bytes.
const char *gadr_to_string(const gadr &a);
const char *gadr_to_short_string(const gadr &a);

// Scanning.
const char *gadr_scan(const char *text, uint32_t scale, gadr &g);
bool gadr_scan_advance(const char **text, uint32_t scale, gadr &g);

// Address ranges: -1 below, 0 inside, 1 above [low, high).
bool gadr_range_is_ordered(const gadr &low, const gadr &high);
int gadr_range_position(const gadr &x, const gadr &low, const gadr &high);
int gadr_range_position_len(const gadr &x, const gadr &start, int32_t length);
int gadr_range_position_len64(const gadr &x, const gadr &start, uint64_t length);
int gadr_range_position_u32(const gadr &x, uint32_t low, uint32_t high);
int gadr_range_position_u32_len(const gadr &x, uint32_t low, int32_t length);
