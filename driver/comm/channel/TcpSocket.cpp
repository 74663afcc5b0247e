#include "driver/comm/channel/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "driver/comm/channel/WakeEvent.h"

int TcpSocket::Create() {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd_ < 0 ? errno : 0;
}

bool TcpSocket::SetReceiveBufferSize(int bytes) {
    return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool TcpSocket::SetNoDelay() {
    const int on = 1;
    return ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

int TcpSocket::StartConnect(const std::string& address, int port) {
    if (port < 0 || port > 65535) {
        return EINVAL;
    }
    const in_addr_t ip = ::inet_addr(address.c_str());
    // inet_addr cannot tell a bad text from the broadcast address; only the latter is
    // passed on to connect().
    if (ip == INADDR_NONE && address != "255.255.255.255") {
        return EADDRNOTAVAIL;
    }
    if (!SetNonBlocking()) {
        return errno;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = ip;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        return 0;
    }
    // An interrupted connect goes on in the background, like one in progress.
    return errno == EINTR ? EINPROGRESS : errno;
}

int TcpSocket::FinishConnect(int timeoutMs) {
    pollfd p{fd_, POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0) {
        return errno;
    }
    if (ready == 0) {
        return EINPROGRESS;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

bool TcpSocket::SetNonBlocking() {
    const int flags = ::fcntl(fd_, F_GETFL);
    return flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool TcpSocket::Shutdown() {
    if (fd_ < 0) {
        return true;
    }
    return ::shutdown(fd_, SHUT_RDWR) == 0 || errno == ENOTCONN;
}

bool TcpSocket::Close() {
    if (fd_ < 0) {
        return true;
    }
    // Linux releases the descriptor even when close() reports an error.
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

long TcpSocket::Receive(char* buffer, int size, bool* ended) {
    const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
    if (ended != nullptr) {
        *ended = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
    return n < 0 ? -1 : static_cast<long>(n);
}

long TcpSocket::Send(const char* data, int length, int* error) {
    const ssize_t n = ::send(fd_, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n < 0 && error != nullptr) {
        *error = errno;
    }
    return n < 0 ? -1 : static_cast<long>(n);
}

bool TcpSocket::IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool TcpSocket::WaitWritable(const WakeEvent& stop, int timeoutMs) {
    pollfd p[2] = {{fd_, POLLOUT, 0}, {stop.Handle(), POLLIN, 0}};
    if (::poll(p, 2, timeoutMs) <= 0) {
        return false;
    }
    return p[1].revents == 0 && p[0].revents != 0;
}

TcpSocket::Wake TcpSocket::Wait(bool watchSocket, const WakeEvent& stop, const WakeEvent& send,
                                int timeoutMs) {
    // A negative descriptor is skipped by poll().
    pollfd p[3] = {{watchSocket ? fd_ : -1, POLLIN, 0},
                   {stop.Handle(), POLLIN, 0},
                   {send.Handle(), POLLIN, 0}};
    Wake wake;
    if (::poll(p, 3, timeoutMs) > 0) {
        wake.readable = p[0].revents != 0;
        wake.stop = p[1].revents != 0;
        wake.send = p[2].revents != 0;
    }
    return wake;
}
