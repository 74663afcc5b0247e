#pragma once
// CMMIO_IP: the TCP client channel to the position server or a networked controller.
//
// Construct it with a dotted-decimal IPv4 address (no name lookup: "LOCALHOST" must be
// turned into 127.0.0.1 by the caller) and a port, then Open(). While open, one receive
// thread owns the socket: it waits on the socket, a stop event and a send event (waking
// at least every 100 ms), queues every received line and sends the blocks that Write()
// queued, in the order of the Write() calls. Write() therefore never blocks on the
// network. A server that closes the connection leaves the channel open and silent; the
// channel then reports ConnectionLost().
//
// Ownership: the channel owns its socket, events, thread and both queues; Write() copies
// the caller's bytes. Close() and the destructor stop and join the thread, then release
// the socket, the events and every queued block and message.
//
// Connecting never waits without bound: Open() gives up after kConnectTimeoutMs (an address
// that does not answer, a server whose accept queue is full), and BeginOpen() with
// FinishOpen() let an owner that must stay responsive make the connection step by step.
//
// Failure: Open() returns kOpenFailed and leaves the channel closed, with the error text
// and an open error such as "SOURCE_OPEN_SOCKET_ERROR-111" (the platform's error number,
// here a refused connection; 110 when the connection was not made in time). A block that
// cannot be sent is recorded in the error text; the next block is sent normally.

#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "driver/comm/channel/CMMIO.h"
#include "driver/comm/channel/TcpSocket.h"
#include "driver/comm/channel/WakeEvent.h"

class CMMIO_IP : public CMMIO {
  public:
    // Size of the socket's receive buffer and of each read.
    static constexpr int kReceiveBufferSize = 16000;
    // Longest sleep of the receive thread between two looks at the socket.
    static constexpr int kWaitTimeoutMs = 100;
    // How long Open() waits for the connection to be made.
    static constexpr int kConnectTimeoutMs = 3000;
    // Result of BeginOpen() and FinishOpen() while the connection is still being made.
    static constexpr int kOpenPending = 1;

    CMMIO_IP(std::wstring hostAddress, int port);
    ~CMMIO_IP() override;

    // Stops the receive thread and releases everything; returns 1.
    int Close() override;
    // Connects (an open channel first drops its connection), waiting at most
    // kConnectTimeoutMs; 0 or kOpenFailed.
    int Open() override;
    // The same with another bound (at least 1 ms).
    int OpenWithin(int timeoutMs);
    // Starts connecting without waiting (an open channel first drops its connection):
    // 0 when connected at once, kOpenPending, or kOpenFailed.
    int BeginOpen();
    // Waits up to waitMs (0: only looks) for the connection BeginOpen() started: 0 once
    // open, kOpenPending while it is still being made, kOpenFailed when it failed. Close()
    // gives up a pending connection.
    int FinishOpen(int waitMs);
    // Queues a copy of the bytes for the receive thread to send; returns 0 at once.
    int Write(const char* data, int length, int reserved) override;
    // True once connected, not while the connection is being made.
    bool IsOpen() override;
    const std::wstring& HostAddress() const { return hostAddress_; }
    int Port() const { return port_; }

  protected:
    void ResetState() override;

  private:
    int ConnectFailed(int error);
    int StartReceiving();
    // Stops and joins the receive thread and releases socket and events; false when
    // the socket could not be shut down or closed cleanly.
    bool Disconnect();
    void ReceiveLoop();
    void SendQueued();
    void SendBlock(const std::string& block);

    std::wstring hostAddress_;
    int port_ = 0;
    bool open_ = false;
    bool connecting_ = false;  // StartConnect() is under way
    std::thread receiveThread_;
    std::mutex sendLock_;
    std::deque<std::string> sendQueue_;  // guarded by sendLock_
    WakeEvent stopEvent_;
    WakeEvent sendEvent_;
    TcpSocket socket_;
};
