#pragma once
// Conversions between the driver's wide strings and the 8-bit texts the channels carry.
//
// The machine side speaks single-byte text. A byte becomes the wide character of the
// same value (Latin-1), and a wide character of at most 0xFF becomes that byte; any
// other character has no single-byte form and becomes '?', as the platform's ANSI
// conversion does with unmappable characters (so such text can never turn into an
// address or command by accident).

#include <string>
#include <string_view>

inline std::string NarrowToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        out.push_back(static_cast<unsigned long>(c) <= 0xFF ? static_cast<char>(c) : '?');
    }
    return out;
}

inline std::wstring WidenFromAnsi(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}
