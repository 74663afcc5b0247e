#pragma once
// The host's string resources that drivers show by number (message boxes, status line,
// setup dialog texts). The table is the host's resource module.

#include <span>

struct QlnString {
    unsigned id;
    const wchar_t* text;
};

std::span<const QlnString> QlnStringTable();
