#include "ipp/app/IppServer.h"

#include <QTcpSocket>

#include "ipp/app/DriverHost.h"
#include "ipp/protocol/CommandLine.h"

IppServer::IppServer(ipp::ServerState& state, DriverHost& machine, sessionrec::Writer* log,
                     QObject* parent)
    : QObject(parent), state_(state), machine_(machine), log_(log) {
    connect(&server_, &QTcpServer::newConnection, this, &IppServer::accept);
    connect(&machine_, &DriverHost::touched, this,
            [this](const ipp::Vec3& point, const ipp::Vec3& vector) {
                if (connection_)
                    connection_->session().OnTouch(point, vector);
            });
    connect(&machine_, &DriverHost::measured, this,
            [this](const ipp::Vec3& point, const ipp::Vec3& vector) {
                if (connection_)
                    connection_->session().OnMeasured(point, vector);
            });
    connect(&machine_, &DriverHost::positionChanged, this, [this](const ipp::Vec3& point) {
        if (connection_)
            connection_->session().OnPosition(point);
    });
}

IppServer::~IppServer() {
    stop();
}

bool IppServer::listen(const QHostAddress& address, quint16 port) {
    return server_.listen(address, port);
}

void IppServer::stop() {
    server_.close();
    if (connection_) {
        connection_->abort();
        delete connection_.data();
    }
}

void IppServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (connection_) {
            const std::string busy = ipp::ErrorLine(ipp::kUnsolicitedTag, ipp::kSeverityUser,
                                                    ipp::ErrorCode::ProtocolError, "Connect") +
                                     "\r\n";
            socket->write(busy.data(), qint64(busy.size()));
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        connection_ = new IppConnection(socket, state_, machine_, log_, this);
        connect(connection_, &IppConnection::logFailed, this, &IppServer::logFailed);
        connect(connection_, &IppConnection::finished, this, [this] {
            if (connection_)
                connection_->deleteLater();
            connection_ = nullptr;
        });
    }
}
