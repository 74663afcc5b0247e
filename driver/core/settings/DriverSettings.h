#pragma once
// The driver's seventeen persistent settings: their live values (driverSettings) and the table
// that describes them (driverSettingsTable) for the settings store (SettingsStore.h).
//
// Both are process-wide and live as long as the driver is loaded; they are used on the
// host's UI thread only. Values start as zero (false, empty, origin) except WCompensMode
// (1) until the first load. Rows "Debug*" and Version are per user; the compensation rows
// belong to the machine and are written back only by an administrator.

#include <cstdint>
#include <string>

#include "driver/core/CPoint3.h"
#include "driver/core/settings/SettingEntry.h"

class CQLNapplication;

inline constexpr double kSettingsVersion = 1.27;
inline constexpr const wchar_t* kDriverName = L"Tactus";

struct DriverSettings {
    bool DebugLog = false;            // open the debug log file at start-up
    std::wstring DebugFile;           // its name
    std::uint8_t DebugPosReport = 0;  // setup dialog choices only
    std::uint8_t DebugCPU = 0;
    std::uint8_t DebugCMM = 0;
    bool DebugWindow = false;          // open the terminal window at start-up
    bool DebugLogReset = false;        // copied into the host's machine record
    std::wstring DebugTitle;           // terminal window title
    std::int32_t DebugLogMaxSize = 0;  // megabytes after which the log file is rotated
    double Version = 0.0;              // version of the stored settings
    std::uint8_t VolCompMethod = 0;    // compensation method number
    bool ARM2CompMode = false;
    std::int32_t WCompensMode = 1;
    bool UsingOldWcompens32 = false;
    bool VolDebug = false;
    std::wstring CompensFileName;
    CPoint3 VolOffset;  // keys VolOffsetX, VolOffsetY, VolOffsetZ
};

extern DriverSettings driverSettings;
extern const SettingEntry driverSettingsTable[];

// The driver's settings section, asked from the host every time (never cached).
std::wstring DriverSettingsSection(CQLNapplication* hostApp);

// After registering and loading: when nothing was stored (`loaded` false) or the stored
// Version is below kSettingsVersion, sets Version to it and saves every setting, so a first
// run writes all defaults. Returns true when it saved.
bool ApplySettingsVersionRule(bool loaded, const wchar_t* section);
