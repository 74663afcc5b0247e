#include "server/net/VexServerSocket.h"

#include <unistd.h>

#include <QHostAddress>
#include <QHostInfo>

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

VexServerSocket::VexServerSocket(VexApp* app) : app_(app) {
    // The queue holds one accepted connection; the system's backlog is 1 (listen()).
    setMaxPendingConnections(1);
    setListenBacklogSize(1);
    connect(this, &QTcpServer::newConnection, this, &VexServerSocket::OnAccept);
}

VexServerSocket::~VexServerSocket() {
    delete client_;
    client_ = nullptr;
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
    return listen(listenAddress, quint16(port));
}

void VexServerSocket::Send(int code, const QByteArray& text) {
    if (client_)
        client_->Send(code, text);
}

void VexServerSocket::incomingConnection(qintptr socketDescriptor) {
    auto* socket = new VexSocket(app_, this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        ::close(int(socketDescriptor));
        return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    addPendingConnection(socket);
}

void VexServerSocket::OnAccept() {
    while (!client_ && hasPendingConnections()) {
        auto* socket = qobject_cast<VexSocket*>(nextPendingConnection());
        if (!socket)
            continue;
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();  // the client gave up while it waited
            continue;
        }
        clientName_ = EndpointName(socket->peerAddress(), socket->peerPort());
        serverName_ = EndpointName(socket->localAddress(), socket->localPort());
        client_ = socket;
        socket->SetServerSocket(this);
        app_->OnClientConnected();
    }
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
