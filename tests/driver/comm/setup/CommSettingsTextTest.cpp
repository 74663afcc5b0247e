// The communication text of the setup dialog, the baud rate as typed, and which axis codes
// the axes page accepts.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "driver/comm/setup/CDAxis.h"
#include "driver/comm/setup/CommSettingsText.h"

namespace {

TEST(CommSettingsText, FormatWritesPortBaudParityDataAndStopBits) {
    struct Row {
        const char* legend;
        CommValues values;
        std::wstring text;
    };
    const Row rows[] = {
        {"two spaces after the baud rate, even parity", {2, 19200, 2, 8, 0}, L"COM2 19200  E,8,1"},
        {"one and a half stop bits", {1, 9600, 0, 8, 1}, L"COM1 9600  N,8,1.5"},
        {"odd, mark and two stop bits", {12, 300, 3, 7, 2}, L"COM12 300  M,7,2"},
        {"space parity", {4, 115200, 4, 8, 0}, L"COM4 115200  S,8,1"},
        {"unknown parity index reads as none", {1, 9600, 7, 8, 0}, L"COM1 9600  N,8,1"},
        {"unknown stop index reads as one stop bit", {1, 9600, 1, 8, 5}, L"COM1 9600  O,8,1"},
        {"negative indexes as well", {0, 0, -1, 8, -1}, L"COM0 0  N,8,1"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FormatCommSettings(row.values), row.text) << row.legend;
}

TEST(CommSettingsText, ParseReadsTheLayoutBackFieldByField) {
    const CommValues start{7, 4800, 4, 6, 2};
    struct Row {
        const char* legend;
        std::wstring text;
        int fields;
        CommValues values;
    };
    const Row rows[] = {
        {"one and a half stop bits", L"COM1 9600  N,8,1.5", 5, {1, 9600, 0, 8, 1}},
        {"even parity, two stop bits", L"COM2 19200  E,7,2", 5, {2, 19200, 2, 7, 2}},
        {"unknown parity letter keeps only the parity", L"COM3 1200  Q,8,1", 5, {3, 1200, 4, 8, 0}},
        {"unknown stop bits keep only the stop bits", L"COM3 1200  O,8,3", 5, {3, 1200, 1, 8, 2}},
        {"lower-case parity letter", L"COM3 1200  e,8,1", 5, {3, 1200, 2, 8, 0}},
        {"empty text keeps everything", L"", 0, start},
        {"text of another layout keeps everything", L"com1 baud=9600", 0, start},
        {"reading stops at the first broken field", L"COM5 fast  N,8,1", 1, {5, 4800, 4, 6, 2}},
        {"missing stop bits", L"COM5 600  S,8,", 4, {5, 600, 4, 8, 2}},
    };
    for (const Row& row : rows) {
        CommValues values = start;
        EXPECT_EQ(ParseCommSettings(row.text, values), row.fields) << row.legend;
        EXPECT_EQ(values, row.values) << row.legend;
    }
}

TEST(CommSettingsText, EveryFormattedTextParsesBackToItsValues) {
    for (int parity = 0; parity < 5; ++parity) {
        for (int stop = 0; stop < 3; ++stop) {
            const CommValues values{parity + 1, 57600, parity, 7 + stop % 2, stop};
            CommValues read{};
            EXPECT_EQ(ParseCommSettings(FormatCommSettings(values), read), 5);
            EXPECT_EQ(read, values) << parity << " " << stop;
        }
    }
}

TEST(CommSettingsText, BaudTextReadsAsATruncatedNumber) {
    struct Row {
        const char* legend;
        std::wstring text;
        int baud;
    };
    const Row rows[] = {
        {"plain rate", L"38400", 38400},
        {"fraction is cut", L"9600.9", 9600},
        {"leading blanks and trailing text", L"  4800 baud", 4800},
        {"not a number", L"fast", 0},
        {"empty", L"", 0},
        {"beyond int", L"1e12", INT_MAX},
        {"not a number either", L"nan", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(BaudFromText(row.text), row.baud) << row.legend;
}

TEST(CommSettingsText, SerialValuesFromTheMachineFile) {
    EXPECT_EQ(CommValuesFromSerial(2, 19200, L'E', 8, 1), (CommValues{2, 19200, 2, 8, 0}));
    EXPECT_EQ(CommValuesFromSerial(3, 9600, L'o', 7, 2), (CommValues{3, 9600, 1, 7, 2}));
    // No parity letter: the line has none.
    EXPECT_EQ(CommValuesFromSerial(1, 9600, 0, 8, 1), (CommValues{1, 9600, 0, 8, 0}));
}

TEST(AxisCodes, AcceptedOnlyInRangeAndOnDistinctMachineAxes) {
    struct Row {
        const char* legend;
        AxisCodes codes;
        bool valid;
    };
    const Row rows[] = {
        {"identity", {0, 2, 4}, true},
        {"X and Y share machine axis 0", {0, 1, 4}, false},
        {"all reversed", {1, 3, 5}, true},
        {"swapped and reversed", {5, 0, 3}, true},
        {"Y and Z share machine axis 2", {0, 4, 5}, false},
        {"code above 5", {0, 2, 6}, false},
        {"negative code (a list without selection)", {-1, 2, 4}, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(AxisCodesAreValid(row.codes), row.valid) << row.legend;
}

}  // namespace
