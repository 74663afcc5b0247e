#include "server/net/SocketCalls.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace socketcalls {

qint64 SendWithoutWaiting(qintptr descriptor, const char* data, qint64 size) {
    for (;;) {
        const ssize_t n = ::send(int(descriptor), data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool PeerHasEnded(qintptr descriptor) {
    char byte;
    const ssize_t n = ::recv(int(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void CloseDescriptor(qintptr descriptor) {
    ::close(int(descriptor));
}

}  // namespace socketcalls
