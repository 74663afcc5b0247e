#include "driver/volcomp/DataFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

DataFileOpen OpenDataFile(const QString& path, QFile& file) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (name.isEmpty() || ::stat(name.constData(), &info) != 0)
        return DataFileOpen::kMissing;
    // Checked before opening: opening a FIFO for reading waits for a writer, and opening
    // some devices already does something (a serial port raises its lines).
    if (!S_ISREG(info.st_mode))
        return DataFileOpen::kNotRegular;
    // Should the name have been replaced meanwhile, O_NONBLOCK keeps the open from waiting
    // and the second check refuses what was opened. Reads of a regular file never block.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return DataFileOpen::kMissing;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return DataFileOpen::kNotRegular;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return DataFileOpen::kMissing;
    }
    return DataFileOpen::kOpened;
}

std::wstring NotRegularFileText(const QString& path) {
    return (path + QStringLiteral(" is not a regular file")).toStdWString();
}
