#include "driver/comm/log/DebugLog.h"

#include <QString>
#include <algorithm>
#include <vector>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/log/LogLocks.h"
#include "driver/comm/log/LogPlatform.h"
#include "driver/comm/log/WideFormat.h"
#include "setvault/Setvault.h"

namespace {

bool contains(std::wstring_view text, const std::wstring& part) {
    return !part.empty() && text.find(part) != std::wstring_view::npos;
}

}  // namespace

bool DebugLog::IsLogging() const {
    return out_.logFile != nullptr || (out_.window != nullptr && !out_.suspended);
}

int DebugLog::WriteText(std::wstring_view text) {
    ObjectLock locked(out_.lock);
    if (!locked.owned())
        return 0;
    if (!IsLogging())
        return -1;
    if (!out_.suspended)
        AddToWindow(text);
    if (out_.logFile)
        WriteToFile(text);
    return int(text.size());
}

int DebugLog::Print(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = PrintV(format, args);
    va_end(args);
    return result;
}

int DebugLog::PrintV(const wchar_t* format, va_list args) {
    ObjectLock locked(out_.lock);
    if (!locked.owned())
        return 0;
    if (!IsLogging())
        return -1;
    const std::wstring text = FormatWideV(kPrintBufferChars, format, args);
    WriteText(text);
    return int(text.size());
}

int DebugLog::PrintText(const wchar_t* format, ...) {
    ObjectLock locked(out_.lock);
    if (!locked.owned())
        return 0;
    if (!IsLogging())
        return -1;
    va_list args;
    va_start(args, format);
    const std::wstring text = FormatWideV(kPrintBufferChars, format, args);
    va_end(args);
    return Print(L"%ls", text.c_str());
}

void DebugLog::AppendToFile(std::wstring_view text) {
    const QByteArray bytes = QString::fromWCharArray(text.data(), qsizetype(text.size())).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out_.logFile);
    std::fflush(out_.logFile);
    out_.logFileBytes += bytes.size();
}

void DebugLog::WriteToFile(std::wstring_view text) {
    AppendToFile(text);
    // Checked after whole texts, so that a line is never split between the two files.
    if (out_.logFileCap > 0 && out_.logFileBytes >= out_.logFileCap) {
        RotateLogFile();
        return;
    }
    if (out_.reopenAfterWrite) {
        std::fclose(out_.logFile);
        out_.logFile =
            std::fopen(QString::fromStdWString(out_.logFileName).toLocal8Bit().constData(), "a");
    }
}

void DebugLog::RotateLogFile() {
    std::fclose(out_.logFile);
    std::wstring reason;
    out_.logFile = CreateLogFile(out_.logFileName, reason);
    out_.logFileBytes = 0;
    if (out_.logFile)
        AppendToFile(LocalDateLine() +
                     FormatWide(kLogLineChars, kLogFileContinued, out_.logFileName.c_str()));
}

void DebugLog::SetLogFileCap(long long bytes) {
    ObjectLock locked(out_.lock);
    if (locked.owned())
        out_.logFileCap = std::max(0LL, bytes);
}

int DebugLog::OpenLogFile(const wchar_t* name, int value, const wchar_t* section,
                          std::wstring* failure) {
    SettledObjectLock locked(out_.lock);
    if (!locked.owned())
        return 1;
    if (!out_.logFile) {
        const bool named = name && *name;
        std::wstring fileName = named ? name : kDefaultLogFile;
        if (named && fileName.find(L'.') == std::wstring::npos) {
            fileName += L".txt";
            // Without a section there is nowhere to remember the completed name; the caller
            // passes the same name again next time and gets the same file.
            if (section && *section)
                WriteRegString(section, L"DebugFile", fileName.c_str(), false);
        }
        std::wstring given = fileName;
        std::replace(given.begin(), given.end(), L'\\', L'/');
        // A bare name goes where this session's files are, or where the user may write.
        const bool placed = given.find(L'/') == std::wstring::npos;
        std::vector<std::wstring> paths;
        for (const std::wstring& folder : placed ? LogFileFolders() : std::vector{std::wstring()})
            paths.push_back(placed ? folder + L'/' + given : given);
        std::FILE* file = nullptr;
        std::wstring path, reason;
        for (auto it = paths.begin(); !file && it != paths.end(); ++it)
            file = CreateLogFile(path = *it, reason);
        if (!file) {
            if (failure)
                *failure = path + L": " + reason;
            return 0;
        }
        out_.logFile = file;
        out_.logFileName = path;
        out_.logFileBytes = 0;
        WriteToFile(LocalDateLine());
        if (placed) {
            const std::wstring where = FormatWide(kLogLineChars, kLogFilePlaced, path.c_str());
            WriteToFile(where);
            if (out_.window && !out_.suspended)
                AddToWindow(where);
        }
        if (value && section) {
            out_.logValue = value;
            out_.logSection = section;
        }
    }
    if (out_.logFile)
        WriteToFile(L"\n");
    return 1;
}

void DebugLog::CloseLogFile() {
    SettledObjectLock locked(out_.lock);
    if (!locked.owned() || !out_.logFile)
        return;
    std::fclose(out_.logFile);
    out_.logFile = nullptr;
}

void DebugLog::ReportSystemError(unsigned code) {
    std::wstring text;
    if (SystemErrorText(code, text))
        PrintText(L"System error code: 0x%x, text: %ls\n", code, text.c_str());
    else
        PrintText(L"System error code: 0x%x, text: <text not available>\n", code);
}

int DebugLog::AddToWindow(std::wstring_view text) {
    const std::wstring_view head = text.substr(0, 100);
    if ((out_.suppressAll || contains(head, out_.suppressText)) && !contains(head, out_.exceptText))
        return 0;
    if (!out_.window)
        return 0;
    if (out_.suspended || out_.windowState < 1)
        return -1;
    if (out_.lines.empty())
        out_.lines.emplace_back();
    const auto lineFull = [this] {
        return out_.maxLineLength > 0 && out_.lines.back().size() >= size_t(out_.maxLineLength);
    };
    for (wchar_t c : text) {
        std::wstring& line = out_.lines.back();
        switch (c) {
            case 1:
                if (!line.empty())
                    EndLine();
                break;
            case 8:
                if (!line.empty())
                    line.pop_back();
                break;
            case 9:
                do
                    line += L' ';
                while (line.size() % 4 != 0 && !lineFull());
                if (lineFull())
                    EndLine();
                break;
            case 10:
                EndLine();
                break;
            case 13:
                if (!(out_.flags & CQLNdebugOutput::kIgnoreCarriageReturn))
                    line.clear();
                break;
            default:
                line += c;
                if (lineFull())
                    EndLine();
                break;
        }
    }
    RefreshWindow();
    return int(text.size());
}

void DebugLog::EndLine() {
    out_.lines.emplace_back();
    // The line being filled always stays, whatever the host's limit.
    while (out_.lines.size() > 1 && out_.lines.size() >= size_t(std::max(out_.maxLines, 0)))
        out_.lines.pop_front();
    out_.vScrollPos = int(out_.lines.size());
}
