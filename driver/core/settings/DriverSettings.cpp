#include "driver/core/settings/DriverSettings.h"

#include "driver/core/settings/SettingsStore.h"
#include "host/QlnServices.h"

DriverSettings driverSettings;

namespace {

// One row: user rows are written back for anyone and kept in the "USER_" section, machine
// rows only by an administrator and in the plain section.
constexpr SettingEntry userRow(const wchar_t* name, SettingType type, void* value,
                               const wchar_t* defaultText) {
    return SettingEntry{name, type, value, defaultText, -1, 1, 1, 1};
}
constexpr SettingEntry machineRow(const wchar_t* name, SettingType type, void* value,
                                  const wchar_t* defaultText) {
    return SettingEntry{name, type, value, defaultText, -1, 0, 1, 1};
}

}  // namespace

const SettingEntry driverSettingsTable[] = {
    userRow(L"DebugLog", kSettingBool, &driverSettings.DebugLog, L"FALSE"),
    userRow(L"DebugFile", kSettingString, &driverSettings.DebugFile, L"debug.txt"),
    userRow(L"DebugPosReport", kSettingUInt8, &driverSettings.DebugPosReport, L"0"),
    userRow(L"DebugCPU", kSettingUInt8, &driverSettings.DebugCPU, L"3"),
    userRow(L"DebugCMM", kSettingUInt8, &driverSettings.DebugCMM, L"3"),
    userRow(L"DebugWindow", kSettingBool, &driverSettings.DebugWindow, L"FALSE"),
    userRow(L"DebugLogReset", kSettingBool, &driverSettings.DebugLogReset, L"FALSE"),
    userRow(L"DebugTitle", kSettingString, &driverSettings.DebugTitle, L"Interface"),
    userRow(L"DebugLogMaxSize", kSettingInt32, &driverSettings.DebugLogMaxSize, L"20"),
    userRow(L"Version", kSettingDouble, &driverSettings.Version, L"1.27"),
    machineRow(L"VolCompMethod", kSettingUInt8, &driverSettings.VolCompMethod, L"0"),
    machineRow(L"ARM2CompMode", kSettingBool, &driverSettings.ARM2CompMode, L"FALSE"),
    machineRow(L"WCompensMode", kSettingInt32, &driverSettings.WCompensMode, L"1"),
    machineRow(L"UsingOldWcompens32", kSettingBool, &driverSettings.UsingOldWcompens32, L"FALSE"),
    machineRow(L"VolDebug", kSettingBool, &driverSettings.VolDebug, L"FALSE"),
    machineRow(L"CompensFileName", kSettingString, &driverSettings.CompensFileName, L"compens.dat"),
    machineRow(L"VolOffset?", kSettingPoint, &driverSettings.VolOffset, L"0.0"),
    SettingEntry{nullptr, kSettingEnd, nullptr, nullptr, 0, 0, 0, 0},
};

std::wstring DriverSettingsSection(CQLNapplication* hostApp) {
    return QlnSectionName(hostApp, kDriverName);
}

bool ApplySettingsVersionRule(bool loaded, const wchar_t* section) {
    if (loaded && !(driverSettings.Version < kSettingsVersion))
        return false;
    driverSettings.Version = kSettingsVersion;
    saveSettings(driverSettingsTable, section);
    return true;
}
