#include "host/qlnrun/EventStream.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

EventStream::~EventStream() {
    if (owned_)
        close(fd_);
}

bool EventStream::Open() {
    std::fflush(stdout);
    const int copy = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        return false;
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(copy);
        return false;
    }
    fd_ = copy;
    owned_ = true;
    return true;
}

bool EventStream::WriteLine(const std::string& line) {
    if (broken_)
        return false;
    const std::string text = line + '\n';
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = write(fd_, text.data() + done, text.size() - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Inherited a non-blocking descriptor: wait for room rather than lose events.
                pollfd room{fd_, POLLOUT, 0};
                if (poll(&room, 1, -1) >= 0)
                    continue;
            }
            broken_ = true;
            return false;
        }
        done += size_t(count);
    }
    return true;
}
