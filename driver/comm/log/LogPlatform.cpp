#include "driver/comm/log/LogPlatform.h"

#include <string.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <ctime>
#include <cwchar>
#include <filesystem>

#include "common/ProductVersion.h"
#include "driver/comm/log/WideFormat.h"

std::vector<std::wstring> LogFileFolders() {
    std::vector<std::wstring> folders;
    std::error_code error;
    const std::filesystem::path working = std::filesystem::current_path(error);
    if (!error)
        folders.push_back(working.wstring());
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    state += QLatin1Char('/') + QLatin1String(kProductName);
    QDir().mkpath(state);
    folders.push_back(state.toStdWString());
    return folders;
}

std::FILE* CreateLogFile(const std::wstring& path, std::wstring& reason) {
    const QByteArray name = QFile::encodeName(QString::fromStdWString(path));
    // The previous session's file (or the first part of this one) stays for a look back.
    std::rename(name.constData(), (name + ".1").constData());
    std::FILE* file = std::fopen(name.constData(), "w");
    if (!file && !SystemErrorText(unsigned(errno), reason))
        reason = L"unknown error";
    return file;
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
