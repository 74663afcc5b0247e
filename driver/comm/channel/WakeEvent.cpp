#include "driver/comm/channel/WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

int WakeEvent::Create() {
    Close();
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd_ < 0 ? errno : 0;
}

void WakeEvent::Signal() const {
    if (fd_ >= 0) {
        const std::uint64_t one = 1;
        // Only fails when the counter is saturated, which leaves it signalled anyway.
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

void WakeEvent::Reset() const {
    if (fd_ >= 0) {
        std::uint64_t count = 0;
        // Reading zeroes the counter; EAGAIN means it was not signalled.
        [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
    }
}

bool WakeEvent::Wait(int timeoutMs) const {
    if (fd_ < 0) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

void WakeEvent::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
