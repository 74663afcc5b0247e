#pragma once
// Setvault: the registry-settings library the driver and the host's debug-output object keep
// their persistent settings in. This build keeps every setting in one INI file through
// QSettings:
//   - SETVAULT_INI names the file (read on every call, so a test can switch files); without
//     it the file is <user config folder>/Vexline/setvault.ini.
//   - A registry section is an INI group, a key an INI key. Spaces, '=', ';', non-ASCII and
//     even '/' or '\' in section and key names round-trip (QSettings escapes most of them,
//     this library escapes the two separators QSettings would treat as sub-groups).
//   - SETVAULT_ADMIN=1 or 0 decides IsAdmin(); without it the root user is the administrator.
//   - WriteRegSettingsToDebugFile() writes the registered settings with their stored values
//     to SETVAULT_DEBUG_FILE, or next to the INI file as <ini base name>-registered.txt.
//
// All functions may be called from any thread; they serialise on one lock. A null text
// argument counts as an empty text. Nothing throws; failures to write the file are silent
// (the callers ignore the results), except that WriteRegString returns false.
// The file layout and the variables are described in docs/host-stand-in.md.

#include <string>

// Nonzero when the section holds at least one stored key.
int RegKeyExists(const wchar_t* section);

// The stored text of section/key, or defaultText when nothing is stored there.
std::wstring GetRegString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText);

// Announces a setting: remembered for WriteRegSettingsToDebugFile, nothing is stored.
// kind says how the value is shown (5 signed, 9 unsigned, 13 floating, 15 boolean, 19 text);
// the remaining arguments are kept as given.
void AddRegSetting(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText, int kind,
                   int regParam, bool userWritable, bool regFlag, bool userScoped);

// Stores value under section/key. allUsers is accepted for compatibility; one file serves
// every user here. Returns false when the file could not be written.
bool WriteRegString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                    bool allUsers);

// Nonzero when the current user may change machine-wide settings.
int IsAdmin();

// Writes every registered setting, with its stored value or "(default)", to the debug file.
void WriteRegSettingsToDebugFile();

// The INI file the functions above use right now (for tools and messages).
std::wstring SetvaultIniPath();
