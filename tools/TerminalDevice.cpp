#include "tools/TerminalDevice.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tool {

namespace {

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    if (!link_.isEmpty())
        QFile::remove(link_);
    if (device_ >= 0)
        ::close(device_);
    if (control_ >= 0)
        ::close(control_);
}

bool PseudoTerminal::Open(QString* error, const QString& link) {
    control_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (control_ < 0 || ::grantpt(control_) != 0 || ::unlockpt(control_) != 0) {
        *error = "cannot create a pseudo-terminal: " + SystemText(errno);
        return false;
    }
    devicePath_ = ::ptsname(control_);
    device_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (device_ < 0 || ::tcgetattr(device_, &raw) != 0) {
        *error = QString("cannot open %1: %2").arg(devicePath_.c_str(), SystemText(errno));
        return false;
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(device_, TCSANOW, &raw) != 0) {
        *error = QString("cannot make %1 raw: %2").arg(devicePath_.c_str(), SystemText(errno));
        return false;
    }
    if (!link.isEmpty()) {
        QFile::remove(link);  // a link left by an earlier run
        if (!QFile::link(QString::fromStdString(devicePath_), link)) {
            *error = QString("cannot make the link %1").arg(link);
            return false;
        }
        link_ = link;
    }
    return true;
}

int PseudoTerminal::Read(char* buffer, int capacity) {
    const ssize_t n = ::read(control_, buffer, size_t(capacity));
    if (n >= 0)
        return int(n);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

bool PseudoTerminal::Write(const char* data, int length) {
    int done = 0;
    while (done < length) {
        const ssize_t n = ::write(control_, data + done, size_t(length - done));
        if (n > 0) {
            done += int(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd writable{control_, POLLOUT, 0};
            ::poll(&writable, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

std::optional<QString> TerminalDeviceProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return QString("%1: %2").arg(path.c_str(), SystemText(errno));
    // Opened as the driver opens it, and closed again at once; nothing is written.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        QString text = QString("cannot open %1: %2").arg(path.c_str(), SystemText(error));
        if (error == EACCES)
            text += " (on Debian: add the user to the device's group, e.g. dialout)";
        if (error == EBUSY)
            text += " (another program holds it)";
        return text;
    }
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    if (!terminal)
        return QString("%1 is not a serial device (not a terminal)").arg(path.c_str());
    return std::nullopt;
}

}  // namespace tool
