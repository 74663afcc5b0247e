#pragma once
// Bounded wide formatted output for log lines and stored setting texts.
//
// Formats with the C library's wide printf family (so %ls is a wide string, %s an 8-bit
// one, %lf a double) under the "C" numeric and time conventions with UTF-8 character
// handling, whatever locale the host program set: stored numbers and log lines look the
// same everywhere. A result that would not fit `limit` characters (including the
// terminator) is cut to limit - 1 characters; when the full text ended with a line feed the
// cut text ends with one too. A format the C library rejects (for example an 8-bit argument
// that is not valid UTF-8) yields "<unformattable: FORMAT>". Never throws; any thread.

#include <cstdarg>
#include <cstddef>
#include <string>

std::wstring FormatWideV(std::size_t limit, const wchar_t* format, va_list args);
std::wstring FormatWide(std::size_t limit, const wchar_t* format, ...);

// Switches the calling thread to the formatting conventions above while it lives.
class ScopedCLocale {
  public:
    ScopedCLocale();
    ~ScopedCLocale();
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

  private:
    void* previous_;
};
