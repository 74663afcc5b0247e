#include "driver/comm/channel/SerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "driver/comm/channel/WakeEvent.h"

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedCode(int baud) {
    static constexpr std::pair<int, speed_t> kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            return code;
        }
    }
    return B0;
}

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Milliseconds left until deadline, at least 0.
int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    // Device numbers of the pseudo-terminal device sides.
    const unsigned int major = ::major(info.st_rdev);
    return major >= 136 && major <= 143;
}

bool IsRetryable(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

bool SerialPort::SupportsBaudRate(int baud) {
    return SpeedCode(baud) != B0;
}

std::string SerialPort::DevicePath(int portNumber) {
    const std::string variable = "TACTUS_COM" + std::to_string(portNumber);
    if (const char* redirect = std::getenv(variable.c_str()); redirect && *redirect) {
        return redirect;
    }
    if (portNumber < 1) {
        return {};
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

int SerialPort::Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return errno;
    }
    // Not shared: further opens of the device fail while we hold it (terminals only).
    ::ioctl(fd_, TIOCEXCL);
    return 0;
}

std::string SerialPort::OpenFailureReason(const std::string& path, int error) {
    std::string reason = std::strerror(error);
    if (error != EACCES && error != EPERM) {
        return reason;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return reason;
    }
    const group* owner = ::getgrgid(info.st_gid);
    const std::string name = owner ? owner->gr_name : std::to_string(info.st_gid);
    return reason + "; the user must be in the group \"" + name + "\" that owns " + path;
}

void SerialPort::Close() {
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

bool SerialPort::Apply(const PortSettings& settings, int handshake) {
    const speed_t speed = SpeedCode(settings.baudRate);
    termios t{};
    if (fd_ < 0 || speed == B0 || ::tcgetattr(fd_, &t) != 0) {
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(settings.dataBits);
    switch (settings.parity) {
        case Parity::kNone:
            break;
        case Parity::kOdd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::kEven:
            t.c_cflag |= PARENB;
            break;
        case Parity::kMark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case Parity::kSpace:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // The terminal interface has one "two stop bits" flag; with 5 data bits the UART
    // turns it into 1.5.
    if (settings.stopBits != StopBits::kOne) {
        t.c_cflag |= CSTOPB;
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    int raise = TIOCM_DTR | TIOCM_RTS;
    int lower = 0;
    if (handshake == 1) {
        t.c_cflag |= CRTSCTS;
        raise = TIOCM_DTR;
    } else if (handshake == 2) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
        raise = 0;
        lower = TIOCM_DTR | TIOCM_RTS;
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) {
        return false;
    }
    // A pseudo-terminal has no framing of its own and always keeps 8 data bits without
    // parity; the C library reports that as EINVAL although everything else was set.
    if (::tcsetattr(fd_, TCSANOW, &t) != 0 && !(errno == EINVAL && IsPseudoTerminal(fd_))) {
        return false;
    }
    // Modem lines are best effort: pseudo-terminals and some adapters have none.
    if (raise != 0) {
        ::ioctl(fd_, TIOCMBIS, &raise);
    }
    if (lower != 0) {
        ::ioctl(fd_, TIOCMBIC, &lower);
    }
    return true;
}

int SerialPort::Read(char* buffer, int maximum) {
    if (fd_ < 0 || maximum <= 0) {
        return -1;
    }
    const int totalMs = timeouts_.readTotalMultiplierMs * maximum + timeouts_.readTotalConstantMs;
    const auto start = Clock::now();
    const auto totalDeadline = start + std::chrono::milliseconds(totalMs);
    auto lastByte = start;
    int count = 0;
    while (count < maximum) {
        const ssize_t n = ::read(fd_, buffer + count, static_cast<size_t>(maximum - count));
        if (n > 0) {
            count += static_cast<int>(n);
            lastByte = Clock::now();
            continue;
        }
        if (n == 0 || !IsRetryable(errno)) {
            return count > 0 ? count : -1;
        }
        // Nothing waiting: wait for more within the time-outs. Without any limit, return
        // what has arrived rather than block a reader that must stay stoppable.
        int waitMs = -1;
        if (totalMs > 0) {
            waitMs = MsLeft(totalDeadline);
        }
        if (timeouts_.readIntervalMs > 0 && count > 0) {
            const int intervalLeft =
                MsLeft(lastByte + std::chrono::milliseconds(timeouts_.readIntervalMs));
            waitMs = waitMs < 0 ? intervalLeft : std::min(waitMs, intervalLeft);
        }
        if (waitMs <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) == 0) {
            break;
        }
    }
    return count;
}

int SerialPort::Write(const char* data, int length) {
    if (fd_ < 0) {
        return -1;
    }
    const int totalMs = timeouts_.writeTotalMultiplierMs * length + timeouts_.writeTotalConstantMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    int count = 0;
    while (count < length) {
        const ssize_t n = ::write(fd_, data + count, static_cast<size_t>(length - count));
        if (n > 0) {
            count += static_cast<int>(n);
            continue;
        }
        if (n < 0 && !IsRetryable(errno)) {
            return count > 0 ? count : -1;
        }
        const int waitMs = totalMs > 0 ? MsLeft(deadline) : -1;
        if (waitMs == 0) {
            break;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, waitMs) == 0) {
            break;
        }
    }
    return count;
}

SerialPort::Wake SerialPort::WaitForInput(const WakeEvent& stop, int timeoutMs) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stop.Handle(), POLLIN, 0}};
    if (::poll(p, 2, timeoutMs) <= 0) {
        return Wake::kTimeout;
    }
    if (p[1].revents != 0) {
        return Wake::kStop;
    }
    if ((p[0].revents & POLLIN) != 0) {
        return Wake::kReadable;
    }
    return p[0].revents != 0 ? Wake::kLineError : Wake::kTimeout;
}
