#include "driver/comm/log/WideFormat.h"

#include <locale.h>

#include <cwchar>
#include <vector>

namespace {

locale_t formattingLocale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr));
        return made ? made : newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    }();
    return locale;
}

// Formats into a buffer of `size` characters; false when the text does not fit (or the
// format is rejected, which the C library reports the same way).
bool tryFormat(std::vector<wchar_t>& buffer, std::size_t size, const wchar_t* format, va_list args,
               std::size_t& length) {
    buffer.resize(size);
    va_list copy;
    va_copy(copy, args);
    const int written = std::vswprintf(buffer.data(), size, format, copy);
    va_end(copy);
    if (written < 0)
        return false;
    length = std::size_t(written);
    return true;
}

}  // namespace

ScopedCLocale::ScopedCLocale() : previous_(uselocale(formattingLocale())) {}

ScopedCLocale::~ScopedCLocale() {
    uselocale(static_cast<locale_t>(previous_));
}

std::wstring FormatWideV(std::size_t limit, const wchar_t* format, va_list args) {
    if (!format || limit == 0)
        return {};
    ScopedCLocale conventions;
    std::vector<wchar_t> buffer;
    std::size_t length = 0;
    if (tryFormat(buffer, limit, format, args, length))
        return std::wstring(buffer.data(), length);
    // Too long for the limit (or rejected): format in a larger buffer and cut it, so an
    // oversized line is shortened rather than lost or left unterminated.
    constexpr std::size_t kLargest = 1 << 20;
    for (std::size_t size = limit * 16; size <= kLargest; size *= 16) {
        if (!tryFormat(buffer, size, format, args, length))
            continue;
        std::wstring text(buffer.data(), length);
        if (text.size() < limit)
            return text;
        const bool endsLine = text.back() == L'\n';
        text.resize(limit - 1);
        if (endsLine)
            text.back() = L'\n';
        return text;
    }
    std::wstring failed = L"<unformattable: ";
    failed += format;
    failed += L">";
    if (failed.size() >= limit)
        failed.resize(limit - 1);
    return failed;
}

std::wstring FormatWide(std::size_t limit, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(limit, format, args);
    va_end(args);
    return text;
}
