#pragma once
// Platform calls of the debug log: the program folder, system error texts, local time.

#include <string>

// Folder of the running program's executable file, without a trailing separator.
std::wstring ExecutableFolder();

// The system's message text for an error number (errno values here); false when the
// system has none. The text carries no line end.
bool SystemErrorText(unsigned code, std::wstring& text);

// The current local date and time as "%H:%M:%S %A, %B %d, %Y\n" with English names.
std::wstring LocalDateLine();
