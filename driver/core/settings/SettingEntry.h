#pragma once
// One row of a typed settings table and the value type codes.
//
// A table is a static array of SettingEntry ending with a row whose name and type are both
// zero. Each row points to the live variable that holds its value; the layout of that
// variable follows the type code (see SettingType). Tables and their variables are owned by
// whoever defines them (the driver keeps one process-wide table, DriverSettings.h).

#include <cstdint>

enum SettingType : std::int32_t {
    kSettingEnd = 0,
    kSettingUInt8 = 1,       // std::uint8_t
    kSettingInt16 = 3,       // std::int16_t
    kSettingInt32 = 5,       // std::int32_t
    kSettingUInt16 = 7,      // std::uint16_t
    kSettingUInt32 = 9,      // std::uint32_t
    kSettingFloat = 11,      // float
    kSettingDouble = 13,     // double
    kSettingBool = 15,       // bool (8 bits)
    kSettingBool32 = 17,     // std::int32_t, 0 or 1
    kSettingShortText = 19,  // wchar_t[4]: up to three characters and a terminator
    kSettingString = 21,     // std::wstring
    kSettingPoint = 23,      // CPoint3; the name holds one '?' standing for X, Y, Z
    kSettingChar = 25,       // wchar_t
};

struct SettingEntry {
    const wchar_t* name;         // key name
    SettingType type;            // kSettingEnd ends the table
    void* value;                 // the live variable
    const wchar_t* defaultText;  // default, in the stored text form
    std::int32_t regParam;       // handed to AddRegSetting
    std::uint8_t userWritable;   // written back for every user, not only an administrator
    std::uint8_t regFlag;        // handed to AddRegSetting
    std::uint8_t userScoped;     // with userWritable: kept in the "USER_" section
};
