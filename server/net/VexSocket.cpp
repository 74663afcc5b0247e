#include "server/net/VexSocket.h"

#include <QPointer>
#include <QTimer>
#include <thread>

#include "server/app/MessageBox.h"
#include "server/net/SocketCalls.h"
#include "server/net/VexApp.h"
#include "server/net/VexMessage.h"
#include "server/net/VexProtocol.h"
#include "server/net/VexRequestHandler.h"
#include "server/net/VexServerSocket.h"

VexSocket::VexSocket(VexApp* app, QObject* parent)
    : QTcpSocket(parent),
      app_(app),
      receiveBuffer_(std::make_unique<char[]>(vexproto::kReceiveBufferSize)) {
    setReadBufferSize(vexproto::kReceiveBufferSize - 1);
    connect(this, &QTcpSocket::readyRead, this, &VexSocket::OnReceive);
    connect(this, &QTcpSocket::disconnected, this, &VexSocket::OnClose);
    connect(this, &QTcpSocket::errorOccurred, this, &VexSocket::OnError);
}

VexSocket::~VexSocket() {
    // QAbstractSocket's own destructor would report the close through our handlers
    // after this part of the object is gone.
    QObject::disconnect(this, nullptr, nullptr, nullptr);
    abort();
}

void VexSocket::SetServerSocket(VexServerSocket* server) {
    serverSocket_ = server;
    if (server)
        lastRequest_.start();
    // Data that arrived while the connection waited in the queue is one receive, handled
    // after the greeting has gone out.
    if (server && bytesAvailable() > 0)
        QTimer::singleShot(0, this, &VexSocket::OnReceive);
}

void VexSocket::Send(int code, const QByteArray& text) {
    const QByteArray line = VexMessage(text, code).Line();
    // Nothing waits in Qt's buffer (the usual case): the line goes to the system at once.
    // Through the buffer it would cost switching the socket's write notification on and
    // off again, which is much of what a request costs the server.
    if (state() == ConnectedState && bytesToWrite() == 0) {
        const qint64 sent =
            socketcalls::SendWithoutWaiting(socketDescriptor(), line.constData(), line.size());
        if (sent == line.size()) {
            stalled_ = false;
            return;
        }
        if (sent > 0) {
            // The rest follows through the buffer, whatever its size: never part of a line.
            stalled_ = false;
            write(line.constData() + sent, line.size() - sent);
            flush();
            return;
        }
        // The system takes nothing now (or failed, which Qt reports on its own): the
        // buffered path below waits or drops as for a client that does not read.
    }
    for (int attempt = 1;; ++attempt) {
        if (state() != ConnectedState) {
            ++droppedLines_;
            return;
        }
        flush();  // hands the system what it takes now; never waits
        if (state() != ConnectedState) {
            ++droppedLines_;
            return;
        }
        if (bytesToWrite() + line.size() <= vexproto::kSendBacklogLimit) {
            stalled_ = false;
            if (write(line) != line.size())
                ++droppedLines_;
            flush();
            return;
        }
        // Would block: the client does not read.
        if (stalled_ || attempt >= vexproto::kSendTries) {
            stalled_ = true;
            ++droppedLines_;
            return;
        }
        std::this_thread::sleep_for(vexproto::kSendRetryInterval);
    }
}

void VexSocket::OnReceive() {
    if (!serverSocket_ || ended_)
        return;
    const qint64 n = read(receiveBuffer_.get(), vexproto::kReceiveBufferSize - 1);
    if (n > 0) {
        receiveBuffer_[n] = '\0';
        QByteArray text(receiveBuffer_.get(), n);
        if (VexRequestHandler::IsRequest(VexRequestHandler::RequestText(text)))
            lastRequest_.start();
        QPointer<VexSocket> self(this);
        app_->OnMessage(VexMessage(std::move(text), 0));
        // Qt announces new data only once; what is still buffered is the next receive.
        if (self && !ended_ && bytesAvailable() > 0)
            QTimer::singleShot(0, this, &VexSocket::OnReceive);
        return;
    }
    if (state() == ConnectedState) {
        // Nothing buffered is a would-block; a failed read on a live connection is an error.
        if (n < 0)
            CloseAfterFailure(vexproto::kSocketErrorText);
        return;
    }
    // The stream ended under a receive without the close being reported first.
    CloseAfterFailure(vexproto::kZeroBytesText);
}

void VexSocket::OnClose() {
    if (!serverSocket_ || ended_)
        return;
    ended_ = true;
    EndConnection();
}

void VexSocket::OnError(QAbstractSocket::SocketError error) {
    // The client's close (end of stream or reset) continues with disconnected.
    if (!serverSocket_ || ended_ || error == RemoteHostClosedError)
        return;
    CloseAfterFailure(vexproto::kSocketErrorText);
}

void VexSocket::CloseIdle() {
    if (!serverSocket_ || ended_)
        return;
    ended_ = true;
    EndConnection();
}

void VexSocket::CloseAfterFailure(const char* text) {
    ended_ = true;
    QPointer<VexSocket> self(this);
    ShowMessageBox(QString::fromLatin1(text));
    // An interactive box runs a nested event loop; the server may have been stopped
    // (and this socket deleted) before the user answered.
    if (self)
        EndConnection();
}

void VexSocket::EndConnection() {
    QObject::disconnect(this, nullptr, this, nullptr);
    abort();
    app_->OnClientDisconnected();
    if (serverSocket_)
        serverSocket_->ReleaseClient(this);
}
