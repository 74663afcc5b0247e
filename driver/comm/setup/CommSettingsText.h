#pragma once
// The communication settings as the setup dialog edits them, and their one-line text.
//
// The text reads like 'COM2 19200  E,8,1': port, baud rate, two spaces, parity letter
// (N none, O odd, E even, M mark, S space), data bits and stop bits ("1", "1.5", "2").
// The driver keeps its communication values in this form between two runs of the setup
// dialog and converts them to and from the dialog's five variables with the functions
// below. Pure functions, any thread; nothing throws.

#include <string>

// The five variables of the communication page. The parity and stop bits are list indexes:
// parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two.
struct CommValues {
    int port = 1;
    int baud = 19200;
    int parityIndex = 0;
    int dataBits = 8;
    int stopIndex = 0;

    bool operator==(const CommValues&) const = default;
};

// Parity letter of an index; 'N' for an index outside 0..4.
wchar_t ParityLetterOf(int parityIndex);
// Stop-bits text of an index; "1" for an index outside 0..2.
const wchar_t* StopBitsTextOf(int stopIndex);

// "COM%d %d  %c,%d,%s" of the five values.
std::wstring FormatCommSettings(int port, int baud, int parityIndex, int dataBits, int stopIndex);
inline std::wstring FormatCommSettings(const CommValues& v) {
    return FormatCommSettings(v.port, v.baud, v.parityIndex, v.dataBits, v.stopIndex);
}

// Reads a text in FormatCommSettings' layout back into the variables, field by field from
// the left; reading stops at the first field that is missing or malformed and leaves it and
// the fields after it unchanged. An unknown parity letter or stop-bits text leaves only its
// own variable unchanged. Returns the number of fields read (0 to 5).
int ParseCommSettings(const std::wstring& text, int* port, int* baud, int* parityIndex,
                      int* dataBits, int* stopIndex);
inline int ParseCommSettings(const std::wstring& text, CommValues& v) {
    return ParseCommSettings(text, &v.port, &v.baud, &v.parityIndex, &v.dataBits, &v.stopIndex);
}

// A baud rate as typed: the number the text starts with, truncated to an integer (limited
// to the int range); 0 for a text that does not start with a number.
int BaudFromText(const std::wstring& text);

// The dialog's variables for a serial line as the machine file describes it: parity by its
// letter in either case (anything else, or 0, counts as none), stop bits 2 as index 2 and
// any other count as one stop bit.
CommValues CommValuesFromSerial(int port, int baud, wchar_t parityLetter, int dataBits,
                                int stopBits);
