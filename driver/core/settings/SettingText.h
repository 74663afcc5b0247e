#pragma once
// Conversions between stored setting texts and values. Numbers are read from the longest
// decimal prefix of the text (leading blanks and a sign allowed) and are 0 when the text does
// not start with a number; no locale takes part. Integer conversions behave as the 32-bit
// C conversions the stored files were made with: signed values saturate at the 32-bit
// limits, unsigned ones saturate at 2^32 - 1 and wrap a negative text modulo 2^32.

#include <cstdint>
#include <string_view>

std::int32_t ParseSignedText(std::wstring_view text);
std::uint32_t ParseUnsignedText(std::wstring_view text);
// Decimal floating text only: no hexadecimal, infinity or NaN; out of range gives 0.
double ParseFloatingText(std::wstring_view text);
// True when the text contains "TRUE" (upper case, anywhere).
bool ParseBooleanText(std::wstring_view text);
