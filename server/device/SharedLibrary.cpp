#include "server/device/SharedLibrary.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace SharedLibrary {
namespace {

constexpr int kMaxMessageLength = 200;

QString LastLoaderMessage(const QString& fallback) {
    const char* text = dlerror();
    const QString message = text != nullptr ? QString::fromLocal8Bit(text) : fallback;
    return message.left(kMaxMessageLength);
}

QStringList SearchDirectories() {
    QStringList dirs;
    if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
        // Empty entries would mean the current directory; a server started from an
        // arbitrary directory must not pick up a library lying around there.
        for (const QString& dir : QString::fromLocal8Bit(env).split(u':', Qt::SkipEmptyParts))
            dirs << dir;
    }
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        dirs << QString::fromStdString(exe.parent_path().string());
    return dirs;
}

}  // namespace

QString PlatformFileName(const QString& name) {
    if (name.contains(u'/'))
        return name;
    if (name.endsWith(QLatin1String(".dll"), Qt::CaseInsensitive))
        return QLatin1String("lib") + name.chopped(4) + QLatin1String(".so");
    return name;
}

QString Locate(const QString& name) {
    const QString fileName = PlatformFileName(name);
    if (fileName.contains(u'/'))
        return fileName;
    for (const QString& dir : SearchDirectories()) {
        const QString candidate = QDir(dir).filePath(fileName);
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return fileName;
}

Handle Load(const QString& name, QString* systemMessage) {
    dlerror();
    Handle handle = dlopen(QFile::encodeName(Locate(name)).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && systemMessage != nullptr)
        *systemMessage = LastLoaderMessage(QStringLiteral("cannot load the library"));
    return handle;
}

void* Symbol(Handle handle, const char* name, QString* systemMessage) {
    dlerror();
    void* symbol = dlsym(handle, name);
    // A symbol whose value is null is as useless as a missing one for an entry point.
    if (symbol == nullptr && systemMessage != nullptr)
        *systemMessage = LastLoaderMessage(QStringLiteral("entry point not found"));
    return symbol;
}

void Unload(Handle handle) {
    if (handle != nullptr)
        dlclose(handle);
}

}  // namespace SharedLibrary
