#pragma once
// Driver log lines. Every line of the driver goes through LogLine into the host's
// debug-output object (qlnDebugOutput), formatted with wide printf into at most 1023
// characters (a longer line is cut and keeps its line end). When no log file is open and no
// terminal window is usable nothing is formatted at all, so logging costs one test when off.
// Prefixes by convention: "-Tactus: " driver events, ">Tactus:    " text sent to the machine,
// "<Tactus: " text received and what was derived from it. Host UI thread.

#include "driver/comm/log/DebugLog.h"

inline constexpr std::size_t kLogLineChars = 1024;

void LogLine(const wchar_t* format, ...);

// The driver's DebugLog on the host's debug-output object.
DebugLog& TheDebugLog();

// True when LogLine would write anywhere (for callers that prepare costly arguments).
bool IsLogging();
