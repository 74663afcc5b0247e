#pragma once
// printf-style formatting of protocol and log texts with C semantics.
//
// The protocol fixes the C conversions ("%lf" gives six decimals and a decimal point),
// so the text never depends on the user's locale: formatting always runs in the "C"
// locale, whatever QCoreApplication or the environment selected. The result has the
// full length (no buffer limit); callers that need the fixed buffers of the protocol
// cut it themselves. Safe on any thread.

#include <QByteArray>

#if defined(__GNUC__)
#define VEX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VEX_PRINTF_FORMAT(fmt, args)
#endif

QByteArray VexFormat(const char* format, ...) VEX_PRINTF_FORMAT(1, 2);

// Appends `value` exactly as the C conversion "%lf" writes it in the "C" locale: fixed
// point, six decimals, correctly rounded; "inf", "-inf", "nan" and "-nan" as printf has
// them. std::to_chars gives the same text at a fraction of printf's cost (no locale, no
// format parsing, no multi-precision arithmetic), which matters on the request path.
void AppendFixed6(QByteArray& out, double value);
// The same into a buffer of at least kFixed6Max bytes; returns the end of the text
// (nothing is terminated).
inline constexpr int kFixed6Max = 320;  // -DBL_MAX: sign, 309 digits, point, 6 decimals
char* WriteFixed6(char* out, double value);

// Appends `value` as "%d" writes it.
void AppendDecimal(QByteArray& out, int value);
