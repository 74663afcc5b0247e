#include "driver/volcomp/dea/LibraryLoader.h"

#include <dlfcn.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace LibraryLoader {

namespace {

std::string Local8Bit(const std::wstring& text) {
    return QString::fromStdWString(text).toLocal8Bit().toStdString();
}

bool EndsWithDll(const std::wstring& name) {
    if (name.size() < 4)
        return false;
    return QString::fromStdWString(name.substr(name.size() - 4))
               .compare(QLatin1String(".dll"), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::string PlatformFileName(const std::wstring& name) {
    if (name.find(L'/') != std::wstring::npos || !EndsWithDll(name))
        return Local8Bit(name);
    return "lib" + Local8Bit(name.substr(0, name.size() - 4)) + ".so";
}

std::vector<std::string> SearchDirectories() {
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
        // An empty entry would mean the current directory; a driver running in whatever
        // folder the host was started from must not pick up a library lying around there.
        const std::string list(env);
        std::size_t begin = 0;
        while (begin <= list.size()) {
            const std::size_t end = std::min(list.find(':', begin), list.size());
            if (end > begin)
                dirs.push_back(list.substr(begin, end - begin));
            begin = end + 1;
        }
    }
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        dirs.push_back(exe.parent_path().string());
    return dirs;
}

std::string Locate(const std::wstring& name) {
    const std::string fileName = PlatformFileName(name);
    if (fileName.find('/') != std::string::npos)
        return fileName;
    for (const std::string& dir : SearchDirectories()) {
        const std::filesystem::path candidate = std::filesystem::path(dir) / fileName;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return fileName;
}

Handle Load(const std::wstring& name, LoadError* error) {
    dlerror();
    errno = 0;
    Handle handle = dlopen(Locate(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        error->code = errno;
        const char* text = dlerror();
        error->text =
            QString::fromLocal8Bit(text ? text : "cannot load the library").toStdWString();
    }
    return handle;
}

void* Symbol(Handle handle, const char* name) {
    return handle ? dlsym(handle, name) : nullptr;
}

}  // namespace LibraryLoader
