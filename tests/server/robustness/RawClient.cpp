#include "tests/server/robustness/RawClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : int(left.count());
}

}  // namespace

RawClient::~RawClient() {
    Close();
}

bool RawClient::Connect(uint16_t port, Millis timeout, const char* host, int receiveBuffer) {
    Close();
    buffer_.clear();
    consumed_ = 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host, &address.sin_addr) != 1)
        return false;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS || !WaitFor(POLLOUT, timeout)) {
        Close();
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        Close();
        return false;
    }
    return true;
}

uint16_t RawClient::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool RawClient::WaitFor(short events, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pollfd p{fd_, events, 0};
        const int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

long RawClient::TrySend(std::string_view bytes) {
    if (fd_ < 0)
        return -1;
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0)
        return long(n);
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

bool RawClient::SendAll(std::string_view bytes, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        const long n = TrySend(bytes);
        if (n < 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
        if (!bytes.empty() && !WaitFor(POLLOUT, Millis(RemainingMs(deadline))))
            return false;
    }
    return true;
}

long RawClient::Drain(bool* ended) {
    long total = 0;
    char chunk[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            buffer_.append(chunk, std::size_t(n));
            total += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (ended && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)))
            *ended = true;
        break;
    }
    return total;
}

std::optional<std::string> RawClient::ReadLine(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = buffer_.find("\r\n", consumed_);
        if (end != std::string::npos) {
            std::string line = buffer_.substr(consumed_, end + 2 - consumed_);
            consumed_ = end + 2;
            // Lines are taken from the front; moving the rest once per 64 KiB keeps reading
            // a large backlog linear.
            if (consumed_ >= 65536)
                Buffer();
            return line;
        }
        bool ended = false;
        if (Drain(&ended) > 0)
            continue;
        if (ended || !WaitFor(POLLIN, Millis(RemainingMs(deadline))))
            return std::nullopt;
    }
}

std::optional<std::string> RawClient::Ask(std::string_view request, int code, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    if (!SendAll(request, timeout))
        return std::nullopt;
    const std::string tail = " ) " + std::to_string(code) + "\r\n";
    while (auto line = ReadLine(Millis(RemainingMs(deadline)))) {
        if (line->size() >= 2 + tail.size() && line->starts_with("( ") && line->ends_with(tail))
            return line->substr(2, line->size() - 2 - tail.size());
    }
    return std::nullopt;
}

bool RawClient::WaitPeerClosed(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        bool ended = false;
        Drain(&ended);
        if (ended)
            return true;
        if (!WaitFor(POLLIN, Millis(RemainingMs(deadline))))
            return false;
    }
}

void RawClient::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void RawClient::Reset() {
    if (fd_ < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}
