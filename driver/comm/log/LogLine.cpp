#include "driver/comm/log/LogLine.h"

#include "driver/comm/log/WideFormat.h"
#include "host/QlnServices.h"

DebugLog& TheDebugLog() {
    static DebugLog log(qlnDebugOutput);
    return log;
}

bool IsLogging() {
    return TheDebugLog().IsLogging();
}

void LogLine(const wchar_t* format, ...) {
    DebugLog& log = TheDebugLog();
    if (!log.IsLogging())
        return;
    va_list args;
    va_start(args, format);
    const std::wstring line = FormatWideV(kLogLineChars, format, args);
    va_end(args);
    log.WriteText(line);
}
