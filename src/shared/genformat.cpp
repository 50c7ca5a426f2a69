// The library's printf-style formatter.
//
// Integers, characters and strings are formatted here, by the C rules, with
// the extra length prefixes I, I32 and I64; floating-point conversions are
// handed to the C library one conversion at a time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "genout.h"

namespace {

// Collects output into a caller's buffer (counting what would not fit) or
// into a small block that is written to a stream whenever it fills.
class Sink {
  public:
    Sink(char *buf, size_t size) : buf_(buf), cap_(size ? size - 1 : 0) {}
    explicit Sink(FILE *fp) : fp_(fp), buf_(block_), cap_(sizeof block_) {}
    ~Sink() { flush(); }

    void put(const char *s, size_t n) {
        total_ += n;
        while (n > 0) {
            if (used_ == cap_) {
                if (!fp_) return;
                flush();
            }
            size_t k = std::min(n, cap_ - used_);
            std::memcpy(buf_ + used_, s, k);
            used_ += k;
            s += k;
            n -= k;
        }
    }
    void pad(char c, size_t n) {
        char run[64];
        std::memset(run, c, sizeof run);
        while (n > 0) {
            size_t k = std::min(n, sizeof run);
            put(run, k);
            n -= k;
        }
    }
    // Terminates a caller's buffer; returns the length the output has.
    int finish() {
        if (!fp_ && buf_) buf_[used_] = '\0';
        flush();
        return total_ > 0x7FFFFFFF ? 0x7FFFFFFF : int(total_);
    }

  private:
    void flush() {
        if (fp_ && used_ > 0) {
            std::fwrite(buf_, 1, used_, fp_);
            used_ = 0;
        }
    }

    FILE *fp_ = nullptr;
    char block_[1024];
    char *buf_;
    size_t cap_;
    size_t used_ = 0;
    uint64_t total_ = 0;
};

enum class Len { none, hh, h, l, ll, j, z, t, L, i32, i64 };

struct Conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
    Len len = Len::none;
};

// Formats one integer conversion. `neg` is set for negative signed values,
// whose magnitude is in `mag`.
void put_integer(Sink &out, const Conversion &cv, char conv, uint64_t mag, bool neg) {
    char digits[32];
    int nd = 0;
    unsigned base = conv == 'o' ? 8 : (conv == 'x' || conv == 'X') ? 16 : 10;
    const char *alphabet = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    for (uint64_t v = mag; v != 0; v /= base) digits[nd++] = alphabet[v % base];
    int precision = cv.precision;
    if (precision < 0) precision = 1;

    int zeros = nd < precision ? precision - nd : 0;
    if (conv == 'o' && cv.alt && zeros == 0 && (nd == 0 || digits[nd - 1] != '0')) zeros = 1;

    char prefix[3];
    int np = 0;
    if (conv == 'd' || conv == 'i') {
        if (neg)
            prefix[np++] = '-';
        else if (cv.plus)
            prefix[np++] = '+';
        else if (cv.space)
            prefix[np++] = ' ';
    } else if ((conv == 'x' || conv == 'X') && cv.alt && mag != 0) {
        prefix[np++] = '0';
        prefix[np++] = conv;
    }

    int body = np + zeros + nd;
    int fill = cv.width > body ? cv.width - body : 0;
    if (!cv.left && cv.zero && cv.precision < 0) {
        zeros += fill;
        fill = 0;
    }
    if (!cv.left) out.pad(' ', size_t(fill));
    out.put(prefix, size_t(np));
    out.pad('0', size_t(zeros));
    char ordered[32];
    for (int i = 0; i < nd; ++i) ordered[i] = digits[nd - 1 - i];
    out.put(ordered, size_t(nd));
    if (cv.left) out.pad(' ', size_t(fill));
}

void put_text(Sink &out, const Conversion &cv, const char *s, size_t n) {
    size_t fill = cv.width > 0 && size_t(cv.width) > n ? size_t(cv.width) - n : 0;
    if (!cv.left) out.pad(' ', fill);
    out.put(s, n);
    if (cv.left) out.pad(' ', fill);
}

void put_float(Sink &out, const Conversion &cv, char conv, va_list &args) {
    char fmt[32];
    int k = 0;
    fmt[k++] = '%';
    if (cv.left) fmt[k++] = '-';
    if (cv.plus) fmt[k++] = '+';
    if (cv.space) fmt[k++] = ' ';
    if (cv.alt) fmt[k++] = '#';
    if (cv.zero) fmt[k++] = '0';
    fmt[k++] = '*';
    fmt[k++] = '.';
    fmt[k++] = '*';
    if (cv.len == Len::L) fmt[k++] = 'L';
    fmt[k++] = conv;
    fmt[k] = '\0';
    int precision = cv.precision;
    if (precision < 0) precision = (conv == 'a' || conv == 'A') ? -1 : 6;
    std::string text;
    if (cv.len == Len::L) {
        long double v = va_arg(args, long double);
        int n = std::snprintf(nullptr, 0, fmt, cv.width, precision, v);
        if (n > 0) {
            text.resize(size_t(n) + 1);
            std::snprintf(text.data(), text.size(), fmt, cv.width, precision, v);
        }
    } else {
        double v = va_arg(args, double);
        int n = std::snprintf(nullptr, 0, fmt, cv.width, precision, v);
        if (n > 0) {
            text.resize(size_t(n) + 1);
            std::snprintf(text.data(), text.size(), fmt, cv.width, precision, v);
        }
    }
    out.put(text.data(), std::strlen(text.c_str()));
}

int format(Sink &out, const char *fmt, va_list args_in) {
    va_list args;
    va_copy(args, args_in);
    const char *p = fmt ? fmt : "";
    while (*p) {
        const char *pct = std::strchr(p, '%');
        if (!pct) {
            out.put(p, std::strlen(p));
            break;
        }
        out.put(p, size_t(pct - p));
        p = pct + 1;

        Conversion cv;
        for (;; ++p) {
            if (*p == '-')
                cv.left = true;
            else if (*p == '+')
                cv.plus = true;
            else if (*p == ' ')
                cv.space = true;
            else if (*p == '#')
                cv.alt = true;
            else if (*p == '0')
                cv.zero = true;
            else
                break;
        }
        if (*p == '*') {
            int w = va_arg(args, int);
            if (w < 0) {
                cv.left = true;
                w = w == -2147483647 - 1 ? 2147483647 : -w;
            }
            cv.width = w;
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') {
                if (cv.width < 100000000) cv.width = cv.width * 10 + (*p - '0');
                ++p;
            }
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                int v = va_arg(args, int);
                cv.precision = v < 0 ? -1 : v;
                ++p;
            } else {
                cv.precision = 0;
                while (*p >= '0' && *p <= '9') {
                    if (cv.precision < 100000000) cv.precision = cv.precision * 10 + (*p - '0');
                    ++p;
                }
            }
        }
        switch (*p) {
        case 'h':
            cv.len = p[1] == 'h' ? Len::hh : Len::h;
            p += p[1] == 'h' ? 2 : 1;
            break;
        case 'l':
            cv.len = p[1] == 'l' ? Len::ll : Len::l;
            p += p[1] == 'l' ? 2 : 1;
            break;
        case 'j':
            cv.len = Len::j;
            ++p;
            break;
        case 'z':
            cv.len = Len::z;
            ++p;
            break;
        case 't':
            cv.len = Len::t;
            ++p;
            break;
        case 'L':
        case 'q':
            cv.len = Len::L;
            ++p;
            break;
        case 'I':
            if (p[1] == '6' && p[2] == '4') {
                cv.len = Len::i64;
                p += 3;
            } else if (p[1] == '3' && p[2] == '2') {
                cv.len = Len::i32;
                p += 3;
            } else {
                cv.len = Len::z;
                ++p;
            }
            break;
        default:
            break;
        }

        char conv = *p;
        if (conv == '\0') break;
        ++p;
        switch (conv) {
        case 'd':
        case 'i': {
            int64_t v;
            switch (cv.len) {
            case Len::hh: v = static_cast<signed char>(va_arg(args, int)); break;
            case Len::h: v = static_cast<short>(va_arg(args, int)); break;
            case Len::l: v = va_arg(args, long); break;
            case Len::ll:
            case Len::L:
            case Len::i64: v = va_arg(args, long long); break;
            case Len::j: v = va_arg(args, intmax_t); break;
            case Len::z:
            case Len::t: v = va_arg(args, ptrdiff_t); break;
            default: v = va_arg(args, int); break;
            }
            bool neg = v < 0;
            uint64_t mag = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
            put_integer(out, cv, conv, mag, neg);
            break;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            uint64_t v;
            switch (cv.len) {
            case Len::hh: v = static_cast<unsigned char>(va_arg(args, unsigned)); break;
            case Len::h: v = static_cast<unsigned short>(va_arg(args, unsigned)); break;
            case Len::l: v = va_arg(args, unsigned long); break;
            case Len::ll:
            case Len::L:
            case Len::i64: v = va_arg(args, unsigned long long); break;
            case Len::j: v = va_arg(args, uintmax_t); break;
            case Len::z:
            case Len::t: v = va_arg(args, size_t); break;
            default: v = va_arg(args, unsigned); break;
            }
            put_integer(out, cv, conv, v, false);
            break;
        }
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            put_text(out, cv, &c, 1);
            break;
        }
        case 's': {
            if (cv.len == Len::l) {
                const wchar_t *ws = va_arg(args, const wchar_t *);
                std::string narrow;
                if (!ws) ws = L"(null)";
                for (; *ws && (cv.precision < 0 || narrow.size() < size_t(cv.precision)); ++ws)
                    narrow.push_back(static_cast<char>(*ws));
                put_text(out, cv, narrow.data(), narrow.size());
                break;
            }
            const char *s = va_arg(args, const char *);
            if (!s) s = "(null)";
            size_t n = cv.precision < 0 ? std::strlen(s) : strnlen(s, size_t(cv.precision));
            put_text(out, cv, s, n);
            break;
        }
        case 'p': {
            const void *ptr = va_arg(args, const void *);
            Conversion hex = cv;
            hex.alt = true;
            hex.len = Len::i64;
            put_integer(out, hex, 'x', reinterpret_cast<uintptr_t>(ptr), false);
            break;
        }
        case 'n':
            // Writing through a pointer taken from a format is never wanted here.
            (void)va_arg(args, void *);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            put_float(out, cv, conv, args);
            break;
        case '%':
            out.put("%", 1);
            break;
        default:
            // An unknown conversion is copied as it stands.
            out.put(pct, size_t(p - pct));
            break;
        }
    }
    va_end(args);
    return out.finish();
}

}  // namespace

int gen_vsnprintf(char *buf, size_t size, const char *fmt, va_list args) {
    Sink out(size ? buf : nullptr, size);
    return format(out, fmt, args);
}

int gen_snprintf(char *buf, size_t size, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = gen_vsnprintf(buf, size, fmt, args);
    va_end(args);
    return n;
}

int gen_vfprintf(FILE *fp, const char *fmt, va_list args) {
    Sink out(fp);
    return format(out, fmt, args);
}

int gen_fprintf(FILE *fp, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = gen_vfprintf(fp, fmt, args);
    va_end(args);
    return n;
}

int gen_printf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = gen_vfprintf(stdout, fmt, args);
    va_end(args);
    return n;
}
