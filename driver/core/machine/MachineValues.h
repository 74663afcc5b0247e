#pragma once
// The value rules of the machine file: how an element's text becomes an integer, a
// floating value or a boolean. Each returns nothing when the text does not convert, and
// the caller then uses the element's default. Pure functions, any thread.

#include <optional>
#include <string_view>

namespace machinefile {

// As the C conversion "%i": leading white space is skipped, an optional sign, then "0x" for
// hexadecimal, a leading 0 for octal, else decimal; scanning stops at the first character
// that does not belong to the number ("0x40" is 64, "12ms" is 12, "010" is 8). Values beyond
// the int range are clamped to it.
std::optional<int> ScanInteger(std::wstring_view text);

// As the C conversion "%lf" in the C locale: leading white space, an optional sign, a
// decimal (or "0x" hexadecimal) number with optional exponent; scanning stops at the first
// character that does not belong to it ("2.5mm" is 2.5). Infinity, NaN and values out of
// range do not convert.
std::optional<double> ScanReal(std::wstring_view text);

// Exactly "true" or "TRUE" is true, exactly "false" or "FALSE" is false; nothing else
// ("True", "1", empty) converts.
std::optional<bool> ScanBoolean(std::wstring_view text);

}  // namespace machinefile
