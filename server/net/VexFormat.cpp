#include "server/net/VexFormat.h"

#include <locale.h>

#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The "C" locale object, created once; switched in per thread around each call.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

// Makes the "C" locale current on this thread for the object's lifetime.
class CLocaleScope {
  public:
    CLocaleScope() : previous_(CLocale() ? uselocale(CLocale()) : locale_t(nullptr)) {}
    ~CLocaleScope() {
        if (previous_)
            uselocale(previous_);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    locale_t previous_;
};

constexpr uint64_t kPowers[6] = {1, 10, 100, 1000, 10000, 100000};

}  // namespace

QByteArray VexFormat(const char* format, ...) {
    CLocaleScope cLocale;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    QByteArray out;
    if (length > 0) {
        out.resize(length);
        // resize() keeps a terminating zero after the data, so length + 1 bytes fit.
        std::vsnprintf(out.data(), size_t(length) + 1, format, again);
    }
    va_end(again);
    return out;
}

char* WriteFixed6(char* out, double value) {
    // Positions are a few thousand millimetres: exact integer arithmetic on the binary
    // value gives printf's digits directly. |value| = m * 2^e, so value * 10^6 =
    // m * 15625 * 2^(e + 6), rounded to the nearest integer with ties to even as printf
    // does in the default rounding mode. Anything outside 64 bits of micrometres, and
    // inf and nan, takes std::to_chars, which writes the same text more slowly.
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = int((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    if (biased != 0x7FF) {
        const uint64_t mantissa = biased == 0 ? fraction : fraction | (uint64_t(1) << 52);
        const int shift = (biased == 0 ? 1 : biased) - 1075 + 6;
        const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 15625u;
        unsigned __int128 micro = 0;
        bool fits = true;
        if (shift >= 0) {
            fits = shift < 64 && (scaled >> (64 - shift)) == 0;
            micro = fits ? scaled << shift : 0;
        } else if (-shift < 68) {
            const int k = -shift;
            micro = scaled >> k;
            const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << k) - 1);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (k - 1);
            if (rest > half || (rest == half && (micro & 1) != 0))
                ++micro;
        }  // else below half a micrometre: 0
        if (fits && (micro >> 64) == 0) {
            const uint64_t whole = uint64_t(micro) / 1000000;
            const uint64_t decimals = uint64_t(micro) % 1000000;
            char* p = out;
            if (negative)
                *p++ = '-';
            p = std::to_chars(p, out + kFixed6Max, whole).ptr;
            *p++ = '.';
            for (int i = 5; i >= 0; --i)
                p[i] = char('0' + (decimals / kPowers[5 - i]) % 10);
            return p + 6;
        }
    }
    return std::to_chars(out, out + kFixed6Max, value, std::chars_format::fixed, 6).ptr;
}

void AppendFixed6(QByteArray& out, double value) {
    char buffer[kFixed6Max];
    out.append(buffer, WriteFixed6(buffer, value) - buffer);
}

void AppendDecimal(QByteArray& out, int value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}
