#pragma once
// Platform calls of the debug log: where a log file without a folder goes, creating a log
// file, system error texts, local time.

#include <cstdio>
#include <string>
#include <vector>

// The folders a log file named without a folder may go to, in order: the working folder
// (the host's, which is the machine's folder), then the user's state folder
// ($XDG_STATE_HOME/Vexline, by default ~/.local/state/Vexline), which is created when
// missing. Paths without a trailing separator.
std::vector<std::wstring> LogFileFolders();

// Creates the log file `path` for writing, replacing it; an existing file is kept as
// `path`.1 first (replacing an older one). Null when the file cannot be created, with the
// system's reason in `reason`.
std::FILE* CreateLogFile(const std::wstring& path, std::wstring& reason);

// The system's message text for an error number (errno values here); false when the
// system has none. The text carries no line end.
bool SystemErrorText(unsigned code, std::wstring& text);

// The current local date and time as "%H:%M:%S %A, %B %d, %Y\n" with English names.
std::wstring LocalDateLine();
