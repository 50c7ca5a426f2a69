// Target addresses under the process-wide address mode.
//
// Every operation first asks which mode is active and then works only on the
// part of the value that the mode defines: the 16-bit offset (low half of
// lo), the segment:offset pair held in lo, lo alone, or hi:lo as one 64-bit
// number.
#include "gadr.h"

#include "genout.h"
#include "indgen.h"

uint32_t gadr_mode = GADR_MODE_32BIT;

namespace {

constexpr uint32_t all_ones = 0xFFFFFFFFu;
constexpr uint32_t offset_invalid = 0xFFFFu;

// Ring size for the formatted texts; a caller may use this many results of
// gadr_to_string and gadr_to_short_string at once.
constexpr int scratch_slots = 8;
constexpr size_t scratch_size = 32;

uint32_t offset_of(const gadr &a) { return a.lo & 0xFFFFu; }
uint32_t segment_of(const gadr &a) { return a.lo >> 16; }
uint32_t join(uint32_t segment, uint32_t offset) { return (segment & 0xFFFFu) << 16 | (offset & 0xFFFFu); }
uint64_t raw(const gadr &a) { return uint64_t(a.hi) << 32 | a.lo; }
gadr make(uint64_t v) { return gadr{uint32_t(v), uint32_t(v >> 32)}; }

bool is_16bit_family() { return gadr_mode == GADR_MODE_16BIT || gadr_mode == GADR_MODE_16BIT_16SEG; }

template <typename T>
int order(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

bool is_power_of_two(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Position of the highest set bit; 0 for 0 and 1.
unsigned log2_floor(uint64_t v) {
    unsigned n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

// Adds (or subtracts) a plain number to an address. The 16-bit modes touch
// only the offset (the segmented mode keeps its segment); 32-bit mode works
// on lo, with hi kept only for in-place operations; 64-bit mode uses the
// whole value.
gadr add_number(const gadr &a, uint64_t d, bool in_place) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        return gadr{(offset_of(a) + uint32_t(d)) & 0xFFFFu, 0};
    case GADR_MODE_16BIT_16SEG:
        return gadr{join(segment_of(a), offset_of(a) + uint32_t(d)), 0};
    case GADR_MODE_64BIT:
        return make(raw(a) + d);
    default:
        return gadr{a.lo + uint32_t(d), in_place ? a.hi : 0};
    }
}

// a + b (sign +1) or a - b (sign -1) of two addresses.
gadr combine(const gadr &a, const gadr &b, int sign, bool in_place) {
    uint32_t s = sign > 0 ? 1u : all_ones;  // multiply by this to negate in wrap-around arithmetic
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        return gadr{(offset_of(a) + s * offset_of(b)) & 0xFFFFu, 0};
    case GADR_MODE_16BIT_16SEG:
        return gadr{join(segment_of(a) + s * segment_of(b), offset_of(a) + s * offset_of(b)), 0};
    case GADR_MODE_64BIT:
        return make(sign > 0 ? raw(a) + raw(b) : raw(a) - raw(b));
    default:
        return gadr{a.lo + s * b.lo, in_place ? a.hi : 0};
    }
}

// Whether a range whose high lies below its low is a legal wrap round the
// top of the address space.
bool wrap_is_valid(const gadr &low, const gadr &high) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        return int16_t(uint16_t(offset_of(high) - offset_of(low))) >= 0;
    case GADR_MODE_64BIT:
        return low.hi == all_ones && high.hi == 0;
    default:
        return int32_t(high.lo - low.lo) >= 0;
    }
}

bool is_blank(char c) { return c == ' ' || (c >= 8 && c <= 13); }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads up to 8 hexadecimal digits; returns how many were read.
int read_group(const char *&p, uint32_t &value) {
    value = 0;
    int n = 0;
    while (n < 8) {
        int d = hex_value(*p);
        if (d < 0) break;
        value = value << 4 | uint32_t(d);
        ++p;
        ++n;
    }
    return n;
}

char *scratch() { return static_cast<char *>(gen_scratch_buffer(scratch_slots, scratch_size)); }

}  // namespace

// ---------------------------------------------------------------- modes

uint32_t gadr_set_mode(uint32_t mode) {
    uint32_t previous = gadr_mode;
    if (mode != gadr_mode) gadr_mode = mode;
    return previous;
}

uint32_t gadr_get_mode() { return gadr_mode; }
bool gadr_mode_is_16bit() { return gadr_mode == GADR_MODE_16BIT; }
bool gadr_mode_is_16bit_16seg() { return gadr_mode == GADR_MODE_16BIT_16SEG; }
bool gadr_mode_is_32bit() { return gadr_mode == GADR_MODE_32BIT; }
bool gadr_mode_is_64bit() { return gadr_mode == GADR_MODE_64BIT; }

const char *adr_name_from_mode(uint32_t mode) {
    switch (mode) {
    case GADR_MODE_16BIT: return "16bit";
    case GADR_MODE_16BIT_16SEG: return "16bit-16seg";
    case GADR_MODE_32BIT: return "32bit";
    case GADR_MODE_64BIT: return "64bit";
    default:
        gen_error("[adr_name_from_mode]: unknown mode!");
        return "unknown";
    }
}

uint32_t gadr_get_mode_for_adr_byte_size(uint32_t size, uint32_t segment_size) {
    if (segment_size == 0) {
        if (size == 8) return GADR_MODE_64BIT;
        if (size == 4) return GADR_MODE_32BIT;
        if (size == 2) return GADR_MODE_16BIT;
    } else if (size == 2 && segment_size == 2) {
        return GADR_MODE_16BIT_16SEG;
    }
    gen_error("[gadr_get_mode_for_adr_byte_size]: bad adr parameters");
    return GADR_MODE_32BIT;
}

uint32_t gadr_encoding_from_mode(uint32_t mode) {
    switch (mode) {
    case GADR_MODE_16BIT: return 2;
    case GADR_MODE_16BIT_16SEG: return 0x42;
    case GADR_MODE_32BIT: return 4;
    case GADR_MODE_64BIT: return 8;
    default:
        gen_error("[gadr_encoding_from_mode]: unknown mode!");
        return 4;
    }
}

uint32_t gadr_mode_from_encoding(uint32_t encoding) {
    switch (encoding) {
    case 2: return GADR_MODE_16BIT;
    case 4: return GADR_MODE_32BIT;
    case 8: return GADR_MODE_64BIT;
    case 0x42: return GADR_MODE_16BIT_16SEG;
    default:
        gen_error("[gadr_mode_from_encoding]: unknown mode!");
        return GADR_MODE_32BIT;
    }
}

// ---------------------------------------------------------------- construction

void gadr_from_u64(gadr &g, uint64_t value) { g = make(value); }

void gadr_from_u32(gadr &g, uint32_t value) {
    g.hi = 0;
    g.lo = value;
}

void gadr_clear(gadr &g) { g.hi = g.lo = 0; }
void gadr_set_invalid(gadr &g) { g.hi = g.lo = all_ones; }
void gadr_copy(gadr &dst, const gadr &src) { dst = src; }
uint64_t gadr_to_u64(const gadr &g) { return raw(g); }

int gadr_check_format(gadr &g, int complain) {
    if (g.lo == all_ones && g.hi == all_ones) return 1;
    const char *message = nullptr;
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        if (g.hi == 0 && (segment_of(g) == 0 || g.lo == all_ones)) return 1;
        message = "gadr: invalid 16bit address format";
        break;
    case GADR_MODE_16BIT_16SEG:
        if (g.hi == 0) return 1;
        message = "gadr: invalid 16bit_16seg address format";
        break;
    case GADR_MODE_64BIT:
        return 1;
    default:
        if (g.hi == 0) return 1;
        message = "gadr: invalid 32bit address format";
        break;
    }
    if (complain) gen_warning("%s", message);
    g.hi = 0;
    return 0;
}

// ---------------------------------------------------------------- predicates

bool gadr_is_zero(const gadr &a) {
    if (gadr_mode == GADR_MODE_16BIT_16SEG) return offset_of(a) == 0 && a.hi == 0;
    return a.lo == 0 && a.hi == 0;
}

bool gadr_is_nonzero(const gadr &a) { return !gadr_is_zero(a); }

bool gadr_is_invalid(const gadr &a) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT: return offset_of(a) == offset_invalid || a.lo == all_ones;
    case GADR_MODE_16BIT_16SEG: return offset_of(a) == offset_invalid;
    case GADR_MODE_64BIT: return a.lo == all_ones && a.hi == all_ones;
    default: return a.lo == all_ones;
    }
}

bool gadr_is_valid(const gadr &a) { return !gadr_is_invalid(a); }

bool gadr_is_zero_or_invalid(const gadr &a) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
    case GADR_MODE_16BIT_16SEG: return a.lo == 0 || offset_of(a) == offset_invalid;
    case GADR_MODE_64BIT: return (a.lo == 0 && a.hi == 0) || (a.lo == all_ones && a.hi == all_ones);
    default: return a.lo == 0 || a.lo == all_ones;
    }
}

bool gadr_is_set(const gadr &a) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
    case GADR_MODE_16BIT_16SEG: return offset_of(a) != 0 && offset_of(a) != offset_invalid;
    case GADR_MODE_64BIT: return !(a.lo == 0 && a.hi == 0) && !(a.lo == all_ones && a.hi == all_ones);
    default: return a.lo != 0 && a.lo != all_ones;
    }
}

// ---------------------------------------------------------------- comparisons

int gadr_compare(const gadr &a, const gadr &b) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT: return order(offset_of(a), offset_of(b));
    case GADR_MODE_64BIT: return order(raw(a), raw(b));
    default: return order(a.lo, b.lo);
    }
}

bool gadr_less(const gadr &a, const gadr &b) { return gadr_compare(a, b) < 0; }
bool gadr_less_equal(const gadr &a, const gadr &b) { return gadr_compare(a, b) <= 0; }
bool gadr_equal(const gadr &a, const gadr &b) { return gadr_compare(a, b) == 0; }
bool gadr_not_equal(const gadr &a, const gadr &b) { return gadr_compare(a, b) != 0; }

int gadr_compare_u64(const gadr &a, uint64_t value) {
    if (gadr_mode == GADR_MODE_16BIT) return order(uint64_t(offset_of(a)), value);
    if (gadr_mode == GADR_MODE_64BIT && a.hi != 0) return order(raw(a), value);
    return order(uint64_t(a.lo), value);
}

int gadr_compare_u32(const gadr &a, uint32_t value) {
    if (gadr_mode == GADR_MODE_16BIT) return order(offset_of(a), value);
    if (gadr_mode == GADR_MODE_64BIT && a.hi != 0) return 1;
    return order(a.lo, value);
}

bool gadr_less_u32(const gadr &a, uint32_t value) { return gadr_compare_u32(a, value) < 0; }
bool gadr_less_equal_u32(const gadr &a, uint32_t value) { return gadr_compare_u32(a, value) <= 0; }

// ---------------------------------------------------------------- arithmetic

void gadr_add(gadr &out, const gadr &a, const gadr &b) { out = combine(a, b, 1, false); }
void gadr_add_in_place(gadr &a, const gadr &b) { a = combine(a, b, 1, true); }

void gadr_add_if_valid(gadr &a, const gadr &b) {
    if (gadr_is_valid(a)) gadr_add_in_place(a, b);
}

void gadr_add_s32(gadr &out, const gadr &a, int32_t d) { out = add_number(a, uint64_t(int64_t(d)), false); }
void gadr_add_s32_in_place(gadr &a, int32_t d) { a = add_number(a, uint64_t(int64_t(d)), true); }

void gadr_add_s32_if_valid(gadr &a, int32_t d) {
    if (gadr_is_valid(a)) gadr_add_s32_in_place(a, d);
}

void gadr_add_u64(gadr &out, const gadr &a, uint64_t d) { out = add_number(a, d, false); }
void gadr_add_u64_in_place(gadr &a, uint64_t d) { a = add_number(a, d, true); }

void gadr_subtract(gadr &out, const gadr &a, const gadr &b) { out = combine(a, b, -1, false); }
void gadr_subtract_in_place(gadr &a, const gadr &b) { a = combine(a, b, -1, true); }

void gadr_sub_s32(gadr &out, const gadr &a, int32_t d) { out = add_number(a, uint64_t(0) - uint64_t(int64_t(d)), false); }
void gadr_sub_s32_in_place(gadr &a, int32_t d) { a = add_number(a, uint64_t(0) - uint64_t(int64_t(d)), true); }
void gadr_sub_u64(gadr &out, const gadr &a, uint64_t d) { out = add_number(a, uint64_t(0) - d, false); }
void gadr_sub_u64_in_place(gadr &a, uint64_t d) { a = add_number(a, uint64_t(0) - d, true); }

int32_t gadr_diff_s32(const gadr &a, const gadr &b) {
    if (is_16bit_family()) return int16_t(uint16_t(offset_of(a) - offset_of(b)));
    return int32_t(a.lo - b.lo);
}

uint64_t gadr_diff_u64(const gadr &a, const gadr &b) {
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
    case GADR_MODE_16BIT_16SEG: return uint64_t(int64_t(int16_t(uint16_t(offset_of(a) - offset_of(b)))));
    case GADR_MODE_64BIT: return raw(a) - raw(b);
    default: return uint64_t(a.lo - b.lo);
    }
}

// Scaling leaves the no-address value alone in every mode. In 64-bit mode
// the factor is taken as a power of two: a factor that is not one shifts by
// the position of its highest set bit. A divisor of 0 changes nothing.
void gadr_scale_up(gadr &a, uint32_t factor) {
    if (factor == 1 || gadr_is_invalid(a)) return;
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        a = gadr{(offset_of(a) * factor) & 0xFFFFu, 0};
        break;
    case GADR_MODE_16BIT_16SEG:
        a = gadr{join(segment_of(a), offset_of(a) * factor), 0};
        break;
    case GADR_MODE_64BIT:
        a = make(raw(a) << log2_floor(factor));
        break;
    default:
        a = gadr{a.lo * factor, 0};
        break;
    }
}

void gadr_scale_down(gadr &a, uint32_t divisor) {
    if (divisor == 1 || divisor == 0 || gadr_is_invalid(a)) return;
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        a = gadr{offset_of(a) / divisor, 0};
        break;
    case GADR_MODE_16BIT_16SEG:
        a = gadr{join(segment_of(a), offset_of(a) / divisor), 0};
        break;
    case GADR_MODE_64BIT:
        a = make(raw(a) >> log2_floor(divisor));
        break;
    default:
        a = gadr{a.lo / divisor, 0};
        break;
    }
}

void gadr_align_down(gadr &a, uint64_t alignment) {
    if (alignment == 0 || gadr_is_invalid(a)) return;
    if (is_16bit_family()) {
        uint64_t off = offset_of(a);
        a.lo = (a.lo & 0xFFFF0000u) | uint32_t(off - off % alignment);
        return;
    }
    uint64_t lo = a.lo;
    a.lo = uint32_t(lo - lo % alignment);
}

void gadr_align_up(gadr &a, uint64_t alignment) {
    if (alignment == 0 || gadr_is_invalid(a)) return;
    if (!is_power_of_two(alignment)) gen_warning("gadr_align_up: expected alignment to be power of 2");
    uint64_t mask = uint64_t(0) - alignment;
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
    case GADR_MODE_16BIT_16SEG: {
        uint64_t off = (uint64_t(offset_of(a)) + alignment - 1) & mask;
        a.lo = (a.lo & 0xFFFF0000u) | uint32_t(off & 0xFFFFu);
        break;
    }
    case GADR_MODE_64BIT:
        a = make((raw(a) + alignment - 1) & mask);
        break;
    default:
        a.lo = uint32_t((uint64_t(a.lo) + alignment - 1) & mask);
        break;
    }
}

namespace {

// The lower of two addresses; equal ones give b. The 64-bit mode compares
// whole values, every other mode compares lo.
const gadr &lower_of(const gadr &a, const gadr &b) {
    if (gadr_mode == GADR_MODE_16BIT) gen_error("gadr: unimplemented 16bit case");
    if (gadr_mode == GADR_MODE_64BIT) return gadr_less(a, b) ? a : b;
    return a.lo < b.lo ? a : b;
}

// The higher of two addresses; equal ones give a.
const gadr &higher_of(const gadr &a, const gadr &b) {
    if (gadr_mode == GADR_MODE_16BIT) gen_error("gadr: unimplemented 16bit case");
    if (gadr_mode == GADR_MODE_64BIT) return gadr_less(a, b) ? b : a;
    return a.lo < b.lo ? b : a;
}

}  // namespace

void gadr_min(gadr &out, const gadr &a, const gadr &b) {
    gadr r = lower_of(a, b);
    if (gadr_mode != GADR_MODE_64BIT) r.hi = 0;
    out = r;
}

void gadr_max(gadr &out, const gadr &a, const gadr &b) {
    gadr r = higher_of(a, b);
    if (gadr_mode != GADR_MODE_64BIT) r.hi = 0;
    out = r;
}

const gadr &gadr_min_of(const gadr &a, const gadr &b) { return lower_of(a, b); }
const gadr &gadr_max_of(const gadr &a, const gadr &b) { return higher_of(a, b); }

void gadr_sign_extend_32(gadr &a) {
    if (gadr_mode == GADR_MODE_64BIT && a.hi == 0 && (a.lo & 0x80000000u) != 0) a.hi = all_ones;
}

// ---------------------------------------------------------------- formatting

const char *gadr_to_string(const gadr &a) {
    char *buf = scratch();
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        gen_snprintf(buf, scratch_size, "0x%04x", offset_of(a));
        break;
    case GADR_MODE_16BIT_16SEG:
        if (segment_of(a) != 0)
            gen_snprintf(buf, scratch_size, "0x%04x%04x", segment_of(a), offset_of(a));
        else
            gen_snprintf(buf, scratch_size, "0x%04x", offset_of(a));
        break;
    case GADR_MODE_64BIT:
        gen_snprintf(buf, scratch_size, "0x%08x_%08x", a.hi, a.lo);
        break;
    default:
        gen_snprintf(buf, scratch_size, "0x%08x", a.lo);
        break;
    }
    return buf;
}

const char *gadr_to_short_string(const gadr &a) {
    char *buf = scratch();
    switch (gadr_mode) {
    case GADR_MODE_16BIT:
        gen_snprintf(buf, scratch_size, "0x%x", offset_of(a));
        break;
    case GADR_MODE_16BIT_16SEG:
        if (segment_of(a) != 0)
            gen_snprintf(buf, scratch_size, "0x%x%04x", segment_of(a), offset_of(a));
        else
            gen_snprintf(buf, scratch_size, "0x%x", offset_of(a));
        break;
    case GADR_MODE_64BIT:
        if (a.hi != 0)
            gen_snprintf(buf, scratch_size, "0x%x_%08x", a.hi, a.lo);
        else
            gen_snprintf(buf, scratch_size, "0x%x", a.lo);
        break;
    default:
        gen_snprintf(buf, scratch_size, "0x%x", a.lo);
        break;
    }
    return buf;
}

// ---------------------------------------------------------------- scanning

// Reads one hexadecimal address. Up to 8 digits form one 32-bit group; when
// exactly 8 were read, a second group may follow (after an optional "_"),
// which makes a 64-bit number. A scale of 0 counts as 1.
const char *gadr_scan(const char *text, uint32_t scale, gadr &g) {
    gadr_clear(g);
    if (!text) return text;
    const char *p = text;
    while (is_blank(*p)) ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;

    uint32_t first = 0;
    uint64_t value = 0;
    if (read_group(p, first) == 8) {
        value = first;
        if (*p == '_') ++p;
        if (is_alnum(*p)) {
            uint32_t second = 0;
            int k = read_group(p, second);
            if (k > 0) value = (uint64_t(first) << (4 * k)) | second;
        }
    } else {
        value = first;
    }

    uint32_t divisor = scale == 0 ? 1 : scale;
    switch (gadr_mode) {
    case GADR_MODE_64BIT:
        if (scale != 1) gen_error("[gadr_scan]: illegal scale factor");
        g = make(value);
        break;
    case GADR_MODE_16BIT:
    case GADR_MODE_16BIT_16SEG:
        g = gadr{(uint32_t(value) / divisor) & 0xFFFFu, 0};
        break;
    default:
        g = gadr{uint32_t(value) / divisor, 0};
        break;
    }
    return p;
}

bool gadr_scan_advance(const char **text, uint32_t scale, gadr &g) {
    if (!text) {
        gadr_clear(g);
        return false;
    }
    const char *start = *text;
    const char *end = gadr_scan(start, scale, g);
    *text = end;
    return end != start;
}

// ---------------------------------------------------------------- ranges

bool gadr_range_is_ordered(const gadr &low, const gadr &high) {
    if (!gadr_less(high, low)) return true;
    return wrap_is_valid(low, high);
}

int gadr_range_position(const gadr &x, const gadr &low, const gadr &high) {
    bool wraps = gadr_less(high, low);
    if (gadr_less(x, low)) {
        if (!gadr_less(x, high) || !wraps) return -1;
        if (wrap_is_valid(low, high)) return 0;
        gen_warning("gadr: invalid range");
        return -1;
    }
    if (gadr_less(x, high)) return 0;
    if (!wraps) return 1;
    if (wrap_is_valid(low, high)) return 0;
    gen_warning("gadr: invalid range");
    return 1;
}

int gadr_range_position_len(const gadr &x, const gadr &start, int32_t length) {
    gadr end;
    gadr_add_s32(end, start, length);
    return gadr_range_position(x, start, end);
}

int gadr_range_position_len64(const gadr &x, const gadr &start, uint64_t length) {
    gadr end;
    gadr_add_u64(end, start, length);
    return gadr_range_position(x, start, end);
}

int gadr_range_position_u32(const gadr &x, uint32_t low, uint32_t high) {
    if (gadr_mode == GADR_MODE_64BIT && x.hi != 0) return 1;
    gadr l, h;
    gadr_from_u32(l, low);
    gadr_from_u32(h, high);
    return gadr_range_position(x, l, h);
}

int gadr_range_position_u32_len(const gadr &x, uint32_t low, int32_t length) {
    return gadr_range_position_u32(x, low, low + uint32_t(length));
}
