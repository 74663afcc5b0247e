#include "driver/comm/setup/CommSettingsText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <limits>

namespace {

constexpr wchar_t kParityLetters[] = {L'N', L'O', L'E', L'M', L'S'};
constexpr const wchar_t* kStopTexts[] = {L"1", L"1.5", L"2"};
constexpr int kParityCount = 5;
constexpr int kStopCount = 3;

int ParityIndexOfLetter(wchar_t letter) {
    const wchar_t upper = wchar_t(std::towupper(wint_t(letter)));
    for (int i = 0; i < kParityCount; ++i) {
        if (kParityLetters[i] == upper)
            return i;
    }
    return -1;
}

int StopIndexOfText(const wchar_t* text) {
    for (int i = 0; i < kStopCount; ++i) {
        if (std::wcscmp(kStopTexts[i], text) == 0)
            return i;
    }
    return -1;
}

}  // namespace

wchar_t ParityLetterOf(int parityIndex) {
    return parityIndex >= 0 && parityIndex < kParityCount ? kParityLetters[parityIndex] : L'N';
}

const wchar_t* StopBitsTextOf(int stopIndex) {
    return stopIndex >= 0 && stopIndex < kStopCount ? kStopTexts[stopIndex] : kStopTexts[0];
}

std::wstring FormatCommSettings(int port, int baud, int parityIndex, int dataBits, int stopIndex) {
    wchar_t text[80];
    const int length =
        std::swprintf(text, std::size(text), L"COM%d %d  %lc,%d,%ls", port, baud,
                      wint_t(ParityLetterOf(parityIndex)), dataBits, StopBitsTextOf(stopIndex));
    return length > 0 ? std::wstring(text, size_t(length)) : std::wstring();
}

int ParseCommSettings(const std::wstring& text, int* port, int* baud, int* parityIndex,
                      int* dataBits, int* stopIndex) {
    int readPort = 0;
    int readBaud = 0;
    wchar_t letter = 0;
    int readData = 0;
    wchar_t stop[8] = {};
    const int fields = std::swscanf(text.c_str(), L"COM%d %d %lc,%d,%7ls", &readPort, &readBaud,
                                    &letter, &readData, stop);
    if (fields >= 1 && port)
        *port = readPort;
    if (fields >= 2 && baud)
        *baud = readBaud;
    if (fields >= 3 && parityIndex) {
        if (const int index = ParityIndexOfLetter(letter); index >= 0)
            *parityIndex = index;
    }
    if (fields >= 4 && dataBits)
        *dataBits = readData;
    if (fields >= 5 && stopIndex) {
        if (const int index = StopIndexOfText(stop); index >= 0)
            *stopIndex = index;
    }
    return fields > 0 ? fields : 0;
}

int BaudFromText(const std::wstring& text) {
    const double value = std::wcstod(text.c_str(), nullptr);
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(value);
}

CommValues CommValuesFromSerial(int port, int baud, wchar_t parityLetter, int dataBits,
                                int stopBits) {
    CommValues values;
    values.port = port;
    values.baud = baud;
    values.parityIndex = std::max(0, ParityIndexOfLetter(parityLetter));
    values.dataBits = dataBits;
    values.stopIndex = stopBits == 2 ? 2 : 0;
    return values;
}
