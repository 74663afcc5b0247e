#include "driver/comm/log/LogPlatform.h"

#include <string.h>

#include <QString>
#include <ctime>
#include <cwchar>
#include <filesystem>

#include "driver/comm/log/WideFormat.h"

std::wstring ExecutableFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error).wstring();
    return self.parent_path().wstring();
}

bool SystemErrorText(unsigned code, std::wstring& text) {
    if (strerrorname_np(int(code)) == nullptr)
        return false;
    char buffer[256];
    const char* message = strerror_r(int(code), buffer, sizeof buffer);
    if (!message || !*message)
        return false;
    text = QString::fromLocal8Bit(message).toStdWString();
    return true;
}

std::wstring LocalDateLine() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    ScopedCLocale conventions;
    wchar_t buffer[128];
    const std::size_t length = std::wcsftime(buffer, sizeof buffer / sizeof buffer[0],
                                             L"%H:%M:%S %A, %B %d, %Y\n", &local);
    return std::wstring(buffer, length);
}
