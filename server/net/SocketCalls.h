#pragma once
// The few system socket calls the server makes beside Qt's socket classes: handing a line
// to the system without a detour through Qt's write buffer, looking whether a peer has
// already ended its connection, and closing a descriptor that is never wrapped. All take
// the descriptor of a connected stream socket; none blocks. Any thread.

#include <QtGlobal>

namespace socketcalls {

// Sends what the system takes now: the bytes sent, 0 when it takes nothing (the socket's
// buffer is full), -1 on an error (the socket's owner learns of it in its own way).
qint64 SendWithoutWaiting(qintptr descriptor, const char* data, qint64 size);

// Whether the peer has closed or reset the connection, as far as the system knows.
bool PeerHasEnded(qintptr descriptor);

void CloseDescriptor(qintptr descriptor);

}  // namespace socketcalls
