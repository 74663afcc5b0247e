#include "host/qlnrun/DriverLibrary.h"

#include <dlfcn.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "common/InstallLayout.h"

namespace {

template <typename Function>
void resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
}

}  // namespace

QString DriverLibrary::DefaultFile() {
    const QDir programs(QCoreApplication::applicationDirPath());
    const QString beside = programs.filePath(QStringLiteral("libTactus.so"));
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(programs.filePath(QString::fromLatin1(kPrivateLibraryDirFromPrograms) +
                                             QStringLiteral("/libTactus.so")));
}

bool DriverLibrary::Load(const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    // RTLD_NOW: a driver that misses a host service fails here, with the name, not later.
    void* handle = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error_ = QStringLiteral("Cannot load the driver library:\n%1")
                     .arg(reason ? QString::fromLocal8Bit(reason) : path);
        return false;
    }
    resolve(handle, "driver_initialize", initialize);
    resolve(handle, "driver_close", close);
    resolve(handle, "driver_read_position", readPosition);
    resolve(handle, "driver_measure_point", measurePoint);
    resolve(handle, "driver_manual_hit", manualHit);
    resolve(handle, "driver_begin_manual_scan", beginManualScan);
    resolve(handle, "driver_end_manual_scan", endManualScan);
    resolve(handle, "driver_stop_probe", stopProbe);
    resolve(handle, "driver_cmm_setup_dialog", setupDialog);
    const char* missing = initialize == nullptr ? "driver_initialize"
                          : close == nullptr    ? "driver_close"
                                                : nullptr;
    if (missing != nullptr) {
        error_ = QStringLiteral("The driver library %1 lacks an entry point:\n%2")
                     .arg(path, QLatin1String(missing));
        dlclose(handle);
        initialize = nullptr;
        close = nullptr;
        return false;
    }
    return true;
}
