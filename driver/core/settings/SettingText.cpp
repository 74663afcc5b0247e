#include "driver/core/settings/SettingText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cwctype>
#include <string>

namespace {

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Skips blanks and reads an optional sign; returns the index of the first digit candidate.
size_t skipBlanksAndSign(std::wstring_view text, bool& negative) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    return i;
}

// Magnitude of the leading digits, saturated just above 32 bits.
std::uint64_t leadingMagnitude(std::wstring_view text, bool& negative) {
    constexpr std::uint64_t kCap = std::uint64_t(1) << 33;
    std::uint64_t magnitude = 0;
    for (size_t i = skipBlanksAndSign(text, negative); i < text.size() && isDigit(text[i]); ++i)
        magnitude = std::min(kCap, magnitude * 10 + std::uint64_t(text[i] - L'0'));
    return magnitude;
}

}  // namespace

std::int32_t ParseSignedText(std::wstring_view text) {
    bool negative;
    const std::uint64_t magnitude = leadingMagnitude(text, negative);
    if (negative)
        return magnitude > std::uint64_t(INT32_MAX) + 1 ? INT32_MIN
                                                        : std::int32_t(-std::int64_t(magnitude));
    return magnitude > std::uint64_t(INT32_MAX) ? INT32_MAX : std::int32_t(magnitude);
}

std::uint32_t ParseUnsignedText(std::wstring_view text) {
    bool negative;
    const std::uint64_t magnitude = leadingMagnitude(text, negative);
    if (magnitude > UINT32_MAX)
        return UINT32_MAX;
    const std::uint32_t value = std::uint32_t(magnitude);
    return negative ? std::uint32_t(0u - value) : value;
}

double ParseFloatingText(std::wstring_view text) {
    bool negative;
    size_t i = skipBlanksAndSign(text, negative);
    std::string digits = negative ? "-" : "";
    bool anyDigit = false;
    for (; i < text.size() && isDigit(text[i]); ++i, anyDigit = true)
        digits += char(text[i]);
    if (i < text.size() && text[i] == L'.') {
        digits += '.';
        for (++i; i < text.size() && isDigit(text[i]); ++i, anyDigit = true)
            digits += char(text[i]);
    }
    if (!anyDigit)
        return 0.0;
    // An exponent counts only when digits follow it.
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == L'+' || text[j] == L'-'))
            exponent += char(text[j++]);
        if (j < text.size() && isDigit(text[j])) {
            for (; j < text.size() && isDigit(text[j]); ++j)
                exponent += char(text[j]);
            digits += exponent;
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() ? value : 0.0;
}

bool ParseBooleanText(std::wstring_view text) {
    return text.find(L"TRUE") != std::wstring_view::npos;
}
