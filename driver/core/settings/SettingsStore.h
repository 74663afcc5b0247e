#pragma once
// The operations on a settings table (SettingEntry.h): announce its rows to Setvault, load
// them into their live variables, write the live values back, list them into the debug log.
//
// The section name comes from the caller every time (the driver asks the host for it).
// Rows with userWritable and userScoped live in the section "USER_" + section unless the
// section already starts with "USER_" (registration always adds the prefix). Writing back
// happens for every user on userWritable rows and only for an administrator on the others.
// Nothing is reported as failure: missing values take their default text, text that is no
// number reads as 0, booleans are true only when the text contains "TRUE". Host UI thread
// only; the live variables are not locked.

#include <string>

#include "driver/core/settings/SettingEntry.h"

inline constexpr const wchar_t* kUserSectionPrefix = L"USER_";

// Announces every row to Setvault (a point row once per axis key) and the per-user rows to
// the host's per-user registration as well.
void registerSettings(const SettingEntry* table, const wchar_t* section);

// Loads every row; returns true when the section or its "USER_" form held stored values.
bool loadSettings(const SettingEntry* table, const wchar_t* section);

// Writes the live values back (see above for who writes what).
void saveSettings(const SettingEntry* table, const wchar_t* section);

// Writes "BEGIN listing ...", one line per row and "END listing ..." through the debug log
// (nothing when table or section is missing). The first listing of the process also asks
// Setvault to write its registered settings to its debug file.
void listSettings(const SettingEntry* table, const wchar_t* section);

// The section a load or save of `entry` uses.
std::wstring effectiveSection(const SettingEntry& entry, const std::wstring& section);
