#include "server/net/VexServerSocket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>
#include <cstdio>

#include "server/net/SocketCalls.h"
#include "server/net/VexApp.h"
#include "server/net/VexSocket.h"

namespace {

// "address (port)", with IPv4 peers of a dual-stack socket shown in dotted decimal.
QString EndpointName(const QHostAddress& address, quint16 port) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    const QString text = isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
    return QStringLiteral("%1 (%2)").arg(text).arg(port);
}

// Whether the peer of a connection has closed or reset it, as far as the system knows
// already: Qt learns of it only when the event loop next runs the socket's notifier.
bool PeerGone(const QAbstractSocket* socket) {
    return socket == nullptr || socket->state() != QAbstractSocket::ConnectedState ||
           socketcalls::PeerHasEnded(socket->socketDescriptor());
}

QHostAddress ListenAddress(const QString& address) {
    if (address.isEmpty())
        return QHostAddress::Any;
    QHostAddress parsed(address);
    if (!parsed.isNull())
        return parsed;
    const QList<QHostAddress> found = QHostInfo::fromName(address).addresses();
    return found.isEmpty() ? QHostAddress() : found.first();
}

}  // namespace

VexServerSocket::VexServerSocket(VexApp* app) : app_(app), idleTimer_(new QTimer(this)) {
    // Waiting connections are held in waiting_, never in Qt's own queue, so Qt accepts
    // every connection at once and incomingConnection() decides; the system's backlog
    // is 1 (listen()).
    setListenBacklogSize(1);
    connect(this, &QTcpServer::newConnection, this, &VexServerSocket::OnAccept);
    idleTimer_->setSingleShot(true);
    connect(idleTimer_, &QTimer::timeout, this, &VexServerSocket::CheckIdleClient);
}

VexServerSocket::~VexServerSocket() {
    idleTimer_->stop();
    delete client_;
    client_ = nullptr;
    for (const QPointer<VexSocket>& socket : waiting_)
        delete socket.data();
    waiting_.clear();
    close();
    app_->OnServerStopped();
}

bool VexServerSocket::Start(const QString& address, int port) {
    address_ = address;
    port_ = port;
    serverName_ = QStringLiteral("%1 (%2)").arg(address).arg(port);
    const QHostAddress listenAddress = ListenAddress(address);
    if (listenAddress.isNull() || port < 0 || port > 65535)
        return false;
    if (!listen(listenAddress, quint16(port)))
        return false;
    // Port 0 asks the system for a free port: show the one it gave.
    serverName_ = QStringLiteral("%1 (%2)").arg(address).arg(serverPort());
    return true;
}

void VexServerSocket::Send(int code, const QByteArray& text) {
    if (client_)
        client_->Send(code, text);
}

void VexServerSocket::SetIdleClientTime(std::chrono::milliseconds idle) {
    idleTime_ = idle;
    CheckIdleClient();
}

void VexServerSocket::incomingConnection(qintptr socketDescriptor) {
    // Connections that ended but whose end Qt has not handled yet hold no place, or a
    // client that closes and connects again quickly would be refused.
    DropGoneWaiting();
    const size_t held = (PeerGone(client_) ? 0 : 1) + waiting_.size();
    if (held >= size_t(1 + vexproto::kMaxWaiting)) {
        ++refused_;
        socketcalls::CloseDescriptor(socketDescriptor);
        return;
    }
    auto* socket = new VexSocket(app_, this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        socketcalls::CloseDescriptor(socketDescriptor);
        return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    waiting_.emplace_back(socket);
    // Qt's newConnection follows and runs OnAccept().
}

void VexServerSocket::DropGoneWaiting() {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (!PeerGone(it->data())) {
            ++it;
            continue;
        }
        if (*it)
            (*it)->deleteLater();  // the client gave up while it waited
        it = waiting_.erase(it);
    }
}

void VexServerSocket::OnAccept() {
    DropGoneWaiting();
    while (!client_ && !waiting_.empty()) {
        VexSocket* socket = waiting_.front();
        waiting_.pop_front();
        clientName_ = EndpointName(socket->peerAddress(), socket->peerPort());
        serverName_ = EndpointName(socket->localAddress(), socket->localPort());
        client_ = socket;
        socket->SetServerSocket(this);
        app_->OnClientConnected();
    }
    CheckIdleClient();
}

void VexServerSocket::CheckIdleClient() {
    DropGoneWaiting();
    if (client_ == nullptr || waiting_.empty() || idleTime_.count() <= 0) {
        idleTimer_->stop();
        return;
    }
    const qint64 left = idleTime_.count() - client_->MillisecondsSinceRequest();
    if (left > 0) {
        idleTimer_->start(std::chrono::milliseconds(left));
        return;
    }
    std::fprintf(stderr,
                 "VexServer: client %s sent no request for %lld s while another connection "
                 "waited; closed\n",
                 clientName_.toLocal8Bit().constData(),
                 static_cast<long long>(client_->MillisecondsSinceRequest() / 1000));
    std::fflush(stderr);
    client_->CloseIdle();  // releases the slot; the waiting connection is served next
}

void VexServerSocket::ReleaseClient(VexSocket* client) {
    if (client != client_)
        return;
    client_ = nullptr;
    client->SetServerSocket(nullptr);
    client->deleteLater();
    // Serve a connection that waited in the queue, once the current notification is done.
    QMetaObject::invokeMethod(this, &VexServerSocket::OnAccept, Qt::QueuedConnection);
}
