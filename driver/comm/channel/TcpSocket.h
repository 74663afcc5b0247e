#pragma once
// TcpSocket: the TCP client socket of CMMIO_IP. This file and WakeEvent are the only
// places where the TCP channel touches the platform's socket interface.
//
// The owner creates, configures and connects the socket on its own thread, then hands
// it to one reading thread, which waits, receives and sends; the owner may call
// Shutdown() meanwhile, and calls Close() only after that thread has ended.
// Failures are returned as the platform's error numbers (errno values); nothing throws,
// and no call ever raises SIGPIPE.

#include <string>

class WakeEvent;

class TcpSocket {
  public:
    // What ended a Wait(); several may be set at once.
    struct Wake {
        bool readable = false;  // data, end of stream or an error is waiting on the socket
        bool stop = false;
        bool send = false;
    };

    TcpSocket() = default;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    ~TcpSocket() { Close(); }

    // An IPv4 stream socket; 0 or the error number.
    int Create();
    bool IsValid() const { return fd_ >= 0; }
    bool SetReceiveBufferSize(int bytes);
    // Sends short writes at once instead of gathering them.
    bool SetNoDelay();
    // Starts connecting to a dotted-decimal IPv4 address (the classic inet_addr forms; no
    // name lookup) without waiting; the socket is non-blocking from then on. 0 when the
    // connection was made at once, EINPROGRESS while it is being made (FinishConnect() tells
    // the outcome), or the error number; a text that is no such address, or a port outside
    // 0..65535, fails with EADDRNOTAVAIL or EINVAL without any traffic.
    int StartConnect(const std::string& address, int port);
    // Waits up to timeoutMs (0: only looks) for the connection StartConnect() began: 0 once
    // it is made, EINPROGRESS while it is still being made, or the error number.
    int FinishConnect(int timeoutMs);
    bool SetNonBlocking();
    // Shuts both directions down; a connection the peer already ended counts as success.
    bool Shutdown();
    // Releases the descriptor; false when the platform reported an error (the descriptor
    // is gone either way).
    bool Close();

    // One read of at most size bytes: the count, or -1 when nothing could be read.
    // *ended is set when the peer closed the connection or it failed, so that waiting for
    // more data is pointless.
    long Receive(char* buffer, int size, bool* ended);
    // One send: the count sent, or -1 with *error set.
    long Send(const char* data, int length, int* error);
    // True for the errors after which a later Send may succeed.
    static bool IsWouldBlock(int error);
    // Waits up to timeoutMs until the socket takes more data; false on time-out or stop.
    bool WaitWritable(const WakeEvent& stop, int timeoutMs);
    // Waits up to timeoutMs for the socket (only when watchSocket), stop or send.
    Wake Wait(bool watchSocket, const WakeEvent& stop, const WakeEvent& send, int timeoutMs);

  private:
    int fd_ = -1;
};
