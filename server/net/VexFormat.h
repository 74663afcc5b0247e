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
