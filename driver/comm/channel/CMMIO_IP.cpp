#include "driver/comm/channel/CMMIO_IP.h"

#include <system_error>
#include <vector>

#include "driver/comm/channel/AnsiText.h"

namespace {

// How long one send waits for room in a full socket buffer before the rest of its
// block is given up.
constexpr int kSendWaitMs = 100;

std::wstring SocketErrorCode(int error) {
    return L"SOURCE_OPEN_SOCKET_ERROR-" + std::to_wstring(error);
}

}  // namespace

CMMIO_IP::CMMIO_IP(std::wstring hostAddress, int port) {
    CMMIO_IP::ResetState();
    hostAddress_ = std::move(hostAddress);
    port_ = port;
}

CMMIO_IP::~CMMIO_IP() {
    CMMIO_IP::Close();
}

void CMMIO_IP::ResetState() {
    CMMIO::ResetState();
    hostAddress_.clear();
    port_ = 0;
    open_ = false;
}

bool CMMIO_IP::IsOpen() {
    return socket_.IsValid() && !connecting_;
}

int CMMIO_IP::Open() {
    return OpenWithin(kConnectTimeoutMs);
}

int CMMIO_IP::OpenWithin(int timeoutMs) {
    int result = BeginOpen();
    if (result == kOpenPending) {
        result = FinishOpen(timeoutMs > 0 ? timeoutMs : 1);
    }
    if (result == kOpenPending) {
        result = ConnectFailed(static_cast<int>(std::errc::timed_out));
    }
    return result;
}

int CMMIO_IP::BeginOpen() {
    if (socket_.IsValid() || receiveThread_.joinable()) {
        connecting_ = false;
        if (!Disconnect()) {
            SetError(L"Couldn't close TCP Socket");
            SetOpenError(L"Init: Couldn't close socket! ");
            return kOpenFailed;
        }
    }

    if (socket_.Create() != 0) {
        SetError(L"Init: Couldn't create socket! ");
        SetOpenError(L"Init: Couldn't create socket! ");
        return kOpenFailed;
    }
    socket_.SetReceiveBufferSize(kReceiveBufferSize);
    socket_.SetNoDelay();

    const int error = socket_.StartConnect(NarrowToAnsi(hostAddress_), port_);
    if (error == static_cast<int>(std::errc::operation_in_progress)) {
        connecting_ = true;
        return kOpenPending;
    }
    return error != 0 ? ConnectFailed(error) : StartReceiving();
}

int CMMIO_IP::FinishOpen(int waitMs) {
    if (!connecting_) {
        return IsOpen() ? 0 : kOpenFailed;
    }
    const int error = socket_.FinishConnect(waitMs);
    if (error == static_cast<int>(std::errc::operation_in_progress)) {
        return kOpenPending;
    }
    connecting_ = false;
    return error != 0 ? ConnectFailed(error) : StartReceiving();
}

int CMMIO_IP::ConnectFailed(int error) {
    connecting_ = false;
    socket_.Close();
    SetError(L"Init: Couldn't connect to " + hostAddress_ + L" ! ");
    SetOpenError(SocketErrorCode(error));
    return kOpenFailed;
}

int CMMIO_IP::StartReceiving() {
    int error = stopEvent_.Create();
    if (error == 0) {
        error = sendEvent_.Create();
    }
    if (error == 0) {
        DiscardPartialLine();
        ClearConnectionLost();
        try {
            receiveThread_ = std::thread(&CMMIO_IP::ReceiveLoop, this);
        } catch (const std::system_error& e) {
            error = e.code().value();
        }
    }
    if (error != 0) {
        socket_.Close();
        stopEvent_.Close();
        sendEvent_.Close();
        SetError(L"Init: Couldn't create socket! ");
        SetOpenError(SocketErrorCode(error));
        return kOpenFailed;
    }
    open_ = true;
    return 0;
}

bool CMMIO_IP::Disconnect() {
    // Shutting down first makes the server see the end at once; the stop event then
    // ends the thread, which is joined before anything it uses goes away.
    bool ok = socket_.Shutdown();
    stopEvent_.Signal();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
    ok = socket_.Close() && ok;
    stopEvent_.Close();
    sendEvent_.Close();
    return ok;
}

int CMMIO_IP::Close() {
    connecting_ = false;
    if (socket_.IsValid() || receiveThread_.joinable()) {
        Disconnect();
    }
    if (open_) {
        ClearReceiveQueue();
        open_ = false;
    }
    std::lock_guard lock(sendLock_);
    sendQueue_.clear();
    return 1;
}

int CMMIO_IP::Write(const char* data, int length, int reserved) {
    if (data == nullptr || length <= 0) {
        return 0;
    }
    if (!IsOpen()) {
        SetError(L"CMMIO_IP : Writing " + std::to_wstring(length) + L" char failed !!! ERROR-" +
                 std::to_wstring(static_cast<int>(std::errc::not_connected)));
        return 0;
    }
    {
        std::lock_guard lock(sendLock_);
        sendQueue_.emplace_back(data, static_cast<size_t>(length));
    }
    sendEvent_.Signal();
    return 0;
}

void CMMIO_IP::ReceiveLoop() {
    std::vector<char> buffer(kReceiveBufferSize);
    // Cleared once the server has closed the connection: the socket then stays readable
    // for ever, and the thread falls back to looking every kWaitTimeoutMs.
    bool watchSocket = true;
    for (;;) {
        const TcpSocket::Wake wake =
            socket_.Wait(watchSocket, stopEvent_, sendEvent_, kWaitTimeoutMs);
        if (wake.stop) {
            return;
        }
        if (wake.send) {
            // Reset before draining: a block queued meanwhile signals again.
            sendEvent_.Reset();
            SendQueued();
        }
        bool ended = false;
        const long n = socket_.Receive(buffer.data(), kReceiveBufferSize, &ended);
        if (ended && watchSocket) {
            watchSocket = false;
            NoteConnectionLost();
        }
        OnDataReceived(buffer.data(), static_cast<int>(n), false);
    }
}

void CMMIO_IP::SendQueued() {
    for (;;) {
        std::string block;
        {
            // The lock is held only to unlink the block, so Write() never waits for the
            // network.
            std::lock_guard lock(sendLock_);
            if (sendQueue_.empty()) {
                return;
            }
            block = std::move(sendQueue_.front());
            sendQueue_.pop_front();
        }
        SendBlock(block);
    }
}

void CMMIO_IP::SendBlock(const std::string& block) {
    const long size = static_cast<long>(block.size());
    long sent = 0;
    int error = 0;
    // A full socket buffer takes part of a block; the rest follows as soon as there is
    // room, so the server never sees half a command followed by the next one.
    while (sent < size) {
        const long n = socket_.Send(block.data() + sent, static_cast<int>(size - sent), &error);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && !TcpSocket::IsWouldBlock(error)) {
            break;
        }
        if (!socket_.WaitWritable(stopEvent_, kSendWaitMs)) {
            break;
        }
    }
    if (sent != size) {
        SetError(L"CMMIO_IP : Writing " + std::to_wstring(size) + L" char failed !!! ERROR-" +
                 std::to_wstring(error));
    }
}
