#include "server/net/VexFormat.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>

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
