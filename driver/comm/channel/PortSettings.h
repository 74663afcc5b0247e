#pragma once
// The line settings of a serial port and their settings text.
//
// The serial channel describes a port's line as a settings text such as
// 'com1 baud=19200 parity=N data=8 stop=1' and checks it the way the platform's
// settings-text parser does before using or storing it. Accepted values: a positive
// decimal baud rate; parity N, E, O, M or S in either case (none, even, odd, mark,
// space); 5 to 8 data bits; 1, 1.5 or 2 stop bits. Keys are case-insensitive, a
// leading device name "comN" (optionally with ':') is allowed, and all four keys must be
// present. Pure functions, any thread.

#include <optional>
#include <string>
#include <string_view>

enum class Parity { kNone, kOdd, kEven, kMark, kSpace };
enum class StopBits { kOne, kOnePointFive, kTwo };

struct PortSettings {
    int baudRate = 9600;
    Parity parity = Parity::kNone;
    int dataBits = 8;
    StopBits stopBits = StopBits::kOne;
};

// The settings text for the given values, e.g. 'com1 baud=19200 parity=N data=8 stop=1'.
std::string FormatPortSettings(int port, int baudRate, char parity, int dataBits, int stopBits);

// The settings a text describes, or nothing when the text is not valid.
std::optional<PortSettings> ParsePortSettings(std::string_view text);
