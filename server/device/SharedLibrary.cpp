#include "server/device/SharedLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdlib>

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
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' dlopen interceptor loads as if called from their runtime, which lacks
    // the program's $ORIGIN run path; a sanitizer build (never installed) looks beside the
    // program itself, where that run path would have found the stand-in libraries.
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!program.isEmpty())
        dirs << QFileInfo(program).absolutePath();
#endif
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

QString LoadedPath(Handle handle) {
    link_map* map = nullptr;
    if (handle == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr || map->l_name[0] == '\0')
        return {};
    // Links resolved: the file itself, as an operator comparing libraries needs it.
    const QFileInfo file(QFile::decodeName(map->l_name));
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical;
}

}  // namespace SharedLibrary
