#include "driver/core/machine/MachineValues.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace machinefile {

namespace {

// Numbers are ASCII; any other character ends them, so it may become any non-number byte.
std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out.push_back(c >= 0 && c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace

std::optional<int> ScanInteger(std::wstring_view text) {
    const std::string bytes = Narrow(text);
    const char* begin = bytes.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 0);
    if (end == begin)
        return std::nullopt;
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

std::optional<double> ScanReal(std::wstring_view text) {
    // from_chars rather than strtod: the host may run under a locale with a decimal comma.
    const std::string bytes = Narrow(text);
    const char* p = bytes.data();
    const char* last = bytes.data() + bytes.size();
    while (p < last && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p < last && *p == '-')
        return std::nullopt;  // from_chars would take a second sign
    double value = 0.0;
    std::from_chars_result result{};
    if (last - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(p[2]))) {
        result = std::from_chars(p + 2, last, value, std::chars_format::hex);
    } else {
        result = std::from_chars(p, last, value);
    }
    if (result.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<bool> ScanBoolean(std::wstring_view text) {
    if (text == L"true" || text == L"TRUE")
        return true;
    if (text == L"false" || text == L"FALSE")
        return false;
    return std::nullopt;
}

}  // namespace machinefile
