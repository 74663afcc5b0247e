#pragma once
// RawClient: a TCP client on plain POSIX sockets for driving VexServer in tests and
// benchmarks where Qt's socket classes hide what matters: the exact bytes sent, the
// receive buffer size, a reset instead of an orderly close (SO_LINGER 0), and sends
// that must never block the caller.
//
// The socket is non-blocking; every waiting call takes a deadline and returns false or
// an empty result when it passes. Lines are split at CR LF. One thread at a time; the
// descriptor is closed by the destructor. Only IPv4 literal addresses are accepted.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class RawClient {
  public:
    using Millis = std::chrono::milliseconds;

    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Connects to host:port; false on refusal, error or time-out. A receiveBuffer above 0
    // is set as SO_RCVBUF before the connect, which also stops the system from growing it.
    bool Connect(uint16_t port, Millis timeout, const char* host = "127.0.0.1",
                 int receiveBuffer = 0);
    bool IsOpen() const { return fd_ >= 0; }
    // This end's port; 0 when not connected.
    uint16_t LocalPort() const;
    int Descriptor() const { return fd_; }

    // Writes all bytes, waiting for room; false on error or time-out.
    bool SendAll(std::string_view bytes, Millis timeout);
    // Writes what fits now: bytes written, 0 when the socket takes nothing, -1 on error.
    long TrySend(std::string_view bytes);

    // The next line including its CR LF.
    std::optional<std::string> ReadLine(Millis timeout);
    // Sends `request` and returns the text part of the first line that ends in `code`,
    // skipping other lines (hit notices); empty when none came in time.
    std::optional<std::string> Ask(std::string_view request, int code, Millis timeout);
    // Reads whatever has arrived, without waiting, into the line buffer; the number of
    // bytes read. `ended` is set when the peer closed or reset the connection.
    long Drain(bool* ended = nullptr);
    // Everything read and not yet returned as a line.
    std::string& Buffer() {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
        return buffer_;
    }
    // Waits until the peer closes (end of stream or reset); data arriving is kept.
    bool WaitPeerClosed(Millis timeout);

    // Orderly close (FIN).
    void Close();
    // Closes with SO_LINGER 0, so the peer sees a reset and unsent data is discarded.
    void Reset();

  private:
    bool WaitFor(short events, Millis timeout);

    int fd_ = -1;
    std::string buffer_;
    std::size_t consumed_ = 0;  // bytes at the front of buffer_ already returned as lines
};
