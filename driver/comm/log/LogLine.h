#pragma once
// Driver log lines. Every line of the driver goes through LogLine into the host's
// debug-output object (qlnDebugOutput), formatted with wide printf into at most 1023
// characters (a longer line is cut and keeps its line end). When no log file is open and no
// terminal window is usable nothing is formatted at all, so logging costs one test when off.
// Prefixes by convention: "-Tactus: " driver events, ">Tactus:    " text sent to the machine,
// "<Tactus: " text received and what was derived from it. Host UI thread.

#include <string>
#include <string_view>

#include "driver/comm/log/DebugLog.h"

class CQLNapplication;

inline constexpr std::size_t kLogLineChars = 1024;
inline constexpr const wchar_t* kLogFileFailed = L"Cannot create the debug log file %ls";

void LogLine(const wchar_t* format, ...);

// The driver's DebugLog on the host's debug-output object.
DebugLog& TheDebugLog();

// True when LogLine would write anywhere (for callers that prepare costly arguments).
bool IsLogging();

// A line received from the machine as the log shows it ("<Tactus: Received: %ls\n"). The
// channels deliver a line with its end (CR LF on TCP, CR on a serial line, where a peer's LF
// then starts the next line), and the log line ends itself: a carriage return left in would
// empty the line in the terminal window and put a raw CR into the file. So line ends at
// either side are dropped, and one inside the line is shown as \r or \n.
std::wstring ReceivedLineText(std::string_view line);

// The debug log file limit for the DebugLogMaxSize setting (megabytes): below 1 the
// default, above kMaxLogFileMegabytes that.
inline constexpr int kDefaultLogFileMegabytes = 20;
inline constexpr int kMaxLogFileMegabytes = 4096;
long long LogFileCapBytes(int megabytes);

// Opens the driver's debug log file `name` (the DebugFile setting) on `log` with the size
// limit above, as start-up and the setup dialog's debug page do. A file that cannot be
// created is not silent: the host's status line names the path and the reason. False then.
bool OpenDriverLogFile(DebugLog& log, const std::wstring& name, int maxMegabytes,
                       CQLNapplication* hostApp);
