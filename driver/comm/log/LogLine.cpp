#include "driver/comm/log/LogLine.h"

#include <algorithm>

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

std::wstring ReceivedLineText(std::string_view line) {
    const auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
    while (!line.empty() && isLineEnd(line.back()))
        line.remove_suffix(1);
    while (!line.empty() && isLineEnd(line.front()))
        line.remove_prefix(1);
    std::wstring text;
    text.reserve(line.size());
    for (char c : line) {
        if (isLineEnd(c))
            text += c == '\r' ? L"\\r" : L"\\n";
        else
            text += wchar_t(static_cast<unsigned char>(c));  // the channels' bytes are Latin-1
    }
    return text;
}

long long LogFileCapBytes(int megabytes) {
    if (megabytes < 1)
        megabytes = kDefaultLogFileMegabytes;
    return std::min(megabytes, kMaxLogFileMegabytes) * 1024LL * 1024LL;
}

bool OpenDriverLogFile(DebugLog& log, const std::wstring& name, int maxMegabytes,
                       CQLNapplication* hostApp) {
    log.SetLogFileCap(LogFileCapBytes(maxMegabytes));
    std::wstring failure;
    if (log.OpenLogFile(name.c_str(), 0, nullptr, &failure))
        return true;
    QlnStatusMessage(hostApp, FormatWide(kLogLineChars, kLogFileFailed, failure.c_str()).c_str());
    return false;
}
